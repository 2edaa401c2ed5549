#pragma once

#include "BlobStore.h"

#include <QString>

#include <memory>
#include <unordered_map>

namespace cloudsim {

// Upload sessions in progress. Each one feeds its bytes straight into a blob builder as they
// arrive, so a session keeps none of them in memory when blobs live on disk.
// Sessions live in memory only: a restart forgets them, and the client starts over.
class DropboxUploadSessions {
public:
    struct Session {
        QString accountId;
        std::shared_ptr<BlobStore::Builder> builder;
        bool closed = false;
        qint64 lastUsedMs = 0;

        qint64 offset() const { return builder->size(); }
    };

    static constexpr qint64 idleLifetimeMs = 60 * 60 * 1000;
    static constexpr int maxSessions = 1000;

    // Starts a session holding what `builder` took; returns its id.
    QString start(const QString& accountId, std::shared_ptr<BlobStore::Builder> builder, bool close,
                  qint64 nowMs);
    // The account's session with that id, touched as used now; null when there is none.
    Session* find(const QString& id, const QString& accountId, qint64 nowMs);
    void remove(const QString& id) { m_sessions.erase(id); }
    int count(const QString& accountId) const;
    void reset() { m_sessions.clear(); }

private:
    void expire(qint64 nowMs);

    std::unordered_map<QString, Session> m_sessions;
};

} // namespace cloudsim

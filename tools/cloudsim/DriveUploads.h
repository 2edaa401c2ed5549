#pragma once

#include "BlobStore.h"
#include "DriveError.h"
#include "HttpMessage.h"

#include <QJsonObject>
#include <QString>

#include <map>
#include <memory>

namespace cloudsim {

class CloudSim;
class DriveStore;

// The Drive upload host: one-request uploads (uploadType media and multipart) and resumable
// upload sessions, which take their bytes chunk by chunk into a BlobStore builder so that a
// large upload never sits in memory whole.
class DriveUploads {
public:
    static constexpr int maxOpenSessions = 64; // abandoned sessions are dropped oldest first
    static constexpr qint64 keptUnit = 256 * 1024;

    DriveUploads(CloudSim& sim, DriveStore& store);
    ~DriveUploads();

    // An authorised POST (create) or PATCH (update of `fileId`) on "/upload/drive/v3/files…";
    // `sessionBase` is the URL that request went to, without its query.
    HttpResponse start(const HttpRequest& request, const QString& account, const QString& fileId,
                       const QString& sessionBase);
    // A request on a session URI (it carries "upload_id"); the URI alone authorises it.
    HttpResponse resume(const HttpRequest& request);
    // A chunk whose connection died part-way: the service keeps what arrived, in whole
    // multiples of 256 KiB, and a status query then reports it.
    void keepPartial(const HttpRequest& partial);

    int openSessions() const { return int(m_sessions.size()); }
    void reset() { m_sessions.clear(); }

private:
    struct Session {
        QString account;
        QString fileId; // the file being updated; empty when the upload makes a new one
        QJsonObject metadata;
        QString mimeType;
        qint64 total = -1; // unknown until the client says
        QString fields;
        std::unique_ptr<BlobStore::Builder> builder;
        QString resultId; // once complete
        qint64 startedMs = 0;
    };

    HttpResponse oneRequest(const HttpRequest& request, const QString& account, const QString& fileId,
                            bool multipart);
    HttpResponse beginSession(const HttpRequest& request, const QString& account, const QString& fileId,
                              const QString& sessionBase);
    HttpResponse finishSession(const QString& uploadId, Session& session, const QString& fields);
    // Stores `blob` as a new file described by `metadata`, or as the new content of `fileId`.
    DriveError commit(const QString& account, const QString& fileId, const QJsonObject& metadata,
                      const QString& mimeType, const Blob& blob, QString* resultId);
    // Refused with storageQuotaExceeded when `bytes` more would go past the account's allotment.
    DriveError fits(const QString& account, qint64 bytes) const;
    // Checks metadata and target before any bytes are taken.
    DriveError check(const QString& account, const QString& fileId, const QJsonObject& metadata,
                     const QString& mimeType);
    HttpResponse fileReply(const QString& account, const QString& fileId, const QString& fields);

    CloudSim& m_sim;
    DriveStore& m_store;
    std::map<QString, Session> m_sessions; // by upload_id
};

} // namespace cloudsim

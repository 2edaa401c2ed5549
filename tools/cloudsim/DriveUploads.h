#pragma once

#include "BlobStore.h"
#include "BodySink.h"
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
// upload sessions. Media bodies and session chunks stream into a BlobStore builder as they
// arrive, so that a large upload never sits in memory whole.
class DriveUploads {
public:
    static constexpr int maxOpenSessions = 64; // abandoned sessions are dropped oldest first
    static constexpr qint64 keptUnit = 256 * 1024;

    DriveUploads(CloudSim& sim, DriveStore& store);
    ~DriveUploads();

    // Where the body of an authorised POST (create) or PATCH (update of `fileId`) on
    // "/upload/drive/v3/files…" goes; `sessionBase` is the URL that request went to, without
    // its query.
    std::unique_ptr<BodySink> start(const HttpRequest& head, const QString& account, const QString& fileId,
                                    const QString& sessionBase);
    // Where the body of a request on a session URI (it carries "upload_id") goes; the URI alone
    // authorises it. A chunk whose connection dies part-way keeps what arrived in whole
    // multiples of 256 KiB, as the service does, and a status query then reports it.
    std::unique_ptr<BodySink> resume(const HttpRequest& head);

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
        std::shared_ptr<BlobStore::Builder> builder; // null once complete
        QString resultId;                            // once complete
        qint64 startedMs = 0;
    };

    std::unique_ptr<BodySink> media(const HttpRequest& head, const QString& account, const QString& fileId);
    HttpResponse multipart(const HttpRequest& request, const QString& account, const QString& fileId);
    // The reply once a chunk (or a status query) is in: the file when the upload is complete.
    HttpResponse afterChunk(const QString& uploadId, qint64 total, const QString& fields);
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

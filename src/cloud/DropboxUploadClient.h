#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <QCoro/QCoroTask>

#include <functional>
#include <memory>

namespace norvela {

class BandwidthLimiter;
class DropboxAuthService;
class LocalFile;
struct HttpResult;

// Sends one local file to the Dropbox content host, either in one request streamed from disk
// or in an upload session of 8 MiB chunks. Every byte is accounted to the bandwidth limiter
// before it goes out. Nothing is retried here: the engine decides when to try again.
class DropboxUploadClient {
public:
    struct UploadedFile {
        QString rev;
        QString contentHash;
        qint64 size = 0;
    };
    using Progress = std::function<void(qint64 bytesSent)>;

    static constexpr qint64 chunkSize = 8 * 1024 * 1024;

    // `owner` (the provider) holds this client and `auth`; limiter waits end early when it
    // goes, and no step resumes into a client that is gone.
    DropboxUploadClient(DropboxAuthService& auth, BandwidthLimiter& limiter, QObject* owner);

    QCoro::Task<UploadedFile> singleShotUpload(std::shared_ptr<const LocalFile> file, QString dropboxPath,
                                               Progress progress);
    // At most `size` bytes are sent: what the file gained since it was measured waits for the
    // next upload, and a file that shrank is committed with the bytes it still has.
    QCoro::Task<UploadedFile> sessionUpload(std::shared_ptr<const LocalFile> file, QString dropboxPath,
                                            Progress progress);

    QCoro::Task<QString> sessionStart(QByteArray firstChunk);
    QCoro::Task<> sessionAppend(QString sessionId, qint64 offset, QByteArray chunk);
    QCoro::Task<UploadedFile> sessionFinish(QString sessionId, qint64 offset, QString dropboxPath);
    QCoro::Task<QByteArray> contentPost(QUrl url, QByteArray arg, QByteArray body);

    // Fails with "no HTTP response" or "HTTP <status>: <body>" unless the status is 200.
    static void check(const HttpResult& reply);

    // The path as it goes inside a hand-built JSON string: backslashes doubled, then double
    // quotes escaped; everything else, non-ASCII included, as UTF-8 bytes.
    static QByteArray escapePath(const QString& dropboxPath);

private:
    DropboxAuthService& m_auth;
    BandwidthLimiter& m_limiter;
    QPointer<QObject> m_owner;
};

} // namespace norvela

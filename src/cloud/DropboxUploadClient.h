#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QString>

#include <QCoro/QCoroTask>

#include <functional>
#include <memory>
#include <optional>

namespace norvela {

class BandwidthLimiter;
class DropboxAuthService;
class LocalFile;
struct HttpResult;

// Sends one local file to the Dropbox content host, either in one request read whole
// or in an upload session of 8 MiB chunks. Every byte is accounted to the bandwidth limiter
// before it goes out. Failures throw a ServiceError of their kind. A session resumes rather
// than restarts: an append that fails goes again a few times, from where the service says
// the session stands; anything else is left to the engine.
class DropboxUploadClient {
public:
    struct UploadedFile {
        QString rev;
        QString contentHash;
        qint64 size = 0;
    };
    using Progress = std::function<void(qint64 bytesSent)>;
    // Whether the network stack may send a request again by itself after a dropped connection.
    enum class Resend { allowed, never };

    static constexpr qint64 chunkSize = 8 * 1024 * 1024;
    // Pieces under a rate limit are whole multiples of this.
    static constexpr qint64 pieceUnit = 256 * 1024;
    // Appends that may fail in a row, within one upload, before the upload fails.
    static constexpr int appendRetries = 3;

    // `owner` (the provider) holds this client and `auth`; limiter waits end early when it
    // goes, and no step resumes into a client that is gone.
    DropboxUploadClient(DropboxAuthService& auth, BandwidthLimiter& limiter, QObject* owner);

    QCoro::Task<UploadedFile> singleShotUpload(std::shared_ptr<const LocalFile> file, QString dropboxPath,
                                               Progress progress);
    // At most `size` bytes are sent: what the file gained since it was measured waits for the
    // next upload, and a file that shrank is committed with the bytes it still has.
    QCoro::Task<UploadedFile> sessionUpload(std::shared_ptr<const LocalFile> file, QString dropboxPath,
                                            Progress progress);

    // The commit of an upload at `dropboxPath`: it overwrites whatever is there.
    static QJsonObject commitArg(const QString& dropboxPath);

private:
    // What became of an append: where the session stands now (past the chunk, or where the
    // service says it is), or why it went unanswered (no reply, a 5xx).
    struct Appended {
        std::optional<qint64> held;
        QString interruption;
    };

    QCoro::Task<QString> sessionStart(QByteArray firstChunk);
    QCoro::Task<Appended> sessionAppend(QString sessionId, qint64 offset, QByteArray chunk);
    QCoro::Task<UploadedFile> sessionFinish(QString sessionId, qint64 offset, QString dropboxPath);
    // One call with its argument in the header, whatever its status.
    QCoro::Task<HttpResult> contentCall(QString endpoint, QJsonObject arg, QByteArray body, Resend resend);
    // The reply's body when 200, else the failure thrown.
    QCoro::Task<QByteArray> content(QString endpoint, QJsonObject arg, QByteArray body, Resend resend);

    DropboxAuthService& m_auth;
    BandwidthLimiter& m_limiter;
    QPointer<QObject> m_owner;
};

} // namespace norvela

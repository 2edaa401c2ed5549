#include "Http.h"

#include "NetworkError.h"
#include "TcpNoDelay.h"
#include "common/Formatting.h"

#include <QCoreApplication>
#include <QNetworkReply>
#include <QPointer>
#include <QScopeGuard>
#include <QStringDecoder>
#include <QThread>
#include <QTimer>

#include <QCoro/QCoroNetworkReply>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <memory>

namespace norvela {

QByteArray HttpResult::header(const QByteArray& name) const {
    for (const auto& [key, value] : headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return {};
}

bool HttpResult::utf8Body() const {
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder.decode(body);
    return !decoder.hasError();
}

QString HttpResult::bodyText() const {
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder.decode(body);
    return decoder.hasError() ? QString() : text;
}

namespace Http {

qint64 downloadLimit(qint64 size) {
    constexpr qint64 slack = 1024 * 1024;
    return std::clamp<qint64>(size, 0, std::numeric_limits<qint64>::max() - slack) + slack;
}

std::chrono::milliseconds deadlineFor(std::chrono::milliseconds timeout, qint64 bodyBytes,
                                      qint64 maxReplyBytes) {
    // Far beyond any real transfer, and small enough that nothing below overflows.
    constexpr qint64 bytesCap = qint64(1) << 42;
    const qint64 bytes =
        std::clamp<qint64>(bodyBytes, 0, bytesCap) + std::clamp<qint64>(maxReplyBytes, 0, bytesCap);
    return 2 * std::max(timeout, std::chrono::milliseconds(0)) +
           std::chrono::milliseconds(bytes * 1000 / slowestBytesPerSecond);
}

QNetworkAccessManager& manager() {
    // One per thread; in practice the main thread's. The main thread's goes with the
    // application object, so its connections close while Qt is still whole rather than
    // during the process's own teardown.
    static thread_local QPointer<QNetworkAccessManager> instance;
    if (!instance) {
        instance = new QNetworkAccessManager;
        QCoreApplication* app = QCoreApplication::instance();
        if (app && app->thread() == QThread::currentThread()) {
            instance->setParent(app);
            // Kept-alive connections live in Qt's network thread; closed while the application
            // still stands, they cannot race its teardown.
            QObject::connect(app, &QCoreApplication::aboutToQuit, instance,
                             &QNetworkAccessManager::clearConnectionCache);
        }
    }
    return *instance;
}

namespace {

std::atomic<int> g_inFlight{0};

struct InFlight {
    InFlight() { ++g_inFlight; }
    ~InFlight() { --g_inFlight; }
    InFlight(const InFlight&) = delete;
    InFlight& operator=(const InFlight&) = delete;
};

struct LaterDeleter {
    void operator()(QObject* object) const { object->deleteLater(); }
};

// A request body as the network stack reads it. One it may resend is rewound for the resend;
// one sent once is sequential, so it cannot be. Either is let go of when its exchange ends
// (the reply finished, so the stack reads no more of it) rather than when the reply is
// deleted later: an upload then gets one piece's memory back for the piece after next.
class RequestBody : public QIODevice {
public:
    enum class Resend { allowed, never };

    // Unbuffered: every read comes straight from the bytes at m_at, so a seek is only that.
    RequestBody(QByteArray data, Resend resend) : m_data(std::move(data)), m_resend(resend) {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return m_resend == Resend::never; }
    qint64 size() const override { return m_data.size(); }
    bool seek(qint64 pos) override {
        if (isSequential() || pos < 0 || pos > m_data.size() || !QIODevice::seek(pos))
            return false;
        m_at = pos;
        return true;
    }
    bool reset() override { return seek(0); }
    qint64 bytesAvailable() const override { return m_data.size() - m_at; }
    void release() {
        close();
        m_data = QByteArray();
        m_at = 0;
    }

protected:
    qint64 readData(char* out, qint64 max) override {
        const qint64 n = std::min(max, qint64(m_data.size()) - m_at);
        std::memcpy(out, m_data.constData() + m_at, size_t(n));
        m_at += n;
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray m_data;
    Resend m_resend;
    qint64 m_at = 0;
};

void prepare(QNetworkRequest& request, std::chrono::milliseconds timeout) {
    request.setTransferTimeout(int(std::clamp<qint64>(timeout.count(), 1, std::numeric_limits<int>::max())));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
}

// Why an exchange was cut short by us rather than by the network.
enum class Cut { none, tooLarge, tooSlow };

QCoro::Task<HttpResult> finish(std::unique_ptr<QNetworkReply, LaterDeleter> reply, qint64 maxReplyBytes,
                               std::chrono::milliseconds deadline) {
    const InFlight counted;
    QNetworkReply* r = reply.get();
    // Shared with the handlers below, which live as long as the reply and so may outlast this frame.
    const auto cut = std::make_shared<Cut>(Cut::none);
    const auto stop = [r, cut](Cut why) {
        if (*cut != Cut::none || r->isFinished())
            return;
        *cut = why;
        r->abort();
    };
    QObject::connect(r, &QNetworkReply::metaDataChanged, r, [r, maxReplyBytes, stop] {
        if (!r->hasRawHeader("Content-Length"))
            return;
        bool ok = false;
        const qint64 announced = r->rawHeader("Content-Length").trimmed().toLongLong(&ok);
        if (!ok || announced < 0 || announced > maxReplyBytes) // not even a length that fits
            stop(Cut::tooLarge);
    });
    // A new connection gets TCP_NODELAY once its socket is there for certain: a host name is
    // looked up before the socket is made, so not yet when the connecting starts.
    const auto connecting = std::make_shared<bool>(false);
    QObject::connect(r, &QNetworkReply::socketStartedConnecting, r, [connecting] { *connecting = true; });
    const auto connected = [connecting] {
        if (!*connecting)
            return;
        *connecting = false;
        TcpNoDelay::applyToOpenConnections();
    };
    QObject::connect(r, &QNetworkReply::encrypted, r, connected);
    QObject::connect(r, &QNetworkReply::uploadProgress, r, connected);
    QObject::connect(r, &QNetworkReply::metaDataChanged, r, connected);
    // Also catches replies without a length and compressed ones, counted as they unpack.
    QObject::connect(r, &QNetworkReply::readyRead, r, [r, maxReplyBytes, stop] {
        if (r->bytesAvailable() > maxReplyBytes)
            stop(Cut::tooLarge);
    });
    // A QTimer counts in int milliseconds; a deadline that far off never matters anyway.
    const auto timerMax = std::chrono::milliseconds(std::numeric_limits<int>::max());
    QTimer::singleShot(std::min(deadline, timerMax), r, [stop] { stop(Cut::tooSlow); });

    co_await qCoro(r).waitForFinished(std::chrono::milliseconds(-1));
    if (*cut == Cut::tooLarge)
        throw NetworkError(
            QStringLiteral("The reply was too large (over %1).").arg(Formatting::byteCount(maxReplyBytes)));
    if (*cut == Cut::tooSlow)
        throw NetworkError(QStringLiteral("The server took too long to answer (over %1 s).")
                               .arg(QString::number(double(deadline.count()) / 1000.0, 'g', 4)));
    const QVariant status = r->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        // A body sent once only gives the platform nothing better to say than "Unknown error".
        throw NetworkError(r->error() == QNetworkReply::ContentReSendError
                               ? QStringLiteral("The connection was lost before the service answered.")
                               : r->errorString());
    // Qt turns statuses from 400 up into errors of its own, which the caller judges from the
    // status. Any other error came after the status line: the body is cut short (a dropped
    // connection, a body that would not unpack) and must not pass for the whole reply.
    // A redirect status (a resumable upload's 308) to a body sent once is flagged as a resend
    // Qt could not make; the reply itself is whole.
    const QNetworkReply::NetworkError error = r->error();
    if (error != QNetworkReply::NoError && error != QNetworkReply::ContentReSendError &&
        (status.toInt() < 400 || error < QNetworkReply::ContentAccessDenied))
        throw NetworkError(r->errorString());
    HttpResult result;
    result.status = status.toInt();
    result.body = r->readAll();
    result.headers = r->rawHeaderPairs();
    co_return result;
}

QCoro::Task<HttpResult> exchange(QNetworkRequest request, QByteArray method, RequestBody* body,
                                 qint64 maxReplyBytes, std::chrono::milliseconds deadline) {
    // Deleted later, like the reply: the network stack may still touch it while the reply waits.
    const std::unique_ptr<RequestBody, LaterDeleter> device(body);
    const auto release = qScopeGuard([body] { body->release(); });
    std::unique_ptr<QNetworkReply, LaterDeleter> reply(manager().sendCustomRequest(request, method, body));
    co_return co_await finish(std::move(reply), maxReplyBytes, deadline);
}

} // namespace

int inFlight() {
    return g_inFlight.load();
}

QCoro::Task<HttpResult> send(QNetworkRequest request, QByteArray method, QByteArray body,
                             std::chrono::milliseconds timeout, Limits limits) {
    prepare(request, timeout);
    const auto deadline = limits.deadline.value_or(deadlineFor(timeout, body.size(), limits.maxReplyBytes));
    co_return co_await exchange(std::move(request), method,
                                new RequestBody(std::move(body), RequestBody::Resend::allowed),
                                limits.maxReplyBytes, deadline);
}

QCoro::Task<HttpResult> sendOnce(QNetworkRequest request, QByteArray method, QByteArray body,
                                 std::chrono::milliseconds timeout, Limits limits) {
    prepare(request, timeout);
    request.setAttribute(QNetworkRequest::DoNotBufferUploadDataAttribute, true);
    request.setHeader(QNetworkRequest::ContentLengthHeader, body.size());
    const auto deadline = limits.deadline.value_or(deadlineFor(timeout, body.size(), limits.maxReplyBytes));
    co_return co_await exchange(std::move(request), method,
                                new RequestBody(std::move(body), RequestBody::Resend::never),
                                limits.maxReplyBytes, deadline);
}

QByteArray formEncode(const QString& value) {
    static const char hex[] = "0123456789ABCDEF";
    QByteArray out;
    for (const unsigned char c : value.toUtf8()) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
            out += char(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

} // namespace Http
} // namespace norvela

#include "Http.h"

#include "NetworkError.h"

#include <QCoreApplication>
#include <QNetworkReply>
#include <QPointer>
#include <QStringDecoder>
#include <QThread>

#include <QCoro/QCoroNetworkReply>

#include <atomic>
#include <cstring>
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

QNetworkAccessManager& manager() {
    // One per thread; in practice the main thread's. The main thread's goes with the
    // application object, so its connections close while Qt is still whole rather than
    // during the process's own teardown.
    static thread_local QPointer<QNetworkAccessManager> instance;
    if (!instance) {
        instance = new QNetworkAccessManager;
        QCoreApplication* app = QCoreApplication::instance();
        if (app && app->thread() == QThread::currentThread())
            instance->setParent(app);
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

// A body the network stack reads once: it cannot rewind it for a resend of its own.
class OneShotBody : public QIODevice {
public:
    explicit OneShotBody(QByteArray data) : m_data(std::move(data)) { open(QIODevice::ReadOnly); }
    bool isSequential() const override { return true; }
    bool reset() override { return false; }
    qint64 bytesAvailable() const override { return m_data.size() - m_at + QIODevice::bytesAvailable(); }

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
    qint64 m_at = 0;
};

QCoro::Task<HttpResult> finish(std::unique_ptr<QNetworkReply, LaterDeleter> reply) {
    const InFlight counted;
    co_await qCoro(reply.get()).waitForFinished(std::chrono::milliseconds(-1));
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        // A body sent once only gives the platform nothing better to say than "Unknown error".
        throw NetworkError(reply->error() == QNetworkReply::ContentReSendError
                               ? QStringLiteral("The connection was lost before the service answered.")
                               : reply->errorString());
    HttpResult result;
    result.status = status.toInt();
    result.body = reply->readAll();
    result.headers = reply->rawHeaderPairs();
    co_return result;
}

} // namespace

int inFlight() {
    return g_inFlight.load();
}

QCoro::Task<HttpResult> send(QNetworkRequest request, QByteArray method, QByteArray body,
                             std::chrono::milliseconds timeout) {
    request.setTransferTimeout(int(timeout.count()));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    std::unique_ptr<QNetworkReply, LaterDeleter> reply(manager().sendCustomRequest(request, method, body));
    co_return co_await finish(std::move(reply));
}

QCoro::Task<HttpResult> send(QNetworkRequest request, QByteArray method, QIODevice* body,
                             std::chrono::milliseconds timeout) {
    request.setTransferTimeout(int(timeout.count()));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    std::unique_ptr<QNetworkReply, LaterDeleter> reply(manager().sendCustomRequest(request, method, body));
    co_return co_await finish(std::move(reply));
}

QCoro::Task<HttpResult> sendOnce(QNetworkRequest request, QByteArray method, QByteArray body,
                                 std::chrono::milliseconds timeout) {
    request.setTransferTimeout(int(timeout.count()));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setAttribute(QNetworkRequest::DoNotBufferUploadDataAttribute, true);
    request.setHeader(QNetworkRequest::ContentLengthHeader, body.size());
    // Deleted later, like the reply: the network stack may still touch it while the reply waits.
    const std::unique_ptr<OneShotBody, LaterDeleter> device(new OneShotBody(std::move(body)));
    std::unique_ptr<QNetworkReply, LaterDeleter> reply(
        manager().sendCustomRequest(request, method, device.get()));
    co_return co_await finish(std::move(reply));
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

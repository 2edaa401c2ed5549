#include "Http.h"

#include "NetworkError.h"

#include <QCoreApplication>
#include <QNetworkReply>
#include <QPointer>
#include <QStringDecoder>
#include <QThread>

#include <QCoro/QCoroNetworkReply>

#include <atomic>
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

struct ReplyDeleter {
    void operator()(QNetworkReply* reply) const { reply->deleteLater(); }
};

QCoro::Task<HttpResult> finish(std::unique_ptr<QNetworkReply, ReplyDeleter> reply) {
    const InFlight counted;
    co_await qCoro(reply.get()).waitForFinished(std::chrono::milliseconds(-1));
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        throw NetworkError(reply->errorString());
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
    std::unique_ptr<QNetworkReply, ReplyDeleter> reply(manager().sendCustomRequest(request, method, body));
    co_return co_await finish(std::move(reply));
}

QCoro::Task<HttpResult> send(QNetworkRequest request, QByteArray method, QIODevice* body,
                             std::chrono::milliseconds timeout) {
    request.setTransferTimeout(int(timeout.count()));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    std::unique_ptr<QNetworkReply, ReplyDeleter> reply(manager().sendCustomRequest(request, method, body));
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

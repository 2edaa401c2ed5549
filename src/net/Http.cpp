#include "Http.h"

#include "ConnectionPool.h"
#include "HttpConnection.h"
#include "NetworkError.h"
#include "common/Formatting.h"

#include <QDeadlineTimer>
#include <QScopeGuard>
#include <QStringDecoder>

#include <algorithm>
#include <atomic>
#include <limits>

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

namespace {

std::atomic<int> g_inFlight{0};

struct InFlight {
    InFlight() { ++g_inFlight; }
    ~InFlight() { --g_inFlight; }
    InFlight(const InFlight&) = delete;
    InFlight& operator=(const InFlight&) = delete;
};

// A request may resend its body only when the service carrying it out twice does no harm.
enum class Resend { allowed, never };

// Headers this layer writes itself, whatever the request says.
bool ours(const QByteArray& name) {
    for (const char* own : {"Host", "Content-Length", "Connection", "Transfer-Encoding", "Accept-Encoding"})
        if (name.compare(own, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

QByteArray requestHead(const QNetworkRequest& request, const QByteArray& method, qint64 bodySize) {
    const QUrl url = request.url();
    QByteArray target = url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::RemoveFragment);
    if (target.isEmpty())
        target = "/";
    QByteArray head = method + ' ' + target + " HTTP/1.1\r\nHost: " +
                      url.adjusted(QUrl::RemoveUserInfo).authority(QUrl::FullyEncoded).toLatin1() +
                      "\r\nAccept-Encoding: identity\r\n";
    if (bodySize > 0 || method == "POST" || method == "PUT" || method == "PATCH")
        head += "Content-Length: " + QByteArray::number(bodySize) + "\r\n";
    bool agent = false;
    for (const QByteArray& name : request.rawHeaderList()) {
        if (ours(name))
            continue;
        agent = agent || name.compare("User-Agent", Qt::CaseInsensitive) == 0;
        head += name + ": " + request.rawHeader(name) + "\r\n";
    }
    if (!agent)
        head += "User-Agent: Norvela\r\n";
    return head + "\r\n";
}

QCoro::Task<HttpResult> exchange(QNetworkRequest request, QByteArray method, QByteArray body, Resend resend,
                                 std::chrono::milliseconds timeout, Limits limits) {
    const InFlight counted;
    const QUrl url = request.url();
    if (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https"))
        throw NetworkError(
            QStringLiteral("Only web addresses can be reached (%1).").arg(url.toDisplayString()));
    const auto deadline = limits.deadline.value_or(deadlineFor(timeout, body.size(), limits.maxReplyBytes));
    const QDeadlineTimer until(deadline);
    const QByteArray head = requestHead(request, method, body.size());
    // An upload piece's memory goes back to its reader as soon as the exchange ends.
    const auto release = qScopeGuard([&body] { body = QByteArray(); });
    for (bool retried = false;;) {
        ConnectionPool::Lease lease = co_await ConnectionPool::forThisThread().acquire(url);
        lease->start(head, body,
                     {.maxReplyBytes = limits.maxReplyBytes,
                      .inactivity = timeout,
                      .deadline = std::chrono::milliseconds(until.remainingTime()),
                      .replyHasBody = method != "HEAD"});
        co_await lease->finished();
        switch (lease->outcome()) {
        case HttpConnection::Outcome::replied: {
            HttpResult result = lease->takeResult();
            lease.giveBack();
            co_return result;
        }
        case HttpConnection::Outcome::lostBeforeReply:
            // A kept connection the service had closed as the request went out: the request
            // most likely never arrived, but only one that may be carried out twice is sent again.
            if (lease->reused() && resend == Resend::allowed && !retried && !until.hasExpired()) {
                retried = true;
                continue;
            }
            throw NetworkError(lease->failure());
        case HttpConnection::Outcome::tooLarge:
            throw NetworkError(QStringLiteral("The reply was too large (over %1).")
                                   .arg(Formatting::byteCount(limits.maxReplyBytes)));
        case HttpConnection::Outcome::tooSlow:
            throw NetworkError(QStringLiteral("The server took too long to answer (over %1 s).")
                                   .arg(QString::number(double(deadline.count()) / 1000.0, 'g', 4)));
        case HttpConnection::Outcome::failed:
        case HttpConnection::Outcome::pending:
            throw NetworkError(lease->failure());
        }
    }
}

} // namespace

int inFlight() {
    return g_inFlight.load();
}

QCoro::Task<HttpResult> send(QNetworkRequest request, QByteArray method, QByteArray body,
                             std::chrono::milliseconds timeout, Limits limits) {
    return exchange(std::move(request), std::move(method), std::move(body), Resend::allowed, timeout, limits);
}

QCoro::Task<HttpResult> sendOnce(QNetworkRequest request, QByteArray method, QByteArray body,
                                 std::chrono::milliseconds timeout, Limits limits) {
    return exchange(std::move(request), std::move(method), std::move(body), Resend::never, timeout, limits);
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

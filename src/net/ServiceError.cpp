#include "ServiceError.h"

#include "Http.h"

namespace norvela {

std::optional<std::chrono::seconds> ServiceError::parseRetryAfter(const QByteArray& value) {
    const QByteArray text = value.trimmed();
    if (text.isEmpty() || text.size() > 12)
        return std::nullopt;
    qint64 seconds = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        seconds = seconds * 10 + (c - '0');
    }
    return std::min(std::chrono::seconds(seconds), maxRetryAfter);
}

std::optional<ServiceError> ServiceError::fromStatus(const HttpResult& reply, const QString& description) {
    if (reply.status == 429 || (reply.status >= 500 && reply.status <= 599))
        return ServiceError(Kind::transient, description, parseRetryAfter(reply.header("Retry-After")));
    return std::nullopt;
}

} // namespace norvela

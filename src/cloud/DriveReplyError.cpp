#include "DriveReplyError.h"

#include "net/Http.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace norvela {

namespace {

using Kind = ServiceError::Kind;

bool any(const DriveReplyError& e, std::initializer_list<const char*> reasons) {
    for (const char* reason : reasons)
        if (e.has(QLatin1String(reason)))
            return true;
    return false;
}

} // namespace

DriveReplyError DriveReplyError::read(const HttpResult& reply) {
    DriveReplyError e;
    e.m_status = reply.status;
    e.m_raw = QStringLiteral("HTTP %1: %2").arg(reply.status).arg(reply.bodyText());
    e.m_byStatus = ServiceError::fromStatus(reply, e.m_raw);
    e.m_retryAfter = ServiceError::parseRetryAfter(reply.header("Retry-After"));
    const QJsonObject error =
        QJsonDocument::fromJson(reply.body).object().value(QStringLiteral("error")).toObject();
    e.m_message = error.value(QStringLiteral("message")).toString();
    for (const QJsonValue& detail : error.value(QStringLiteral("errors")).toArray())
        e.m_reasons.append(detail.toObject().value(QStringLiteral("reason")).toString());
    return e;
}

ServiceError DriveReplyError::classify(bool byReference) const {
    const QString said = m_message.isEmpty() ? m_raw : m_message;
    if (m_byStatus)
        return *m_byStatus;
    if (m_status == 401)
        return ServiceError(Kind::authorization, m_raw);
    if (m_status == 403) {
        if (any(*this, {"storageQuotaExceeded", "quotaExceeded"}))
            return ServiceError(Kind::quota, said);
        // Drive sends its rate limits as 403s.
        if (any(*this, {"rateLimitExceeded", "userRateLimitExceeded", "sharingRateLimitExceeded",
                        "dailyLimitExceeded"}))
            return ServiceError(Kind::transient, m_raw, m_retryAfter);
        if (byReference && any(*this, {"appNotAuthorizedToFile", "insufficientFilePermissions"}))
            return ServiceError(Kind::staleReference, said);
        return ServiceError(Kind::refused, said);
    }
    if (m_status == 404 && byReference)
        return ServiceError(Kind::staleReference, said);
    if (m_status == 400) // the metadata as sent, its name above all, is not acceptable
        return ServiceError(Kind::refused, said);
    return ServiceError(Kind::transient, m_raw);
}

} // namespace norvela

#include "DropboxReplyError.h"

#include "net/Http.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace norvela {

namespace {

using Kind = ServiceError::Kind;

void collect(const QJsonValue& v, QSet<QString>& tags, std::optional<qint64>& correctOffset) {
    if (v.isArray()) {
        for (const QJsonValue& item : v.toArray())
            collect(item, tags, correctOffset);
        return;
    }
    if (!v.isObject())
        return;
    const QJsonObject o = v.toObject();
    for (auto it = o.begin(); it != o.end(); ++it) {
        if (it.key() == QLatin1String(".tag") && it.value().isString())
            tags.insert(it.value().toString());
        else if (it.key() == QLatin1String("correct_offset") && it.value().isDouble())
            correctOffset = it.value().toInteger(-1);
        else
            collect(it.value(), tags, correctOffset);
    }
}

// Tags, besides those of a name, that say this file cannot go up as it is.
const QStringList& refusedTags() {
    static const QStringList tags{
        QStringLiteral("conflict"),           QStringLiteral("no_write_permission"),
        QStringLiteral("team_folder"),        QStringLiteral("operation_suppressed"),
        QStringLiteral("restricted_content"), QStringLiteral("payload_too_large"),
        QStringLiteral("too_large")};
    return tags;
}

} // namespace

DropboxReplyError DropboxReplyError::read(const HttpResult& reply) {
    DropboxReplyError e;
    e.m_status = reply.status;
    e.m_raw = QStringLiteral("HTTP %1: %2").arg(reply.status).arg(reply.bodyText());
    e.m_byStatus = ServiceError::fromStatus(reply, e.m_raw);
    e.m_retryAfter = ServiceError::parseRetryAfter(reply.header("Retry-After"));
    const QJsonObject o = QJsonDocument::fromJson(reply.body).object();
    e.m_summary = o.value(QStringLiteral("error_summary")).toString();
    while (e.m_summary.endsWith(QLatin1Char('.')) || e.m_summary.endsWith(QLatin1Char('/')))
        e.m_summary.chop(1);
    e.m_userMessage =
        o.value(QStringLiteral("user_message")).toObject().value(QStringLiteral("text")).toString();
    collect(o.value(QStringLiteral("error")), e.m_tags, e.m_correctOffset);
    for (const QString& word : e.m_summary.split(QLatin1Char('/'), Qt::SkipEmptyParts))
        e.m_tags.insert(word);
    return e;
}

ServiceError DropboxReplyError::classify() const {
    // The service's own words for a person when it gave some, else ours with its summary.
    auto said = [this](const QString& ours) {
        return !m_userMessage.isEmpty() ? m_userMessage : ours + QStringLiteral(" (") + m_summary + ')';
    };
    if (m_byStatus)
        return *m_byStatus;
    if (m_status == 401 || m_status == 403) // a revoked grant, or an app without the scope it needs
        return ServiceError(Kind::authorization, m_raw);
    if (m_status == 400) // the service could not take the argument: this path as it is
        return ServiceError(Kind::refused, m_raw);
    if (m_status != 409)
        return ServiceError(Kind::transient, m_raw);
    if (has(QStringLiteral("insufficient_space")))
        return ServiceError(Kind::quota, said(QStringLiteral("The Dropbox account is out of space")));
    if (has(QStringLiteral("too_many_write_operations")) || has(QStringLiteral("too_many_requests")))
        return ServiceError(Kind::transient, m_raw, m_retryAfter);
    for (const QString& tag :
         {QStringLiteral("malformed_path"), QStringLiteral("disallowed_name"), QStringLiteral("too_long")})
        if (has(tag))
            return ServiceError(Kind::refused, said(QStringLiteral("Dropbox doesn't accept this name")));
    for (const QString& tag : refusedTags())
        if (has(tag))
            return ServiceError(Kind::refused, said(QStringLiteral("Dropbox refused this file")));
    if (has(QStringLiteral("not_found")) &&
        (has(QStringLiteral("path")) || has(QStringLiteral("path_lookup"))))
        return ServiceError(Kind::staleReference, said(QStringLiteral("Dropbox has no file at this path")));
    return ServiceError(Kind::transient, m_raw); // an upload session that lapsed, and the like
}

} // namespace norvela

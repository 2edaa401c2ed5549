#include "FaultRule.h"

namespace cloudsim {

bool FaultRule::matches(const QString& path, const QByteArray& requestMethod) const {
    if (exhausted())
        return false;
    if (!method.isEmpty() && method != requestMethod)
        return false;
    return endpoint.isEmpty() || path.startsWith(endpoint);
}

bool FaultRule::take() {
    if (exhausted())
        return false;
    if (probability < 1.0 && random.generateDouble() >= probability)
        return false;
    if (!unlimited)
        --remaining;
    return true;
}

FaultRule FaultRule::fromJson(const QJsonObject& o, int id) {
    FaultRule r;
    r.id = id;
    r.endpoint = o.value(QStringLiteral("endpoint")).toString();
    r.method = o.value(QStringLiteral("method")).toString().toUpper().toLatin1();
    const int count = o.value(QStringLiteral("count")).toInt(1);
    r.unlimited = count <= 0;
    r.remaining = count;
    r.probability = o.value(QStringLiteral("probability")).toDouble(1.0);
    r.random.seed(quint32(o.value(QStringLiteral("seed")).toInt(1)));
    r.status = o.value(QStringLiteral("status")).toInt(0);
    r.retryAfter = o.value(QStringLiteral("retryAfter")).toInt(-1);
    r.reason = o.value(QStringLiteral("reason")).toString();
    r.message = o.value(QStringLiteral("message")).toString();
    r.delayMs = o.value(QStringLiteral("delayMs")).toInt(0);
    r.bytesPerSecond = qint64(o.value(QStringLiteral("bytesPerSecond")).toDouble(0));
    r.dropReplyAfterBytes = qint64(o.value(QStringLiteral("dropReplyAfterBytes")).toDouble(-1));
    r.dropUploadAfterBytes = qint64(o.value(QStringLiteral("dropUploadAfterBytes")).toDouble(-1));
    return r;
}

QJsonObject FaultRule::toJson() const {
    QJsonObject o{{QStringLiteral("id"), id},
                  {QStringLiteral("endpoint"), endpoint},
                  {QStringLiteral("count"), unlimited ? 0 : remaining},
                  {QStringLiteral("probability"), probability}};
    if (!method.isEmpty())
        o.insert(QStringLiteral("method"), QString::fromLatin1(method));
    if (!reason.isEmpty())
        o.insert(QStringLiteral("reason"), reason);
    if (!message.isEmpty())
        o.insert(QStringLiteral("message"), message);
    auto put = [&](const char* key, qint64 value, qint64 unset) {
        if (value != unset)
            o.insert(QLatin1String(key), double(value));
    };
    put("status", status, 0);
    put("retryAfter", retryAfter, -1);
    put("delayMs", delayMs, 0);
    put("bytesPerSecond", bytesPerSecond, 0);
    put("dropReplyAfterBytes", dropReplyAfterBytes, -1);
    put("dropUploadAfterBytes", dropUploadAfterBytes, -1);
    return o;
}

} // namespace cloudsim

#include "DecodeError.h"

#include <QJsonDocument>

#include <cmath>

namespace norvela {

namespace {

[[noreturn]] void missing(const QString& key, const char* what) {
    throw DecodeError(QStringLiteral("The data couldn't be read because \"%1\" is missing or not %2.")
                          .arg(key, QLatin1String(what)));
}

} // namespace

QJsonObject DecodeError::object(const QByteArray& json) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        throw DecodeError(
            QStringLiteral("The data couldn't be read because it isn't in the correct format."));
    return doc.object();
}

QString DecodeError::string(const QJsonObject& o, const QString& key) {
    const QJsonValue v = o.value(key);
    if (!v.isString())
        missing(key, "text");
    return v.toString();
}

double DecodeError::number(const QJsonObject& o, const QString& key) {
    const QJsonValue v = o.value(key);
    if (!v.isDouble())
        missing(key, "a number");
    return v.toDouble();
}

qint64 DecodeError::integer(const QJsonObject& o, const QString& key) {
    // Beyond 2^53 a JSON number no longer names one integer, and not much further it names
    // none a qint64 can hold; no size or count we read comes near.
    constexpr qint64 exactLimit = qint64(1) << 53;
    const QJsonValue v = o.value(key);
    // An integer the text spelled out is kept whole; toInteger() is 0 for 2.5 or 1e30, which
    // then differs from the number.
    const qint64 whole = v.toInteger();
    if (!v.isDouble() || double(whole) != v.toDouble() || whole > exactLimit || whole < -exactLimit)
        missing(key, "an integer");
    return whole;
}

QJsonObject DecodeError::object(const QJsonObject& o, const QString& key) {
    const QJsonValue v = o.value(key);
    if (!v.isObject())
        missing(key, "an object");
    return v.toObject();
}

QJsonArray DecodeError::array(const QJsonObject& o, const QString& key) {
    const QJsonValue v = o.value(key);
    if (!v.isArray())
        missing(key, "a list");
    return v.toArray();
}

} // namespace norvela

#include "DriveHttp.h"

#include <QJsonDocument>
#include <QUrl>

namespace cloudsim {

QString driveParam(const HttpRequest& request, const QString& name) {
    const qsizetype question = request.target.indexOf('?');
    if (question < 0)
        return {};
    const QByteArray key = name.toUtf8();
    for (QByteArray item : request.target.mid(question + 1).split('&')) {
        item.replace('+', ' ');
        const qsizetype equals = item.indexOf('=');
        if (QByteArray::fromPercentEncoding(equals < 0 ? item : item.left(equals)) != key)
            continue;
        const QString value = equals < 0 ? QString() : QUrl::fromPercentEncoding(item.mid(equals + 1));
        return value.isNull() ? QStringLiteral("") : value;
    }
    return {};
}

DriveError readMetadata(const HttpRequest& request, QJsonObject* out) {
    *out = {};
    if (request.body.trimmed().isEmpty())
        return {};
    const QByteArray type = request.header("content-type").toLower();
    if (!type.startsWith("application/json"))
        return {400,
                QStringLiteral("badContent"),
                QStringLiteral("Unsupported content with type: %1").arg(QString::fromLatin1(type)),
                {}};
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(request.body, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return DriveError::parseError();
    *out = doc.object();
    return {};
}

} // namespace cloudsim

#include "DriveError.h"

#include <QJsonArray>
#include <QJsonObject>

namespace cloudsim {

HttpResponse DriveError::response() const {
    QJsonObject detail{{QStringLiteral("domain"), QStringLiteral("global")},
                       {QStringLiteral("reason"), reason},
                       {QStringLiteral("message"), message}};
    if (!location.isEmpty()) {
        detail.insert(QStringLiteral("locationType"), QStringLiteral("parameter"));
        detail.insert(QStringLiteral("location"), location);
    }
    const QJsonObject body{
        {QStringLiteral("error"), QJsonObject{{QStringLiteral("code"), status},
                                              {QStringLiteral("message"), message},
                                              {QStringLiteral("errors"), QJsonArray{detail}}}}};
    return HttpResponse::json(status, QJsonDocument(body));
}

DriveError DriveError::fileNotFound(const QString& fileId) {
    return {404, QStringLiteral("notFound"), QStringLiteral("File not found: %1.").arg(fileId),
            QStringLiteral("fileId")};
}

DriveError DriveError::revisionNotFound(const QString& revisionId) {
    return {404, QStringLiteral("notFound"), QStringLiteral("Revision not found: %1.").arg(revisionId),
            QStringLiteral("revisionId")};
}

DriveError DriveError::invalidValue(const QString& parameter) {
    return {400, QStringLiteral("invalid"), QStringLiteral("Invalid Value"), parameter};
}

DriveError DriveError::parseError() {
    return {400, QStringLiteral("parseError"), QStringLiteral("Invalid JSON payload received."), {}};
}

DriveError DriveError::badRequest(const QString& message) {
    return {400, QStringLiteral("badRequest"), message, {}};
}

DriveError DriveError::notFound() {
    return {404, QStringLiteral("notFound"), QStringLiteral("Not Found"), {}};
}

} // namespace cloudsim

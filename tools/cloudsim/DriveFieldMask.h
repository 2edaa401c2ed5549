#pragma once

#include "HttpMessage.h"

#include <QJsonObject>
#include <QString>

#include <optional>
#include <utility>
#include <vector>

namespace cloudsim {

// A partial-response selector as the "fields" parameter gives it: "id,md5Checksum,size",
// "files(id,name)", "user(displayName,emailAddress),storageQuota(limit,usage)", "user/emailAddress", "*".
class DriveFieldMask {
public:
    // nullopt on a syntax error or a field name Drive doesn't know; `offending` then names it.
    static std::optional<DriveFieldMask> parse(const QString& text, QString* offending = nullptr);

    QJsonObject apply(const QJsonObject& full) const;

private:
    class Parser;
    QJsonValue apply(const QJsonValue& value) const;

    bool m_all = true; // the whole value
    std::vector<std::pair<QString, DriveFieldMask>> m_children;
};

// A 200 reply holding `full` cut down to `fields`, or to `defaults` when no fields were asked
// for; the service's 400 when the selection is invalid.
HttpResponse selectedFields(const QJsonObject& full, const QString& fields, const QString& defaults);

} // namespace cloudsim

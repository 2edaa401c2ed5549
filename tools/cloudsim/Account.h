#pragma once

#include <QJsonObject>
#include <QString>

namespace cloudsim {

enum class Service { dropbox, google };

QString serviceName(Service service); // "dropbox" or "google"

// One user of one emulated service.
struct Account {
    QString id; // Dropbox "dbid:…"; Google a numeric permission id
    Service service = Service::dropbox;
    QString email;
    QString name;
    QString accountType = QStringLiteral("basic"); // Dropbox "basic", "pro" or "business"
    qint64 allocation = 2'000'000'000'000;         // bytes of storage allotted
    bool denyAccess = false;                       // the authorisation page refuses this account

    QJsonObject toJson() const;
    static Account fromJson(const QJsonObject& o);
};

} // namespace cloudsim

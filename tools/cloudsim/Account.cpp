#include "Account.h"

namespace cloudsim {

QString serviceName(Service service) {
    return service == Service::dropbox ? QStringLiteral("dropbox") : QStringLiteral("google");
}

QJsonObject Account::toJson() const {
    return {{QStringLiteral("id"), id},
            {QStringLiteral("service"), serviceName(service)},
            {QStringLiteral("email"), email},
            {QStringLiteral("name"), name},
            {QStringLiteral("accountType"), accountType},
            {QStringLiteral("allocation"), QString::number(allocation)},
            {QStringLiteral("denyAccess"), denyAccess}};
}

Account Account::fromJson(const QJsonObject& o) {
    Account a;
    a.id = o.value(QStringLiteral("id")).toString();
    a.service = o.value(QStringLiteral("service")).toString() == QLatin1String("google") ? Service::google
                                                                                         : Service::dropbox;
    a.email = o.value(QStringLiteral("email")).toString();
    a.name = o.value(QStringLiteral("name")).toString();
    a.accountType = o.value(QStringLiteral("accountType")).toString(QStringLiteral("basic"));
    if (o.contains(QStringLiteral("allocation")))
        a.allocation = o.value(QStringLiteral("allocation")).toString().toLongLong();
    a.denyAccess = o.value(QStringLiteral("denyAccess")).toBool();
    return a;
}

} // namespace cloudsim

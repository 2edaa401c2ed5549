#include "SelectiveSyncFolder.h"

namespace norvela {

QList<SelectiveSyncFolder> SelectiveSyncFolder::initialRows() {
    return {
        {QUuid::createUuid(), QStringLiteral("Design"), QStringLiteral("18.1 GB"), true},
        {QUuid::createUuid(), QStringLiteral("Finance"), QStringLiteral("2.3 GB"), true},
        {QUuid::createUuid(), QString::fromUtf8("Archive (2019\u20132023)"), QStringLiteral("640 GB"), false},
    };
}

} // namespace norvela

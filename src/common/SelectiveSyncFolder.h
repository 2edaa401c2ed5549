#pragma once

#include <QList>
#include <QString>
#include <QUuid>

namespace norvela {

// One row of the selective-sync list in preferences: display data only.
struct SelectiveSyncFolder {
    QUuid id = QUuid::createUuid();
    QString name;
    QString size;
    bool included = false;

    bool operator==(const SelectiveSyncFolder&) const = default;

    static QList<SelectiveSyncFolder> initialRows();
};

} // namespace norvela

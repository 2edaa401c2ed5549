#pragma once

#include <QList>
#include <QMetaType>
#include <QString>
#include <QUuid>

namespace norvela {

// One row of the selective-sync list in preferences: display data only.
struct SelectiveSyncFolder {
    Q_GADGET
    Q_PROPERTY(QString name MEMBER name)
    Q_PROPERTY(QString size MEMBER size)
    Q_PROPERTY(bool included MEMBER included)

public:
    QUuid id = QUuid::createUuid();
    QString name;
    QString size;
    bool included = false;

    bool operator==(const SelectiveSyncFolder&) const = default;

    static QList<SelectiveSyncFolder> initialRows();
};

} // namespace norvela

Q_DECLARE_METATYPE(norvela::SelectiveSyncFolder)

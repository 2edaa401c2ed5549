#pragma once

#include <QMetaType>
#include <QString>
#include <QtQml/qqmlregistration.h>

namespace norvela {

// One synced folder with its own `.mignore`: its path as the accounts write it (may begin with
// "~"), the accounts that sync it, and how many rules the file holds.
struct MignoreFolder {
    Q_GADGET
    QML_VALUE_TYPE(mignoreFolder)
    Q_PROPERTY(QString path MEMBER path)
    Q_PROPERTY(QString owners MEMBER owners)
    Q_PROPERTY(int ruleCount MEMBER ruleCount)
    Q_PROPERTY(QString cardSubtitle READ cardSubtitle)
    Q_PROPERTY(QString rowSubtitle READ rowSubtitle)

public:
    QString path;
    // The display names of the accounts syncing it, joined with ", "; empty when only one
    // folder is synced.
    QString owners;
    // -1 until the file has been read, or when it cannot be.
    int ruleCount = -1;

    // The line under the card when it is the only folder.
    QString cardSubtitle() const;
    // The line under its row when several folders are listed.
    QString rowSubtitle() const;

    bool operator==(const MignoreFolder&) const = default;
};

} // namespace norvela

Q_DECLARE_METATYPE(norvela::MignoreFolder)

#pragma once

#include "common/PlatformWords.h"

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

namespace norvela {

// The desktop's own words for QML ("Open sync folder in " + DesktopWords.fileManager).
class DesktopWords : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(QString fileManager READ fileManager CONSTANT)
    Q_PROPERTY(QString thisComputer READ thisComputer CONSTANT)
    Q_PROPERTY(QString terminal READ terminal CONSTANT)
    Q_PROPERTY(QString menuBar READ menuBar CONSTANT)

public:
    QString fileManager() const { return PlatformWords::fileManager(); }
    QString thisComputer() const { return PlatformWords::thisComputer(); }
    QString terminal() const { return PlatformWords::terminal(); }
    QString menuBar() const { return PlatformWords::menuBar(); }
};

} // namespace norvela

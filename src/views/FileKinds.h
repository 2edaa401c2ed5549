#pragma once

#include <QColor>
#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

namespace norvela {

// A file name's kind chip for QML: its label and colours in the current appearance.
class FileKinds : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    Q_INVOKABLE QString label(const QString& fileName) const;
    Q_INVOKABLE QColor background(const QString& fileName, bool dark) const;
    Q_INVOKABLE QColor foreground(const QString& fileName, bool dark) const;
};

} // namespace norvela

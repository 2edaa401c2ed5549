#pragma once

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

namespace norvela {

// The app's symbol names for QML: `Symbols.glyph("pause.fill")` in the `Symbols.family` font.
// An unknown name draws a question mark and warns, so a misspelt symbol fails the view tests.
class Symbols : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(QString family READ family CONSTANT)

public:
    QString family() const;
    Q_INVOKABLE QString glyph(const QString& name) const;
};

} // namespace norvela

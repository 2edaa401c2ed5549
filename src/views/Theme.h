#pragma once

#include <QColor>
#include <QObject>
#include <QtQml/qqmlregistration.h>

class QJSEngine;
class QQmlEngine;

namespace norvela {

// The named colours every window draws with, each with a dark and a light value. One
// instance serves C++ and every QML engine, so flipping `dark` recolours open windows.
class Theme : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(bool dark READ dark NOTIFY appearanceChanged)
    Q_PROPERTY(QColor panelBackground READ panelBackground NOTIFY appearanceChanged)
    Q_PROPERTY(QColor windowBackground READ windowBackground NOTIFY appearanceChanged)
    Q_PROPERTY(QColor sidebarBackground READ sidebarBackground NOTIFY appearanceChanged)
    Q_PROPERTY(QColor cardBackground READ cardBackground NOTIFY appearanceChanged)
    Q_PROPERTY(QColor textPrimary READ textPrimary NOTIFY appearanceChanged)
    Q_PROPERTY(QColor textSecondary READ textSecondary NOTIFY appearanceChanged)
    Q_PROPERTY(QColor accent READ accent NOTIFY appearanceChanged)
    Q_PROPERTY(QColor successGreen READ successGreen NOTIFY appearanceChanged)
    Q_PROPERTY(QColor pausedAmber READ pausedAmber NOTIFY appearanceChanged)
    Q_PROPERTY(QColor toggleGreen READ toggleGreen NOTIFY appearanceChanged)
    Q_PROPERTY(QColor hairline READ hairline NOTIFY appearanceChanged)
    Q_PROPERTY(QColor cardHairline READ cardHairline NOTIFY appearanceChanged)
    Q_PROPERTY(QColor hoverFill READ hoverFill NOTIFY appearanceChanged)
    Q_PROPERTY(QColor progressTrack READ progressTrack NOTIFY appearanceChanged)
    Q_PROPERTY(QColor pushButtonFill READ pushButtonFill NOTIFY appearanceChanged)
    Q_PROPERTY(QColor pushButtonHover READ pushButtonHover NOTIFY appearanceChanged)

public:
    // One colour in both appearances.
    struct Pair {
        QColor dark;
        QColor light;
    };
    struct Colors {
        Pair panelBackground, windowBackground, sidebarBackground, cardBackground;
        Pair textPrimary, textSecondary, accent, successGreen, pausedAmber, toggleGreen;
        Pair hairline, cardHairline, hoverFill, progressTrack, pushButtonFill, pushButtonHover;
    };

    // The application's theme; it lives until the process ends.
    static Theme& instance();
    // QML's way to the same instance (owned by C++, never by an engine).
    static Theme* create(QQmlEngine*, QJSEngine*);

    bool dark() const { return m_dark; }
    void setDark(bool dark);

    QColor panelBackground() const { return pick(colors().panelBackground); }
    QColor windowBackground() const { return pick(colors().windowBackground); }
    QColor sidebarBackground() const { return pick(colors().sidebarBackground); }
    QColor cardBackground() const { return pick(colors().cardBackground); }
    QColor textPrimary() const { return pick(colors().textPrimary); }
    QColor textSecondary() const { return pick(colors().textSecondary); }
    QColor accent() const { return pick(colors().accent); }
    QColor successGreen() const { return pick(colors().successGreen); }
    QColor pausedAmber() const { return pick(colors().pausedAmber); }
    QColor toggleGreen() const { return pick(colors().toggleGreen); }
    QColor hairline() const { return pick(colors().hairline); }
    QColor cardHairline() const { return pick(colors().cardHairline); }
    QColor hoverFill() const { return pick(colors().hoverFill); }
    QColor progressTrack() const { return pick(colors().progressTrack); }
    QColor pushButtonFill() const { return pick(colors().pushButtonFill); }
    QColor pushButtonHover() const { return pick(colors().pushButtonHover); }

Q_SIGNALS:
    void appearanceChanged();

private:
    Theme() = default;
    static const Colors& colors();
    QColor pick(const Pair& pair) const { return m_dark ? pair.dark : pair.light; }

    bool m_dark = false;
};

} // namespace norvela

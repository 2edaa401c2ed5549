#pragma once

#include <QDBusConnection>
#include <QObject>

#include <chrono>
#include <optional>

class QDBusMessage;
class QDBusVariant;
class QPalette;

namespace norvela {

// Follows the desktop's dark or light appearance live: the XDG desktop portal's
// colour-scheme setting where a portal answers, the application palette otherwise.
class AppearanceWatcher : public QObject {
    Q_OBJECT
public:
    // The portal's org.freedesktop.appearance color-scheme values.
    enum class ColorScheme { NoPreference = 0, Dark = 1, Light = 2 };

    struct Options {
        // Dark (true) or light (false) whatever the desktop says; the desktop is not asked.
        std::optional<bool> forcedDark;
        // Where the portal is asked (none: the session bus).
        std::optional<QDBusConnection> bus;
        std::chrono::milliseconds portalTimeout = std::chrono::milliseconds(500);
    };

    explicit AppearanceWatcher(Options options, QObject* parent = nullptr);

    bool isDark() const { return m_dark; }

    // The scheme in a Read (or ReadOne) reply: errors and unknown values are no preference.
    static ColorScheme schemeFromReply(const QDBusMessage& reply);
    // Unwraps variants nested to any depth; only integers 0, 1 and 2 mean something.
    static ColorScheme schemeFromValue(QVariant value);
    static bool paletteIsDark(const QPalette& palette);

Q_SIGNALS:
    void darkChanged(bool dark);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private Q_SLOTS:
    void onSettingChanged(const QString& group, const QString& key, const QDBusVariant& value);

private:
    void askPortal(const QDBusConnection& bus);
    void readScheme(const QDBusConnection& bus);
    void setScheme(ColorScheme scheme);
    void update();

    std::optional<bool> m_forcedDark;
    std::chrono::milliseconds m_timeout;
    ColorScheme m_scheme = ColorScheme::NoPreference;
    bool m_heardChange = false;
    bool m_dark = false;
};

} // namespace norvela

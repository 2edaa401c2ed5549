#include "PowerStatus.h"

#include <QDir>
#include <QFile>

#include <optional>

namespace norvela::PowerStatus {

namespace {

// One attribute file's text; nothing when it cannot be read (missing, a directory, no permission).
std::optional<QString> attribute(const QString& supplyDir, const char* name) {
    QFile file(supplyDir + QLatin1Char('/') + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray text = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return QString::fromUtf8(text).trimmed();
}

// Supplies that can run the machine from outside: the wall adapter, USB power (plain, type-C,
// power delivery) and wireless chargers.
bool isExternal(const QString& type) {
    return type == QLatin1String("Mains") || type.startsWith(QLatin1String("USB")) ||
           type == QLatin1String("Wireless");
}

} // namespace

bool onACPower(const QString& sysfsRoot) {
    const QDir root(sysfsRoot);
    bool discharging = false;
    bool external = false;
    // Entries are usually symbolic links into the device tree; QDir follows them.
    for (const QString& name : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString dir = root.filePath(name);
        const std::optional<QString> type = attribute(dir, "type");
        if (!type)
            continue;
        if (*type == QLatin1String("Battery")) {
            // A wireless mouse or headset battery says nothing about how the computer is powered.
            if (attribute(dir, "scope") == QStringLiteral("Device"))
                continue;
            if (attribute(dir, "status") == QStringLiteral("Discharging"))
                discharging = true;
        } else if (isExternal(*type)) {
            // An adapter whose state cannot be read may well be plugged in.
            const std::optional<QString> online = attribute(dir, "online");
            if (!online || *online != QLatin1String("0"))
                external = true;
        }
    }
    return !discharging || external;
}

bool onACPower() {
    return onACPower(QStringLiteral("/sys/class/power_supply"));
}

} // namespace norvela::PowerStatus

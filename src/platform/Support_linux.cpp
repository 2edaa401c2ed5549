#include "Support.h"

#include <QRegularExpression>
#include <QSysInfo>

namespace norvela::Support {

QString operatingSystemLine() {
    QString name = osReleasePrettyName(QStringLiteral("/etc/os-release"));
    if (name.isEmpty())
        name = osReleasePrettyName(QStringLiteral("/usr/lib/os-release"));
    if (name.isEmpty())
        name = QSysInfo::prettyProductName().simplified();
    // Rolling distributions name no version; the kernel tells a reader more than nothing.
    static const QRegularExpression digit(QStringLiteral("\\d"));
    if (!name.contains(digit))
        name += QStringLiteral(", kernel ") + QSysInfo::kernelVersion();
    return name;
}

} // namespace norvela::Support

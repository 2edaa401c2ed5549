#include "StatusText.h"

#include <QLocale>

namespace norvela::StatusText {

QString subLine(const SyncStatus& status, const QString& providerName, const QString& accountName) {
    const QString paused = QString::fromUtf8("Sync paused \u2014 ");
    switch (status.note) {
    case SyncStatus::Note::connecting:
        return QString::fromUtf8("Connecting\u2026");
    case SyncStatus::Note::connected:
        return QStringLiteral("Connected to ") + providerName;
    case SyncStatus::Note::upToDate:
        return QStringLiteral("Up to date");
    case SyncStatus::Note::unreachable:
        return QStringLiteral("Can't reach ") + providerName;
    case SyncStatus::Note::unsafeFolder:
        return paused + QStringLiteral("unsafe folder");
    case SyncStatus::Note::largeFolder:
        return paused + QStringLiteral("folder has ") +
               QLocale(QLocale::English).toString(qlonglong(status.largeFolderFiles)) +
               QStringLiteral(" files");
    case SyncStatus::Note::outsideHours:
        return paused + QStringLiteral("outside ") + QString::asprintf("%02d:00", status.holdStartHour) +
               QString::fromUtf8("\u2013") + QString::asprintf("%02d:00", status.holdEndHour);
    case SyncStatus::Note::onBattery:
        return paused + QStringLiteral("on battery");
    case SyncStatus::Note::relink:
        return QStringLiteral("Relink ") + accountName + QStringLiteral(" in Preferences");
    case SyncStatus::Note::quotaFull:
        return paused + status.serviceMessage;
    case SyncStatus::Note::mignoreUnreadable:
        return paused + QStringLiteral("can't read .mignore");
    case SyncStatus::Note::folderMissing:
        return paused + QStringLiteral("folder not found");
    }
    return {};
}

QString rate(const std::optional<double>& bytesPerSecond) {
    return bytesPerSecond ? QString::asprintf("%.1f MB/s", *bytesPerSecond / 1'000'000.0) : QString();
}

} // namespace norvela::StatusText

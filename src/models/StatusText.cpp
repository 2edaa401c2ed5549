#include "StatusText.h"

#include <QLocale>

namespace norvela::StatusText {

std::optional<QString> pauseReason(const SyncStatus& status) {
    switch (status.note) {
    case SyncStatus::Note::unsafeFolder:
        return QStringLiteral("unsafe folder");
    case SyncStatus::Note::largeFolder:
        return QStringLiteral("folder has ") +
               QLocale(QLocale::English).toString(qlonglong(status.largeFolderFiles)) +
               QStringLiteral(" files");
    case SyncStatus::Note::outsideHours:
        return QStringLiteral("outside ") + QString::asprintf("%02d:00", status.holdStartHour) +
               QString::fromUtf8("\u2013") + QString::asprintf("%02d:00", status.holdEndHour);
    case SyncStatus::Note::onBattery:
        return QStringLiteral("on battery");
    case SyncStatus::Note::quotaFull:
        return status.serviceMessage;
    case SyncStatus::Note::mignoreUnreadable:
        return QStringLiteral("can't read .mignore");
    case SyncStatus::Note::folderMissing:
        return QStringLiteral("folder not found");
    default:
        return std::nullopt;
    }
}

QString subLine(const SyncStatus& status, const QString& providerName, const QString& accountName) {
    if (const auto reason = pauseReason(status))
        return QString::fromUtf8("Sync paused \u2014 ") + *reason;
    switch (status.note) {
    case SyncStatus::Note::connecting:
        return QString::fromUtf8("Connecting\u2026");
    case SyncStatus::Note::connected:
        return QStringLiteral("Connected to ") + providerName;
    case SyncStatus::Note::upToDate:
        return QStringLiteral("Up to date");
    case SyncStatus::Note::unreachable:
        return QStringLiteral("Can't reach ") + providerName;
    case SyncStatus::Note::relink:
        return QStringLiteral("Relink ") + accountName + QStringLiteral(" in Preferences");
    default:
        return {};
    }
}

QString rate(const std::optional<double>& bytesPerSecond) {
    return bytesPerSecond ? QString::asprintf("%.1f MB/s", *bytesPerSecond / 1'000'000.0) : QString();
}

} // namespace norvela::StatusText

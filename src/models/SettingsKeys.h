#pragma once

#include <QString>

namespace norvela::SettingsKeys {

inline const QString folderPath = QStringLiteral("folderPath");
inline const QString launchAtLogin = QStringLiteral("launchAtLogin");
inline const QString notifyOnChanges = QStringLiteral("notifyOnChanges");
inline const QString schedule = QStringLiteral("schedule");
inline const QString uploadLimitMBps = QStringLiteral("uploadLimitMBps");
inline const QString appFolderBookmark = QStringLiteral("folderBookmark.app");

// Per-account keys end in the account key.
inline QString accountFolderPath(const QString& accountKey) {
    return QStringLiteral("folderPath.") + accountKey;
}
inline QString approvedLargeFolder(const QString& accountKey) {
    return QStringLiteral("approvedLargeFolder.") + accountKey;
}
inline QString folderBookmark(const QString& accountKey) {
    return QStringLiteral("folderBookmark.") + accountKey;
}

} // namespace norvela::SettingsKeys

#include "FolderCommand.h"

#include "LinkedAccounts.h"
#include "cloud/CloudProvider.h"
#include "common/SettingsStore.h"
#include "engines/UploadSyncEngine.h"
#include "models/AccountModel.h"
#include "models/AppModel.h"
#include "models/Paths.h"
#include "models/SettingsKeys.h"

#include <QDir>
#include <QFileInfo>

namespace norvela::cli {

QCoro::Task<int> folderCommand(QStringList args, Io io) {
    if (args.isEmpty() || args.size() > 2) {
        io.err << "usage: norvela folder ACCOUNT_KEY [PATH]\n";
        co_return 2;
    }
    const auto provider = findLinkedAccount(args.first(), io.err);
    if (!provider)
        co_return 1;
    SettingsStore settings;
    const QString appFolder =
        settings.stringValue(SettingsKeys::folderPath).value_or(QStringLiteral("~/Norvela"));
    // The same record the app reads; with no application it only stores, never starts syncing.
    AccountModel account(provider, nullptr, AppModel::defaultFolder(*provider, appFolder), settings);
    if (args.size() == 1) {
        io.out << account.folderPath() << '\n';
        co_return 0;
    }

    const QString path = Paths::standardized(QFileInfo(Paths::expandTilde(args[1])).absoluteFilePath());
    if (const auto reason = UploadSyncEngine::dangerousRootReason(path, QDir::homePath())) {
        io.err << "norvela: refusing to sync " << path << " (" << *reason << ")\n";
        co_return 1;
    }
    const QFileInfo info(path);
    if (info.exists() && !info.isDir()) {
        io.err << "norvela: " << path << " is not a folder\n";
        co_return 1;
    }
    if (!QDir().mkpath(path)) {
        io.err << "norvela: cannot create " << path << '\n';
        co_return 1;
    }
    account.setFolder(path);
    io.out << account.folderPath() << '\n';
    co_return 0;
}

} // namespace norvela::cli

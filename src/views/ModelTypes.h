#pragma once

#include "common/RecentFile.h"
#include "common/SelectiveSyncFolder.h"
#include "models/AccountModel.h"
#include "models/AppModel.h"
#include "update/UpdaterService.h"

#include <QtQml/qqml.h>

// The application's models as QML types: views receive them as properties and read them
// directly; nothing here creates one.
namespace norvela::qml {

struct AppModelType {
    Q_GADGET
    QML_FOREIGN(norvela::AppModel)
    QML_NAMED_ELEMENT(AppModel)
    QML_UNCREATABLE("The application owns the model")
};

struct AccountModelType {
    Q_GADGET
    QML_FOREIGN(norvela::AccountModel)
    QML_NAMED_ELEMENT(AccountModel)
    QML_UNCREATABLE("The application owns the accounts")
};

struct RecentFileType {
    Q_GADGET
    QML_FOREIGN(norvela::RecentFile)
    QML_VALUE_TYPE(recentFile)
};

struct SelectiveSyncFolderType {
    Q_GADGET
    QML_FOREIGN(norvela::SelectiveSyncFolder)
    QML_VALUE_TYPE(selectiveSyncFolder)
};

struct UpdaterServiceType {
    Q_GADGET
    QML_FOREIGN(norvela::UpdaterService)
    QML_NAMED_ELEMENT(UpdaterService)
    QML_UNCREATABLE("The application owns the updater")
};

} // namespace norvela::qml

#include "TrayState.h"

#include "models/AccountModel.h"
#include "models/AppModel.h"

#include <algorithm>

namespace norvela {

const AccountModel* failingAccount(const AppModel& model) {
    const auto& accounts = model.accounts();
    const auto it = std::find_if(accounts.cbegin(), accounts.cend(), [](const AccountModel* a) {
        return a->status().stateKey() == QLatin1String("error");
    });
    return it == accounts.cend() ? nullptr : *it;
}

TrayState trayStateOf(const AppModel& model) {
    if (failingAccount(model))
        return TrayState::error;
    switch (model.displaySyncState()) {
    case SyncState::idle:
        return TrayState::idle;
    case SyncState::syncing:
        return TrayState::syncing;
    case SyncState::paused:
        return TrayState::paused;
    }
    return TrayState::idle;
}

} // namespace norvela

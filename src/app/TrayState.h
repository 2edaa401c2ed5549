#pragma once

namespace norvela {

class AccountModel;
class AppModel;

// What the tray icon shows. An error is an account whose uploads are failing and being
// retried; holds that need the user (relink, a full account, a missing folder) are pauses.
enum class TrayState { idle, syncing, paused, error };

// The model's aggregated state, with any failing account outranking it.
TrayState trayStateOf(const AppModel& model);

// The first account whose uploads are failing, or null.
const AccountModel* failingAccount(const AppModel& model);

} // namespace norvela

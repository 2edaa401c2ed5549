#pragma once

#include <functional>
#include <memory>

namespace norvela {

class AccountModel;
class AccountSyncEngine;
class Clock;
class SyncEngine;

// How the models obtain their engines. The engines write into the models, so the models
// cannot name them without a dependency cycle; the composition root (the GUI, the
// command-line tool, a test) hands the real factory in.
struct EngineFactory {
    // The external-client engine when that client is installed, else the demonstration engine.
    std::function<std::unique_ptr<SyncEngine>(Clock&)> makeApplicationEngine;
    // The upload engine of one linked account.
    std::function<std::unique_ptr<AccountSyncEngine>(AccountModel&, Clock&)> makeAccountEngine;
};

} // namespace norvela

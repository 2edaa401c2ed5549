#include "StandardEngines.h"

#include "MaestralSyncEngine.h"
#include "MockSyncEngine.h"
#include "UploadSyncEngine.h"
#include "sync/PowerStatus.h"

namespace norvela {

EngineFactory standardEngines() {
    EngineFactory factory;
    factory.makeApplicationEngine = [](Clock& clock) -> std::unique_ptr<SyncEngine> {
        if (auto engine = MaestralSyncEngine::create(clock))
            return engine;
        return std::make_unique<MockSyncEngine>(clock, 0.22);
    };
    factory.makeAccountEngine = [](AccountModel& account,
                                   Clock& clock) -> std::unique_ptr<AccountSyncEngine> {
        return std::make_unique<UploadSyncEngine>(account, clock, [] { return PowerStatus::onACPower(); });
    };
    return factory;
}

} // namespace norvela

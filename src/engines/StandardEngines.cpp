#include "StandardEngines.h"

#include "MaestralSyncEngine.h"
#include "MockSyncEngine.h"

namespace norvela {

EngineFactory standardEngines() {
    EngineFactory factory;
    factory.makeApplicationEngine = [](Clock& clock) -> std::unique_ptr<SyncEngine> {
        if (auto engine = MaestralSyncEngine::create(clock))
            return engine;
        return std::make_unique<MockSyncEngine>(clock, 0.22);
    };
    return factory;
}

} // namespace norvela

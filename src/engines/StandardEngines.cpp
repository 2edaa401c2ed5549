#include "StandardEngines.h"

#include "models/SyncEngine.h"

namespace norvela {

EngineFactory standardEngines() {
    EngineFactory factory;
    factory.makeApplicationEngine = [](Clock&) -> std::unique_ptr<SyncEngine> { return nullptr; };
    return factory;
}

} // namespace norvela

#pragma once

#include "models/EngineFactory.h"

namespace norvela {

// The engines the application really runs.
EngineFactory standardEngines();

} // namespace norvela

#pragma once

#include "common/NorvelaError.h"

namespace norvela {

// The request got no HTTP reply: refused, timed out, dropped.
class NetworkError : public NorvelaError {
public:
    using NorvelaError::NorvelaError;
};

} // namespace norvela

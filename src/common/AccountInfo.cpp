#include "AccountInfo.h"

#include "Formatting.h"

namespace norvela {

QString AccountInfo::usageSummary() const {
    return Formatting::byteCount(usedBytes) + QStringLiteral(" of ") + Formatting::byteCount(quotaBytes);
}

} // namespace norvela

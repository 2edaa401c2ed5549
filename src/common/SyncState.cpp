#include "SyncState.h"

#include <QMetaEnum>

namespace norvela {

QString caseName(SyncState state) {
    return QString::fromLatin1(QMetaEnum::fromType<SyncState>().valueToKey(static_cast<int>(state)));
}

} // namespace norvela

#include "SyncStatus.h"

namespace norvela {

std::optional<QString> SyncStatus::reasonKey() const {
    // A user's pause outranks whatever else holds the account: it is what they must undo.
    if (userPaused)
        return QStringLiteral("user");
    switch (note) {
    case Note::outsideHours:
        return QStringLiteral("schedule");
    case Note::onBattery:
        return QStringLiteral("battery");
    case Note::unsafeFolder:
        return QStringLiteral("unsafe-folder");
    case Note::largeFolder:
        return QStringLiteral("large-folder");
    case Note::unreachable:
        return QStringLiteral("network");
    case Note::relink:
        return QStringLiteral("authorization");
    case Note::quotaFull:
        return QStringLiteral("quota");
    case Note::mignoreUnreadable:
        return QStringLiteral("mignore");
    case Note::folderMissing:
        return QStringLiteral("folder-missing");
    case Note::connecting:
    case Note::connected:
    case Note::upToDate:
        break;
    }
    return std::nullopt;
}

QString SyncStatus::stateKey() const {
    if (state != SyncState::paused && note == Note::unreachable)
        return QStringLiteral("error");
    return caseName(state);
}

} // namespace norvela

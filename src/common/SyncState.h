#pragma once

#include <QObject>
#include <QString>

namespace norvela {
Q_NAMESPACE

// Case names are printed as they stand in diagnostics ("idle", "syncing", "paused").
enum class SyncState { idle, syncing, paused };
Q_ENUM_NS(SyncState)

QString caseName(SyncState state);

} // namespace norvela

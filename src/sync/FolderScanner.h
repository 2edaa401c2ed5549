#pragma once

#include "MignoreRules.h"
#include "ScannedFile.h"

#include <QList>

namespace norvela::FolderScanner {

// Every regular file below `root` that may sync: hidden entries and the three ignored names
// skipped, ignored directories pruned without being walked, symbolic links never followed.
// Synchronous; callers run it off the main thread. A missing root gives an empty list.
QList<ScannedFile> scan(const QString& root, const MignoreRules* rules);

} // namespace norvela::FolderScanner

#pragma once

#include "MignoreRules.h"
#include "ScannedFile.h"
#include "UnsendableName.h"

#include <QByteArrayView>
#include <QList>

#include <optional>

namespace norvela::FolderScanner {

// The longest name, in bytes, a path component may have to be uploaded. Both services take
// names of 255 characters; bytes are never fewer than characters, so this errs on the side
// of saying so rather than of a failure at the service.
inline constexpr qsizetype maxNameBytes = 255;

// Every regular file below `root` that may sync: hidden entries and the three ignored names
// skipped, ignored directories pruned without being walked, symbolic links never followed.
// Files and folders whose names no service takes are left out of the list and, when
// `unsendable` is given, reported there (a folder once, without walking it).
// Synchronous; callers run it off the main thread. A missing root gives an empty list.
QList<ScannedFile> scan(const QString& root, const MignoreRules* rules,
                        QList<UnsendableName>* unsendable = nullptr);

// Why a name, as the file system holds it, cannot be uploaded; none when it can.
std::optional<QString> nameProblem(QByteArrayView name);
// The name for people: UTF-8 decoded, every byte that is not part of UTF-8 as "\xNN".
QString displayName(QByteArrayView name);

} // namespace norvela::FolderScanner

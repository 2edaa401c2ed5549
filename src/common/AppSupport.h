#pragma once

#include <QString>

namespace norvela::AppSupport {

// "~/.local/share/Norvela", created on demand, owner-only. Diagnostic files always live here.
QString devHookDirectory();

// Where credentials and sync indexes live: $NORVELA_APP_SUPPORT_DIR when set, otherwise
// devHookDirectory(). Created on demand, owner-only.
QString dataDirectory();

// Creates `path` (and any missing folder above it) with mode 0700, and takes group and other
// access away from `path` when it has any: these folders hold credentials and file names.
// Failures are left to the writes that follow.
void ensurePrivateDirectory(const QString& path);

// Writes a diagnostic file into devHookDirectory() atomically, owner-only; failures are ignored.
void writeDiagnosticFile(const QString& name, const QString& text);

// With NORVELA_DUMP_STATE=1, appends one line to "breadcrumbs.txt" (owner-only); otherwise nothing.
void breadcrumb(const QString& message);

} // namespace norvela::AppSupport

#pragma once

#include <QString>

namespace norvela::AppSupport {

// "~/.local/share/Norvela", created on demand. Diagnostic files always live here.
QString devHookDirectory();

// Where credentials and sync indexes live: $NORVELA_APP_SUPPORT_DIR when set, otherwise
// devHookDirectory().
QString dataDirectory();

// Writes a diagnostic file into devHookDirectory() atomically; failures are ignored.
void writeDiagnosticFile(const QString& name, const QString& text);

// With NORVELA_DUMP_STATE=1, appends one line to "breadcrumbs.txt"; otherwise nothing.
void breadcrumb(const QString& message);

} // namespace norvela::AppSupport

#pragma once

#include <QString>

namespace norvela::Paths {

// "~" or "~/…" with the home directory spelled out; anything else unchanged.
QString expandTilde(const QString& path);
// A path inside the home directory written with a leading "~"; others unchanged.
QString abbreviateHome(const QString& path);
// Dot segments and duplicate or trailing slashes removed.
QString standardized(const QString& path);

} // namespace norvela::Paths

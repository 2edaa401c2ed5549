#pragma once

#include <QString>

#include <optional>

namespace norvela::RuntimeDirectory {

// The per-user folder for the instance lock and the control socket: "$XDG_RUNTIME_DIR/norvela",
// or "/tmp/norvela-<uid>" when XDG_RUNTIME_DIR is unset or not a writable directory.
// Creates it with mode 0700; an existing one must be a real directory (not a symlink) owned by
// this user, and its mode is set back to 0700 if it differs. Returns the path, or nullopt with
// the reason in *error.
std::optional<QString> ensure(QString* error = nullptr);

} // namespace norvela::RuntimeDirectory

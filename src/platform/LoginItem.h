#pragma once

#include <QString>

#include <optional>

namespace norvela::LoginItem {

// Opening at login through an XDG autostart entry. Each returns an error text on failure.
std::optional<QString> registerApp(const QString& executablePath);
std::optional<QString> unregisterApp();
QString entryPath();

} // namespace norvela::LoginItem

#pragma once

#include <QString>
#include <QTextStream>

#include <memory>

namespace norvela {
class CloudProvider;
}

namespace norvela::cli {

// The linked account stored under `key`; when there is none, says so on `err`, naming the
// linked keys, and returns null.
std::shared_ptr<CloudProvider> findLinkedAccount(const QString& key, QTextStream& err);

} // namespace norvela::cli

#pragma once

#include "auth/ServiceEndpoints.h"

#include <QString>
#include <QStringList>

#include <memory>

namespace norvela {
class CloudProvider;
}

namespace norvela::cli {

// The linked account stored under `key`, or null; `known` receives every linked key.
std::shared_ptr<CloudProvider> findLinkedAccount(const QString& key, const ServiceEndpoints& endpoints,
                                                 QStringList& known);
// "no linked account 'x' (linked: a, b)", for commands that take an account key.
QString unknownAccountText(const QString& key, const QStringList& known);

} // namespace norvela::cli

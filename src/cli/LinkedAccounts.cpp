#include "LinkedAccounts.h"

#include "cloud/CloudProvider.h"
#include "cloud/ProviderKind.h"

namespace norvela::cli {

std::shared_ptr<CloudProvider> findLinkedAccount(const QString& key, const ServiceEndpoints& endpoints,
                                                 QStringList& known) {
    for (ProviderKind kind : ProviderKinds::all) {
        for (const auto& provider : ProviderKinds::linkedProviders(kind, endpoints)) {
            if (provider->accountKey() == key)
                return provider;
            known.append(provider->accountKey());
        }
    }
    return nullptr;
}

QString unknownAccountText(const QString& key, const QStringList& known) {
    return QStringLiteral("no linked account '") + key + QStringLiteral("' (") +
           (known.isEmpty() ? QStringLiteral("no accounts are linked")
                            : QStringLiteral("linked: ") + known.join(QStringLiteral(", "))) +
           QLatin1Char(')');
}

} // namespace norvela::cli

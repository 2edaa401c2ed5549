#include "LinkedAccounts.h"

#include "auth/ServiceEndpoints.h"
#include "cloud/CloudProvider.h"
#include "cloud/ProviderKind.h"

namespace norvela::cli {

std::shared_ptr<CloudProvider> findLinkedAccount(const QString& key, QTextStream& err) {
    QStringList known;
    for (ProviderKind kind : ProviderKinds::all) {
        for (const auto& provider : ProviderKinds::linkedProviders(kind, ServiceEndpoints::configured())) {
            if (provider->accountKey() == key)
                return provider;
            known.append(provider->accountKey());
        }
    }
    err << "norvela: no linked account '" << key << "' ("
        << (known.isEmpty() ? QStringLiteral("no accounts are linked")
                            : QStringLiteral("linked: ") + known.join(QStringLiteral(", ")))
        << ")\n";
    return nullptr;
}

} // namespace norvela::cli

#include "ProviderKind.h"

#include "DropboxProvider.h"
#include "GoogleDriveProvider.h"

namespace norvela::ProviderKinds {

QString id(ProviderKind kind) {
    return kind == ProviderKind::dropbox ? QStringLiteral("dropbox") : QStringLiteral("gdrive");
}

std::optional<ProviderKind> fromId(const QString& text) {
    for (ProviderKind kind : all)
        if (id(kind) == text)
            return kind;
    return std::nullopt;
}

CloudTokenStore tokenStore(ProviderKind kind) {
    return kind == ProviderKind::dropbox ? CloudTokenStore::dropbox() : CloudTokenStore::googleDrive();
}

std::shared_ptr<CloudProvider> makeProvider(ProviderKind kind, std::optional<TokenSlot> slot,
                                            const ServiceEndpoints& endpoints, BandwidthLimiter& limiter) {
    if (kind == ProviderKind::dropbox)
        return std::make_shared<DropboxProvider>(std::move(slot), endpoints.dropbox, limiter);
    return std::make_shared<GoogleDriveProvider>(std::move(slot), endpoints.google, limiter);
}

QList<std::shared_ptr<CloudProvider>> linkedProviders(ProviderKind kind, const ServiceEndpoints& endpoints,
                                                      BandwidthLimiter& limiter) {
    QList<std::shared_ptr<CloudProvider>> providers;
    for (const TokenSlot& slot : tokenStore(kind).load())
        providers.append(makeProvider(kind, slot, endpoints, limiter));
    return providers;
}

} // namespace norvela::ProviderKinds

#pragma once

#include "auth/CloudTokenStore.h"
#include "auth/ServiceEndpoints.h"
#include "net/BandwidthLimiter.h"

#include <QList>

#include <memory>

namespace norvela {

class CloudProvider;

enum class ProviderKind { dropbox, googleDrive };

namespace ProviderKinds {

inline constexpr ProviderKind all[] = {ProviderKind::dropbox, ProviderKind::googleDrive};

QString id(ProviderKind kind); // "dropbox" or "gdrive"
std::optional<ProviderKind> fromId(const QString& id);
CloudTokenStore tokenStore(ProviderKind kind);

// A provider of that kind; with no slot it stands for an account that is not linked yet.
// Uploads are paced by `limiter`.
std::shared_ptr<CloudProvider> makeProvider(ProviderKind kind, std::optional<TokenSlot> slot,
                                            const ServiceEndpoints& endpoints,
                                            BandwidthLimiter& limiter = BandwidthLimiter::shared());

// One provider per stored credential of that kind, in file order.
QList<std::shared_ptr<CloudProvider>> linkedProviders(ProviderKind kind, const ServiceEndpoints& endpoints,
                                                      BandwidthLimiter& limiter = BandwidthLimiter::shared());

} // namespace ProviderKinds
} // namespace norvela

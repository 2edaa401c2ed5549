#include "DropboxService.h"

#include "CloudSim.h"

namespace cloudsim {

struct DropboxService::State {};

DropboxService::DropboxService(CloudSim& sim) : m_sim(sim), m_state(std::make_unique<State>()) {}
DropboxService::~DropboxService() = default;

HttpResponse DropboxService::handle(const HttpRequest& request, Host host, const QString& path) {
    OAuth& auth = m_sim.oauth(Service::dropbox);
    if (host == Host::www && path == QLatin1String("/oauth2/authorize"))
        return auth.authorize(request);
    if (host == Host::api && path == QLatin1String("/oauth2/token"))
        return auth.token(request);
    if (host == Host::api && path == QLatin1String("/2/auth/token/revoke")) {
        HttpResponse unauthorized;
        if (!auth.accountFor(request, &unauthorized))
            return unauthorized;
        auth.revokeAccessToken(QString::fromLatin1(request.header("authorization").mid(7)).trimmed());
        return HttpResponse::json(200, "null");
    }
    return HttpResponse::text(501, "not implemented yet");
}

QJsonObject DropboxService::listing(const QString&) const {
    return {};
}
QJsonObject DropboxService::toJson() const {
    return {};
}
void DropboxService::fromJson(const QJsonObject&) {}
void DropboxService::reset() {}

} // namespace cloudsim

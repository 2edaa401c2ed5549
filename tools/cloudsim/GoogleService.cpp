#include "GoogleService.h"

#include "CloudSim.h"

#include <QUrl>

namespace cloudsim {

struct GoogleService::State {};

GoogleService::GoogleService(CloudSim& sim) : m_sim(sim), m_state(std::make_unique<State>()) {}
GoogleService::~GoogleService() = default;

HttpResponse GoogleService::handle(const HttpRequest& request, Host host, const QString& path) {
    OAuth& auth = m_sim.oauth(Service::google);
    if (host == Host::accounts && path == QLatin1String("/o/oauth2/v2/auth"))
        return auth.authorize(request);
    if (host == Host::oauth2 && path == QLatin1String("/token"))
        return auth.token(request);
    if (host == Host::oauth2 && path == QLatin1String("/revoke")) {
        const QString token = request.query.queryItemValue(QStringLiteral("token"), QUrl::FullyDecoded);
        if (auth.revokeRefreshToken(token) || auth.revokeAccessToken(token))
            return HttpResponse::json(200, "{}");
        return HttpResponse::json(
            400, "{\"error\":\"invalid_token\",\"error_description\":\"Token expired or revoked\"}");
    }
    return HttpResponse::text(501, "not implemented yet");
}

QJsonObject GoogleService::listing(const QString&) const {
    return {};
}
QJsonObject GoogleService::toJson() const {
    return {};
}
void GoogleService::fromJson(const QJsonObject&) {}
void GoogleService::reset() {}

} // namespace cloudsim

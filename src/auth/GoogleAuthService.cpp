#include "GoogleAuthService.h"

#include "net/DecodeError.h"
#include "net/Http.h"

#include <QUrlQuery>

namespace norvela {

using namespace std::chrono_literals;

GoogleAuthService::GoogleAuthService(std::optional<TokenSlot> slot, GoogleEndpoints endpoints, Clock& clock,
                                     QObject* parent)
    : AuthService(std::move(slot), CloudTokenStore::googleDrive(), AuthError::Service::google, clock, parent),
      m_endpoints(std::move(endpoints)) {}

void GoogleAuthService::checkConfiguration() const {
    if (m_endpoints.clientId.isEmpty())
        throw badResponse(QStringLiteral("Google client ID not configured"));
}

QUrl GoogleAuthService::authorizationUrl(const QString& challenge, const QString& state,
                                         bool forceAccountSelection) const {
    QUrl url = m_endpoints.authorization;
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("client_id"), m_endpoints.clientId);
    query.addQueryItem(QStringLiteral("response_type"), QStringLiteral("code"));
    query.addQueryItem(QStringLiteral("scope"), scope);
    query.addQueryItem(QStringLiteral("code_challenge"), challenge);
    query.addQueryItem(QStringLiteral("code_challenge_method"), QStringLiteral("S256"));
    query.addQueryItem(QStringLiteral("redirect_uri"), redirectUri());
    query.addQueryItem(QStringLiteral("access_type"), QStringLiteral("offline"));
    query.addQueryItem(QStringLiteral("prompt"), forceAccountSelection
                                                     ? QStringLiteral("consent select_account")
                                                     : QStringLiteral("consent"));
    query.addQueryItem(QStringLiteral("state"), state);
    url.setQuery(query);
    return url;
}

QCoro::Task<AuthService::Identity> GoogleAuthService::fetchIdentity(QString accessToken) {
    QUrl url = m_endpoints.drive;
    url.setPath(url.path() + QStringLiteral("/about"));
    url.setQuery(QStringLiteral("fields=user(emailAddress)"));
    QNetworkRequest request(url);
    request.setRawHeader("Authorization", "Bearer " + accessToken.toUtf8());
    const HttpResult reply = co_await Http::send(request, "GET", QByteArray(), 20s);
    if (reply.status != 200)
        throw badResponse(reply.utf8Body() ? reply.bodyText() : QStringLiteral("about failure"));
    const QJsonObject user = DecodeError::object(DecodeError::object(reply.body), QStringLiteral("user"));
    const QString email = DecodeError::string(user, QStringLiteral("emailAddress"));
    co_return Identity{email, email};
}

QCoro::Task<> GoogleAuthService::unlink() {
    QPointer<GoogleAuthService> self(this);
    if (m_slot) {
        try {
            // The refresh token is appended as it is: it is URL-safe by construction.
            QNetworkRequest request(
                QUrl(m_endpoints.revocation.toString() + QStringLiteral("?token=") + m_slot->refreshToken));
            co_await Http::send(request, "POST", QByteArray(), 20s);
        } catch (...) {
            // Offline: the record is forgotten all the same.
        }
    }
    if (!self)
        co_return;
    if (m_slot)
        removeStoredSlot();
    forget();
}

} // namespace norvela

#include "DropboxAuthService.h"

#include "common/AppSupport.h"
#include "net/DecodeError.h"
#include "net/Http.h"

#include <QUrlQuery>

namespace norvela {

using namespace std::chrono_literals;

DropboxAuthService::DropboxAuthService(std::optional<TokenSlot> slot, DropboxEndpoints endpoints,
                                       Clock& clock, QObject* parent)
    : AuthService(std::move(slot), CloudTokenStore::dropbox(), AuthError::Service::dropbox, clock, parent),
      m_endpoints(std::move(endpoints)) {}

QUrl DropboxAuthService::authorizationUrl(const QString& challenge, const QString& state,
                                          bool forceAccountSelection) const {
    QUrl url = m_endpoints.authorizationPage;
    url.setPath(url.path() + QStringLiteral("/oauth2/authorize"));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("client_id"), m_endpoints.appKey);
    query.addQueryItem(QStringLiteral("response_type"), QStringLiteral("code"));
    query.addQueryItem(QStringLiteral("code_challenge"), challenge);
    query.addQueryItem(QStringLiteral("code_challenge_method"), QStringLiteral("S256"));
    query.addQueryItem(QStringLiteral("redirect_uri"), redirectUri());
    query.addQueryItem(QStringLiteral("token_access_type"), QStringLiteral("offline"));
    query.addQueryItem(QStringLiteral("state"), state);
    if (forceAccountSelection)
        query.addQueryItem(QStringLiteral("force_reauthentication"), QStringLiteral("true"));
    url.setQuery(query);
    return url;
}

QCoro::Task<AuthService::Identity> DropboxAuthService::fetchIdentity(QString accessToken) {
    QNetworkRequest request(m_endpoints.apiUrl(QStringLiteral("/2/users/get_current_account")));
    request.setRawHeader("Authorization", "Bearer " + accessToken.toUtf8());
    const HttpResult reply = co_await Http::send(request, "POST", QByteArray(), 20s);
    if (reply.status != 200)
        throw badResponse(reply.utf8Body() ? reply.bodyText()
                                           : QStringLiteral("get_current_account failure"));
    const QJsonObject o = DecodeError::object(reply.body);
    co_return Identity{DecodeError::string(o, QStringLiteral("account_id")),
                       DecodeError::string(o, QStringLiteral("email"))};
}

void DropboxAuthService::breadcrumb(const QString& message) const {
    AppSupport::breadcrumb(message);
}

QCoro::Task<> DropboxAuthService::unlink() {
    QPointer<DropboxAuthService> self(this);
    try {
        const QString token = co_await validAccessToken();
        QNetworkRequest request(m_endpoints.apiUrl(QStringLiteral("/2/auth/token/revoke")));
        request.setRawHeader("Authorization", "Bearer " + token.toUtf8());
        co_await Http::send(request, "POST", QByteArray(), 60s);
    } catch (...) {
        // No token or no service: the record is forgotten all the same.
    }
    if (!self)
        co_return;
    if (m_slot)
        removeStoredSlot();
    forget();
}

} // namespace norvela

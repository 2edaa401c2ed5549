#pragma once

#include "Account.h"
#include "HttpMessage.h"

#include <QHash>
#include <QJsonObject>
#include <QString>

#include <functional>
#include <optional>

namespace cloudsim {

// The OAuth 2 authorisation-code flow with PKCE as one service runs it: authorisation page,
// token endpoint (exchange and refresh), bearer checks and revocation.
class OAuth {
public:
    struct Client {
        QString id;
        QString secret; // empty: no secret is checked (Dropbox's public clients)
    };
    struct Config {
        Service service = Service::dropbox;
        Client client;
        qint64 codeLifetimeMs = 10 * 60 * 1000;
        qint64 accessTokenLifetimeMs = 4 * 60 * 60 * 1000;
    };
    // Which account the next approval signs in; creates the service's default account when
    // none exists yet.
    using ApprovingAccount = std::function<Account*()>;

    OAuth(Config config, ApprovingAccount approving, std::function<qint64()> nowMs);

    Config& config() { return m_config; }

    // GET on the authorisation page: a redirect to redirect_uri with code and state (or
    // error=access_denied when the account or the query "deny=1" says so).
    HttpResponse authorize(const HttpRequest& request);
    // POST on the token endpoint.
    HttpResponse token(const HttpRequest& request);

    // The account a bearer token stands for, or the 401 reply to send instead.
    std::optional<QString> accountFor(const HttpRequest& request, HttpResponse* unauthorized) const;

    // Revokes the refresh token and every access token issued from it.
    bool revokeRefreshToken(const QString& refreshToken);
    // Revokes an access token together with the refresh token that produced it.
    bool revokeAccessToken(const QString& accessToken);
    // Makes every access token expire now (tests of refreshing).
    void expireAccessTokens();
    void forgetAccount(const QString& accountId);
    void reset();

    QJsonObject toJson() const;
    void fromJson(const QJsonObject& o);

private:
    struct Code {
        QString clientId, redirectUri, challenge, accountId;
        qint64 expiresMs = 0;
    };
    struct Refresh {
        QString accountId, clientId;
        bool revoked = false;
    };
    struct Access {
        QString accountId, refreshToken;
        qint64 expiresMs = 0;
        bool revoked = false;
    };

    HttpResponse tokenError(const QByteArray& error, const QString& description) const;
    HttpResponse issue(const QString& accountId, const QString& clientId, const QString& refreshToken,
                       bool includeRefresh);
    bool clientMatches(const QUrlQuery& form) const;

    Config m_config;
    ApprovingAccount m_approving;
    std::function<qint64()> m_nowMs;
    QHash<QString, Code> m_codes;
    QHash<QString, Refresh> m_refresh;
    QHash<QString, Access> m_access;
};

// URL-safe random text of `bytes` random bytes.
QString randomToken(int bytes);

} // namespace cloudsim

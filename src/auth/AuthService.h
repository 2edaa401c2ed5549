#pragma once

#include "AuthError.h"
#include "CloudTokenStore.h"
#include "common/Clock.h"
#include "net/Http.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QUrl>

#include <QCoro/QCoroTask>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace norvela {

// What the Dropbox and Google authorisation services share: the authorisation-code flow
// with PKCE through the loopback callback server, the token endpoint, the access token kept
// fresh with one refresh shared by every concurrent caller, and the stored record.
class AuthService : public QObject {
    Q_OBJECT
public:
    using Form = QList<QPair<QString, QString>>;
    // Sends one request with the access token it is given.
    using Send = std::function<QCoro::Task<HttpResult>(QString accessToken)>;
    struct TokenResponse {
        QString accessToken;
        std::optional<QString> refreshToken;
        // How long the access token is used before it is refreshed.
        std::chrono::seconds lifetime{0};
    };
    struct Identity {
        QString uid;
        QString email;
    };

    const std::optional<TokenSlot>& slot() const { return m_slot; }
    const CloudTokenStore& store() const { return m_store; }
    AuthError::Service service() const { return m_service; }

    // Links an account in the browser and stores its refresh token. With `openBrowser`
    // false the authorisation URL is written to the diagnostic directory instead.
    QCoro::Task<> link(bool openBrowser, bool forceAccountSelection);
    // A token valid for at least the next 60 seconds, refreshed first when needed.
    QCoro::Task<QString> validAccessToken();
    void backfillIdentity(const QString& uid, const QString& email);
    // Sends with a valid access token. A 401 means the service no longer takes that token
    // (expired early or revoked): it is dropped and the request goes once more with a fresh
    // one. Refused again, the grant itself is gone and the call fails with a ServiceError of
    // kind authorization. No reply at all fails as a transient ServiceError; any other status
    // is returned for the caller to judge.
    QCoro::Task<HttpResult> sendAuthorized(Send send);
    // Never fails: the record is forgotten even when the revoke cannot be sent.
    virtual QCoro::Task<> unlink() = 0;

    // Ends a link() that is waiting for the browser; it fails as not linked. The waiter
    // resumes from the event loop, never inside this call.
    void cancelLink();

    // How long to wait for the browser (300 seconds unless a test says otherwise).
    void setCallbackTimeout(std::chrono::milliseconds timeout) { m_callbackTimeout = timeout; }
    // Called with the authorisation URL as soon as it is known (the command-line tool prints it).
    std::function<void(const QUrl&)> onAuthorizationUrl;

    static QString randomURLSafeString(int bytes);
    static QString codeChallenge(const QString& verifier);

Q_SIGNALS:
    void linkCancelled();

protected:
    AuthService(std::optional<TokenSlot> slot, CloudTokenStore store, AuthError::Service service,
                Clock& clock, QObject* parent);

    virtual QUrl authorizationUrl(const QString& challenge, const QString& state,
                                  bool forceAccountSelection) const = 0;
    virtual QString redirectUri() const = 0;
    virtual quint16 callbackPort() const = 0;
    virtual QString callbackPath() const = 0;
    virtual QString authUrlFileName() const = 0;
    virtual QUrl tokenUrl() const = 0;
    virtual Form clientForm() const = 0; // client_id, and the secret where one is used
    virtual QCoro::Task<Identity> fetchIdentity(QString accessToken) = 0;
    virtual void checkConfiguration() const {}
    virtual void breadcrumb(const QString&) const {}

    QCoro::Task<TokenResponse> requestTokens(Form form);
    QCoro::Task<HttpResult> postTokenForm(Form form);
    static TokenResponse decodeTokens(const HttpResult& reply);
    AuthError badResponse(const QString& text) const { return AuthError::badResponse(text, m_service); }
    QString serviceName() const;
    void forget();
    // Drops the slot from the credential file; a failed write is logged, since unlinking
    // never fails.
    void removeStoredSlot();

    std::optional<QString> m_accessToken;
    QDateTime m_accessTokenExpiry = QDateTime::fromMSecsSinceEpoch(0, Qt::UTC);
    std::optional<TokenSlot> m_slot;
    CloudTokenStore m_store;
    Clock& m_clock;

private:
    class Refresh;
    QCoro::Task<> runRefresh(std::shared_ptr<Refresh> refresh);

    AuthError::Service m_service;
    std::chrono::milliseconds m_callbackTimeout = std::chrono::seconds(300);
    std::weak_ptr<Refresh> m_refreshInFlight;
};

} // namespace norvela

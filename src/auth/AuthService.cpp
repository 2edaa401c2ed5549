#include "AuthService.h"

#include "LoopbackCallbackServer.h"
#include "common/AppSupport.h"
#include "net/DecodeError.h"
#include "net/Http.h"
#include "net/NetworkError.h"
#include "net/ServiceError.h"
#include "platform/DesktopServices.h"
#include "platform/SystemLog.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QScopeGuard>
#include <QUrlQuery>

#include <QCoro/QCoroSignal>

#include <openssl/rand.h>

namespace norvela {

using namespace std::chrono_literals;

// One refresh request in flight; every caller of validAccessToken() waits for it.
class AuthService::Refresh : public QObject {
    Q_OBJECT
public:
    std::optional<QString> token;
    std::exception_ptr error;
Q_SIGNALS:
    void finished();
};

namespace {

// Ends a linking attempt: the browser answered, or the time ran out.
class CallbackRace : public QObject {
    Q_OBJECT
Q_SIGNALS:
    void finished(bool timedOut, const QUrl& url);
};

// The service's "expires_in" less a minute's margin, and never more than a day: a token
// claimed to last for ages is still refreshed daily. Anything but a sensible number counts
// as a token about to expire, so the next call refreshes it.
std::chrono::seconds tokenLifetime(const QJsonValue& expiresIn) {
    constexpr double margin = 60;
    constexpr double longest = 24 * 60 * 60;
    const double seconds = expiresIn.isDouble() ? expiresIn.toDouble() : 0;
    if (!(seconds > margin)) // NaN too
        return std::chrono::seconds(0);
    return std::chrono::seconds(qint64(std::min(seconds - margin, longest)));
}

} // namespace

AuthService::AuthService(std::optional<TokenSlot> slot, CloudTokenStore store, AuthError::Service service,
                         Clock& clock, QObject* parent)
    : QObject(parent), m_slot(std::move(slot)), m_store(std::move(store)), m_clock(clock),
      m_service(service) {}

QString AuthService::randomURLSafeString(int bytes) {
    QByteArray raw(bytes, Qt::Uninitialized);
    if (RAND_bytes(reinterpret_cast<unsigned char*>(raw.data()), bytes) != 1)
        throw NorvelaError(QStringLiteral("The system's random generator failed."));
    return QString::fromLatin1(raw.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QString AuthService::codeChallenge(const QString& verifier) {
    return QString::fromLatin1(QCryptographicHash::hash(verifier.toUtf8(), QCryptographicHash::Sha256)
                                   .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QCoro::Task<> AuthService::link(bool openBrowser, bool forceAccountSelection) {
    checkConfiguration();
    QPointer<AuthService> self(this);
    const AuthError::Service service = m_service; // read once this may be gone
    const QString verifier = randomURLSafeString(64);
    const QString state = randomURLSafeString(16);
    const QUrl url = authorizationUrl(codeChallenge(verifier), state, forceAccountSelection);

    LoopbackCallbackServer server(callbackPort(), callbackPath(), state); // throws when the port is taken
    if (openBrowser)
        DesktopServices::system().openUrl(url);
    else
        AppSupport::writeDiagnosticFile(authUrlFileName(), url.toString(QUrl::FullyEncoded));
    if (onAuthorizationUrl)
        onAuthorizationUrl(url);

    CallbackRace race;
    connect(&server, &LoopbackCallbackServer::callbackReceived, &race,
            [&race](const QUrl& u) { Q_EMIT race.finished(false, u); });
    connect(
        this, &AuthService::linkCancelled, &race, [&race] { Q_EMIT race.finished(false, {}); },
        Qt::QueuedConnection);
    const auto timer =
        m_clock.schedule(m_callbackTimeout, false, [&race] { Q_EMIT race.finished(true, {}); });
    const std::tuple<bool, QUrl> outcome = co_await qCoro(&race, &CallbackRace::finished);
    const bool timedOut = std::get<0>(outcome);
    const QUrl callback = std::get<1>(outcome);
    // The server stays up until this call ends (its destructor stops it), so the browser
    // gets its page whole.
    if (!self)
        throw AuthError::notLinked(service);
    if (timedOut)
        throw AuthError::callbackTimeout(m_service);
    if (callback.isEmpty()) // cancelled
        throw AuthError::notLinked(m_service);

    // A repeated name counts once: its first occurrence. The server passed on only a redirect
    // with this attempt's state.
    QMap<QString, QString> items;
    for (const auto& [name, value] : QUrlQuery(callback).queryItems(QUrl::FullyDecoded))
        if (!items.contains(name))
            items.insert(name, value);
    if (items.contains(QStringLiteral("error")))
        throw AuthError::accessDenied(
            items.value(QStringLiteral("error_description"), items.value(QStringLiteral("error"))),
            m_service);
    const QString code = items.value(QStringLiteral("code"));
    if (code.isEmpty())
        throw badResponse(QStringLiteral("missing authorization code"));

    Form form{{QStringLiteral("code"), code},
              {QStringLiteral("grant_type"), QStringLiteral("authorization_code")},
              {QStringLiteral("redirect_uri"), redirectUri()},
              {QStringLiteral("code_verifier"), verifier}};
    form += clientForm();
    const TokenResponse tokens = co_await requestTokens(form);
    if (!self)
        throw AuthError::notLinked(service);
    if (!tokens.refreshToken)
        throw badResponse(QStringLiteral("no refresh token in response"));
    const Identity identity = co_await fetchIdentity(tokens.accessToken);
    if (!self)
        throw AuthError::notLinked(service);

    try {
        m_slot = m_store.upsert(identity.uid, identity.email, *tokens.refreshToken);
    } catch (const NorvelaError& error) {
        const QString name = m_service == AuthError::Service::google ? QStringLiteral("Google Drive")
                                                                     : QStringLiteral("Dropbox");
        throw NorvelaError(QStringLiteral("Couldn't save the %1 sign-in: %2").arg(name, error.description()));
    }
    m_accessToken = tokens.accessToken;
    m_accessTokenExpiry = m_clock.now().addSecs(tokens.lifetime.count());
}

QCoro::Task<AuthService::TokenResponse> AuthService::requestTokens(Form form) {
    const HttpResult reply = co_await postTokenForm(std::move(form));
    if (reply.status != 200)
        throw badResponse(reply.utf8Body() ? reply.bodyText() : QStringLiteral("token endpoint failure"));
    co_return decodeTokens(reply);
}

QCoro::Task<HttpResult> AuthService::postTokenForm(Form form) {
    QByteArray body;
    for (const auto& [key, value] : form) {
        if (!body.isEmpty())
            body += '&';
        body += key.toUtf8() + '=' + Http::formEncode(value);
    }
    QNetworkRequest request(tokenUrl());
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QByteArrayLiteral("application/x-www-form-urlencoded"));
    co_return co_await Http::send(request, "POST", body, 20s);
}

AuthService::TokenResponse AuthService::decodeTokens(const HttpResult& reply) {
    const QJsonObject o = DecodeError::object(reply.body);
    TokenResponse tokens;
    tokens.accessToken = DecodeError::string(o, QStringLiteral("access_token"));
    tokens.lifetime = tokenLifetime(o.value(QStringLiteral("expires_in")));
    if (o.contains(QStringLiteral("refresh_token")))
        tokens.refreshToken = DecodeError::string(o, QStringLiteral("refresh_token"));
    return tokens;
}

QString AuthService::serviceName() const {
    return m_service == AuthError::Service::google ? QStringLiteral("Google") : QStringLiteral("Dropbox");
}

QCoro::Task<QString> AuthService::validAccessToken() {
    if (m_accessToken && m_accessTokenExpiry > m_clock.now())
        co_return QString(*m_accessToken); // a copy: co_return moves from a non-const lvalue
    std::shared_ptr<Refresh> refresh = m_refreshInFlight.lock();
    if (!refresh) {
        // Waiters resume from queued calls on this object, so it may only go once the last
        // of them has let go of it.
        refresh = std::shared_ptr<Refresh>(new Refresh, [](Refresh* r) { r->deleteLater(); });
        m_refreshInFlight = refresh;
        runRefresh(refresh);
    }
    if (!refresh->token && !refresh->error)
        co_await qCoro(refresh.get(), &Refresh::finished);
    if (refresh->error)
        std::rethrow_exception(refresh->error);
    co_return QString(*refresh->token); // a copy: every waiter reads the same token
}

QCoro::Task<> AuthService::runRefresh(std::shared_ptr<Refresh> refresh) {
    QPointer<AuthService> self(this);
    try {
        if (!m_slot)
            throw AuthError::notLinked(m_service);
        breadcrumb(QStringLiteral("refresh: POST token endpoint"));
        Form form{{QStringLiteral("grant_type"), QStringLiteral("refresh_token")},
                  {QStringLiteral("refresh_token"), m_slot->refreshToken}};
        form += clientForm();
        HttpResult reply;
        try {
            reply = co_await postTokenForm(form);
        } catch (const NetworkError& e) {
            throw ServiceError(ServiceError::Kind::transient, e.description());
        }
        if (!self)
            throw AuthError::notLinked(AuthError::Service::dropbox);
        if (reply.status != 200) {
            const QString text = QStringLiteral("%1 didn't renew the account's access: HTTP %2: %3")
                                     .arg(serviceName())
                                     .arg(reply.status)
                                     .arg(reply.bodyText());
            if (auto transient = ServiceError::fromStatus(reply, text))
                throw *transient;
            // invalid_grant and its kin: the refresh token was revoked or has expired.
            if (reply.status >= 400 && reply.status < 500)
                throw ServiceError(ServiceError::Kind::authorization, text);
            throw ServiceError(ServiceError::Kind::transient, text);
        }
        const TokenResponse tokens = decodeTokens(reply);
        breadcrumb(QStringLiteral("refresh: got access token"));
        m_accessToken = tokens.accessToken;
        m_accessTokenExpiry = m_clock.now().addSecs(tokens.lifetime.count());
        refresh->token = tokens.accessToken;
    } catch (...) {
        refresh->error = std::current_exception();
    }
    if (self && m_refreshInFlight.lock() == refresh)
        m_refreshInFlight.reset();
    Q_EMIT refresh->finished();
}

QCoro::Task<HttpResult> AuthService::sendAuthorized(Send send) {
    const QPointer<AuthService> self(this);
    const AuthError::Service service = m_service; // read once this may be gone
    // The request (and its body) goes as this returns, not when the frame does: that waits
    // until the caller, resumed first, next suspends, and an upload wants a piece's memory
    // back before then.
    const auto letGo = qScopeGuard([&send] { send = nullptr; });
    for (int attempt = 1;; ++attempt) {
        const QString token = co_await validAccessToken();
        if (!self)
            throw AuthError::notLinked(service);
        HttpResult reply;
        try {
            reply = co_await send(token);
        } catch (const NetworkError& e) {
            throw ServiceError(ServiceError::Kind::transient, e.description());
        }
        if (!self)
            throw AuthError::notLinked(service);
        if (reply.status != 401)
            co_return reply;
        // Only the token this request used: another request may have renewed it meanwhile.
        if (m_accessToken == token)
            m_accessToken.reset();
        if (attempt == 2)
            throw ServiceError(ServiceError::Kind::authorization,
                               QStringLiteral("%1 no longer accepts the account's sign-in: HTTP 401: %2")
                                   .arg(serviceName(), reply.bodyText()));
    }
}

void AuthService::cancelLink() {
    Q_EMIT linkCancelled();
}

void AuthService::backfillIdentity(const QString& uid, const QString& email) {
    if (!m_slot || !m_slot->uid.isEmpty() || uid.isEmpty())
        return;
    try {
        if (auto resolved = m_store.resolveIdentity(m_slot->storageKey, uid, email))
            m_slot = *resolved;
    } catch (const NorvelaError&) {
        // Still unwritable: the next account details try again.
    }
}

void AuthService::removeStoredSlot() {
    try {
        m_store.remove(m_slot->storageKey);
    } catch (const NorvelaError& error) {
        systemLog(QStringLiteral("Couldn't remove the stored sign-in of %1: %2")
                      .arg(m_slot->storageKey, error.description()));
    }
}

void AuthService::forget() {
    m_slot.reset();
    m_accessToken.reset();
    m_accessTokenExpiry = QDateTime::fromMSecsSinceEpoch(0, Qt::UTC);
}

} // namespace norvela

#include "AuthService.moc"

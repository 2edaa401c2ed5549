#include "OAuth.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QUrl>

namespace cloudsim {

QString randomToken(int bytes) {
    QByteArray raw(bytes, Qt::Uninitialized);
    for (char& byte : raw)
        byte = char(QRandomGenerator::system()->bounded(256));
    return QString::fromLatin1(raw.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

OAuth::OAuth(Config config, ApprovingAccount approving, std::function<qint64()> nowMs)
    : m_config(std::move(config)), m_approving(std::move(approving)), m_nowMs(std::move(nowMs)) {}

HttpResponse OAuth::authorize(const HttpRequest& request) {
    const QUrlQuery& q = request.query;
    const QString redirectUri = q.queryItemValue(QStringLiteral("redirect_uri"), QUrl::FullyDecoded);
    const QUrl redirect(redirectUri);
    // Without a usable redirect the page can only show an error, as the services do.
    if (!redirect.isValid() || redirect.scheme() != QLatin1String("http") ||
        (redirect.host() != QLatin1String("localhost") && redirect.host() != QLatin1String("127.0.0.1")))
        return HttpResponse::text(400, "Invalid redirect_uri: must be a loopback http address");
    if (q.queryItemValue(QStringLiteral("client_id")) != m_config.client.id)
        return HttpResponse::text(400, "Invalid client_id");
    if (q.queryItemValue(QStringLiteral("response_type")) != QLatin1String("code"))
        return HttpResponse::text(400, "Unsupported response_type");

    // The redirect keeps the given URI as sent and appends code (or error) and state.
    QList<QPair<QString, QString>> back;
    auto answer = [&](QList<QPair<QString, QString>> items) {
        if (q.hasQueryItem(QStringLiteral("state")))
            items.append(
                {QStringLiteral("state"), q.queryItemValue(QStringLiteral("state"), QUrl::FullyDecoded)});
        QByteArray target = redirectUri.toUtf8();
        char separator = target.contains('?') ? '&' : '?';
        for (const auto& [name, value] : items) {
            target += separator + name.toUtf8() + '=' + QUrl::toPercentEncoding(value);
            separator = '&';
        }
        return HttpResponse::redirect(target);
    };

    Account* account = m_approving();
    if (!account || account->denyAccess || q.queryItemValue(QStringLiteral("deny")) == QLatin1String("1")) {
        back.append({QStringLiteral("error"), QStringLiteral("access_denied")});
        back.append({QStringLiteral("error_description"),
                     QStringLiteral("The user chose not to give your app access.")});
        return answer(back);
    }
    const QString challenge = q.queryItemValue(QStringLiteral("code_challenge"));
    if (challenge.isEmpty() ||
        q.queryItemValue(QStringLiteral("code_challenge_method")) != QLatin1String("S256")) {
        back.append({QStringLiteral("error"), QStringLiteral("invalid_request")});
        back.append({QStringLiteral("error_description"), QStringLiteral("PKCE with S256 is required.")});
        return answer(back);
    }
    const QString code = randomToken(24);
    m_codes.insert(code, Code{m_config.client.id, redirectUri, challenge, account->id,
                              m_nowMs() + m_config.codeLifetimeMs});
    back.append({QStringLiteral("code"), code});
    return answer(back);
}

HttpResponse OAuth::tokenError(const QByteArray& error, const QString& description) const {
    return HttpResponse::json(400,
                              QJsonDocument(QJsonObject{{QStringLiteral("error"), QString::fromLatin1(error)},
                                                        {QStringLiteral("error_description"), description}}));
}

bool OAuth::clientMatches(const QUrlQuery& form) const {
    if (form.queryItemValue(QStringLiteral("client_id"), QUrl::FullyDecoded) != m_config.client.id)
        return false;
    return m_config.client.secret.isEmpty() ||
           form.queryItemValue(QStringLiteral("client_secret"), QUrl::FullyDecoded) == m_config.client.secret;
}

HttpResponse OAuth::issue(const QString& accountId, const QString& clientId, const QString& refreshToken,
                          bool includeRefresh) {
    const QString access = randomToken(48);
    m_access.insert(access,
                    Access{accountId, refreshToken, m_nowMs() + m_config.accessTokenLifetimeMs, false});
    QJsonObject reply{{QStringLiteral("access_token"), access},
                      {QStringLiteral("token_type"), QStringLiteral("bearer")},
                      {QStringLiteral("expires_in"), double(m_config.accessTokenLifetimeMs / 1000)}};
    if (includeRefresh)
        reply.insert(QStringLiteral("refresh_token"), refreshToken);
    if (m_config.service == Service::dropbox)
        reply.insert(QStringLiteral("account_id"), accountId);
    Q_UNUSED(clientId)
    return HttpResponse::json(200, QJsonDocument(reply));
}

HttpResponse OAuth::token(const HttpRequest& request) {
    if (request.method != "POST")
        return HttpResponse::text(405, "Method Not Allowed");
    if (!request.header("content-type").startsWith("application/x-www-form-urlencoded"))
        return tokenError("invalid_request", QStringLiteral("expected a form body"));
    QByteArray formText = request.body;
    formText.replace('+', ' '); // form encoding writes spaces as '+'
    const QUrlQuery form(QString::fromUtf8(formText));
    if (!clientMatches(form))
        return HttpResponse::json(
            401, QJsonDocument(QJsonObject{{QStringLiteral("error"), QStringLiteral("invalid_client")},
                                           {QStringLiteral("error_description"),
                                            QStringLiteral("Invalid client_id or client_secret")}}));
    const QString grant = form.queryItemValue(QStringLiteral("grant_type"), QUrl::FullyDecoded);

    if (grant == QLatin1String("authorization_code")) {
        const QString codeText = form.queryItemValue(QStringLiteral("code"), QUrl::FullyDecoded);
        const auto it = m_codes.constFind(codeText);
        if (it == m_codes.cend())
            return tokenError("invalid_grant", QStringLiteral("code doesn't exist or has expired"));
        const Code code = *it;
        m_codes.erase(it); // single use, whatever comes next
        if (code.expiresMs < m_nowMs())
            return tokenError("invalid_grant", QStringLiteral("code doesn't exist or has expired"));
        if (form.queryItemValue(QStringLiteral("redirect_uri"), QUrl::FullyDecoded) != code.redirectUri)
            return tokenError("invalid_grant", QStringLiteral("redirect_uri mismatch"));
        const QByteArray verifier =
            form.queryItemValue(QStringLiteral("code_verifier"), QUrl::FullyDecoded).toUtf8();
        const QByteArray challenge =
            QCryptographicHash::hash(verifier, QCryptographicHash::Sha256)
                .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
        if (verifier.isEmpty() || QString::fromLatin1(challenge) != code.challenge)
            return tokenError("invalid_grant", QStringLiteral("invalid code verifier"));
        const QString refresh = randomToken(48);
        m_refresh.insert(refresh, Refresh{code.accountId, code.clientId, false});
        return issue(code.accountId, code.clientId, refresh, true);
    }
    if (grant == QLatin1String("refresh_token")) {
        const QString refresh = form.queryItemValue(QStringLiteral("refresh_token"), QUrl::FullyDecoded);
        const auto it = m_refresh.constFind(refresh);
        if (it == m_refresh.cend() || it->revoked)
            return tokenError("invalid_grant", QStringLiteral("refresh token is invalid or revoked"));
        return issue(it->accountId, it->clientId, refresh, false);
    }
    return tokenError("unsupported_grant_type",
                      QStringLiteral("grant_type must be authorization_code or refresh_token"));
}

std::optional<QString> OAuth::accountFor(const HttpRequest& request, HttpResponse* unauthorized) const {
    const QByteArray header = request.header("authorization");
    const QString token =
        header.startsWith("Bearer ") ? QString::fromLatin1(header.mid(7)).trimmed() : QString();
    const auto it = m_access.constFind(token);
    QByteArray tag = "invalid_access_token";
    if (it != m_access.cend() && !it->revoked) {
        if (it->expiresMs > m_nowMs())
            return it->accountId;
        tag = "expired_access_token";
    }
    if (m_config.service == Service::dropbox) {
        *unauthorized = HttpResponse::json(
            401,
            QJsonDocument(QJsonObject{
                {QStringLiteral("error_summary"), QString::fromLatin1(tag + "/")},
                {QStringLiteral("error"), QJsonObject{{QStringLiteral(".tag"), QString::fromLatin1(tag)}}}}));
    } else {
        *unauthorized = HttpResponse::json(
            401, QJsonDocument(QJsonObject{
                     {QStringLiteral("error"),
                      QJsonObject{{QStringLiteral("code"), 401},
                                  {QStringLiteral("message"),
                                   QStringLiteral("Request had invalid authentication credentials.")},
                                  {QStringLiteral("status"), QStringLiteral("UNAUTHENTICATED")}}}}));
        unauthorized->setHeader("WWW-Authenticate", "Bearer realm=\"https://accounts.google.com/\"");
    }
    return std::nullopt;
}

bool OAuth::revokeRefreshToken(const QString& refreshToken) {
    auto it = m_refresh.find(refreshToken);
    if (it == m_refresh.end() || it->revoked)
        return false;
    it->revoked = true;
    for (Access& access : m_access)
        if (access.refreshToken == refreshToken)
            access.revoked = true;
    return true;
}

bool OAuth::revokeAccessToken(const QString& accessToken) {
    auto it = m_access.find(accessToken);
    if (it == m_access.end() || it->revoked)
        return false;
    it->revoked = true;
    revokeRefreshToken(it->refreshToken);
    return true;
}

void OAuth::expireAccessTokens() {
    const qint64 now = m_nowMs();
    for (Access& access : m_access)
        access.expiresMs = std::min(access.expiresMs, now - 1);
}

void OAuth::forgetAccount(const QString& accountId) {
    m_codes.removeIf([&](auto it) { return it.value().accountId == accountId; });
    m_refresh.removeIf([&](auto it) { return it.value().accountId == accountId; });
    m_access.removeIf([&](auto it) { return it.value().accountId == accountId; });
}

void OAuth::reset() {
    m_codes.clear();
    m_refresh.clear();
    m_access.clear();
}

QJsonObject OAuth::toJson() const {
    QJsonObject refresh, access;
    for (auto it = m_refresh.cbegin(); it != m_refresh.cend(); ++it)
        refresh.insert(it.key(), QJsonObject{{QStringLiteral("account"), it->accountId},
                                             {QStringLiteral("client"), it->clientId},
                                             {QStringLiteral("revoked"), it->revoked}});
    for (auto it = m_access.cbegin(); it != m_access.cend(); ++it)
        access.insert(it.key(), QJsonObject{{QStringLiteral("account"), it->accountId},
                                            {QStringLiteral("refresh"), it->refreshToken},
                                            {QStringLiteral("expires"), QString::number(it->expiresMs)},
                                            {QStringLiteral("revoked"), it->revoked}});
    return {{QStringLiteral("refresh"), refresh}, {QStringLiteral("access"), access}};
}

void OAuth::fromJson(const QJsonObject& o) {
    reset();
    const QJsonObject refresh = o.value(QStringLiteral("refresh")).toObject();
    for (auto it = refresh.begin(); it != refresh.end(); ++it) {
        const QJsonObject r = it.value().toObject();
        m_refresh.insert(it.key(), Refresh{r.value(QStringLiteral("account")).toString(),
                                           r.value(QStringLiteral("client")).toString(),
                                           r.value(QStringLiteral("revoked")).toBool()});
    }
    const QJsonObject access = o.value(QStringLiteral("access")).toObject();
    for (auto it = access.begin(); it != access.end(); ++it) {
        const QJsonObject a = it.value().toObject();
        m_access.insert(it.key(), Access{a.value(QStringLiteral("account")).toString(),
                                         a.value(QStringLiteral("refresh")).toString(),
                                         a.value(QStringLiteral("expires")).toString().toLongLong(),
                                         a.value(QStringLiteral("revoked")).toBool()});
    }
}

} // namespace cloudsim

#include "DropboxAccountClient.h"

#include "DropboxReplyError.h"
#include "auth/AuthError.h"
#include "auth/DropboxAuthService.h"
#include "common/AppSupport.h"
#include "net/DecodeError.h"
#include "net/Http.h"

#include <QNetworkRequest>

namespace norvela {

using namespace std::chrono_literals;

namespace {

struct CurrentAccount {
    QString displayName;
    QString email;
    QString accountType;
    QString accountId;

    static CurrentAccount decode(const QJsonObject& o) {
        return {DecodeError::string(DecodeError::object(o, QStringLiteral("name")),
                                    QStringLiteral("display_name")),
                DecodeError::string(o, QStringLiteral("email")),
                DecodeError::string(DecodeError::object(o, QStringLiteral("account_type")),
                                    QStringLiteral(".tag")),
                DecodeError::string(o, QStringLiteral("account_id"))};
    }
};

struct SpaceUsage {
    qint64 used = 0;
    qint64 allocated = 0; // absent for some team allocations: no quota to show

    static SpaceUsage decode(const QJsonObject& o) {
        const QJsonObject allocation = DecodeError::object(o, QStringLiteral("allocation"));
        return {DecodeError::integer(o, QStringLiteral("used")),
                allocation.contains(QStringLiteral("allocated"))
                    ? DecodeError::integer(allocation, QStringLiteral("allocated"))
                    : 0};
    }
};

} // namespace

DropboxAccountClient::DropboxAccountClient(DropboxAuthService& auth, QObject* owner)
    : m_auth(auth), m_owner(owner) {}

QString DropboxAccountClient::planName(const QString& accountTypeTag) {
    if (accountTypeTag == QLatin1String("basic"))
        return QStringLiteral("Dropbox Basic");
    if (accountTypeTag == QLatin1String("pro"))
        return QStringLiteral("Dropbox Plus");
    if (accountTypeTag == QLatin1String("business"))
        return QStringLiteral("Dropbox Business");
    return QStringLiteral("Dropbox");
}

template <typename Record> QCoro::Task<Record> DropboxAccountClient::call(QString endpoint) {
    const QPointer<QObject> owner = m_owner;
    const QNetworkRequest request(m_auth.endpoints().apiUrl(QStringLiteral("/2/") + endpoint));
    AuthService::Send send = [request](QString token) {
        QNetworkRequest authorised = request;
        authorised.setRawHeader("Authorization", "Bearer " + token.toUtf8());
        return Http::send(authorised, "POST", QByteArray(), 20s);
    };
    const HttpResult reply = co_await m_auth.sendAuthorized(std::move(send));
    if (!owner) // the provider went while the request was out
        throw AuthError::notLinked();
    if (reply.status != 200)
        throw DropboxReplyError::read(reply).classify();
    co_return Record::decode(DecodeError::object(reply.body));
}

QCoro::Task<AccountInfo> DropboxAccountClient::fetchAccountInfo() {
    AppSupport::breadcrumb(QStringLiteral("account: fetchAccountInfo start"));
    // Both requests go out now; the account's failure is the one reported when both fail.
    QCoro::Task<CurrentAccount> accountCall =
        call<CurrentAccount>(QStringLiteral("users/get_current_account"));
    QCoro::Task<SpaceUsage> usageCall = call<SpaceUsage>(QStringLiteral("users/get_space_usage"));
    const CurrentAccount account = co_await accountCall;
    const SpaceUsage usage = co_await usageCall;
    AppSupport::breadcrumb(QStringLiteral("account: got account + usage"));

    AccountInfo info;
    info.displayName = account.displayName;
    info.email = account.email;
    info.planName = planName(account.accountType);
    info.usedBytes = usage.used;
    info.quotaBytes = usage.allocated;
    info.uid = account.accountId;
    co_return info;
}

} // namespace norvela

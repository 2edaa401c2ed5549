#include "GoogleDriveProvider.h"

#include "common/NorvelaError.h"

namespace norvela {

namespace {

// The Drive web client arrives with the next steps; until then every call says so plainly.
[[noreturn]] void notAvailable(const char* what) {
    throw NorvelaError(
        QStringLiteral("Google Drive %1 is not available in this build yet.").arg(QLatin1String(what)));
}

} // namespace

GoogleDriveProvider::GoogleDriveProvider(std::optional<TokenSlot> slot, GoogleEndpoints endpoints,
                    BandwidthLimiter& limiter)
    : m_limiter(limiter), m_auth(std::move(slot), std::move(endpoints)) {}

QString GoogleDriveProvider::accountKey() const {
    return m_auth.slot() ? m_auth.slot()->storageKey : id();
}

std::optional<QString> GoogleDriveProvider::accountEmail() const {
    if (m_auth.slot() && !m_auth.slot()->email.isEmpty())
        return m_auth.slot()->email;
    return std::nullopt;
}

QCoro::Task<> GoogleDriveProvider::link(bool openBrowser, bool forceAccountSelection) {
    co_await m_auth.link(openBrowser, forceAccountSelection);
}

QCoro::Task<> GoogleDriveProvider::unlink() {
    co_await m_auth.unlink();
}

QCoro::Task<AccountInfo> GoogleDriveProvider::fetchAccountInfo() {
    co_await m_auth.validAccessToken();
    notAvailable("account information");
}

void GoogleDriveProvider::adoptIdentity(const AccountInfo& info) {
    m_auth.backfillIdentity(info.uid, info.email);
}

QCoro::Task<CloudUploadResult> GoogleDriveProvider::upload(QString, QString, qint64, std::optional<QString>,
                                                           Progress) {
    co_await m_auth.validAccessToken();
    notAvailable("upload");
}

QCoro::Task<QUrl> GoogleDriveProvider::createSharedLink(QString, std::optional<QString>) {
    co_await m_auth.validAccessToken();
    notAvailable("sharing");
}

QCoro::Task<QList<FileRevision>> GoogleDriveProvider::listRevisions(QString, std::optional<QString>) {
    co_await m_auth.validAccessToken();
    notAvailable("version history");
}

QCoro::Task<CloudUploadResult> GoogleDriveProvider::restore(QString, std::optional<QString>, FileRevision) {
    co_await m_auth.validAccessToken();
    notAvailable("restore");
}

QCoro::Task<QByteArray> GoogleDriveProvider::downloadCurrent(QString, std::optional<QString>) {
    co_await m_auth.validAccessToken();
    notAvailable("download");
}

} // namespace norvela

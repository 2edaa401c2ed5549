#include "DropboxProvider.h"

#include "common/NorvelaError.h"

namespace norvela {

namespace {

// The Dropbox web client arrives with the next steps; until then every call says so plainly.
[[noreturn]] void notAvailable(const char* what) {
    throw NorvelaError(
        QStringLiteral("Dropbox %1 is not available in this build yet.").arg(QLatin1String(what)));
}

} // namespace

DropboxProvider::DropboxProvider(std::optional<TokenSlot> slot, DropboxEndpoints endpoints,
                    BandwidthLimiter& limiter)
    : m_limiter(limiter), m_auth(std::move(slot), std::move(endpoints)) {}

QString DropboxProvider::accountKey() const {
    return m_auth.slot() ? m_auth.slot()->storageKey : id();
}

std::optional<QString> DropboxProvider::accountEmail() const {
    if (m_auth.slot() && !m_auth.slot()->email.isEmpty())
        return m_auth.slot()->email;
    return std::nullopt;
}

QCoro::Task<> DropboxProvider::link(bool openBrowser, bool forceAccountSelection) {
    co_await m_auth.link(openBrowser, forceAccountSelection);
}

QCoro::Task<> DropboxProvider::unlink() {
    co_await m_auth.unlink();
}

QCoro::Task<AccountInfo> DropboxProvider::fetchAccountInfo() {
    co_await m_auth.validAccessToken();
    notAvailable("account information");
}

void DropboxProvider::adoptIdentity(const AccountInfo& info) {
    m_auth.backfillIdentity(info.uid, info.email);
}

QCoro::Task<CloudUploadResult> DropboxProvider::upload(QString, QString, qint64, std::optional<QString>,
                                                       Progress) {
    co_await m_auth.validAccessToken();
    notAvailable("upload");
}

QCoro::Task<QUrl> DropboxProvider::createSharedLink(QString, std::optional<QString>) {
    co_await m_auth.validAccessToken();
    notAvailable("sharing");
}

QCoro::Task<QList<FileRevision>> DropboxProvider::listRevisions(QString, std::optional<QString>) {
    co_await m_auth.validAccessToken();
    notAvailable("version history");
}

QCoro::Task<CloudUploadResult> DropboxProvider::restore(QString, std::optional<QString>, FileRevision) {
    co_await m_auth.validAccessToken();
    notAvailable("restore");
}

QCoro::Task<QByteArray> DropboxProvider::downloadCurrent(QString, std::optional<QString>) {
    co_await m_auth.validAccessToken();
    notAvailable("download");
}

} // namespace norvela

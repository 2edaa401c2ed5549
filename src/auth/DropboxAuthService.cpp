#include "DropboxAuthService.h"

#include "AuthError.h"

namespace norvela {

DropboxAuthService::DropboxAuthService(std::optional<TokenSlot> slot, QObject* parent)
    : QObject(parent), m_slot(std::move(slot)) {}

QCoro::Task<> DropboxAuthService::link(bool, bool) {
    throw NorvelaError(QStringLiteral("Linking a Dropbox account is not available in this build yet."));
    co_return;
}

QCoro::Task<QString> DropboxAuthService::validAccessToken() {
    if (!m_slot)
        throw AuthError::notLinked();
    if (m_accessToken && m_accessTokenExpiry > QDateTime::currentDateTimeUtc())
        co_return *m_accessToken;
    throw NorvelaError(QStringLiteral("Talking to Dropbox is not available in this build yet."));
}

void DropboxAuthService::backfillIdentity(const QString& uid, const QString& email) {
    if (!m_slot || !m_slot->uid.isEmpty() || uid.isEmpty())
        return;
    if (auto resolved = m_store.resolveIdentity(m_slot->storageKey, uid, email))
        m_slot = *resolved;
}

QCoro::Task<> DropboxAuthService::unlink() {
    try {
        co_await validAccessToken();
        // The revoke request is sent here once the Dropbox client exists.
    } catch (...) {
        // No token means no revoke; the record is forgotten all the same.
    }
    if (m_slot)
        m_store.remove(m_slot->storageKey);
    m_slot.reset();
    m_accessToken.reset();
    m_accessTokenExpiry = QDateTime::fromMSecsSinceEpoch(0, Qt::UTC);
}

} // namespace norvela

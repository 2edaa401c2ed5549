#include "GoogleAuthService.h"

#include "AuthError.h"

namespace norvela {

GoogleAuthService::GoogleAuthService(std::optional<TokenSlot> slot, QObject* parent)
    : QObject(parent), m_slot(std::move(slot)) {}

QCoro::Task<> GoogleAuthService::link(bool, bool) {
    throw NorvelaError(QStringLiteral("Linking a Google account is not available in this build yet."));
    co_return;
}

QCoro::Task<QString> GoogleAuthService::validAccessToken() {
    if (!m_slot)
        throw AuthError::notLinked(AuthError::Service::google);
    if (m_accessToken && m_accessTokenExpiry > QDateTime::currentDateTimeUtc())
        co_return *m_accessToken;
    throw NorvelaError(QStringLiteral("Talking to Google Drive is not available in this build yet."));
}

void GoogleAuthService::backfillIdentity(const QString& uid, const QString& email) {
    if (!m_slot || !m_slot->uid.isEmpty() || uid.isEmpty())
        return;
    if (auto resolved = m_store.resolveIdentity(m_slot->storageKey, uid, email))
        m_slot = *resolved;
}

QCoro::Task<> GoogleAuthService::unlink() {
    // Google revokes the refresh token itself (no access token needed); the request is
    // sent here once the Google client exists. The record is forgotten either way.
    if (m_slot)
        m_store.remove(m_slot->storageKey);
    m_slot.reset();
    m_accessToken.reset();
    m_accessTokenExpiry = QDateTime::fromMSecsSinceEpoch(0, Qt::UTC);
    co_return;
}

} // namespace norvela

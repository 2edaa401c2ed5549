#pragma once

#include "CloudTokenStore.h"

#include <QDateTime>
#include <QObject>

#include <QCoro/QCoroTask>

#include <optional>

namespace norvela {

// Links one Dropbox account and keeps its access token fresh. One per Dropbox provider.
class DropboxAuthService : public QObject {
    Q_OBJECT
public:
    explicit DropboxAuthService(std::optional<TokenSlot> slot, QObject* parent = nullptr);

    const std::optional<TokenSlot>& slot() const { return m_slot; }
    const CloudTokenStore& store() const { return m_store; }

    QCoro::Task<> link(bool openBrowser, bool forceAccountSelection);
    QCoro::Task<QString> validAccessToken();
    void backfillIdentity(const QString& uid, const QString& email);
    // Never fails: the stored record goes even when the revoke cannot be sent.
    QCoro::Task<> unlink();

private:
    std::optional<QString> m_accessToken;
    QDateTime m_accessTokenExpiry = QDateTime::fromMSecsSinceEpoch(0, Qt::UTC);
    std::optional<TokenSlot> m_slot;
    CloudTokenStore m_store = CloudTokenStore::dropbox();
};

} // namespace norvela

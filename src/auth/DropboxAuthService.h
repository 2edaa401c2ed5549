#pragma once

#include "AuthService.h"
#include "ServiceEndpoints.h"

namespace norvela {

// Links one Dropbox account and keeps its access token fresh. One per Dropbox provider.
class DropboxAuthService : public AuthService {
    Q_OBJECT
public:
    static constexpr quint16 port = 47600;

    DropboxAuthService(std::optional<TokenSlot> slot, DropboxEndpoints endpoints,
                       Clock& clock = Clock::system(), QObject* parent = nullptr);

    QCoro::Task<> unlink() override;
    const DropboxEndpoints& endpoints() const { return m_endpoints; }

protected:
    QUrl authorizationUrl(const QString& challenge, const QString& state,
                          bool forceAccountSelection) const override;
    QString redirectUri() const override { return QStringLiteral("http://localhost:47600/oauth/callback"); }
    quint16 callbackPort() const override { return port; }
    QString callbackPath() const override { return QStringLiteral("/oauth/callback"); }
    QString authUrlFileName() const override { return QStringLiteral("auth-url.txt"); }
    QUrl tokenUrl() const override { return m_endpoints.apiUrl(QStringLiteral("/oauth2/token")); }
    Form clientForm() const override { return {{QStringLiteral("client_id"), m_endpoints.appKey}}; }
    QCoro::Task<Identity> fetchIdentity(QString accessToken) override;
    void breadcrumb(const QString& message) const override;

private:
    DropboxEndpoints m_endpoints;
};

} // namespace norvela

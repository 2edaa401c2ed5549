#pragma once

#include "AuthService.h"
#include "ServiceEndpoints.h"

namespace norvela {

// Links one Google account for Google Drive and keeps its access token fresh. One per
// Google Drive provider. Its record's uid is the account's e-mail address.
class GoogleAuthService : public AuthService {
    Q_OBJECT
public:
    static constexpr quint16 port = 47601;
    static inline const QString scope = QStringLiteral("https://www.googleapis.com/auth/drive.file");

    GoogleAuthService(std::optional<TokenSlot> slot, GoogleEndpoints endpoints,
                      Clock& clock = Clock::system(), QObject* parent = nullptr);

    QCoro::Task<> unlink() override;
    const GoogleEndpoints& endpoints() const { return m_endpoints; }

protected:
    QUrl authorizationUrl(const QString& challenge, const QString& state,
                          bool forceAccountSelection) const override;
    QString redirectUri() const override { return QStringLiteral("http://127.0.0.1:47601/oauth/google"); }
    quint16 callbackPort() const override { return port; }
    QString callbackPath() const override { return QStringLiteral("/oauth/google"); }
    QString authUrlFileName() const override { return QStringLiteral("auth-url-google.txt"); }
    QUrl tokenUrl() const override { return m_endpoints.token; }
    Form clientForm() const override {
        return {{QStringLiteral("client_id"), m_endpoints.clientId},
                {QStringLiteral("client_secret"), m_endpoints.clientSecret}};
    }
    QCoro::Task<Identity> fetchIdentity(QString accessToken) override;
    void checkConfiguration() const override;

private:
    GoogleEndpoints m_endpoints;
};

} // namespace norvela

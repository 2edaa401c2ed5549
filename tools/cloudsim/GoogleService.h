#pragma once

#include "HttpMessage.h"

#include <QJsonObject>

namespace cloudsim {

class CloudSim;

// The Google side: authorisation endpoint, token and revocation endpoints, Drive API and upload host.
class GoogleService {
public:
    enum class Host { accounts, oauth2, www };

    explicit GoogleService(CloudSim& sim);
    ~GoogleService();

    // `path` is what follows the host prefix, e.g. "/drive/v3/files".
    HttpResponse handle(const HttpRequest& request, Host host, const QString& path);

    QJsonObject listing(const QString& accountId) const;
    QJsonObject toJson() const;
    void fromJson(const QJsonObject& state);
    void reset();

private:
    struct State;
    CloudSim& m_sim;
    std::unique_ptr<State> m_state;
};

} // namespace cloudsim

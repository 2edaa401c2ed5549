#pragma once

#include "BodySink.h"
#include "HttpMessage.h"
#include "JsonStream.h"

#include <QJsonObject>

namespace cloudsim {

class CloudSim;

// The Dropbox side: authorisation page, API host and content host.
class DropboxService {
public:
    enum class Host { www, api, content };

    explicit DropboxService(CloudSim& sim);
    ~DropboxService();

    // `path` is what follows the host prefix, e.g. "/2/files/upload".
    HttpResponse handle(const HttpRequest& request, Host host, const QString& path);
    // Where an upload's body goes as it arrives, decided from its head; null for requests
    // whose body is read whole.
    std::unique_ptr<BodySink> receive(const HttpRequest& head, Host host, const QString& path);

    QJsonObject listing(const QString& accountId) const;
    bool removeFile(const QString& accountId, const QString& path);
    void writeJson(JsonStream& json) const; // the state to keep across restarts
    void fromJson(const QJsonObject& state);
    void reset();

private:
    struct State;
    CloudSim& m_sim;
    std::unique_ptr<State> m_state;
};

} // namespace cloudsim

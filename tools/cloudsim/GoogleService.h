#pragma once

#include "BodySink.h"
#include "HttpMessage.h"
#include "JsonStream.h"

#include <QJsonObject>
#include <QStringList>

#include <memory>

namespace cloudsim {

class CloudSim;
struct DriveFile;
struct DriveRevision;

// The Google side: authorisation endpoint, token and revocation endpoints, Drive API and upload host.
class GoogleService {
public:
    enum class Host { accounts, oauth2, www };

    explicit GoogleService(CloudSim& sim);
    ~GoogleService();

    // `path` is what follows the host prefix, e.g. "/drive/v3/files".
    HttpResponse handle(const HttpRequest& request, Host host, const QString& path);
    // Where a request on the upload host sends its body, decided from its head; null for
    // every other request, whose body is read whole.
    std::unique_ptr<BodySink> receive(const HttpRequest& head, Host host, const QString& path);

    QJsonObject listing(const QString& accountId) const;
    bool removeFile(const QString& accountId, const QString& fileId);
    void writeJson(JsonStream& json) const; // the state to keep across restarts
    void fromJson(const QJsonObject& state);
    void reset();

private:
    struct State;
    HttpResponse api(const HttpRequest& request, const QString& account, const QStringList& parts);
    HttpResponse about(const QString& account, const QString& fields);
    HttpResponse listFiles(const HttpRequest& request, const QString& account);
    HttpResponse createFile(const HttpRequest& request, const QString& account);
    HttpResponse getFile(const HttpRequest& request, const QString& account, const DriveFile& file);
    HttpResponse content(const DriveFile& file, const DriveRevision& revision);
    HttpResponse share(const HttpRequest& request, DriveFile& file);

    CloudSim& m_sim;
    std::unique_ptr<State> m_state;
};

} // namespace cloudsim

#pragma once

#include "Account.h"
#include "BlobStore.h"
#include "FaultRule.h"
#include "HttpServer.h"
#include "OAuth.h"
#include "UpdateFeed.h"

#include <QDateTime>
#include <QJsonArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QTimer>

#include <deque>
#include <memory>
#include <optional>

namespace cloudsim {

class DropboxService;
class GoogleService;

// A local stand-in for the Dropbox and Google services that Norvela talks to, on one
// loopback base URL:
//   /dropbox/www  /dropbox/api  /dropbox/content   /google/accounts  /google/oauth2  /google/www
// and Norvela's own release feed under /updates,
// plus an admin interface under /_admin (accounts, inspection, faults) that is also
// available as the methods below.
class CloudSim : public QObject {
    Q_OBJECT
public:
    // The client credentials a sandboxed Norvela build uses unless real ones are built in.
    static constexpr const char* defaultDropboxAppKey = "norvelasandbox0";
    static constexpr const char* defaultGoogleClientId =
        "000000000000-norvelasandboxnorvelasandbox0000.apps.googleusercontent.com";
    static constexpr const char* defaultGoogleClientSecret = "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";

    struct Options {
        quint16 port = 0; // 0: any free port
        QString stateDir; // empty: everything in memory
        qint64 accessTokenLifetimeMs = 4 * 60 * 60 * 1000;
        qint64 codeLifetimeMs = 10 * 60 * 1000;
        QString dropboxAppKey = QString::fromLatin1(defaultDropboxAppKey);
        QString googleClientId = QString::fromLatin1(defaultGoogleClientId);
        QString googleClientSecret = QString::fromLatin1(defaultGoogleClientSecret);
    };

    struct LoggedRequest {
        QDateTime at;
        QByteArray method;
        QByteArray target;
        HeaderList headers;
        qint64 bodySize = 0;
        int status = 0;
    };

    explicit CloudSim(Options options, QObject* parent = nullptr);
    explicit CloudSim(QObject* parent = nullptr);
    ~CloudSim() override;

    bool start(); // listens on 127.0.0.1
    QString errorString() const { return m_server.errorString(); }
    quint16 port() const { return m_server.port(); }
    QString baseUrl() const; // "http://127.0.0.1:<port>"

    // Accounts.
    Account& addAccount(Service service, const QString& email, const QString& name = {},
                        const QString& accountType = QStringLiteral("basic"));
    QList<Account>& accounts() { return m_accounts; }
    Account* account(const QString& id);
    // The account the next approval of that service signs in (empty: the first one).
    void setNextApproval(Service service, const QString& accountId);
    // The approving account, creating the service's default account on first use.
    Account* approvingAccount(Service service);
    QJsonObject listing(const QString& accountId) const; // what the account holds
    // Every account and its current files, one per line, for people reading a terminal.
    QString summaryText() const;

    // Inspection.
    QMap<QString, int> requestCounts() const { return m_counts; } // "METHOD /path" -> n
    // Request body bytes taken in, uploads cut off part-way included: "METHOD /path" -> bytes.
    QMap<QString, qint64> bytesReceived() const { return m_received; }
    QList<LoggedRequest> lastRequests(int n) const;

    // The release the update feed advertises (UpdateFeed::setLatestVersion).
    bool setLatestVersion(const QString& version, const QString& title = {});
    const UpdateFeed& updateFeed() const { return m_updates; }

    // Faults.
    int addFault(const QJsonObject& rule);
    const QList<FaultRule>& faults() const { return m_faults; } // those still to hit
    // The account's storage allotment in bytes; uploads that would go past it are refused.
    bool setQuota(const QString& accountId, qint64 bytes);
    // Deletes a file as its owner might elsewhere: a Drive file (or folder) by id, a Dropbox
    // file by path. False when the account holds no such file.
    bool removeFile(const QString& accountId, const QString& ref);
    void clearFaults() { m_faults.clear(); }

    void expireAccessTokens();
    void reset(); // forget accounts, files, tokens, faults and the request log

    // For the services.
    BlobStore& blobs() { return *m_blobs; }
    OAuth& oauth(Service service) { return service == Service::dropbox ? *m_dropboxAuth : *m_googleAuth; }
    qint64 nowMs() const { return QDateTime::currentMSecsSinceEpoch(); }
    const Options& options() const { return m_options; }
    // Saves the state to the state folder (if there is one) a moment later, once for a burst
    // of changes; a pending save is made when the emulator goes.
    void persist();

private:
    class Reception;

    HttpResponse handle(const HttpRequest& request);
    HttpResponse route(const HttpRequest& request);
    HttpResponse serveByPrefix(const HttpRequest& request);
    HttpResponse admin(const HttpRequest& request);
    // The fault that hits a service request, if one does (drops of uploads are taken apart).
    std::optional<FaultRule> takeFault(const HttpRequest& request);
    // The fault's reply, or the service's with the fault's delays and cuts applied.
    HttpResponse serve(const HttpRequest& request, const std::optional<FaultRule>& hit,
                       const std::function<HttpResponse()>& service);
    HttpResponse faultReply(const FaultRule& rule, const QString& path) const;
    std::unique_ptr<BodySink> receive(const HttpRequest& head);
    HttpServer::BodyPlan onHead(const HttpRequest& head);
    void onDropped(const HttpRequest& head, qint64 bodyBytes);
    void record(const HttpRequest& request, qint64 bodySize, int status);
    void writeState();
    void load();

    Options m_options;
    HttpServer m_server;
    std::unique_ptr<BlobStore> m_blobs;
    std::unique_ptr<OAuth> m_dropboxAuth;
    std::unique_ptr<OAuth> m_googleAuth;
    std::unique_ptr<DropboxService> m_dropbox;
    std::unique_ptr<GoogleService> m_google;
    UpdateFeed m_updates;
    QList<Account> m_accounts;
    QMap<Service, QString> m_nextApproval;
    QList<FaultRule> m_faults;
    int m_nextFaultId = 1;
    std::deque<LoggedRequest> m_log;
    QMap<QString, int> m_counts;
    QMap<QString, qint64> m_received;
    QTimer m_persistTimer;
};

} // namespace cloudsim

#include "HttpClient.h"
#include "ManualClock.h"
#include "RecordingDesktop.h"
#include "SimFixture.h"
#include "cli/Cli.h"
#include "cloudsim/HttpServer.h"
#include "common/AppSupport.h"
#include "common/SettingsStore.h"
#include "models/AccountModel.h"
#include "models/AppModel.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrlQuery>

using namespace norvela;
using namespace norvela::test;

namespace {

class AuthFlow : public SimFixture {
protected:
    // Runs a link while playing the browser; returns the error text, or nothing on success.
    std::optional<QString> link(AuthService& service, bool force = false, const Tamper& tamper = {}) {
        return linkThroughBrowser(service, force, tamper, &lastAuthorizationUrl);
    }

    // A browser that brings back `name` with another value.
    static Tamper withQueryItem(const QString& name, const QString& value) {
        return [=](QUrl url) {
            QUrlQuery q(url);
            q.removeAllQueryItems(name);
            q.addQueryItem(name, value);
            url.setQuery(q);
            return url;
        };
    }
    // The service's answer to renewing access with `refreshToken`, as a client asks for it.
    int refreshStatus(bool dropbox, const QString& refreshToken) const {
        using cloudsim::CloudSim;
        const QByteArray client = dropbox ? QByteArray("&client_id=") + CloudSim::defaultDropboxAppKey
                                          : QByteArray("&client_id=") + CloudSim::defaultGoogleClientId +
                                                "&client_secret=" + CloudSim::defaultGoogleClientSecret;
        return httpRequest("POST", sim.baseUrl() + (dropbox ? "/dropbox/api" : "/google") + "/oauth2/token",
                           "grant_type=refresh_token&refresh_token=" + refreshToken.toUtf8() + client,
                           {{"Content-Type", "application/x-www-form-urlencoded"}})
            .status;
    }
    QJsonObject credentials(const QString& file) const {
        return QJsonDocument::fromJson(readFile(supportPath(file))).object();
    }

    QUrl lastAuthorizationUrl;
};

} // namespace

TEST_F(AuthFlow, DropboxLinksRelinksAndUnlinks) {
    DropboxAuthService first(std::nullopt, endpoints.dropbox);
    ASSERT_EQ(link(first), std::nullopt);
    ASSERT_TRUE(first.slot().has_value());
    EXPECT_EQ(first.slot()->storageKey, "dropbox");
    EXPECT_EQ(first.slot()->email, "dropbox.user@example.com");
    EXPECT_EQ(fileMode(supportPath("dropbox-credentials.json")), 0600); // as the store writes every one
    EXPECT_FALSE(QUrlQuery(lastAuthorizationUrl).hasQueryItem("force_reauthentication"));
    const QString defaultId = sim.accounts().first().id;

    // A second account of the same kind: its own key, after the account chooser was forced.
    const cloudsim::Account& other = sim.addAccount(cloudsim::Service::dropbox, "other@example.com");
    sim.setNextApproval(cloudsim::Service::dropbox, other.id);
    DropboxAuthService second(std::nullopt, endpoints.dropbox);
    // A sign-in that cannot be saved fails the link and keeps the accounts already there.
    const QString path = CloudTokenStore::dropbox().fileURL();
    const QByteArray saved = readFile(path);
    {
        const FileSizeLimit limit(saved.size() + 10); // the old file fits, two accounts do not
        EXPECT_EQ(link(second, true), "Couldn't save the Dropbox sign-in: File too large (" + path + ")");
    }
    EXPECT_FALSE(second.slot().has_value());
    EXPECT_EQ(readFile(path), saved);
    sim.setNextApproval(cloudsim::Service::dropbox, other.id);
    ASSERT_EQ(link(second, true), std::nullopt);
    EXPECT_EQ(QUrlQuery(lastAuthorizationUrl).queryItemValue("force_reauthentication"), "true");
    EXPECT_EQ(second.slot()->storageKey, "dropbox-" + CloudTokenStore::sanitize(other.id));

    // Relinking the first account keeps its key and replaces its refresh token.
    sim.setNextApproval(cloudsim::Service::dropbox, defaultId);
    DropboxAuthService again(std::nullopt, endpoints.dropbox);
    ASSERT_EQ(link(again, true), std::nullopt);
    EXPECT_EQ(again.slot()->storageKey, "dropbox");
    const QJsonArray stored = credentials("dropbox-credentials.json").value("accounts").toArray();
    ASSERT_EQ(stored.size(), 2);
    for (const QJsonValue& slot : stored)
        EXPECT_EQ(slot.toObject().keys(), (QStringList{"email", "refreshToken", "storageKey", "uid"}));
    EXPECT_NE(stored.at(0).toObject().value("refreshToken"), first.slot()->refreshToken);

    // Unlinking revokes at the service and forgets the record.
    const QString refreshToken = again.slot()->refreshToken;
    await(again.unlink());
    EXPECT_FALSE(again.slot().has_value());
    EXPECT_EQ(refreshStatus(true, refreshToken), 400);
    EXPECT_EQ(CloudTokenStore::dropbox().load().size(), 1);
}

TEST_F(AuthFlow, GoogleLinksWithTheEmailAsIdentityAndRevokesWithoutRefreshing) {
    GoogleAuthService first(std::nullopt, endpoints.google);
    ASSERT_EQ(link(first), std::nullopt);
    EXPECT_EQ(first.slot()->storageKey, "gdrive");
    EXPECT_EQ(first.slot()->uid, "drive.user@example.com");
    EXPECT_EQ(first.slot()->email, "drive.user@example.com");
    const QUrlQuery query(lastAuthorizationUrl);
    EXPECT_EQ(query.queryItemValue("prompt", QUrl::FullyDecoded), "consent");
    EXPECT_EQ(query.queryItemValue("access_type"), "offline");
    EXPECT_EQ(query.queryItemValue("redirect_uri", QUrl::FullyDecoded),
              "http://127.0.0.1:47601/oauth/google");

    const cloudsim::Account& other = sim.addAccount(cloudsim::Service::google, "second.person@example.com");
    sim.setNextApproval(cloudsim::Service::google, other.id);
    GoogleAuthService second(std::nullopt, endpoints.google);
    ASSERT_EQ(link(second, true), std::nullopt);
    EXPECT_EQ(QUrlQuery(lastAuthorizationUrl).queryItemValue("prompt", QUrl::FullyDecoded),
              "consent select_account");
    EXPECT_EQ(second.slot()->storageKey, "gdrive-second-person-example-com");

    const int tokenCalls = requests("POST /google/oauth2/token");
    GoogleAuthService stored(second.slot(), endpoints.google);
    await(stored.unlink());
    EXPECT_EQ(requests("POST /google/oauth2/token"), tokenCalls); // no refresh before revoking
    EXPECT_EQ(sim.requestCounts().value("POST /google/oauth2/revoke"), 1);
    EXPECT_EQ(refreshStatus(false, second.slot()->refreshToken), 400); // the grant is gone
    EXPECT_EQ(CloudTokenStore::googleDrive().load().size(), 1);

    GoogleAuthService unconfigured(std::nullopt, GoogleEndpoints{});
    EXPECT_EQ(link(unconfigured), "Unexpected Google response: Google client ID not configured");
}

TEST_F(AuthFlow, ConcurrentCallersShareOneRefresh) {
    DropboxAuthService linked(std::nullopt, endpoints.dropbox);
    ASSERT_EQ(link(linked), std::nullopt);

    auto burst = [&](DropboxAuthService& service) {
        QList<QString> results;
        std::vector<QCoro::Task<>> tasks;
        for (int i = 0; i < 20; ++i)
            tasks.push_back([](DropboxAuthService& s, QList<QString>& out) -> QCoro::Task<> {
                try {
                    const QString token = co_await s.validAccessToken();
                    out << token;
                } catch (...) {
                    out << QStringLiteral("error: ") + describe(std::current_exception());
                }
            }(service, results));
        EXPECT_TRUE(waitFor([&] { return results.size() == 20; }));
        return results;
    };

    const QString tokenPath = QStringLiteral("/dropbox/api/oauth2/token");
    DropboxAuthService fresh(linked.slot(), endpoints.dropbox); // holds no access token yet
    int before = requests("POST " + tokenPath);
    const QList<QString> tokens = burst(fresh);
    EXPECT_EQ(requests("POST " + tokenPath), before + 1);
    EXPECT_EQ(QSet<QString>(tokens.begin(), tokens.end()).size(), 1) << tokens.join(" | ").toStdString();
    EXPECT_FALSE(tokens.first().startsWith("error"));

    // A refused refresh fails every waiter with the service's words; the next call tries again.
    sim.addFault({{"endpoint", tokenPath}, {"status", 400}});
    DropboxAuthService refused(linked.slot(), endpoints.dropbox);
    before = requests("POST " + tokenPath);
    const QList<QString> failures = burst(refused);
    EXPECT_EQ(requests("POST " + tokenPath), before + 1);
    for (const QString& f : failures)
        EXPECT_TRUE(f.startsWith("error: Dropbox didn't renew the account's access: HTTP 400: {"))
            << f.toStdString();
    EXPECT_FALSE(await(refused.validAccessToken()).isEmpty());
    EXPECT_EQ(requests("POST " + tokenPath), before + 2);

    // A grant the service refuses needs a new link; a service in trouble only needs time.
    const std::pair<int, ServiceError::Kind> outcomes[] = {{400, ServiceError::Kind::authorization},
                                                           {401, ServiceError::Kind::authorization},
                                                           {503, ServiceError::Kind::transient}};
    for (const auto& [status, kind] : outcomes) {
        sim.addFault({{"endpoint", tokenPath}, {"status", status}});
        DropboxAuthService again(linked.slot(), endpoints.dropbox);
        try {
            await(again.validAccessToken());
            ADD_FAILURE() << status;
        } catch (const ServiceError& e) {
            EXPECT_EQ(e.kind(), kind) << status;
        }
    }
}

TEST_F(AuthFlow, ErrorsTheUserCanMeet) {
    DropboxAuthService service(std::nullopt, endpoints.dropbox);
    EXPECT_EQ(link(service, false, withQueryItem("code", "")),
              "Unexpected Dropbox response: missing authorization code");
    EXPECT_FALSE(QFile::exists(CloudTokenStore::dropbox().fileURL()));

    // A repeated name is harmless: its first occurrence counts.
    EXPECT_EQ(link(service, false, [](QUrl u) { return QUrl(u.toString() + "&state=second&code=x"); }),
              std::nullopt);

    sim.accounts().first().denyAccess = true;
    EXPECT_EQ(link(service), "Dropbox denied access: The user chose not to give your app access.");
    sim.accounts().first().denyAccess = false;

    // A token endpoint that hands out no refresh token.
    cloudsim::HttpServer stingy([](const cloudsim::HttpRequest&) {
        return cloudsim::HttpResponse::json(200, R"({"access_token":"a","expires_in":14400})");
    });
    ASSERT_TRUE(stingy.listen(0));
    DropboxEndpoints noRefresh = endpoints.dropbox;
    noRefresh.api = QUrl(QStringLiteral("http://127.0.0.1:%1").arg(stingy.port()));
    DropboxAuthService shortChanged(std::nullopt, noRefresh);
    EXPECT_EQ(link(shortChanged), "Unexpected Dropbox response: no refresh token in response");

    // The callback port is taken by someone else.
    QTcpServer squatter;
    ASSERT_TRUE(squatter.listen(QHostAddress::LocalHost, DropboxAuthService::port));
    const auto busy = link(service);
    ASSERT_TRUE(busy.has_value());
    EXPECT_TRUE(busy->startsWith("Couldn't listen for the browser on port 47600")) << busy->toStdString();
}

TEST_F(AuthFlow, OnlyTheRedirectOfThisAttemptEndsTheWaitAndNoneEndsItInFiveMinutes) {
    ManualClock clock;
    DropboxAuthService service(std::nullopt, endpoints.dropbox, clock);
    const auto pending = startLink(service);
    const QUrl url = pending->url;
    ASSERT_FALSE(url.isEmpty());

    // A forged or stale redirect, a client that says nothing: each is answered or dropped, and
    // the link goes on waiting (the callback server's own tests try every other kind).
    EXPECT_EQ(browse(url, withQueryItem("state", "forged")).status, 400);
    QTcpSocket silent;
    silent.connectToHost(QStringLiteral("127.0.0.1"), DropboxAuthService::port);
    clock.advance(std::chrono::seconds(299));
    processEvents();
    EXPECT_FALSE(pending->done);

    EXPECT_EQ(browse(url).status, 200);
    ASSERT_TRUE(waitFor([&] { return pending->done; }));
    EXPECT_EQ(pending->failure, std::nullopt);
    EXPECT_EQ(service.slot()->email, "dropbox.user@example.com");

    // Nobody comes back from the browser.
    const auto abandoned = startLink(service);
    clock.advance(std::chrono::seconds(300));
    ASSERT_TRUE(waitFor([&] { return abandoned->done; }));
    EXPECT_EQ(abandoned->failure, "Timed out waiting for the browser.");
    service.onAuthorizationUrl = nullptr;
}

TEST_F(AuthFlow, AppModelLinksRebuildsAndUnlinks) {
    SettingsStore settings(QTemporaryDir().path() + "/settings.json");
    RecordingDesktop desktop;
    AppModel model(settings, EngineFactory{}, desktop, endpoints);
    QUrl url;
    bool finished = false;
    auto run = [&]() -> QCoro::Task<> {
        co_await model.link(ProviderKind::dropbox, false);
        finished = true;
    };
    auto task = run();
    EXPECT_TRUE(model.isLinking());
    const QString written = QString::fromUtf8(readFile(AppSupport::devHookDirectory() + "/auth-url.txt"));
    browse(QUrl(written));
    ASSERT_TRUE(waitFor([&] { return finished; }));
    EXPECT_FALSE(model.isLinking());
    EXPECT_EQ(model.linkError(), std::nullopt);
    ASSERT_EQ(model.accounts().size(), 1);
    EXPECT_EQ(readFile(AppSupport::devHookDirectory() + "/link-result.txt"), "LINKED[dropbox]");

    model.unlink(model.accounts().first());
    EXPECT_TRUE(waitFor([&] { return model.accounts().isEmpty(); }));
}

TEST_F(AuthFlow, CommandLineLinkPrintsTheUrlAndTheAccount) {
    qputenv("NORVELA_SANDBOX_URL", sim.baseUrl().toUtf8());
    QString out, err;
    QTextStream outStream(&out), errStream(&err);
    bool done = false;
    int status = -1;
    const QStringList args{"link", "gdrive", "--no-browser"};
    auto run = [&]() -> QCoro::Task<> {
        status = co_await cli::run(args, {outStream, errStream});
        done = true;
    };
    auto task = run();
    outStream.flush();
    ASSERT_TRUE(out.startsWith(sim.baseUrl() + "/google/accounts/o/oauth2/v2/auth?")) << out.toStdString();
    browse(QUrl(out.trimmed()));
    ASSERT_TRUE(waitFor([&] { return done; }));
    outStream.flush();
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(out.endsWith("Linked gdrive drive.user@example.com\n")) << out.toStdString();

    EXPECT_EQ(await(cli::run({"unlink", "gdrive"}, {outStream, errStream})), 0);
    EXPECT_TRUE(CloudTokenStore::googleDrive().load().isEmpty());
}

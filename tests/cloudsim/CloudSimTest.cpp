// What the emulator must do for Norvela's own tests to mean anything, and which no test of
// Norvela reaches: OAuth that refuses what a careless client sends, and faults that hit as
// asked. Files, sessions, revisions, links, quotas and revocation are exercised through
// Norvela's own classes (tests/integration).
#include "cloudsim/CloudSim.h"
#include "HttpClient.h"
#include "TestSupport.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>
#include <QUrlQuery>

#include <gtest/gtest.h>

using namespace cloudsim;
using namespace norvela::test;

namespace {

const QByteArray verifier = "v3r1f1er-0123456789-abcdefghijklmnopqrstuvwxyz-ABCDEFGHIJKLMNOPQRSTUV";

QJsonObject jsonOf(const HttpReply& reply) {
    return QJsonDocument::fromJson(reply.body).object();
}

// The emulator on a free port, and the OAuth flow with PKCE spoken in plain HTTP.
class CloudSimTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim.start());
        base = sim.baseUrl();
    }

    static QString redirectUri(Service s) {
        return s == Service::dropbox ? "http://localhost:47600/oauth/callback"
                                     : "http://127.0.0.1:47601/oauth/google";
    }
    // The authorisation page's redirect back to the client, as a query (code or error, and state).
    QUrlQuery authorize(Service s) {
        const QByteArray challenge =
            QCryptographicHash::hash(verifier, QCryptographicHash::Sha256)
                .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
        const QString page =
            s == Service::dropbox
                ? "/dropbox/www/oauth2/authorize?client_id=" + QString(CloudSim::defaultDropboxAppKey)
                : "/google/accounts/o/oauth2/v2/auth?client_id=" + QString(CloudSim::defaultGoogleClientId);
        const HttpReply reply =
            httpRequest("GET", base + page + "&response_type=code&code_challenge=" + challenge +
                                   "&code_challenge_method=S256&state=st%2Bate" +
                                   "&redirect_uri=" + QUrl::toPercentEncoding(redirectUri(s)));
        EXPECT_EQ(reply.status, 302);
        const QUrl location(QString::fromUtf8(reply.header("Location")));
        EXPECT_EQ(location.toString(QUrl::RemoveQuery), redirectUri(s));
        return QUrlQuery(location);
    }
    // The token endpoint's form fields every grant carries: the client's id, and Google's secret.
    static QString client(Service s) {
        return s == Service::dropbox ? "&client_id=" + QString(CloudSim::defaultDropboxAppKey)
                                     : "&client_id=" + QString(CloudSim::defaultGoogleClientId) +
                                           "&client_secret=" + CloudSim::defaultGoogleClientSecret;
    }
    QString exchangeForm(Service s, const QByteArray& withVerifier = verifier) {
        return "grant_type=authorization_code&code=" + authorize(s).queryItemValue("code") +
               "&code_verifier=" + withVerifier + "&redirect_uri=" + QUrl::toPercentEncoding(redirectUri(s)) +
               client(s);
    }
    static QString refreshForm(Service s, const QJsonObject& tokens) {
        return "grant_type=refresh_token&refresh_token=" + tokens.value("refresh_token").toString() +
               client(s);
    }
    HttpReply token(Service s, const QString& form) {
        return httpRequest("POST",
                           base + (s == Service::dropbox ? "/dropbox/api" : "/google") + "/oauth2/token",
                           form.toUtf8(), {{"Content-Type", "application/x-www-form-urlencoded"}});
    }
    // An authorised call that needs nothing stored.
    HttpReply whoAmI(Service s, const QString& access) {
        const QList<QPair<QByteArray, QByteArray>> bearer{{"Authorization", "Bearer " + access.toUtf8()}};
        return s == Service::dropbox
                   ? httpRequest("POST", base + "/dropbox/api/2/users/get_current_account", {}, bearer)
                   : httpRequest("GET", base + "/google/www/drive/v3/about?fields=user(emailAddress)", {},
                                 bearer);
    }

    CloudSim sim;
    QString base;
};

} // namespace

TEST_F(CloudSimTest, TokenEndpointHoldsClientsToPkceTheirRedirectAndTheirCredentials) {
    for (const Service s : {Service::dropbox, Service::google}) {
        SCOPED_TRACE(int(s));
        EXPECT_EQ(authorize(s).queryItemValue("state", QUrl::FullyDecoded), "st+ate");

        // A wrong verifier spends the code; a fresh one is good once.
        const QString wrong = exchangeForm(s, "wrong-verifier");
        EXPECT_EQ(jsonOf(token(s, wrong)).value("error"), "invalid_grant");
        const QString form = exchangeForm(s);
        const HttpReply granted = token(s, form);
        ASSERT_EQ(granted.status, 200) << granted.body.constData();
        EXPECT_EQ(token(s, form).status, 400);

        // Another redirect than the one authorised, another client, a wrong secret.
        const QString otherPort = s == Service::dropbox ? "47601" : "47600";
        EXPECT_EQ(
            jsonOf(token(s, exchangeForm(s).replace(redirectUri(s).mid(17, 5), otherPort))).value("error"),
            "invalid_grant");
        EXPECT_EQ(token(s, exchangeForm(s).replace("client_id=", "client_id=x")).status, 401);
        if (s == Service::google) {
            const QString wrongSecret =
                exchangeForm(s).replace(CloudSim::defaultGoogleClientSecret, "GOCSPX-no");
            EXPECT_EQ(jsonOf(token(s, wrongSecret)).value("error"), "invalid_client");
        }

        // Calls need a bearer; a refreshed one works.
        EXPECT_EQ(whoAmI(s, {}).status, 401);
        const QJsonObject tokens = jsonOf(granted);
        const HttpReply refreshed = token(s, refreshForm(s, tokens));
        ASSERT_EQ(refreshed.status, 200);
        EXPECT_EQ(whoAmI(s, jsonOf(refreshed).value("access_token").toString()).status, 200);
    }
}

TEST_F(CloudSimTest, FaultsHitTheRequestsTheyNameAndNoOthers) {
    const QString target = base + "/dropbox/api/2/auth/token/revoke"; // 401 when no fault hits
    auto fault = [&](const QJsonObject& rule) {
        ASSERT_EQ(httpRequest("POST", base + "/_admin/faults", QJsonDocument(rule).toJson()).status, 200);
    };

    // A counted number of requests, then the real answer again; other endpoints are untouched.
    fault({{"endpoint", "/dropbox/api/2/auth"}, {"count", 2}, {"status", 429}, {"retryAfter", 3}});
    EXPECT_EQ(httpRequest("POST", base + "/dropbox/api/2/users/get_current_account").status, 401);
    const HttpReply limited = httpRequest("POST", target);
    EXPECT_EQ(limited.status, 429);
    EXPECT_EQ(limited.header("Retry-After"), "3");
    EXPECT_EQ(httpRequest("POST", target).status, 429);
    EXPECT_EQ(httpRequest("POST", target).status, 401);

    // A seeded share of requests: the same seed hits the same ones.
    auto pattern = [&] {
        fault({{"endpoint", "/dropbox"}, {"count", 0}, {"probability", 0.5}, {"seed", 7}, {"status", 503}});
        QString hits;
        for (int i = 0; i < 16; ++i)
            hits += httpRequest("POST", target).status == 503 ? 'x' : '.';
        httpRequest("DELETE", base + "/_admin/faults");
        return hits;
    };
    const QString first = pattern();
    EXPECT_EQ(pattern(), first);
    EXPECT_TRUE(first.contains('x') && first.contains('.'));

    // Dropped connections, seen on the wire: a reply cut after 10 bytes, and an upload cut after
    // 1,000 bytes of body with no reply, whose bytes still count as received.
    fault({{"endpoint", "/dropbox"}, {"dropReplyAfterBytes", 10}});
    EXPECT_EQ(rawExchange(sim.port(),
                          "POST /dropbox/api/2/auth/token/revoke HTTP/1.1\r\nContent-Length: 0\r\n\r\n"),
              "HTTP/1.1 4");
    fault({{"endpoint", "/dropbox"}, {"dropUploadAfterBytes", 1000}});
    const QString key = "POST /dropbox/api/2/auth/token/revoke";
    const qint64 before = sim.bytesReceived().value(key);
    EXPECT_EQ(
        rawExchange(sim.port(),
                    "POST /dropbox/api/2/auth/token/revoke HTTP/1.1\r\nContent-Length: 1048576\r\n\r\n" +
                        QByteArray(1 << 20, 'u')),
        "");
    EXPECT_EQ(sim.bytesReceived().value(key), before + 1000);
}

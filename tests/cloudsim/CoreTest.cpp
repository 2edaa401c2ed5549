#include "SimFixture.h"

#include <QJsonArray>
#include <QTemporaryDir>

using namespace cloudsim;
using namespace norvela::test;

namespace {

constexpr Service dropbox = Service::dropbox;
const QByteArray verifier = "v3r1f1er-0123456789-abcdefghijklmnopqrstuvwxyz-ABCDEFGHIJKLMNOPQRSTUV";

class CloudSimCore : public SimFixture {
protected:
    HttpReply revoke(const QString& accessToken) {
        return httpRequest("POST", base + "/dropbox/api/2/auth/token/revoke", {},
                           {{"Authorization", "Bearer " + accessToken.toUtf8()}});
    }
};

} // namespace

// One OAuth implementation serves both services; Google's own differences are in GoogleTest.
TEST_F(CloudSimCore, AuthorisationCodeFlowWithPkce) {
    const QUrlQuery back = authorize(dropbox, verifier);
    EXPECT_EQ(back.queryItemValue("state", QUrl::FullyDecoded), "st+ate");
    const QString code = back.queryItemValue("code");
    ASSERT_FALSE(code.isEmpty());
    ASSERT_EQ(sim->accounts().size(), 1); // the default account, made on first approval

    // A wrong verifier spends the code; the right one on a fresh code works once.
    EXPECT_EQ(jsonOf(token(dropbox, exchangeForm(dropbox, code, "wrong-verifier"))).value("error"),
              "invalid_grant");
    EXPECT_EQ(token(dropbox, exchangeForm(dropbox, code, verifier)).status, 400);
    const QString fresh = authorize(dropbox, verifier).queryItemValue("code");
    const HttpReply granted = token(dropbox, exchangeForm(dropbox, fresh, verifier));
    ASSERT_EQ(granted.status, 200);
    const QJsonObject tokens = jsonOf(granted);
    EXPECT_GT(tokens.value("expires_in").toDouble(), 0);
    EXPECT_EQ(token(dropbox, exchangeForm(dropbox, fresh, verifier)).status, 400); // single use

    // Wrong client, wrong redirect.
    const QString form = exchangeForm(dropbox, authorize(dropbox, verifier).queryItemValue("code"), verifier);
    EXPECT_EQ(token(dropbox, QString(form).replace(CloudSim::defaultDropboxAppKey, "someoneelse0000")).status,
              401);
    const QString third =
        exchangeForm(dropbox, authorize(dropbox, verifier).queryItemValue("code"), verifier);
    EXPECT_EQ(jsonOf(token(dropbox, QString(third).replace("47600", "47601"))).value("error"),
              "invalid_grant");

    // Refresh, then revoke: the refresh token stops working and so does the access token.
    const QString refresh = refreshForm(dropbox, tokens.value("refresh_token").toString());
    const HttpReply refreshed = token(dropbox, refresh);
    ASSERT_EQ(refreshed.status, 200);
    EXPECT_FALSE(jsonOf(refreshed).contains("refresh_token"));
    const QString access = jsonOf(refreshed).value("access_token").toString();
    EXPECT_EQ(revoke(access).status, 200);
    EXPECT_EQ(revoke(access).status, 401);
    EXPECT_EQ(token(dropbox, refresh).status, 400);
    EXPECT_EQ(revoke(tokens.value("access_token").toString()).status, 401);

    CloudSim::Options options;
    options.codeLifetimeMs = -1;
    startSim(options);
    EXPECT_EQ(
        token(dropbox, exchangeForm(dropbox, authorize(dropbox, verifier).queryItemValue("code"), verifier))
            .status,
        400); // expired
}

TEST_F(CloudSimCore, ApprovalsCanBeDeniedOrSignInAChosenAccount) {
    EXPECT_EQ(authorize(dropbox, verifier, "&deny=1").queryItemValue("error"), "access_denied");

    Account& second = sim->addAccount(dropbox, "second@example.com");
    const HttpReply chosen = httpRequest("POST", base + "/_admin/approve-next",
                                         compact({{"service", "dropbox"}, {"account", second.id}}));
    ASSERT_EQ(chosen.status, 200);
    EXPECT_EQ(signIn(dropbox).value("account_id"), second.id);

    sim->account(second.id)->denyAccess = true;
    const QUrlQuery denied = authorize(dropbox, verifier);
    EXPECT_EQ(denied.queryItemValue("error"), "access_denied");
    EXPECT_EQ(denied.queryItemValue("state", QUrl::FullyDecoded), "st+ate");

    // Without a loopback redirect there is nothing to redirect to.
    const HttpReply foreign = httpRequest(
        "GET", base + "/dropbox/www/oauth2/authorize?client_id=" + CloudSim::defaultDropboxAppKey +
                   "&response_type=code&redirect_uri=https%3A%2F%2Fevil.example%2F");
    EXPECT_EQ(foreign.status, 400);
}

TEST_F(CloudSimCore, MalformedRequestsGetErrorsAndTheServerCarriesOn) {
    const quint16 port = sim->port();
    EXPECT_TRUE(rawExchange(port, "NONSENSE\r\n\r\n").startsWith("HTTP/1.1 400"));
    EXPECT_TRUE(rawExchange(port, "GET / HTTP/1.1\r\nno colon here\r\n\r\n").startsWith("HTTP/1.1 400"));
    EXPECT_TRUE(rawExchange(port, "GET / HTTP/1.1\r\nX-Big: " + QByteArray(70 * 1024, 'a') + "\r\n\r\n")
                    .startsWith("HTTP/1.1 431"));
    EXPECT_TRUE(
        rawExchange(port, "POST /x HTTP/1.1\r\nContent-Length: banana\r\n\r\n").startsWith("HTTP/1.1 400"));
    EXPECT_TRUE(rawExchange(port, "POST /x HTTP/1.1\r\nContent-Length: 999999999999\r\n\r\n")
                    .startsWith("HTTP/1.1 413"));
    EXPECT_TRUE(rawExchange(port, "POST /x HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n")
                    .startsWith("HTTP/1.1 411"));
    EXPECT_TRUE(
        rawExchange(port, QByteArray("\xff\xfe\x00\x01 \x80\x81 HTTP/1.1\r\nConnection: close\r\n\r\n", 39))
            .startsWith("HTTP/1.1"));

    // Two pipelined requests on one connection are both answered, in order.
    const QByteArray two = rawExchange(port, "GET /_admin/health HTTP/1.1\r\nHost: x\r\n\r\n"
                                             "GET /nowhere HTTP/1.1\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(two.count("HTTP/1.1 "), 2);
    EXPECT_LT(two.indexOf("200 OK"), two.indexOf("404 Not Found"));
    EXPECT_EQ(httpRequest("GET", base + "/_admin/health").status, 200);
}

TEST_F(CloudSimCore, AdminCountsAndRecordsRequests) {
    httpRequest("GET", base + "/dropbox/api/nothing-here");
    httpRequest("POST", base + "/dropbox/api/nothing-here", "12345", {{"X-Probe", "yes"}});
    const QJsonObject counts = jsonOf(httpRequest("GET", base + "/_admin/counts"));
    EXPECT_EQ(counts.value("GET /dropbox/api/nothing-here").toInt(), 1);
    EXPECT_EQ(counts.value("POST /dropbox/api/nothing-here").toInt(), 1);

    const QJsonArray last =
        QJsonDocument::fromJson(httpRequest("GET", base + "/_admin/requests?last=2").body).array();
    ASSERT_EQ(last.size(), 2);
    const QJsonObject probe = last.at(0).toObject();
    EXPECT_EQ(probe.value("method"), "POST");
    EXPECT_EQ(probe.value("bodySize").toInt(), 5);
    EXPECT_EQ(probe.value("headers").toObject().value("x-probe"), "yes");

    const QJsonObject made = jsonOf(
        httpRequest("POST", base + "/_admin/accounts", R"({"service":"google","email":"g@example.com"})"));
    EXPECT_EQ(made.value("service"), "google");
    EXPECT_EQ(QJsonDocument::fromJson(httpRequest("GET", base + "/_admin/accounts").body).array().size(), 1);
    EXPECT_EQ(httpRequest("POST", base + "/_admin/accounts", R"({"service":"nope"})").status, 400);
    httpRequest("POST", base + "/_admin/reset");
    EXPECT_TRUE(sim->accounts().isEmpty());
    EXPECT_TRUE(jsonOf(httpRequest("GET", base + "/_admin/counts")).isEmpty());
}

TEST_F(CloudSimCore, InjectedFaults) {
    const QString target = base + "/dropbox/api/2/auth/token/revoke";
    auto fault = [&](const QJsonObject& rule) {
        ASSERT_EQ(httpRequest("POST", base + "/_admin/faults", QJsonDocument(rule).toJson()).status, 200);
    };

    // Statuses for a counted number of requests, then the real answer (401: no token) again.
    fault({{"endpoint", "/dropbox/api/2/auth"}, {"count", 2}, {"status", 429}, {"retryAfter", 3}});
    const HttpReply limited = httpRequest("POST", target);
    EXPECT_EQ(limited.status, 429);
    EXPECT_EQ(limited.header("Retry-After"), "3");
    EXPECT_TRUE(limited.body.contains("too_many_requests"));
    EXPECT_EQ(httpRequest("POST", target).status, 429);
    EXPECT_EQ(httpRequest("POST", target).status, 401);
    for (int status : {409, 500, 503}) {
        fault({{"endpoint", "/dropbox"}, {"status", status}});
        EXPECT_EQ(httpRequest("POST", target).status, status);
    }

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

    // Dropped connections, seen on the wire: a reply cut after 10 bytes, an upload cut
    // after 1,000 bytes of body with no reply at all.
    const QByteArray request = "POST /dropbox/api/2/auth/token/revoke HTTP/1.1\r\nContent-Length: 0\r\n\r\n";
    fault({{"endpoint", "/dropbox"}, {"dropReplyAfterBytes", 10}});
    EXPECT_EQ(rawExchange(sim->port(), request), "HTTP/1.1 4");
    fault({{"endpoint", "/dropbox"}, {"dropUploadAfterBytes", 1000}});
    const auto received = [&] {
        return jsonOf(httpRequest("GET", base + "/_admin/received"))["POST /dropbox/api/2/auth/token/revoke"]
            .toInteger();
    };
    const qint64 before = received();
    EXPECT_EQ(
        rawExchange(sim->port(),
                    "POST /dropbox/api/2/auth/token/revoke HTTP/1.1\r\nContent-Length: 1048576\r\n\r\n" +
                        QByteArray(1 << 20, 'u')),
        "");
    EXPECT_EQ(received(), before + 1000); // what arrived before the cut counts as received

    // A status in the service's own shape: Dropbox error tags, a Drive reason and message.
    fault({{"endpoint", "/dropbox"}, {"status", 409}, {"reason", "path/insufficient_space"}});
    const QJsonObject tagged = jsonOf(httpRequest("POST", target));
    EXPECT_EQ(tagged["error"]["path"][".tag"], "insufficient_space");
    EXPECT_TRUE(tagged["error_summary"].toString().startsWith("path/insufficient_space/"));
    fault({{"endpoint", "/google"},
           {"status", 403},
           {"reason", "userRateLimitExceeded"},
           {"message", "Slow down."}});
    const QJsonObject reasoned =
        jsonOf(httpRequest("GET", base + "/google/www/drive/v3/files"))["error"].toObject();
    EXPECT_EQ(reasoned["code"], 403);
    EXPECT_EQ(reasoned["message"], "Slow down.");
    EXPECT_EQ(reasoned["errors"][0]["reason"], "userRateLimitExceeded");

    // Delayed and trickled replies still arrive whole.
    fault({{"endpoint", "/dropbox"}, {"delayMs", 50}, {"bytesPerSecond", 2000}});
    const HttpReply slow = httpRequest("POST", target);
    EXPECT_EQ(slow.status, 401);
    EXPECT_TRUE(slow.body.contains("invalid_access_token"));
    EXPECT_EQ(httpRequest("POST", target).status, 401);
}

TEST(BlobStore, PiecewiseHashesMatchOneShotAcrossBlockEdges) {
    const QByteArray bytes = patterned(9 * 1024 * 1024 + 17);
    QTemporaryDir dir;
    for (const QString& where : {QString(), dir.path()}) {
        BlobStore store(where);
        const Blob whole = store.put(bytes);
        auto builder = store.builder();
        for (qsizetype at = 0; at < bytes.size(); at += 3'000'001)
            builder->append(bytes.mid(at, 3'000'001));
        const Blob pieces = builder->finish();
        EXPECT_EQ(pieces.id, whole.id);
        EXPECT_EQ(pieces.contentHash, whole.contentHash);
        EXPECT_EQ(pieces.md5,
                  QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex()));
        EXPECT_EQ(store.read(pieces), bytes);
        EXPECT_EQ(store.memoryBytes(), where.isEmpty() ? bytes.size() : 0);
    }
    // The content hash of nothing is the SHA-256 of nothing.
    EXPECT_EQ(BlobStore().put({}).contentHash,
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

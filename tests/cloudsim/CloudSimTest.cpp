// What the emulator must do for Norvela's own tests to mean anything, and which no test of
// Norvela reaches: OAuth that refuses what a careless client sends, faults that hit as asked,
// and upload bodies taken as they arrive (a piece cut off by its client, a second request on a
// session that is still receiving, stored files across a restart). Files, sessions,
// revisions, links, quotas and revocation are exercised through Norvela's own classes
// (tests/integration).
#include "cloudsim/CloudSim.h"
#include "HttpClient.h"
#include "TestSupport.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QUrl>
#include <QUrlQuery>

#include <memory>

#include <gtest/gtest.h>

using namespace cloudsim;
using namespace norvela::test;

namespace {

const QByteArray verifier = "v3r1f1er-0123456789-abcdefghijklmnopqrstuvwxyz-ABCDEFGHIJKLMNOPQRSTUV";
constexpr qint64 MiB = 1024 * 1024;

QJsonObject jsonOf(const HttpReply& reply) {
    return QJsonDocument::fromJson(reply.body).object();
}

QByteArray bytes(qint64 size, int seed) {
    QByteArray data(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i)
        data[i] = char((i * 131 + seed) ^ (i >> 9) ^ (i >> 17));
    return data;
}

// Dropbox's content hash: SHA-256 over the SHA-256 of each 4 MiB block.
QString contentHash(const QByteArray& data) {
    QByteArray blocks;
    for (qsizetype at = 0; at < data.size(); at += 4 * MiB)
        blocks += QCryptographicHash::hash(data.mid(at, 4 * MiB), QCryptographicHash::Sha256);
    return QString::fromLatin1(QCryptographicHash::hash(blocks, QCryptographicHash::Sha256).toHex());
}

// A request on a connection of its own that sends only the first part of its body, so that a
// test can act while the server has part of it. Going, it drops the connection.
class PartialRequest {
public:
    PartialRequest(quint16 port, const QByteArray& head, const QByteArray& firstPart) {
        m_socket.connectToHost(QStringLiteral("127.0.0.1"), port);
        EXPECT_TRUE(waitFor([&] { return m_socket.state() == QAbstractSocket::ConnectedState; }));
        m_socket.write(head + firstPart);
    }
    ~PartialRequest() { m_socket.abort(); }

    // Sends the rest of the body; the reply's status.
    int finish(const QByteArray& rest) {
        m_socket.write(rest);
        QByteArray reply;
        waitFor([&] {
            reply += m_socket.readAll();
            return reply.contains("\r\n\r\n");
        });
        return reply.mid(9, 3).toInt();
    }

private:
    QTcpSocket m_socket;
};

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

    QByteArray bearer(Service s) {
        const HttpReply granted = token(s, exchangeForm(s));
        EXPECT_EQ(granted.status, 200);
        return "Bearer " + jsonOf(granted).value("access_token").toString().toUtf8();
    }
    static QByteArray dropboxArg(const QJsonObject& arg) {
        return QJsonDocument(arg).toJson(QJsonDocument::Compact);
    }
    HttpReply dropbox(const QByteArray& bearer, const QString& function, const QJsonObject& arg,
                      const QByteArray& body) {
        return httpRequest("POST", base + "/dropbox/content/2/" + function, body,
                           {{"Authorization", bearer},
                            {"Content-Type", "application/octet-stream"},
                            {"Dropbox-API-Arg", dropboxArg(arg)}});
    }
    // A Drive chunk or status query on a session URI.
    HttpReply drivePut(const QString& session, const QByteArray& range, const QByteArray& body) {
        return httpRequest("PUT", session, body, {{"Content-Range", range}});
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

TEST_F(CloudSimTest, APieceCutOffByItsClientLeavesNoTraceAndStoredFilesSurviveARestart) {
    QTemporaryDir dir;
    CloudSim::Options options;
    options.stateDir = dir.path();
    auto stored = std::make_unique<CloudSim>(options);
    ASSERT_TRUE(stored->start());
    base = stored->baseUrl();
    const QByteArray auth = bearer(Service::dropbox);
    const QByteArray data = bytes(9 * MiB, 1); // pieces of 5 and 4 MiB, across the 4 MiB hash blocks

    const HttpReply started = dropbox(auth, "files/upload_session/start", {}, data.left(5 * MiB));
    ASSERT_EQ(started.status, 200) << started.body.constData();
    const QString session = jsonOf(started).value("session_id").toString();
    auto cursor = [&](qint64 offset) {
        return QJsonObject{{"cursor", QJsonObject{{"session_id", session}, {"offset", offset}}}};
    };
    auto strayAppend = [&] { return dropbox(auth, "files/upload_session/append_v2", cursor(1), "x"); };

    // While a piece comes in, the session takes no other request; once its client has left,
    // the session stands where it stood before the piece.
    {
        const QByteArray head = "POST /dropbox/content/2/files/upload_session/append_v2 HTTP/1.1\r\n"
                                "Authorization: " +
                                auth + "\r\nDropbox-API-Arg: " + dropboxArg(cursor(5 * MiB)) +
                                "\r\nContent-Length: " + QByteArray::number(4 * MiB) + "\r\n\r\n";
        PartialRequest cut(stored->port(), head, data.mid(5 * MiB, 3 * MiB));
        EXPECT_TRUE(waitFor([&] { return strayAppend().status == 429; }));
    }
    HttpReply refused;
    ASSERT_TRUE(waitFor([&] { return (refused = strayAppend()).status == 409; }));
    EXPECT_EQ(jsonOf(refused)["error"].toObject()["correct_offset"].toInteger(), 5 * MiB);

    QJsonObject finish = cursor(5 * MiB);
    finish.insert("commit", QJsonObject{{"path", "/Kept/big.bin"}, {"mode", "overwrite"}});
    const HttpReply finished = dropbox(auth, "files/upload_session/finish", finish, data.mid(5 * MiB));
    ASSERT_EQ(finished.status, 200) << finished.body.constData();
    EXPECT_EQ(jsonOf(finished).value("content_hash").toString(), contentHash(data));

    const QByteArray driveAuth = bearer(Service::google);
    const HttpReply made = httpRequest("POST", base + "/google/www/upload/drive/v3/files?uploadType=media",
                                       data.left(MiB), {{"Authorization", driveAuth}});
    const QString driveId = jsonOf(made).value("id").toString();
    ASSERT_FALSE(driveId.isEmpty()) << made.body.constData();

    stored.reset(); // a save still pending is made as it goes
    CloudSim restarted(options);
    ASSERT_TRUE(restarted.start());
    base = restarted.baseUrl();
    const HttpReply download = dropbox(auth, "files/download", {{"path", "/Kept/big.bin"}}, {});
    EXPECT_EQ(download.status, 200);
    EXPECT_TRUE(download.body == data);
    const HttpReply driveDownload =
        httpRequest("GET", base + "/google/www/drive/v3/files/" + driveId + "?alt=media", {},
                    {{"Authorization", driveAuth}});
    EXPECT_TRUE(driveDownload.body == data.left(MiB)) << driveDownload.body.left(200).constData();
}

TEST_F(CloudSimTest, AResumableChunkCutOffKeepsItsWholeUnitsAndTheSessionTakesOneChunkAtATime) {
    const QByteArray auth = bearer(Service::google);
    const QByteArray data = bytes(MiB + 100, 2);
    const QByteArray total = QByteArray::number(data.size());
    const HttpReply started = httpRequest(
        "POST", base + "/google/www/upload/drive/v3/files?uploadType=resumable&fields=md5Checksum",
        R"({"name": "chunked.bin"})",
        {{"Authorization", auth}, {"Content-Type", "application/json; charset=UTF-8"}});
    ASSERT_EQ(started.status, 200) << started.body.constData();
    const QUrl session(QString::fromUtf8(started.header("Location")));

    {
        const QByteArray head = "PUT " + session.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority) +
                                " HTTP/1.1\r\nContent-Range: bytes 0-" + QByteArray::number(data.size() - 1) +
                                "/" + total + "\r\nContent-Length: " + total + "\r\n\r\n";
        PartialRequest cut(sim.port(), head, data.left(600 * 1024));
        EXPECT_TRUE(
            waitFor([&] { return drivePut(session.toString(), "bytes */" + total, {}).status == 503; }));
    }
    // Two whole 256 KiB units of the 600 KiB that came are kept.
    HttpReply status;
    ASSERT_TRUE(waitFor(
        [&] { return (status = drivePut(session.toString(), "bytes */" + total, {})).status == 308; }));
    EXPECT_EQ(status.header("Range"), "bytes=0-524287");

    // Sent again from the start, the bytes held are skipped; the rest completes the file.
    PartialRequest again(sim.port(),
                         "PUT " + session.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority) +
                             " HTTP/1.1\r\nContent-Length: " + total + "\r\n\r\n",
                         data.left(100));
    EXPECT_EQ(again.finish(data.mid(100)), 200);
    const HttpReply file = drivePut(session.toString(), "bytes */" + total, {});
    EXPECT_EQ(jsonOf(file).value("md5Checksum").toString(),
              QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex());
}

// The space in use, which quotas are held to, follows files replaced and removed: Dropbox counts
// current contents, Drive every version kept.
TEST_F(CloudSimTest, SpaceInUseFollowsFilesReplacedAndRemoved) {
    constexpr qint64 KiB = 1024;
    const QByteArray dropboxAuth = bearer(Service::dropbox);
    const QByteArray googleAuth = bearer(Service::google);
    auto accountOf = [&](Service s) {
        for (const Account& a : sim.accounts())
            if (a.service == s)
                return a.id;
        return QString();
    };

    const QString dropboxAccount = accountOf(Service::dropbox);
    ASSERT_TRUE(sim.setQuota(dropboxAccount, 300 * KiB));
    auto put = [&](const QString& path, qint64 size) {
        return dropbox(dropboxAuth, "files/upload", {{"path", path}, {"mode", "overwrite"}}, bytes(size, 3))
            .status;
    };
    EXPECT_EQ(put("/a", 200 * KiB), 200);
    EXPECT_EQ(put("/a", 250 * KiB), 200); // the old content no longer counts
    EXPECT_EQ(put("/b", 100 * KiB), 409);
    ASSERT_TRUE(sim.removeFile(dropboxAccount, "/a"));
    EXPECT_EQ(put("/b", 100 * KiB), 200);
    const HttpReply usage =
        httpRequest("POST", base + "/dropbox/api/2/users/get_space_usage", "null",
                    {{"Authorization", dropboxAuth}, {"Content-Type", "application/json"}});
    EXPECT_EQ(jsonOf(usage).value("used").toInteger(), 100 * KiB);

    ASSERT_TRUE(sim.setQuota(accountOf(Service::google), 300 * KiB));
    auto media = [&](const QByteArray& method, const QString& id, qint64 size) {
        return httpRequest(method, base + "/google/www/upload/drive/v3/files" + id + "?uploadType=media",
                           bytes(size, 4), {{"Authorization", googleAuth}});
    };
    const QString id = jsonOf(media("POST", {}, 100 * KiB)).value("id").toString();
    ASSERT_FALSE(id.isEmpty());
    EXPECT_EQ(media("PATCH", "/" + id, 100 * KiB).status, 200);
    EXPECT_EQ(media("PATCH", "/" + id, 150 * KiB).status, 403); // both versions still count
    ASSERT_TRUE(sim.removeFile(accountOf(Service::google), id));
    EXPECT_EQ(media("POST", {}, 250 * KiB).status, 200);
}

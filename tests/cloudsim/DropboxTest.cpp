#include "SimFixture.h"

#include <QJsonArray>
#include <QRegularExpression>
#include <QTemporaryDir>

using namespace cloudsim;
using namespace norvela::test;

namespace {

constexpr qsizetype MiB = 1024 * 1024;

// The published content-hash algorithm, computed here independently of the emulator.
QString contentHashOf(const QByteArray& bytes) {
    QCryptographicHash overall(QCryptographicHash::Sha256);
    for (qsizetype at = 0; at < bytes.size(); at += 4 * MiB)
        overall.addData(QCryptographicHash::hash(bytes.mid(at, 4 * MiB), QCryptographicHash::Sha256));
    return QString::fromLatin1(overall.result().toHex());
}

// A header argument as a client must send it: JSON in ASCII, everything beyond as \uXXXX.
QByteArray headerArg(const QJsonObject& arg) {
    QByteArray out;
    for (const QChar c : QString::fromUtf8(QJsonDocument(arg).toJson(QJsonDocument::Compact)))
        out += c.unicode() < 0x7f ? QByteArray(1, char(c.unicode()))
                                  : "\\u" + QByteArray::number(c.unicode(), 16).rightJustified(4, '0');
    return out;
}

QByteArray uploadArg(const QString& path) {
    return headerArg({{"path", path}, {"mode", "overwrite"}, {"autorename", false}, {"mute", false}});
}

class DropboxSim : public SimFixture {
protected:
    void SetUp() override {
        SimFixture::SetUp();
        token = signIn();
    }
    QByteArray signIn() {
        return SimFixture::signIn(Service::dropbox).value("access_token").toString().toUtf8();
    }

    HttpReply rpcRaw(const QString& function, const QByteArray& body,
                     const QByteArray& contentType = "application/json") {
        QList<QPair<QByteArray, QByteArray>> headers{{"Authorization", "Bearer " + token}};
        if (!contentType.isEmpty())
            headers.append({"Content-Type", contentType});
        return httpRequest("POST", base + "/dropbox/api/2/" + function, body, headers);
    }
    HttpReply rpc(const QString& function, const QJsonObject& body) {
        return rpcRaw(function, QJsonDocument(body).toJson(QJsonDocument::Compact));
    }

    HttpReply content(const QString& function, const QByteArray& arg, const QByteArray& body = {}) {
        return httpRequest("POST", base + "/dropbox/content/2/" + function, body,
                           {{"Authorization", "Bearer " + token},
                            {"Content-Type", "application/octet-stream"},
                            {"Dropbox-API-Arg", arg}});
    }

    QJsonObject upload(const QString& path, const QByteArray& bytes) {
        const HttpReply reply = content("files/upload", uploadArg(path), bytes);
        EXPECT_EQ(reply.status, 200) << reply.body.toStdString();
        return jsonOf(reply);
    }

    HttpReply download(const QString& path) {
        return httpRequest(
            "POST", base + "/dropbox/content/2/files/download", {},
            {{"Authorization", "Bearer " + token}, {"Dropbox-API-Arg", headerArg({{"path", path}})}});
    }

    QStringList revisions(const QString& path, int limit = 30) {
        const HttpReply reply =
            rpc("files/list_revisions", {{"path", path}, {"mode", "path"}, {"limit", limit}});
        EXPECT_EQ(reply.status, 200) << reply.body.toStdString();
        QStringList revs;
        for (const QJsonValue& entry : jsonOf(reply).value("entries").toArray())
            revs.append(entry.toObject().value("rev").toString());
        return revs;
    }

    static QString summaryOf(const HttpReply& reply) {
        return jsonOf(reply).value("error_summary").toString();
    }

    QByteArray token;
};

} // namespace

// The values themselves reach Norvela's provider (DropboxProviderTest); here, the calls' framing.
TEST_F(DropboxSim, IdentityAndSpaceUsage) {
    EXPECT_EQ(rpcRaw("users/get_current_account", {}, {}).status, 200); // no body, no Content-Type
    EXPECT_EQ(rpcRaw("users/get_current_account", "null").status, 200);
    // A body needs a JSON content type, as on the service.
    EXPECT_EQ(rpcRaw("users/get_current_account", "null", "text/plain").status, 400);

    // Only current contents count: an overwritten file's old bytes don't.
    upload("/a.bin", QByteArray(1000, 'a'));
    upload("/a.bin", QByteArray(300, 'b'));
    upload("/b.bin", QByteArray(20, 'c'));
    EXPECT_EQ(jsonOf(rpcRaw("users/get_space_usage", {}, {})).value("used").toInteger(), 320);
}

TEST_F(DropboxSim, OneRequestUploadReportsMetadataAndTheRealContentHash) {
    const QByteArray bytes = patterned(8 * MiB + 5, 1); // three hash blocks, the last a short one
    const QJsonObject meta = upload("/Docs/Report.PDF", bytes);
    EXPECT_EQ(meta.value("size").toInteger(), bytes.size());
    EXPECT_EQ(meta.value("content_hash"), contentHashOf(bytes));
    EXPECT_EQ(meta.value("name"), "Report.PDF");
    EXPECT_EQ(meta.value("path_lower"), "/docs/report.pdf");
    EXPECT_EQ(meta.value("path_display"), "/Docs/Report.PDF");
    EXPECT_TRUE(meta.value("id").toString().startsWith("id:"));
    EXPECT_TRUE(meta.value("is_downloadable").toBool());
    EXPECT_TRUE(QRegularExpression("^[0-9a-f]{9,}$").match(meta.value("rev").toString()).hasMatch());
    const QRegularExpression iso("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ$");
    EXPECT_TRUE(iso.match(meta.value("server_modified").toString()).hasMatch());
    EXPECT_TRUE(iso.match(meta.value("client_modified").toString()).hasMatch());

    // Paths are case-insensitive: another case overwrites the same file, which keeps its case.
    const QJsonObject again = upload("/docs/REPORT.pdf", "new");
    EXPECT_EQ(again.value("id"), meta.value("id"));
    EXPECT_EQ(again.value("path_display"), "/Docs/Report.PDF");
    EXPECT_NE(again.value("rev"), meta.value("rev"));

    // A file can't sit where a folder is, or below another file.
    const HttpReply onFolder = content("files/upload", uploadArg("/DOCS"), "x");
    EXPECT_EQ(onFolder.status, 409);
    EXPECT_TRUE(summaryOf(onFolder).startsWith("path/conflict/folder/"));
    const HttpReply belowFile = content("files/upload", uploadArg("/Docs/Report.PDF/inner"), "x");
    EXPECT_EQ(belowFile.status, 409);
    EXPECT_TRUE(summaryOf(belowFile).startsWith("path/conflict/file/"));
    EXPECT_TRUE(
        summaryOf(content("files/upload", uploadArg("/a//b"), "x")).startsWith("path/malformed_path/"));
}

TEST_F(DropboxSim, UploadSessionChecksOffsetsAndCommitsTheWholeFile) {
    const QByteArray bytes = patterned(20 * MiB, 2);
    const HttpReply started =
        content("files/upload_session/start", R"({"close": false})", bytes.left(8 * MiB));
    ASSERT_EQ(started.status, 200) << started.body.toStdString();
    const QByteArray id = jsonOf(started).value("session_id").toString().toUtf8();
    ASSERT_FALSE(id.isEmpty());
    auto appendArg = [&](qint64 offset) {
        return R"({"cursor":{"session_id":")" + id + R"(","offset":)" + QByteArray::number(offset) +
               R"(},"close":false})";
    };
    auto finishArg = [&](qint64 offset) {
        return R"({"cursor":{"session_id":")" + id + R"(","offset":)" + QByteArray::number(offset) +
               R"(},"commit":{"path":"/Big/film.mov","mode":"overwrite","autorename":false,"mute":false}})";
    };

    // A chunk sent at the wrong offset is refused and changes nothing.
    const HttpReply wrong =
        content("files/upload_session/append_v2", appendArg(0), bytes.mid(8 * MiB, 8 * MiB));
    EXPECT_EQ(wrong.status, 409);
    EXPECT_TRUE(summaryOf(wrong).startsWith("incorrect_offset/"));
    EXPECT_EQ(jsonOf(wrong).value("error").toObject().value("correct_offset").toInteger(), 8 * MiB);

    // Another account can't see the session at all.
    const QByteArray mine = token;
    Account& other = sim->addAccount(Service::dropbox, "other@example.com");
    sim->setNextApproval(Service::dropbox, other.id);
    token = signIn();
    EXPECT_TRUE(summaryOf(content("files/upload_session/append_v2", appendArg(8 * MiB), "x"))
                    .startsWith("not_found/"));
    token = mine;

    EXPECT_EQ(
        content("files/upload_session/append_v2", appendArg(8 * MiB), bytes.mid(8 * MiB, 8 * MiB)).status,
        200);
    EXPECT_EQ(content("files/upload_session/append_v2", appendArg(16 * MiB), bytes.mid(16 * MiB)).status,
              200);

    const HttpReply early = content("files/upload_session/finish", finishArg(16 * MiB));
    EXPECT_EQ(early.status, 409);
    EXPECT_TRUE(summaryOf(early).startsWith("lookup_failed/incorrect_offset/"));
    EXPECT_EQ(jsonOf(early).value("error")["lookup_failed"]["correct_offset"].toInteger(), 20 * MiB);

    const HttpReply finished = content("files/upload_session/finish", finishArg(20 * MiB));
    ASSERT_EQ(finished.status, 200) << finished.body.toStdString();
    EXPECT_EQ(jsonOf(finished).value("size").toInteger(), bytes.size());
    EXPECT_EQ(jsonOf(finished).value("content_hash"), contentHashOf(bytes));
    EXPECT_EQ(download("/big/FILM.mov").body, bytes);

    // The session is used up.
    EXPECT_TRUE(summaryOf(content("files/upload_session/finish", finishArg(20 * MiB)))
                    .startsWith("lookup_failed/not_found/"));
    EXPECT_EQ(sim->listing(sim->accounts().first().id).value("uploadSessions").toInt(), 0);
}

TEST_F(DropboxSim, RevisionsAreListedNewestFirstAndRestoreMakesANewOne) {
    const QByteArray v1 = "first", v2 = "second!", v3 = "third version";
    const QString r1 = upload("/notes.txt", v1).value("rev").toString();
    const QString r2 = upload("/notes.txt", v2).value("rev").toString();
    const QString r3 = upload("/notes.txt", v3).value("rev").toString();
    EXPECT_EQ(revisions("/notes.txt"), QStringList({r3, r2, r1}));
    EXPECT_EQ(revisions("/Notes.TXT", 2), QStringList({r3, r2}));

    const HttpReply restored = rpc("files/restore", {{"path", "/notes.txt"}, {"rev", r1}});
    ASSERT_EQ(restored.status, 200) << restored.body.toStdString();
    const QString r4 = jsonOf(restored).value("rev").toString();
    EXPECT_EQ(jsonOf(restored).value("content_hash"), contentHashOf(v1));
    EXPECT_EQ(revisions("/notes.txt"), QStringList({r4, r3, r2, r1}));

    const HttpReply current = download("/notes.txt");
    ASSERT_EQ(current.status, 200);
    EXPECT_EQ(current.body, v1);
    EXPECT_EQ(jsonOf(current.header("Dropbox-API-Result")).value("rev"), r4);

    const HttpReply missing =
        rpc("files/list_revisions", {{"path", "/nope.txt"}, {"mode", "path"}, {"limit", 30}});
    EXPECT_EQ(missing.status, 409);
    EXPECT_TRUE(summaryOf(missing).startsWith("path/not_found/"));
    EXPECT_TRUE(summaryOf(download("/nope.txt")).startsWith("path/not_found/"));
    EXPECT_TRUE(summaryOf(rpc("files/restore", {{"path", "/notes.txt"}, {"rev", "0123456789abcdef"}}))
                    .startsWith("invalid_revision/"));
    EXPECT_EQ(rpc("files/restore", {{"path", "/notes.txt"}, {"rev", "not-a-rev"}}).status, 400);
    EXPECT_EQ(rpc("files/list_revisions", {{"path", "/notes.txt"}, {"limit", 101}}).status, 400);
}

TEST_F(DropboxSim, SharedLinksAreMadeOnce) {
    upload("/Photos/Beach Day.jpg", "jpeg bytes");
    const HttpReply created =
        rpc("sharing/create_shared_link_with_settings", {{"path", "/Photos/Beach Day.jpg"}});
    ASSERT_EQ(created.status, 200) << created.body.toStdString();
    const QString url = jsonOf(created).value("url").toString();
    const QUrl parsed(url, QUrl::StrictMode);
    EXPECT_TRUE(parsed.isValid() && (parsed.scheme() == "http" || parsed.scheme() == "https"))
        << url.toStdString();
    EXPECT_EQ(jsonOf(created).value(".tag"), "file");
    EXPECT_EQ(jsonOf(created).value("name"), "Beach Day.jpg");
    EXPECT_EQ(httpRequest("GET", url).body, "jpeg bytes"); // the link opens the file

    const HttpReply second =
        rpc("sharing/create_shared_link_with_settings", {{"path", "/photos/beach day.jpg"}});
    EXPECT_EQ(second.status, 409);
    EXPECT_TRUE(summaryOf(second).startsWith("shared_link_already_exists/"));
    const QJsonObject exists =
        jsonOf(second).value("error").toObject().value("shared_link_already_exists").toObject();
    EXPECT_EQ(exists.value(".tag"), "metadata");
    EXPECT_EQ(exists.value("metadata").toObject().value("url"), url);
    // Norvela then finds the existing link by listing them (DropboxProviderTest).
    EXPECT_TRUE(summaryOf(rpc("sharing/create_shared_link_with_settings", {{"path", "/nothing"}}))
                    .startsWith("path/not_found/"));
}

TEST_F(DropboxSim, RequestsWithoutAValidTokenAreRefused) {
    const QByteArray good = token;
    token = {};
    EXPECT_EQ(rpcRaw("users/get_current_account", {}, {}).status, 401);
    EXPECT_EQ(content("files/upload", uploadArg("/sneaky.txt"), "x").status, 401);
    token = good;
    EXPECT_TRUE(summaryOf(download("/sneaky.txt")).startsWith("path/not_found/")); // nothing was stored

    sim->expireAccessTokens();
    const HttpReply expired = rpc("files/list_revisions", {{"path", "/x"}});
    EXPECT_EQ(expired.status, 401);
    EXPECT_TRUE(summaryOf(expired).startsWith("expired_access_token/"));
    // A revoked token is refused like any other (CoreTest): one bearer check serves every host.
}

TEST_F(DropboxSim, MalformedArgumentsGet400AndChangeNothing) {
    const HttpReply noArg =
        httpRequest("POST", base + "/dropbox/content/2/files/upload", "x",
                    {{"Authorization", "Bearer " + token}, {"Content-Type", "application/octet-stream"}});
    EXPECT_EQ(noArg.status, 400);
    EXPECT_TRUE(noArg.body.startsWith("Error in call to API function \"files/upload\""))
        << noArg.body.toStdString();
    for (const QByteArray& arg :
         {QByteArray(R"({"path":"/a.txt")"), QByteArray(R"({"mode":"overwrite"})"),
          QByteArray(R"({"path":"relative.txt","mode":"overwrite"})"), QByteArray(R"({"path":7})"),
          QByteArray(R"({"path":"/a.txt","mode":"sideways"})"),
          QByteArray(R"({"path":"/a.txt","mode":"overwrite","autorename":"yes"})"),
          QByteArray(R"({"path":"/a.txt","mode":"add"})"),
          QByteArray(R"({"path":"/a.txt","mode":"overwrite","autorename":true})"), QByteArray("[1,2]")})
        EXPECT_EQ(content("files/upload", arg, "x").status, 400) << arg.toStdString();
    EXPECT_EQ(httpRequest("POST", base + "/dropbox/content/2/files/upload", "x",
                          {{"Authorization", "Bearer " + token},
                           {"Content-Type", "application/json"},
                           {"Dropbox-API-Arg", uploadArg("/a.txt")}})
                  .status,
              400);
    EXPECT_EQ(
        content("files/upload_session/append_v2", R"({"cursor":{"session_id":"s","offset":"abc"}})").status,
        400);
    EXPECT_EQ(rpcRaw("files/list_revisions", "{\"path\":").status, 400);
    EXPECT_EQ(rpc("files/restore", {{"path", "/a.txt"}}).status, 400);
    EXPECT_TRUE(sim->listing(sim->accounts().first().id).value("files").toArray().isEmpty());
}

TEST_F(DropboxSim, HeaderArgumentsAreAsciiWithEscapesForEverythingElse) {
    const QString path = QString::fromUtf8("/Fotos/Ünïcødé \"quoted\" back\\slash 日本 \U0001F600\t.txt");
    const QJsonObject first = upload(path, "one");
    EXPECT_EQ(first.value("path_display"), path);
    EXPECT_EQ(first.value("name"), QString::fromUtf8("Ünïcødé \"quoted\" back\\slash 日本 \U0001F600\t.txt"));

    // Raw UTF-8 in the header is refused, as the service does, and changes nothing.
    const QByteArray raw =
        QJsonDocument(QJsonObject{{"path", path}, {"mode", "overwrite"}}).toJson(QJsonDocument::Compact);
    const HttpReply refused = content("files/upload", raw, "two");
    EXPECT_EQ(refused.status, 400);
    EXPECT_TRUE(refused.body.contains("Dropbox-API-Arg")) << refused.body.toStdString();
    EXPECT_EQ(revisions(path.toUpper()).size(), 1);

    // The result header is plain ASCII and still names the file exactly.
    const HttpReply fetched = download(path);
    ASSERT_EQ(fetched.status, 200);
    EXPECT_EQ(fetched.body, "one");
    const QByteArray result = fetched.header("Dropbox-API-Result");
    EXPECT_TRUE(std::all_of(result.begin(), result.end(), [](char c) { return uchar(c) < 0x80; }));
    EXPECT_EQ(jsonOf(result).value("path_display"), path);
}

TEST_F(DropboxSim, FullAccountsAndRefusedNamesAnswerInTheServicesShapes) {
    const QString account = sim->accounts().first().id;
    auto setQuota = [&](const QJsonValue& bytes) {
        return httpRequest("POST", base + "/_admin/accounts/" + account + "/quota",
                           compact({{"bytes", bytes}}))
            .status;
    };
    EXPECT_EQ(setQuota(100), 200);
    EXPECT_EQ(setQuota("lots"), 400);
    upload("/a.bin", QByteArray(60, 'a'));
    // Replacing a file counts only what it grows by.
    upload("/a.bin", QByteArray(90, 'a'));
    // A one-request upload nests the write error as "reason"; a session finish as "path".
    const HttpReply full = content("files/upload", uploadArg("/b.bin"), QByteArray(11, 'b'));
    EXPECT_EQ(full.status, 409);
    EXPECT_TRUE(summaryOf(full).startsWith("path/insufficient_space/"));
    EXPECT_EQ(jsonOf(full).value("error")["reason"][".tag"], "insufficient_space");
    const QByteArray id =
        jsonOf(content("files/upload_session/start", R"({"close":false})", QByteArray(11, 'b')))
            .value("session_id")
            .toString()
            .toUtf8();
    const HttpReply finish = content("files/upload_session/finish",
                                     R"({"cursor":{"session_id":")" + id +
                                         R"(","offset":11},"commit":{"path":"/b.bin","mode":"overwrite"}})");
    EXPECT_EQ(jsonOf(finish).value("error")["path"][".tag"], "insufficient_space");
    EXPECT_EQ(content("files/upload", uploadArg("/b.bin"), QByteArray(10, 'b')).status, 200);

    // Names the service never stores, in any folder, and names too long for it.
    EXPECT_EQ(setQuota(1e9), 200);
    for (const QString& name :
         {QString("desktop.ini"), QString("Photos/Thumbs.db"), QString(".DS_Store"), QString("Icon\r")}) {
        const HttpReply reply = content("files/upload", uploadArg("/" + name), "x");
        EXPECT_EQ(jsonOf(reply).value("error")["reason"][".tag"], "disallowed_name") << name.toStdString();
    }
    EXPECT_TRUE(summaryOf(content("files/upload", uploadArg("/" + QString(256, 'n')), "x"))
                    .startsWith("path/malformed_path/"));
    EXPECT_EQ(content("files/upload", uploadArg("/" + QString(255, 'n')), "x").status, 200);

    // A file deleted elsewhere, as the admin interface can.
    EXPECT_EQ(httpRequest("DELETE", base + "/_admin/accounts/" + account + "/files/A.bin").status, 200);
    EXPECT_TRUE(summaryOf(download("/a.bin")).startsWith("path/not_found/"));
    EXPECT_EQ(httpRequest("DELETE", base + "/_admin/accounts/" + account + "/files/a.bin").status, 404);
}

TEST_F(DropboxSim, StateDirectoryKeepsFilesRevisionsAndLinks) {
    QTemporaryDir state;
    CloudSim::Options options;
    options.stateDir = state.path();
    startSim(options);
    token = signIn();
    const QByteArray big = patterned(9 * MiB, 3);
    const QString r1 = upload("/Keep/me.bin", "small").value("rev").toString();
    const QByteArray id = jsonOf(content("files/upload_session/start", R"({"close": false})", big))
                              .value("session_id")
                              .toString()
                              .toUtf8();
    const HttpReply finished =
        content("files/upload_session/finish",
                R"({"cursor":{"session_id":")" + id + R"(","offset":)" + QByteArray::number(big.size()) +
                    R"(},"commit":{"path":"/Keep/me.bin","mode":"overwrite"}})");
    ASSERT_EQ(finished.status, 200) << finished.body.toStdString();
    const QString r2 = jsonOf(finished).value("rev").toString();
    ASSERT_EQ(rpc("sharing/create_shared_link_with_settings", {{"path", "/Keep/me.bin"}}).status, 200);

    startSim(options); // the same token still works after the restart
    EXPECT_EQ(revisions("/keep/me.bin"), QStringList({r2, r1}));
    EXPECT_EQ(download("/keep/me.bin").body, big);
    EXPECT_TRUE(summaryOf(rpc("sharing/create_shared_link_with_settings", {{"path", "/Keep/me.bin"}}))
                    .startsWith("shared_link_already_exists/"));
    const QString restoredRev =
        jsonOf(rpc("files/restore", {{"path", "/Keep/me.bin"}, {"rev", r1}})).value("rev").toString();
    EXPECT_EQ(download("/keep/me.bin").body, "small");

    // The admin listing shows what the account holds.
    const QString account = sim->accounts().first().id;
    const QJsonObject listing = jsonOf(httpRequest("GET", base + "/_admin/accounts/" + account + "/files"));
    const QJsonArray files = listing.value("files").toArray();
    ASSERT_EQ(files.size(), 1);
    const QJsonObject file = files.at(0).toObject();
    EXPECT_EQ(file.value("pathDisplay"), "/Keep/me.bin");
    EXPECT_EQ(file.value("rev"), restoredRev);
    EXPECT_EQ(file.value("contentHash"), contentHashOf("small"));
    EXPECT_EQ(file.value("revisions").toArray().size(), 3);
    EXPECT_EQ(listing.value("used").toInteger(), 5);
}

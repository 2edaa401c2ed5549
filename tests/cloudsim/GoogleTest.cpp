#include "SimFixture.h"

#include <QJsonArray>
#include <QRegularExpression>
#include <QTemporaryDir>

using namespace cloudsim;
using namespace norvela::test;

namespace {

constexpr Service google = Service::google;
const QByteArray folderType = "application/vnd.google-apps.folder";
const QByteArray jsonType = "application/json; charset=UTF-8";
const QByteArray verifier = "g00gle-v3r1f1er-0123456789-abcdefghijklmnopqrstuvwxyz-ABCDEFGHIJKLMNOPQR";
constexpr qint64 chunk = 8 * 1024 * 1024;

QString md5Of(const QByteArray& bytes) {
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex());
}

// Percent-encoded as Norvela sends a search: the URL-query character set, so "'" stays as is.
QString encodeQuery(const QString& q) {
    return QString::fromLatin1(QUrl::toPercentEncoding(q, "!$&'()*+,;=:@/?"));
}

QString errorReason(const HttpReply& reply) {
    return jsonOf(reply).value("error")["errors"][0]["reason"].toString();
}

class GoogleDrive : public SimFixture {
protected:
    void SetUp() override {
        SimFixture::SetUp();
        signInDrive();
    }
    void signInDrive() {
        tokens = signIn(google);
        access = tokens.value("access_token").toString().toUtf8();
    }

    // An authorised request on the Drive API or upload host.
    HttpReply drive(const QByteArray& method, const QString& path, const QByteArray& body = {},
                    QList<QPair<QByteArray, QByteArray>> headers = {}) {
        headers.append({"Authorization", "Bearer " + access});
        return httpRequest(method, base + "/google/www" + path, body, headers);
    }

    QString makeFolder(const QString& name, const QString& parent) {
        const HttpReply reply = drive(
            "POST", "/drive/v3/files?fields=id",
            compact({{"name", name}, {"mimeType", QString(folderType)}, {"parents", QJsonArray{parent}}}),
            {{"Content-Type", jsonType}});
        EXPECT_EQ(reply.status, 200) << reply.body.constData();
        return jsonOf(reply).value("id").toString();
    }

    QStringList search(const QString& q) {
        const HttpReply reply = drive("GET", "/drive/v3/files?q=" + encodeQuery(q) + "&fields=files(id)");
        EXPECT_EQ(reply.status, 200) << reply.body.constData();
        QStringList ids;
        for (const QJsonValue& f : jsonOf(reply).value("files").toArray())
            ids.append(f.toObject().value("id").toString());
        return ids;
    }
    QByteArray media(const QString& id) { return drive("GET", "/drive/v3/files/" + id + "?alt=media").body; }
    QJsonArray revisionsOf(const QString& id) {
        return jsonOf(drive("GET", "/drive/v3/files/" + id + "/revisions")).value("revisions").toArray();
    }

    // A new file as Norvela sends it in one request: a multipart body.
    HttpReply multipartCreate(const QString& name, const QString& parent, const QByteArray& content) {
        const QByteArray boundary = "norvela-0F9A1C2B-3D4E-4F50-8A6B-7C8D9E0F1A2B";
        const QByteArray body =
            "--" + boundary + "\r\nContent-Type: application/json; charset=UTF-8\r\n\r\n" +
            compact({{"name", name}, {"parents", QJsonArray{parent}}}) + "\r\n--" + boundary +
            "\r\nContent-Type: application/octet-stream\r\n\r\n" + content + "\r\n--" + boundary + "--";
        return drive("POST", "/upload/drive/v3/files?uploadType=multipart&fields=id,md5Checksum,size", body,
                     {{"Content-Type", "multipart/related; boundary=" + boundary}});
    }

    HttpReply mediaUpdate(const QString& id, const QByteArray& content) {
        return drive("PATCH", "/upload/drive/v3/files/" + id + "?uploadType=media&fields=id,md5Checksum,size",
                     content, {{"Content-Type", "application/octet-stream"}});
    }

    // Starts a resumable upload; returns the session URI.
    QString startResumable(const QByteArray& method, const QString& path, const QJsonObject& metadata) {
        const HttpReply reply = drive(method, path + "uploadType=resumable&fields=id,md5Checksum,size",
                                      compact(metadata), {{"Content-Type", jsonType}});
        EXPECT_EQ(reply.status, 200) << reply.body.constData();
        return QString::fromUtf8(reply.header("Location"));
    }

    // A chunk as Norvela sends it: no Authorization, only the session URI.
    static HttpReply putChunk(const QString& session, const QByteArray& bytes, const QByteArray& range) {
        return httpRequest("PUT", session, bytes, {{"Content-Range", range}});
    }

    QJsonObject tokens;
    QByteArray access;
};

} // namespace

// The flow itself is checked in CoreTest (one OAuth serves both services). Google adds a client
// secret, and its revocation of a refresh token ends the access tokens issued from it.
TEST_F(GoogleDrive, TokenEndpointChecksTheSecretAndRevocationEndsIssuedTokens) {
    // A wrong secret is refused before the code is looked at, so the code still works afterwards.
    const QString form = exchangeForm(google, authorize(google, verifier).queryItemValue("code"), verifier);
    const HttpReply wrongSecret =
        token(google, QString(form).replace(CloudSim::defaultGoogleClientSecret, "GOCSPX-not-the-secret"));
    EXPECT_EQ(wrongSecret.status, 401);
    EXPECT_EQ(jsonOf(wrongSecret).value("error"), "invalid_client");
    EXPECT_EQ(token(google, form).status, 200);

    const QString refresh = tokens.value("refresh_token").toString();
    const HttpReply refreshed = token(google, refreshForm(google, refresh));
    ASSERT_EQ(refreshed.status, 200);
    access = jsonOf(refreshed).value("access_token").toString().toUtf8();
    EXPECT_EQ(drive("GET", "/drive/v3/about?fields=user(emailAddress)").status, 200);
    EXPECT_EQ(httpRequest("POST", base + "/google/oauth2/revoke?token=" + refresh).status, 200);
    EXPECT_EQ(token(google, refreshForm(google, refresh)).status, 400);
    EXPECT_EQ(drive("GET", "/drive/v3/about?fields=user(emailAddress)").status, 401);
}

TEST_F(GoogleDrive, ApiCallsNeedAValidBearer) {
    const HttpReply none = httpRequest("GET", base + "/google/www/drive/v3/files?fields=files(id)");
    EXPECT_EQ(none.status, 401);
    EXPECT_EQ(jsonOf(none).value("error")["code"].toInt(), 401);
    EXPECT_EQ(httpRequest("POST", base + "/google/www/upload/drive/v3/files?uploadType=media", "x").status,
              401);

    sim->expireAccessTokens();
    EXPECT_EQ(drive("GET", "/drive/v3/files").status, 401);
    access = jsonOf(token(google, refreshForm(google, tokens.value("refresh_token").toString())))
                 .value("access_token")
                 .toString()
                 .toUtf8();
    EXPECT_EQ(drive("GET", "/drive/v3/files").status, 200);
}

TEST_F(GoogleDrive, AboutGivesUserAndQuotaAsDecimalText) {
    const HttpReply identity = drive("GET", "/drive/v3/about?fields=user(emailAddress)");
    ASSERT_EQ(identity.status, 200);
    EXPECT_EQ(jsonOf(identity),
              QJsonObject({{"user", QJsonObject{{"emailAddress", "drive.user@example.com"}}}}));

    ASSERT_EQ(multipartCreate("a.bin", "root", patterned(1234)).status, 200);
    const QJsonObject about = jsonOf(
        drive("GET", "/drive/v3/about?fields=user(displayName,emailAddress),storageQuota(limit,usage)"));
    const QJsonObject quota = about.value("storageQuota").toObject();
    EXPECT_EQ(quota.value("usage"), "1234");
    EXPECT_EQ(quota.value("limit"), "2000000000000");
    EXPECT_EQ(quota.keys(), QStringList({"limit", "usage"}));

    EXPECT_EQ(errorReason(drive("GET", "/drive/v3/about")), "required");
    EXPECT_EQ(drive("GET", "/drive/v3/about?fields=user(emailAdress)").status, 400);
}

TEST_F(GoogleDrive, FoldersAreMadeAndFoundByTheQueriesNorvelaSends) {
    const QString top = makeFolder("Norvela", "root");
    const QString tricky = "Bob's \\ stuff";
    const QString folder = makeFolder(tricky, top);
    ASSERT_EQ(multipartCreate(tricky, top, "not a folder").status, 200);
    const QString gone = makeFolder(tricky, top);
    const QString inside = makeFolder("inside", gone);
    ASSERT_EQ(
        drive("PATCH", "/drive/v3/files/" + gone, R"({"trashed":true})", {{"Content-Type", jsonType}}).status,
        200);

    // The two searches the client sends: a folder, and any live item, of one name in a folder.
    auto find = [&](const QString& name, const QString& parent, bool folders) {
        QString escaped = name;
        escaped.replace("\\", "\\\\").replace("'", "\\'");
        return search("name = '" + escaped + "' and '" + parent + "' in parents and trashed = false" +
                      (folders ? " and mimeType = '" + folderType + "'" : QString()));
    };
    EXPECT_EQ(find("Norvela", "root", true), QStringList{top});
    EXPECT_EQ(find(tricky, top, true), QStringList{folder});
    EXPECT_EQ(find(tricky, top, false).size(), 2);        // the folder and the file
    EXPECT_EQ(find("inside", gone, true), QStringList{}); // trashed with its folder
    EXPECT_EQ(search("'" + top + "' in parents and trashed = true"), QStringList{gone});
    EXPECT_EQ(search("name = 'inside'"), QStringList{inside});

    // The reply carries exactly what was asked for.
    const HttpReply listed =
        drive("GET", "/drive/v3/files?q=" + encodeQuery("name = 'Norvela'") + "&fields=files(id)");
    EXPECT_EQ(jsonOf(listed), QJsonObject({{"files", QJsonArray{QJsonObject{{"id", top}}}}}));
    EXPECT_EQ(top.size(), 33);

    // What the service refuses: bad syntax, terms it doesn't know, unknown or non-folder parents.
    for (const QString& bad :
         {QString("name = 'Bob's'"), QString("name = 'open"), QString("starred = true"),
          QString("name = 'a' and"), QString("(trashed = false)"), QString("name == 'a'"),
          QString("name = 'a' or trashed = true"), QString("name contains 'a'")}) {
        const HttpReply reply = drive("GET", "/drive/v3/files?q=" + encodeQuery(bad));
        EXPECT_EQ(reply.status, 400) << bad.toStdString();
        EXPECT_EQ(jsonOf(reply).value("error").toObject().value("message"), "Invalid Value");
    }
    const HttpReply orphan =
        drive("POST", "/drive/v3/files?fields=id", compact({{"name", "x"}, {"parents", QJsonArray{"nope"}}}),
              {{"Content-Type", jsonType}});
    EXPECT_EQ(orphan.status, 404);
    EXPECT_EQ(errorReason(orphan), "notFound");
    EXPECT_EQ(drive("POST", "/drive/v3/files?fields=id", "{\"name\":", {{"Content-Type", jsonType}}).status,
              400);
    const QString file = jsonOf(multipartCreate("f", top, "x")).value("id").toString();
    EXPECT_EQ(drive("POST", "/drive/v3/files", compact({{"name", "y"}, {"parents", QJsonArray{file}}}),
                    {{"Content-Type", jsonType}})
                  .status,
              400);
}

TEST_F(GoogleDrive, OneRequestUploadsStoreBytesAndEveryChangeAddsARevision) {
    const QString top = makeFolder("Norvela", "root");
    // Content that looks like a boundary line must not end the part early.
    const QByteArray first = "line one\r\n--norvela-not-it\r\n" + patterned(300'000);
    const HttpReply created = multipartCreate("report.txt", top, first);
    ASSERT_EQ(created.status, 200) << created.body.constData();
    const QJsonObject file = jsonOf(created);
    const QString id = file.value("id").toString();
    EXPECT_EQ(file.value("md5Checksum"), md5Of(first));
    EXPECT_EQ(file.value("size"), QString::number(first.size()));
    EXPECT_EQ(file.keys(), QStringList({"id", "md5Checksum", "size"}));
    const QJsonObject meta = jsonOf(drive("GET", "/drive/v3/files/" + id + "?fields=name,parents,mimeType"));
    EXPECT_EQ(meta.value("name"), "report.txt");
    EXPECT_EQ(meta.value("parents").toArray(), QJsonArray{top});
    EXPECT_EQ(meta.value("mimeType"), "application/octet-stream");

    // A change keeps the file and adds a revision; they are listed oldest first, stamped in UTC.
    // The new content, and restoring an old one, reach the provider (GoogleDriveProviderTest).
    ASSERT_EQ(mediaUpdate(id, patterned(5000, 7)).status, 200);
    const QJsonArray revisions =
        jsonOf(drive("GET", "/drive/v3/files/" + id + "/revisions?fields=revisions(id,modifiedTime,size)"))
            .value("revisions")
            .toArray();
    ASSERT_EQ(revisions.size(), 2);
    EXPECT_EQ(revisions[0].toObject().value("size"), QString::number(first.size()));
    EXPECT_EQ(revisions[1].toObject().value("size"), "5000");
    EXPECT_TRUE(revisions[0].toObject().value("modifiedTime").toString().endsWith("Z"));

    // A plain media upload makes an untitled file typed by its Content-Type.
    const QJsonObject untitled = jsonOf(
        drive("POST", "/upload/drive/v3/files?uploadType=media", "hello", {{"Content-Type", "text/plain"}}));
    EXPECT_EQ(untitled.value("name"), "Untitled");
    EXPECT_EQ(untitled.value("mimeType"), "text/plain");

    // Unknown ids are 404s with the service's error body.
    EXPECT_EQ(errorReason(drive("GET", "/drive/v3/files/" + id + "/revisions/nope?alt=media")), "notFound");
    EXPECT_EQ(mediaUpdate("nope", "x").status, 404);
    const QJsonObject missing =
        jsonOf(drive("GET", "/drive/v3/files/nope?alt=media")).value("error").toObject();
    EXPECT_EQ(missing.value("code").toInt(), 404);
    EXPECT_EQ(missing.value("message"), "File not found: nope.");
    EXPECT_EQ(drive("GET", "/drive/v3/files/" + top + "?alt=media").status, 403); // folders have no bytes
}

TEST_F(GoogleDrive, MalformedMultipartBodiesAreRefused) {
    const QString url = "/upload/drive/v3/files?uploadType=multipart";
    const QByteArray meta = "--b\r\nContent-Type: application/json\r\n\r\n{\"name\":\"m\"}\r\n";
    const QByteArray media = "--b\r\nContent-Type: text/plain\r\n\r\nbytes\r\n";
    const QList<QPair<QByteArray, QByteArray>> cases = {
        {meta + media + "--b--", "multipart/related"},                     // no boundary
        {meta + media + "--b", "multipart/related; boundary=b"},           // no closing delimiter
        {meta + "--b--", "multipart/related; boundary=b"},                 // no media part
        {meta + media + media + "--b--", "multipart/related; boundary=b"}, // a third part
        {media + media + "--b--", "multipart/related; boundary=b"},        // metadata isn't JSON
        {"--b\r\nno colon\r\n\r\n{}\r\n" + media + "--b--", "multipart/related; boundary=b"},
        {QByteArray(meta).replace("{\"name\"", "{name") + media + "--b--", "multipart/related; boundary=b"},
    };
    for (const auto& [body, type] : cases) {
        const HttpReply reply = drive("POST", url, body, {{"Content-Type", type}});
        EXPECT_EQ(reply.status, 400) << body.constData();
        EXPECT_EQ(jsonOf(reply).value("error").toObject().value("code").toInt(), 400);
    }
    EXPECT_TRUE(jsonOf(drive("GET", "/drive/v3/files")).value("files").toArray().isEmpty());
    // The same framing done right, with a quoted boundary, is accepted.
    EXPECT_EQ(
        drive("POST", url, meta + media + "--b--", {{"Content-Type", "multipart/related; boundary=\"b\""}})
            .status,
        200);
}

TEST_F(GoogleDrive, ResumableUploadTakesChunksAndReportsRanges) {
    const QString top = makeFolder("Norvela", "root");
    const QByteArray bytes = patterned(20 * 1024 * 1024);
    const QString total = QString::number(bytes.size());
    const QString session = startResumable("POST", "/upload/drive/v3/files?",
                                           {{"name", "big.bin"}, {"parents", QJsonArray{top}}});
    ASSERT_TRUE(session.startsWith(base + "/google/www/upload/drive/v3/files?")) << session.toStdString();

    auto range = [&](qint64 from, qint64 to) {
        return QString("bytes %1-%2/%3").arg(from).arg(to).arg(total).toLatin1();
    };
    const HttpReply one = putChunk(session, bytes.left(chunk), range(0, chunk - 1));
    EXPECT_EQ(one.status, 308);
    EXPECT_EQ(one.header("Range"), "bytes=0-8388607");

    // A chunk past the next byte is not taken; the reply says where the upload stands.
    const HttpReply skipped = putChunk(session, bytes.mid(2 * chunk), range(2 * chunk, bytes.size() - 1));
    EXPECT_EQ(skipped.status, 308);
    EXPECT_EQ(skipped.header("Range"), "bytes=0-8388607");
    const HttpReply status = putChunk(session, {}, "bytes */" + total.toLatin1());
    EXPECT_EQ(status.status, 308);
    EXPECT_EQ(status.header("Range"), "bytes=0-8388607");
    EXPECT_EQ(putChunk(session, "xyz", "bytes 8388608-8388610/999").status, 400); // another total
    EXPECT_EQ(putChunk(session, "xyz", "bytes 8388608-8388620/" + total.toLatin1()).status,
              400); // short body
    EXPECT_EQ(putChunk(session, "xyz", "octets 1-3").status, 400);
    EXPECT_TRUE(jsonOf(drive("GET", "/drive/v3/files?q=" + encodeQuery("name = 'big.bin'")))
                    .value("files")
                    .toArray()
                    .isEmpty());

    EXPECT_EQ(putChunk(session, bytes.mid(chunk, chunk), range(chunk, 2 * chunk - 1)).header("Range"),
              "bytes=0-16777215");
    const HttpReply last = putChunk(session, bytes.mid(2 * chunk), range(2 * chunk, bytes.size() - 1));
    ASSERT_EQ(last.status, 200) << last.body.constData();
    const QJsonObject file = jsonOf(last);
    EXPECT_EQ(file.keys(), QStringList({"id", "md5Checksum", "size"}));
    EXPECT_EQ(file.value("md5Checksum"), md5Of(bytes));
    EXPECT_EQ(file.value("size"), "20971520");
    const QString id = file.value("id").toString();
    EXPECT_EQ(jsonOf(putChunk(session, {}, "bytes */" + total.toLatin1())).value("id"),
              id); // done stays done
    EXPECT_EQ(media(id), bytes);

    // A resumable update of the same file, resending overlap that is already held.
    const QByteArray small = patterned(1000, 3);
    const QString update =
        startResumable("PATCH", "/upload/drive/v3/files/" + id + "?", {{"name", "big.bin"}});
    EXPECT_EQ(putChunk(update, small.left(600), "bytes 0-599/1000").status, 308);
    const HttpReply overlapped = putChunk(update, small.mid(400), "bytes 400-999/1000");
    ASSERT_EQ(overlapped.status, 200);
    EXPECT_EQ(jsonOf(overlapped).value("md5Checksum"), md5Of(small));
    EXPECT_EQ(revisionsOf(id).size(), 2);

    QString unknown = session;
    unknown.replace(QRegularExpression("upload_id=[^&]+"), "upload_id=nope");
    EXPECT_EQ(putChunk(unknown, "x", "bytes 0-0/1").status, 404);
    EXPECT_EQ(
        drive("POST", "/upload/drive/v3/files?uploadType=resumable", {}, {{"X-Upload-Content-Length", "-4"}})
            .status,
        400);
    EXPECT_EQ(drive("PATCH", "/upload/drive/v3/files/nope?uploadType=resumable").status, 404);
}

TEST_F(GoogleDrive, DroppedChunksKeepWhatArrivedAndFullOrDeletedFilesAreRefused) {
    const QByteArray bytes = patterned(3 * 1024 * 1024);
    const QString total = QString::number(bytes.size());
    const QString session = startResumable("POST", "/upload/drive/v3/files?", {{"name", "big.bin"}});
    const QUrl url(session);

    // The connection dies 700,000 bytes into the first chunk: the service keeps whole
    // 256 KiB units of what arrived, and a status query says so.
    ASSERT_EQ(httpRequest("POST", base + "/_admin/faults",
                          compact({{"endpoint", "/google/www/upload"},
                                   {"method", "PUT"},
                                   {"dropUploadAfterBytes", 700000}}))
                  .status,
              200);
    const QByteArray put = "PUT " + url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority) +
                           " HTTP/1.1\r\nContent-Range: bytes 0-" + QByteArray::number(bytes.size() - 1) +
                           "/" + total.toLatin1() +
                           "\r\nContent-Length: " + QByteArray::number(bytes.size()) + "\r\n\r\n";
    EXPECT_EQ(rawExchange(sim->port(), put + bytes), "");
    const HttpReply status = putChunk(session, {}, "bytes */" + total.toLatin1());
    EXPECT_EQ(status.status, 308);
    EXPECT_EQ(status.header("Range"), "bytes=0-524287");
    const HttpReply rest =
        putChunk(session, bytes.mid(524288),
                 "bytes 524288-" + QByteArray::number(bytes.size() - 1) + "/" + total.toLatin1());
    ASSERT_EQ(rest.status, 200) << rest.body.constData();
    const QString id = jsonOf(rest).value("id").toString();
    EXPECT_EQ(media(id), bytes);

    // A full account refuses a new file, and a resumable upload as soon as it names its size.
    const QString account = sim->accounts().first().id;
    ASSERT_EQ(httpRequest("POST", base + "/_admin/accounts/" + account + "/quota",
                          compact({{"bytes", bytes.size() + 10}}))
                  .status,
              200);
    const HttpReply full = multipartCreate("more.txt", "root", QByteArray(11, 'x'));
    EXPECT_EQ(full.status, 403);
    EXPECT_EQ(errorReason(full), "storageQuotaExceeded");
    EXPECT_EQ(multipartCreate("fits.txt", "root", QByteArray(10, 'x')).status, 200);
    const HttpReply early =
        drive("POST", "/upload/drive/v3/files?uploadType=resumable", compact({{"name", "huge"}}),
              {{"Content-Type", jsonType}, {"X-Upload-Content-Length", "1"}});
    EXPECT_EQ(early.status, 403);
    EXPECT_EQ(errorReason(early), "storageQuotaExceeded");

    // A file deleted elsewhere is gone by its id.
    EXPECT_EQ(httpRequest("DELETE", base + "/_admin/accounts/" + account + "/files/" + id).status, 200);
    const HttpReply gone = mediaUpdate(id, "again");
    EXPECT_EQ(gone.status, 404);
    EXPECT_EQ(errorReason(gone), "notFound");
    EXPECT_EQ(httpRequest("DELETE", base + "/_admin/accounts/" + account + "/files/" + id).status, 404);
}

TEST_F(GoogleDrive, SharingMakesAWebViewLink) {
    const QString id = jsonOf(multipartCreate("shared.txt", "root", "share me")).value("id").toString();
    const HttpReply granted =
        drive("POST", "/drive/v3/files/" + id + "/permissions",
              compact({{"role", "reader"}, {"type", "anyone"}}), {{"Content-Type", "application/json"}});
    ASSERT_EQ(granted.status, 200);
    EXPECT_EQ(jsonOf(granted).value("role"), "reader");
    EXPECT_EQ(jsonOf(granted).value("type"), "anyone");
    // Granting again replaces rather than piles up. The link itself is checked through the
    // provider (GoogleDriveProviderTest).
    drive("POST", "/drive/v3/files/" + id + "/permissions", compact({{"role", "reader"}, {"type", "anyone"}}),
          {{"Content-Type", "application/json"}});
    EXPECT_EQ(
        jsonOf(drive("GET", "/drive/v3/files/" + id + "/permissions")).value("permissions").toArray().size(),
        1);

    EXPECT_EQ(errorReason(drive("POST", "/drive/v3/files/" + id + "/permissions",
                                compact({{"role", "reader"}}), {{"Content-Type", "application/json"}})),
              "required");
    EXPECT_EQ(drive("POST", "/drive/v3/files/nope/permissions",
                    compact({{"role", "reader"}, {"type", "anyone"}}), {{"Content-Type", "application/json"}})
                  .status,
              404);
}

TEST_F(GoogleDrive, StateDirectoryKeepsTheDriveAcrossRestarts) {
    QTemporaryDir state;
    CloudSim::Options options;
    options.stateDir = state.path();
    startSim(options);
    signInDrive();
    const QString top = makeFolder("Norvela", "root");
    const QByteArray v1 = patterned(3 * 1024 * 1024);
    const QString id = jsonOf(multipartCreate("kept.bin", top, v1)).value("id").toString();
    ASSERT_EQ(mediaUpdate(id, "v2").status, 200);
    EXPECT_EQ(sim->blobs().memoryBytes(), 0); // the bytes live on disk
    const QString accountId = sim->accounts().first().id;

    startSim(options); // the same tokens still work after the restart
    EXPECT_EQ(token(google, refreshForm(google, tokens.value("refresh_token").toString())).status, 200);
    EXPECT_EQ(search("name = 'Norvela' and 'root' in parents"), QStringList{top});
    EXPECT_EQ(media(id), "v2");
    const QJsonArray revisions = revisionsOf(id);
    ASSERT_EQ(revisions.size(), 2);
    EXPECT_EQ(drive("GET", "/drive/v3/files/" + id + "/revisions/" +
                               revisions[0].toObject().value("id").toString() + "?alt=media")
                  .body,
              v1);
    // New folders still go after the old ones in search results.
    const QString later = makeFolder("Later", top);
    EXPECT_EQ(search("'" + top + "' in parents"), QStringList({id, later}));

    // The admin listing shows the tree with sizes, hashes and revisions.
    const QJsonObject listing = sim->listing(accountId);
    const QJsonObject norvela = listing.value("root").toObject().value("children").toArray().at(0).toObject();
    EXPECT_EQ(norvela.value("name"), "Norvela");
    const QJsonObject kept = norvela.value("children").toArray().at(0).toObject();
    EXPECT_EQ(kept.value("name"), "kept.bin");
    EXPECT_EQ(kept.value("md5Checksum"), md5Of("v2"));
    EXPECT_EQ(kept.value("revisions").toArray().size(), 2);

    sim->reset();
    startSim(options);
    EXPECT_TRUE(sim->accounts().isEmpty());
}

#include "cloud/DropboxProvider.h"
#include "HttpClient.h"
#include "SimFixture.h"
#include "cloud/DropboxContentHash.h"
#include "cloud/DropboxUploadClient.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <vector>

using namespace norvela;
using namespace norvela::test;

namespace {

QByteArray apiArg(const cloudsim::CloudSim::LoggedRequest& request) {
    for (const auto& [name, value] : request.headers)
        if (name == "dropbox-api-arg")
            return value;
    return {};
}

class Dropbox : public ProviderFixture<DropboxProvider, &ServiceEndpoints::dropbox> {
protected:
    // The upload requests so far, as "start 8388608" (body bytes) or "append_v2 1@8388608"
    // (body bytes @ cursor offset).
    QStringList uploadRequests() const {
        QStringList out;
        for (const auto& r : sim.lastRequests(1000)) {
            const QJsonObject cursor = QJsonDocument::fromJson(apiArg(r))["cursor"].toObject();
            if (r.target.startsWith("/dropbox/content/2/files/upload"))
                out.append(r.target.mid(r.target.lastIndexOf('/') + 1) + ' ' +
                           QByteArray::number(r.bodySize) +
                           (cursor.isEmpty() ? "" : "@" + QByteArray::number(cursor["offset"].toInteger())));
        }
        return out;
    }
    QByteArray lastArg(const QByteArray& endpoint) const {
        QByteArray arg;
        for (const auto& r : sim.lastRequests(1000))
            if (r.target.endsWith(endpoint))
                arg = apiArg(r);
        return arg;
    }
};

} // namespace

TEST_F(Dropbox, UploadsInOneRequestOrInSessionsBoundedByTheMeasuredSize) {
    struct Case {
        qint64 fileBytes, size;
        bool limited;
        QStringList requests; // body bytes, and @ the cursor offset
    };
    const Case cases[] = {
        {0, 0, false, {"upload 0"}},
        {8 * MiB, 8 * MiB, false, {"upload 8388608"}},
        {8 * MiB + 1, 8 * MiB + 1, false, {"start 8388608", "append_v2 1@8388608", "finish 0@8388609"}},
        {20 * MiB,
         20 * MiB,
         false,
         {"start 8388608", "append_v2 8388608@8388608", "append_v2 4194304@16777216", "finish 0@20971520"}},
        {256 * 1024, 256 * 1024, true, {"upload 262144"}},
        {256 * 1024 + 1, 256 * 1024 + 1, true, {"start 262145", "finish 0@262145"}},
        // Shrank since it was measured: committed with what it still has.
        {8 * MiB + 100, 12 * MiB, false, {"start 8388608", "append_v2 100@8388608", "finish 0@8388708"}},
        // Grew since it was measured: the new bytes wait for the next upload.
        {10 * MiB, 8 * MiB + 1, false, {"start 8388608", "append_v2 1@8388608", "finish 0@8388609"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.requests.join(", ").toStdString());
        sim.reset();
        ASSERT_EQ(linkThroughBrowser(provider->auth()), std::nullopt);
        limiter.configure(c.limited ? 1e9 : 0); // in force, but never makes the test wait

        const QByteArray data = pattern(c.fileBytes, int(c.fileBytes % 251));
        const QByteArray sent = data.left(c.size);
        std::vector<qint64> progress;
        const CloudUploadResult result = await(start("Docs/data.bin", data, {}, false, &progress, c.size));

        EXPECT_EQ(uploadRequests(), c.requests);
        std::vector<qint64> partsSent; // progress follows each part that carried bytes
        for (const auto& r : sim.lastRequests(1000))
            if (r.target.contains("/upload") && !r.target.endsWith("/finish"))
                partsSent.push_back((partsSent.empty() ? 0 : partsSent.back()) + r.bodySize);
        EXPECT_EQ(progress, partsSent);
        EXPECT_EQ(result.size, sent.size());
        EXPECT_EQ(result.contentHash, DropboxContentHash::hash(localFile(sent)).value());
        EXPECT_EQ(await(provider->downloadCurrent("Docs/data.bin", std::nullopt, sent.size())), sent);
    }
}

TEST_F(Dropbox, HeaderArgumentsAreAsciiAndNamesArriveExactly) {
    const QStringList names{QString::fromUtf8("Docs/caf\u00e9 \u2603 \U0001F600.txt"), "Docs/tab\there.txt",
                            QString::fromUtf8("Docs/say \"hi\" \\ it's \u007f.txt")};
    for (const QString& name : names) {
        for (const qint64 size : {qint64(1000), 9 * MiB}) { // one request, and a session
            SCOPED_TRACE(name.toStdString() + " " + std::to_string(size));
            const QByteArray data = pattern(size, int(size % 7));
            upload(name, data);
            QStringList stored;
            for (const QJsonValue& f : sim.listing(account)["files"].toArray())
                stored.append(f.toObject()["pathDisplay"].toString());
            EXPECT_TRUE(stored.contains("/" + name)) << stored.join(" | ").toStdString();
            EXPECT_EQ(await(provider->downloadCurrent(name, std::nullopt, data.size())), data);
        }
    }
    for (const auto& r : sim.lastRequests(1000)) {
        const QByteArray arg = apiArg(r);
        EXPECT_TRUE(std::all_of(arg.begin(), arg.end(), [](char c) { return c >= 0x20 && c < 0x7f; }))
            << arg.toStdString();
    }
    EXPECT_EQ(
        QJsonDocument::fromJson(lastArg("/upload_session/finish"))["commit"].toObject(),
        (QJsonObject{
            {"path", "/" + names.last()}, {"mode", "overwrite"}, {"autorename", false}, {"mute", false}}));
}

TEST_F(Dropbox, FailuresAreSortedByKind) {
    using Kind = ServiceError::Kind;
    const QString uploads = "/dropbox/content/2/files/upload";
    sim.addFault({{"endpoint", uploads}, {"status", 500}});
    ServiceError e = failing("a.txt");
    EXPECT_EQ(e.kind(), Kind::transient);
    EXPECT_EQ(e.description(), "HTTP 500: Error: Internal Server Error");
    EXPECT_EQ(e.retryAfter(), std::nullopt);
    // Retry-After is carried, and capped so that no reply can stall an account for long.
    sim.addFault({{"endpoint", uploads}, {"status", 429}, {"retryAfter", 30}});
    e = failing("a.txt");
    EXPECT_EQ(e.kind(), Kind::transient);
    EXPECT_EQ(e.retryAfter(), std::chrono::seconds(30));
    sim.addFault({{"endpoint", uploads}, {"status", 503}, {"retryAfter", 99999999}});
    EXPECT_EQ(failing("a.txt").retryAfter(), ServiceError::maxRetryAfter);
    sim.addFault({{"endpoint", uploads}, {"status", 409}, {"reason", "path/too_many_write_operations"}});
    EXPECT_EQ(failing("a.txt").kind(), Kind::transient);

    // A full account; its words reach the person.
    e = expectQuotaRefusedBothWays();
    EXPECT_TRUE(e.description().contains("insufficient_space")) << e.description().toStdString();

    // Names and places this file cannot take as it is.
    upload("Taken/inner.txt", "x");
    for (const QString& name : {QString("desktop.ini"), QString("Sub/.DS_Store"), "Long/" + QString(256, 'n'),
                                QString("Taken"), QString("Taken/inner.txt/below")}) {
        e = failing(name);
        EXPECT_EQ(e.kind(), Kind::refused) << name.toStdString() << ": " << e.description().toStdString();
    }

    expectGrantRenewedOnceThenGone(uploads, {{"endpoint", "/dropbox/api/oauth2/token"}, {"status", 400}});

    // What the service no longer holds, for a file deleted elsewhere.
    upload("gone.txt", "g");
    const QList<FileRevision> revisions = await(provider->listRevisions("gone.txt", std::nullopt));
    ASSERT_EQ(httpRequest("DELETE", sim.baseUrl() + "/_admin/accounts/" + account + "/files/gone.txt").status,
              200);
    EXPECT_EQ(serviceFailure(provider->listRevisions("gone.txt", std::nullopt)).kind(), Kind::staleReference);
    EXPECT_EQ(serviceFailure(provider->restore("gone.txt", std::nullopt, revisions.first())).kind(),
              Kind::staleReference);
    EXPECT_EQ(serviceFailure(provider->downloadCurrent("gone.txt", std::nullopt, 1)).kind(),
              Kind::staleReference);
    EXPECT_EQ(serviceFailure(provider->createSharedLink("gone.txt", std::nullopt)).kind(),
              Kind::staleReference);
    sim.addFault({{"endpoint", "/dropbox/api/2/files/list_revisions"}, {"status", 503}});
    EXPECT_EQ(serviceFailure(provider->listRevisions("gone.txt", std::nullopt)).kind(), Kind::transient);
}

// A session piece that fails goes again, from where the service says the session stands:
// about one piece more is sent, never the whole file again.
TEST_F(Dropbox, ASessionResumesAfterAFailedAppend) {
    const QString append = "/dropbox/content/2/files/upload_session/append_v2";
    const QByteArray data = pattern(20 * MiB, 5); // start 8 MiB, append 8 MiB, append 4 MiB
    const QJsonObject faults[] = {
        {{"endpoint", append}, {"dropUploadAfterBytes", 1 * MiB}}, // the connection drops mid-piece
        {{"endpoint", append}, {"dropReplyAfterBytes", 0}},        // the piece lands, its reply is lost
        {{"endpoint", append}, {"status", 503}},
    };
    for (const QJsonObject& fault : faults) {
        SCOPED_TRACE(QJsonDocument(fault).toJson(QJsonDocument::Compact).toStdString());
        sim.addFault(fault);
        const qint64 before = bytesReceived("POST /dropbox/content/2/files/upload");
        const CloudUploadResult result = upload("Resumed/film.bin", data);
        const qint64 sent = bytesReceived("POST /dropbox/content/2/files/upload") - before;
        EXPECT_GT(sent, data.size());
        EXPECT_LE(sent, data.size() + DropboxUploadClient::chunkSize);
        EXPECT_EQ(result.size, data.size());
        EXPECT_EQ(await(provider->downloadCurrent("Resumed/film.bin", std::nullopt, data.size())), data);
    }

    // A piece that keeps failing ends the upload after a few tries, as a transient failure.
    const int appends = sim.requestCounts().value("POST " + append);
    sim.addFault({{"endpoint", append}, {"status", 503}, {"count", 0}});
    EXPECT_EQ(serviceFailure(start("Resumed/never.bin", data)).kind(), ServiceError::Kind::transient);
    EXPECT_EQ(sim.requestCounts().value("POST " + append), appends + 1 + DropboxUploadClient::appendRetries);
}

TEST_F(Dropbox, VersionsRestoreDownloadAndLinks) {
    const CloudUploadResult v1 = upload("Notes/n.txt", "first");
    const CloudUploadResult v2 = upload("Notes/n.txt", "second");
    const QList<FileRevision> revisions = await(provider->listRevisions("Notes/n.txt", std::nullopt));
    ASSERT_EQ(revisions.size(), 2);
    EXPECT_EQ(revisions[0].id, v2.ref); // the service's order: newest first
    EXPECT_EQ(revisions[1].id, v1.ref);
    EXPECT_EQ(revisions[1].size, 5);
    EXPECT_TRUE(revisions[1].modified.isValid());

    const CloudUploadResult restored = await(provider->restore("Notes/n.txt", std::nullopt, revisions[1]));
    EXPECT_EQ(restored.contentHash, v1.contentHash);
    EXPECT_NE(restored.ref, v1.ref);
    EXPECT_EQ(await(provider->downloadCurrent("Notes/n.txt", std::nullopt, restored.size)), "first");

    for (int i = 0; i < 30; ++i)
        upload("Notes/n.txt", QByteArray::number(i));
    EXPECT_EQ(await(provider->listRevisions("Notes/n.txt", std::nullopt)).size(), 30); // the newest 30

    // A file shares one link: asking again finds the existing one.
    const QUrl link = await(provider->createSharedLink("Notes/n.txt", std::nullopt));
    EXPECT_TRUE(link.toString().startsWith(sim.baseUrl() + "/dropbox/www/scl/fi/"));
    EXPECT_EQ(await(provider->createSharedLink("Notes/n.txt", std::nullopt)), link);
    EXPECT_EQ(sim.requestCounts().value("POST /dropbox/api/2/sharing/list_shared_links"), 1);

    // API-host errors carry the service's body, and only "already exists" leads to the listing;
    // downloads report their status.
    EXPECT_TRUE(failure(provider->listRevisions("none.txt", std::nullopt)).contains("path/not_found"));
    EXPECT_TRUE(failure(provider->createSharedLink("none.txt", std::nullopt)).contains("path/not_found"));
    EXPECT_EQ(sim.requestCounts().value("POST /dropbox/api/2/sharing/list_shared_links"), 1);
    EXPECT_TRUE(failure(provider->downloadCurrent("none.txt", std::nullopt, 0)).contains("path/not_found"));
}

TEST_F(Dropbox, AccountInfoCombinesAccountAndUsage) {
    upload("a.bin", pattern(1234));
    cloudsim::Account& holder = sim.accounts().first();
    holder.name = "Dana Scully";
    const AccountInfo info = await(provider->fetchAccountInfo());
    EXPECT_EQ(info, (AccountInfo{"Dana Scully", holder.email, "Dropbox Basic", 1234, holder.allocation,
                                 holder.id}));

    const std::pair<const char*, const char*> plans[] = {
        {"pro", "Dropbox Plus"}, {"business", "Dropbox Business"}, {"plus", "Dropbox"}};
    for (const auto& [tag, plan] : plans) {
        holder.accountType = tag;
        EXPECT_EQ(await(provider->fetchAccountInfo()).planName, plan);
    }

    // Both calls go out at once; the account's failure is the one reported.
    const int usageCalls = sim.requestCounts().value("POST /dropbox/api/2/users/get_space_usage");
    sim.addFault({{"endpoint", "/dropbox/api/2/users/get_current_account"}, {"status", 503}});
    EXPECT_EQ(failure(provider->fetchAccountInfo()), "HTTP 503: Error: Service Unavailable");
    EXPECT_TRUE(waitFor([&] {
        return sim.requestCounts().value("POST /dropbox/api/2/users/get_space_usage") == usageCalls + 1;
    }));
}

#include "cloud/DropboxProvider.h"
#include "ProviderFixture.h"
#include "cloud/DropboxContentHash.h"
#include "common/AppSupport.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <vector>

using namespace norvela;
using namespace norvela::test;

namespace {

constexpr qint64 MiB = 1024 * 1024;

QByteArray apiArg(const cloudsim::CloudSim::LoggedRequest& request) {
    for (const auto& [name, value] : request.headers)
        if (name == "dropbox-api-arg")
            return value;
    return {};
}

class Dropbox : public ProviderFixture<DropboxProvider, &ServiceEndpoints::dropbox> {
protected:
    void TearDown() override {
        ProviderFixture::TearDown();
        qunsetenv("NORVELA_DUMP_STATE");
    }

    // Uploads `data`, reporting `size` (default: its length) as the measured size.
    CloudUploadResult upload(const QString& relativePath, const QByteArray& data, qint64 size = -1,
                             std::vector<qint64>* progress = nullptr) {
        CloudProvider::Progress report;
        if (progress)
            report = [progress](qint64 sent) { progress->push_back(sent); };
        return await(provider->upload(opened(data, size), relativePath, std::nullopt, false, report));
    }

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
        const CloudUploadResult result = upload("Docs/data.bin", data, c.size, &progress);

        EXPECT_EQ(uploadRequests(), c.requests);
        std::vector<qint64> partsSent; // progress follows each part that carried bytes
        for (const auto& r : sim.lastRequests(1000))
            if (r.target.contains("/upload") && !r.target.endsWith("/finish"))
                partsSent.push_back((partsSent.empty() ? 0 : partsSent.back()) + r.bodySize);
        EXPECT_EQ(progress, partsSent);
        EXPECT_EQ(result.size, sent.size());
        EXPECT_EQ(result.contentHash, DropboxContentHash::hash(localFile(sent)).value());
        EXPECT_EQ(await(provider->downloadCurrent("Docs/data.bin", std::nullopt)), sent);
    }
}

TEST_F(Dropbox, PathsAreEscapedOnlyForQuotesAndBackslashes) {
    const QString name = QString::fromUtf8("Docs/say \"hi\" \\ it's caf\u00e9 \u2603.txt");
    const QByteArray escaped = "/Docs/say \\\"hi\\\" \\\\ it's caf\xc3\xa9 \xe2\x98\x83.txt";
    const QByteArray data = pattern(1000);
    upload(name, data);
    EXPECT_EQ(lastArg("/2/files/upload"), "{\"path\":\"" + escaped +
                                              "\",\"mode\":\"overwrite\",\"autorename\":false,"
                                              "\"mute\":false,\"strict_conflict\":false}");
    EXPECT_EQ(await(provider->downloadCurrent(name, std::nullopt)), data);

    // A session commits to the same path, with the shorter commit argument.
    upload(name, pattern(9 * MiB));
    EXPECT_EQ(lastArg("/upload_session/start"), "{\"close\": false}");
    const QByteArray finish = lastArg("/upload_session/finish");
    EXPECT_TRUE(finish.startsWith("{\"cursor\":{\"session_id\":\""));
    EXPECT_TRUE(finish.endsWith("\",\"offset\":9437184},\"commit\":{\"path\":\"" + escaped +
                                "\",\"mode\":\"overwrite\",\"autorename\":false,\"mute\":false}}"))
        << finish.toStdString();
}

TEST_F(Dropbox, ContentHostFailuresCarryStatusAndBody) {
    sim.addFault({{"endpoint", "/dropbox/content/2/files/upload"}, {"status", 500}});
    EXPECT_EQ(failure(provider->upload(opened("abc"), "a.txt", std::nullopt, false, {})),
              "HTTP 500: Error: Internal Server Error");
    sim.addFault({{"endpoint", "/dropbox/content/2/files/upload"}, {"status", 201}}); // only 200 succeeds
    EXPECT_TRUE(
        failure(provider->upload(opened("abc"), "a.txt", std::nullopt, false, {})).startsWith("HTTP 201: {"));

    // A session refused part-way commits nothing.
    sim.addFault({{"endpoint", "/dropbox/content/2/files/upload_session/append_v2"}, {"status", 429}});
    EXPECT_EQ(
        failure(provider->upload(opened(pattern(9 * MiB)), "big.bin", std::nullopt, false, {})),
        "HTTP 429: {\"error_summary\":\"too_many_requests/\",\"error\":{\".tag\":\"too_many_requests\"}}");
    EXPECT_TRUE(sim.listing(sim.accounts().first().id)["files"].toArray().isEmpty());
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
    EXPECT_EQ(await(provider->downloadCurrent("Notes/n.txt", std::nullopt)), "first");

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
    EXPECT_EQ(failure(provider->downloadCurrent("none.txt", std::nullopt)), "download HTTP 409");
}

TEST_F(Dropbox, AccountInfoCombinesAccountAndUsage) {
    qputenv("NORVELA_DUMP_STATE", "1");
    const QString breadcrumbs = AppSupport::devHookDirectory() + "/breadcrumbs.txt";
    QFile::remove(breadcrumbs);
    upload("a.bin", pattern(1234));
    cloudsim::Account& holder = sim.accounts().first();
    holder.name = "Dana Scully";
    const AccountInfo info = await(provider->fetchAccountInfo());
    EXPECT_EQ(info, (AccountInfo{"Dana Scully", holder.email, "Dropbox Basic", 1234, holder.allocation,
                                 holder.id}));
    EXPECT_EQ(readFile(breadcrumbs), "account: fetchAccountInfo start\naccount: got account + usage\n");

    const std::pair<const char*, const char*> plans[] = {
        {"pro", "Dropbox Plus"}, {"business", "Dropbox Business"}, {"plus", "Dropbox"}};
    for (const auto& [tag, plan] : plans) {
        holder.accountType = tag;
        EXPECT_EQ(await(provider->fetchAccountInfo()).planName, plan);
    }

    // Both calls go out at once; the account's failure is the one reported.
    QFile::remove(breadcrumbs);
    const int usageCalls = sim.requestCounts().value("POST /dropbox/api/2/users/get_space_usage");
    sim.addFault({{"endpoint", "/dropbox/api/2/users/get_current_account"}, {"status", 401}});
    EXPECT_TRUE(failure(provider->fetchAccountInfo()).contains("invalid_access_token"));
    EXPECT_TRUE(waitFor([&] {
        return sim.requestCounts().value("POST /dropbox/api/2/users/get_space_usage") == usageCalls + 1;
    }));
    EXPECT_EQ(readFile(breadcrumbs), "account: fetchAccountInfo start\n");
}

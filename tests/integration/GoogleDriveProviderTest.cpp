#include "cloud/GoogleDriveProvider.h"
#include "SimFixture.h"
#include "cloud/MD5FileHasher.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <utility>
#include <vector>

using namespace norvela;
using namespace norvela::test;

inline void PrintTo(const QByteArray& bytes, std::ostream* os) {
    *os << '"' << bytes.left(200).toStdString() << (bytes.size() > 200 ? "…\"" : "\"");
}

namespace {

class GoogleDrive : public ProviderFixture<GoogleDriveProvider, &ServiceEndpoints::google> {
protected:
    int requests(const char* method, const QString& path) const {
        return sim.requestCounts().value(QLatin1String(method) + QStringLiteral(" /google/www") + path);
    }
    int folderSearches() const { return requests("GET", "/drive/v3/files"); }
    int folderCreations() const { return requests("POST", "/drive/v3/files"); }

    // The children of a node of the emulator's listing, by name.
    static QJsonArray children(const QJsonObject& node) { return node.value("children").toArray(); }
    static QStringList names(const QJsonObject& node) {
        QStringList out;
        for (const QJsonValue& child : children(node))
            out.append(child.toObject().value("name").toString());
        return out;
    }
    // A node below the "Norvela" folder (the folder itself for ""); empty when missing.
    QJsonObject node(const QString& path) const {
        QJsonObject at = sim.listing(account).value("root").toObject();
        QStringList parts = path.split('/', Qt::SkipEmptyParts);
        parts.prepend("Norvela");
        for (const QString& part : parts) {
            const QStringList here = names(at);
            if (here.count(part) != 1)
                return {};
            at = children(at).at(here.indexOf(part)).toObject();
        }
        return at;
    }

    // Drive stamps versions to the millisecond; separate them so their order is known.
    static void nextMillisecond() {
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        waitFor([now] { return QDateTime::currentMSecsSinceEpoch() > now; });
    }
};

} // namespace

TEST_F(GoogleDrive, FoldersAreFoundOrMadeOnceAndRemembered) {
    upload("Docs/2024/a.txt", "alpha");
    EXPECT_EQ(folderSearches(), 3); // Norvela, Docs, 2024
    EXPECT_EQ(folderCreations(), 3);
    upload("Docs/2024/b.txt", "beta");
    upload("top.txt", "top");
    EXPECT_EQ(folderSearches(), 3);
    EXPECT_EQ(folderCreations(), 3);
    EXPECT_EQ(names(sim.listing(account).value("root").toObject()), QStringList{"Norvela"});
    EXPECT_EQ(names(node("")), (QStringList{"Docs", "top.txt"}));
    EXPECT_EQ(names(node("Docs/2024")), (QStringList{"a.txt", "b.txt"}));
    EXPECT_EQ(node("Docs/2024/a.txt").value("size").toString(), "5");
    EXPECT_EQ(await(provider->fetchAccountInfo()), // the plan named, the email as the account's uid
              (AccountInfo{"Drive User", "drive.user@example.com", "Google Drive", 12,
                           sim.accounts().first().allocation, "drive.user@example.com"}));

    // Unlinking forgets the folders: after linking again they are looked up again.
    await(provider->unlink());
    ASSERT_EQ(linkThroughBrowser(provider->auth()), std::nullopt);
    upload("Docs/2024/d.txt", "delta");
    EXPECT_EQ(folderSearches(), 6);
    EXPECT_EQ(folderCreations(), 3);
    EXPECT_EQ(names(node("Docs/2024")), (QStringList{"a.txt", "b.txt", "d.txt"}));
}

TEST_F(GoogleDrive, OverlappingLookupsOfAMissingFolderMakeItOnce) {
    std::vector<QCoro::Task<CloudUploadResult>> uploads;
    for (int i = 0; i < 20; ++i)
        uploads.push_back(start(QStringLiteral("A/B/C/f%1.txt").arg(i), pattern(100, i)));
    for (auto& task : uploads)
        await(std::move(task));
    EXPECT_EQ(folderSearches(), 4);
    EXPECT_EQ(folderCreations(), 4);
    EXPECT_EQ(names(node("A")), QStringList{"B"});
    EXPECT_EQ(children(node("A/B/C")).size(), 20);

    // A failed lookup reaches everyone who waited for it, and the next upload looks again.
    sim.addFault({{"endpoint", "/google/www/drive/v3/files"}, {"method", "GET"}, {"status", 503}});
    std::vector<QCoro::Task<CloudUploadResult>> failing;
    for (int i = 0; i < 5; ++i)
        failing.push_back(start(QStringLiteral("A/D/x%1.txt").arg(i), "x"));
    for (auto& task : failing)
        EXPECT_EQ(failure(std::move(task)),
                  R"(HTTP 503: {"error":{"code":503,"message":"Service Unavailable","errors":[]}})");
    EXPECT_EQ(folderSearches(), 5);
    upload("A/D/y.txt", "y");
    EXPECT_EQ(folderSearches(), 6);
    EXPECT_EQ(folderCreations(), 5);
    EXPECT_EQ(names(node("A/D")), QStringList{"y.txt"});
}

TEST_F(GoogleDrive, NamesWithQuerySyntaxStayNames) {
    const QStringList folders{
        "a b",     "a+b",        "it's",       "back\\slash", "\\'",
        "x&y=z#w", "say \"hi\"", "100% (50%)", "%2B",         QString::fromUtf8("Ünïcødé 日本語")};
    for (const QString& name : folders)
        upload(name + "/" + name + ".txt", name.toUtf8());
    EXPECT_EQ(names(node("")), folders);

    // Searched for afresh, each name finds its own folder.
    GoogleDriveProvider fresh(provider->auth().slot(), endpoints.google, limiter);
    const int made = folderCreations();
    for (const QString& name : folders)
        await(fresh.upload(opened("again"), name + "/again", std::nullopt, false, {}));
    EXPECT_EQ(folderCreations(), made);
    for (const QString& name : folders)
        EXPECT_EQ(names(node(name)), (QStringList{name + ".txt", "again"})) << name.toStdString();
}

TEST_F(GoogleDrive, ContentArrivesWholeInOneRequestOrInChunks) {
    const auto chunksSent = [this] { return requests("PUT", "/upload/drive/v3/files"); };
    // Sizes and the progress reports expected; above 8 MiB each report is one chunk.
    const std::vector<std::pair<qint64, std::vector<qint64>>> cases{
        {0, {0}},
        {1, {1}},
        {8 * MiB, {8 * MiB}},
        {8 * MiB + 1, {8 * MiB, 8 * MiB + 1}},
        {20 * MiB, {8 * MiB, 16 * MiB, 20 * MiB}}};
    int chunks = 0;
    for (const auto& [size, expected] : cases) {
        SCOPED_TRACE(size);
        const QByteArray data = pattern(size, int(size));
        const QString path = localFile(data);
        std::vector<qint64> progress;
        const CloudUploadResult r =
            await(provider->upload(open(path), "sizes/f", std::nullopt, false,
                                   [&progress](qint64 sent) { progress.push_back(sent); }));
        EXPECT_EQ(r.size, size);
        EXPECT_EQ(r.contentHash, MD5FileHasher().hash(path).value_or("?"));
        EXPECT_EQ(progress, expected);
        chunks += size > 8 * MiB ? int(expected.size()) : 0;
        EXPECT_EQ(chunksSent(), chunks);
        EXPECT_EQ(await(provider->downloadCurrent("sizes/f", r.ref, r.size)), data);
    }
    // The 20 MiB file's chunks, which carry no token.
    QByteArrayList ranges;
    for (const auto& chunk : sim.lastRequests(4).mid(0, 3))
        for (const auto& [name, value] : chunk.headers) {
            EXPECT_NE(name, "authorization");
            if (name == "content-range")
                ranges.append(value);
        }
    EXPECT_EQ(ranges, (QByteArrayList{"bytes 0-8388607/20971520", "bytes 8388608-16777215/20971520",
                                      "bytes 16777216-20971519/20971520"}));

    // With a rate limit in force, anything above 256 KiB goes in chunks the limiter can pace.
    limiter.configure(1e9);
    upload("limited/small", pattern(256 * 1024));
    EXPECT_EQ(chunksSent(), chunks);
    upload("limited/large", pattern(256 * 1024 + 1));
    EXPECT_EQ(chunksSent(), chunks + 1);
}

TEST_F(GoogleDrive, UpdatesKeepTheFileAndOldVersionsComeBack) {
    const CloudUploadResult first = upload("Notes/n.txt", "first version");
    const int searches = folderSearches();
    nextMillisecond();
    const CloudUploadResult second = upload("Notes/n.txt", "second", first.ref);
    EXPECT_EQ(second.ref, first.ref);
    EXPECT_TRUE(sim.lastRequests(1).first().target.contains("uploadType=media"));
    EXPECT_EQ(sim.lastRequests(1).first().method, "PATCH");
    nextMillisecond();
    limiter.configure(1e9); // an update in chunks
    const CloudUploadResult third = upload("Notes/n.txt", pattern(300000), first.ref);
    EXPECT_EQ(third.ref, first.ref);
    EXPECT_EQ(third.size, 300000);
    EXPECT_EQ(folderSearches(), searches);
    EXPECT_EQ(names(node("Notes")), QStringList{"n.txt"});

    const QList<FileRevision> versions = await(provider->listRevisions("Notes/n.txt", first.ref));
    ASSERT_EQ(versions.size(), 3);
    EXPECT_EQ(versions[0].size, 300000);
    EXPECT_EQ(versions[1].size, 6);
    EXPECT_EQ(versions[2].size, 13);
    EXPECT_GT(versions[0].modified, versions[1].modified);

    nextMillisecond();
    const CloudUploadResult restored = await(provider->restore("Notes/n.txt", first.ref, versions[2]));
    EXPECT_EQ(restored.ref, first.ref);
    EXPECT_EQ(restored.contentHash, first.contentHash);
    EXPECT_EQ(restored.size, 13);
    EXPECT_EQ(await(provider->downloadCurrent("Notes/n.txt", first.ref, restored.size)), "first version");
    EXPECT_EQ(await(provider->listRevisions("Notes/n.txt", first.ref)).size(), 4);

    // A version that cannot be fetched is not uploaded.
    sim.addFault({{"endpoint", "/google/www/drive/v3/files/" + first.ref + "/revisions/"}, {"status", 503}});
    const int patches = requests("PATCH", "/upload/drive/v3/files/" + first.ref);
    EXPECT_EQ(serviceFailure(provider->restore("Notes/n.txt", first.ref, versions[1])).kind(),
              ServiceError::Kind::transient);
    EXPECT_EQ(requests("PATCH", "/upload/drive/v3/files/" + first.ref), patches);

    const QUrl link = await(provider->createSharedLink("Notes/n.txt", first.ref));
    EXPECT_EQ(link, QUrl("https://drive.google.com/file/d/" + first.ref + "/view?usp=drivesdk"));
    EXPECT_TRUE(node("Notes/n.txt").value("shared").toBool());
    EXPECT_EQ(await(provider->createSharedLink("Notes/n.txt", first.ref)), link);

    // Without the file's id nothing is sent.
    const auto before = sim.requestCounts();
    EXPECT_EQ(failure(provider->listRevisions("n", std::nullopt)), "no Drive file id for revisions");
    EXPECT_EQ(failure(provider->restore("n", std::nullopt, versions[0])), "no Drive file id for restore");
    EXPECT_EQ(failure(provider->downloadCurrent("n", std::nullopt, 0)), "no Drive file id for download");
    EXPECT_EQ(failure(provider->createSharedLink("n", std::nullopt)), "no Drive file id for shared link");
    EXPECT_TRUE(sim.requestCounts() == before);
}

// An interrupted upload goes on from where the service says it stands: about one chunk more
// is sent, never the whole file again.
TEST_F(GoogleDrive, AnInterruptedUploadResumesWhereTheServiceStands) {
    const QString sessions = "/google/www/upload/drive/v3/files";
    const QByteArray data = pattern(20 * MiB, 3); // chunks of 8, 8 and 4 MiB
    const QJsonObject faults[] = {
        {{"endpoint", sessions}, {"method", "PUT"}, {"dropUploadAfterBytes", 3 * MiB}}, // dropped mid-chunk
        {{"endpoint", sessions}, {"method", "PUT"}, {"dropReplyAfterBytes", 0}},        // taken, reply lost
        {{"endpoint", sessions}, {"method", "PUT"}, {"status", 503}},
    };
    std::optional<QString> ref;
    for (const QJsonObject& fault : faults) {
        SCOPED_TRACE(QJsonDocument(fault).toJson(QJsonDocument::Compact).toStdString());
        const qint64 before = bytesReceived("PUT " + sessions);
        bool faulted = false;
        auto progress = [&](qint64) { // from the second chunk on, so a restart would cost one more
            if (!std::exchange(faulted, true))
                sim.addFault(fault);
        };
        const CloudUploadResult r =
            await(provider->upload(opened(data), "Resumed/film.bin", ref, false, progress));
        const qint64 sent = bytesReceived("PUT " + sessions) - before;
        EXPECT_GE(sent, data.size());
        EXPECT_LE(sent, data.size() + 8 * MiB);
        EXPECT_EQ(r.size, data.size());
        EXPECT_EQ(await(provider->downloadCurrent("Resumed/film.bin", r.ref, r.size)), data);
        ref = r.ref;
    }
    EXPECT_EQ(names(node("Resumed")), QStringList{"film.bin"});

    // A session that keeps failing ends the upload after a few questions, as a transient failure.
    sim.addFault({{"endpoint", sessions}, {"method", "PUT"}, {"status", 503}, {"count", 0}});
    const int puts = requests("PUT", "/upload/drive/v3/files");
    EXPECT_EQ(serviceFailure(start("Resumed/never.bin", data)).kind(), ServiceError::Kind::transient);
    EXPECT_EQ(requests("PUT", "/upload/drive/v3/files"), puts + 1 + GoogleDriveProvider::interruptionRetries);
    sim.clearFaults();

    // The file is shorter than the size the caller measured: nothing is committed.
    limiter.configure(1e9); // chunked uploads from 256 KiB + 1
    EXPECT_TRUE(failure(provider->upload(opened(pattern(300000), 400000), "short", std::nullopt, false, {}))
                    .endsWith("got shorter while it was uploaded"));
    EXPECT_FALSE(names(node("")).contains("short"));
}

// Drive takes any number of files of one name in a folder: a create whose answer never came is
// looked for before another is made, and so is a file the caller says may be there already.
TEST_F(GoogleDrive, ACreateWhoseAnswerWasLostIsFoundNotMadeTwice) {
    const QString sessions = "/google/www/upload/drive/v3/files";
    struct Case {
        QJsonObject fault;
        qint64 size;
    };
    const std::vector<Case> cases{
        {{{"endpoint", sessions}, {"method", "POST"}, {"dropReplyAfterBytes", 0}}, 1000}, // made, answer lost
        {{{"endpoint", sessions}, {"method", "POST"}, {"dropUploadAfterBytes", 100}}, 1000}, // never made
        {{{"endpoint", sessions}, {"method", "PUT"}, {"dropReplyAfterBytes", 0}},
         300000}, // last chunk's answer
    };
    limiter.configure(1e9); // 300000 bytes go as one resumable chunk
    for (const Case& c : cases) {
        SCOPED_TRACE(QJsonDocument(c.fault).toJson(QJsonDocument::Compact).toStdString());
        upload("Lost/warm", "w"); // the folder is known
        const QString name = QStringLiteral("f%1").arg(&c - cases.data());
        sim.addFault(c.fault);
        const QByteArray data = pattern(c.size, int(&c - cases.data()));
        const CloudUploadResult r = upload("Lost/" + name, data);
        EXPECT_EQ(names(node("Lost")).count(name), 1);
        EXPECT_EQ(node("Lost/" + name).value("id").toString(), r.ref);
        EXPECT_EQ(await(provider->downloadCurrent(name, r.ref, r.size)), data);
    }

    // The caller says an earlier attempt may have left the file: it is updated, not made again.
    const CloudUploadResult first = upload("Maybe/m's \\ file.txt", "one");
    const CloudUploadResult again = upload("Maybe/m's \\ file.txt", "two", std::nullopt, true);
    EXPECT_EQ(again.ref, first.ref);
    EXPECT_EQ(names(node("Maybe")), QStringList{"m's \\ file.txt"});
    EXPECT_EQ(await(provider->downloadCurrent("", first.ref, 3)), "two");
    // A folder of that name is not the file, and without one a new file is made.
    upload("Maybe/sub/inner", "i");
    const CloudUploadResult file = upload("Maybe/sub", "file", std::nullopt, true);
    EXPECT_EQ(await(provider->downloadCurrent("", file.ref, 4)), "file");
    EXPECT_EQ(names(node("Maybe")).count("sub"), 2);
    EXPECT_EQ(upload("Maybe/new", "n", std::nullopt, true).size, 1);
}

// When any name may be in the cloud already (a first sync, a lost index), a folder is listed
// once, page by page, rather than searched once a file: files there are updated, not made
// twice, and one made meanwhile is known to the listing.
TEST_F(GoogleDrive, NamesThatMayExistAreLookedUpInOneListingOfTheFolder) {
    std::vector<CloudUploadResult> made;
    for (int i = 0; i <= 1000; ++i) // one more than a page
        made.push_back(upload(QStringLiteral("Many/f%1").arg(i, 4, 10, QLatin1Char('0')), "x"));
    const int searches = folderSearches();
    EXPECT_EQ(upload("Many/f0000", "first", std::nullopt, true).ref, made.front().ref);
    EXPECT_EQ(upload("Many/f1000", "last", std::nullopt, true).ref, made.back().ref);
    const CloudUploadResult fresh = upload("Many/new", "n", std::nullopt, true);
    EXPECT_EQ(upload("Many/new", "again", std::nullopt, true).ref, fresh.ref);
    EXPECT_EQ(folderSearches(), searches + 2); // the two pages of one listing
    EXPECT_EQ(children(node("Many")).size(), 1002);
    EXPECT_EQ(await(provider->downloadCurrent("", made.back().ref, 4)), "last");
}

TEST_F(GoogleDrive, FailuresAreSortedByKind) {
    using Kind = ServiceError::Kind;
    const QString uploads = "/google/www/upload/drive/v3/files";
    const CloudUploadResult kept = upload("kept.txt", "k");

    sim.addFault({{"endpoint", uploads}, {"status", 503}, {"retryAfter", 20}});
    ServiceError e = failing("a.txt");
    EXPECT_EQ(e.kind(), Kind::transient);
    EXPECT_EQ(e.retryAfter(), std::chrono::seconds(20));
    sim.addFault({{"endpoint", uploads}, {"status", 403}, {"reason", "userRateLimitExceeded"}});
    EXPECT_EQ(failing("a.txt").kind(), Kind::transient);
    // No reply at all, on an update (which may go again) and on a folder lookup.
    sim.addFault({{"endpoint", uploads}, {"method", "PATCH"}, {"dropUploadAfterBytes", 0}});
    EXPECT_EQ(failing("kept.txt", 3, kept.ref).kind(), Kind::transient);
    sim.addFault({{"endpoint", "/google/www/drive/v3/files"},
                  {"method", "GET"},
                  {"dropReplyAfterBytes", 0},
                  {"count", 2}});
    EXPECT_EQ(failing("New/a.txt").kind(), Kind::transient);
    sim.clearFaults();
    sim.addFault({{"endpoint", "/google/www/drive/v3/about"}, {"status", 500}});
    EXPECT_EQ(serviceFailure(provider->fetchAccountInfo()).kind(), Kind::transient);

    // A name the service won't take.
    sim.addFault({{"endpoint", uploads},
                  {"status", 400},
                  {"reason", "invalid"},
                  {"message", "Invalid value for: name"}});
    e = failing("a.txt");
    EXPECT_EQ(e.kind(), Kind::refused);
    EXPECT_EQ(e.description(), "Invalid value for: name");

    expectQuotaRefusedBothWays();
    expectGrantRenewedOnceThenGone(
        uploads, {{"endpoint", "/google/oauth2/token"}, {"status", 400}, {"reason", "invalid_grant"}});

    // A stored id the service no longer knows, in every call that names one.
    const QString gone = "1" + QString(32, 'x');
    EXPECT_EQ(failing("a.txt", 3, gone).kind(), Kind::staleReference);
    limiter.configure(1e9);
    EXPECT_EQ(failing("a.txt", 300000, gone).kind(), Kind::staleReference);
    limiter.configure(0);
    EXPECT_EQ(serviceFailure(provider->listRevisions("a", gone)).kind(), Kind::staleReference);
    EXPECT_EQ(serviceFailure(provider->downloadCurrent("a", gone, 1)).kind(), Kind::staleReference);
    EXPECT_EQ(serviceFailure(provider->createSharedLink("a", gone)).kind(), Kind::staleReference);
    const FileRevision revision = await(provider->listRevisions("kept.txt", kept.ref)).first();
    EXPECT_EQ(serviceFailure(provider->restore("a", gone, revision)).kind(), Kind::staleReference);
}

TEST_F(GoogleDrive, AProviderRemovedMidUploadEndsItsUploadsCleanly) {
    sim.addFault({{"endpoint", "/google/www/drive/v3/files"}, {"method", "GET"}, {"delayMs", 200}});
    QCoro::Task<CloudUploadResult> first = start("gone/a", "a");
    QCoro::Task<CloudUploadResult> second = start("gone/b", "b");
    ASSERT_TRUE(waitFor([] { return Http::inFlight() == 1; }));
    provider.reset();
    EXPECT_EQ(failure(std::move(first)), "No Google Drive account is linked.");
    EXPECT_EQ(failure(std::move(second)), "No Google Drive account is linked.");
    EXPECT_EQ(folderCreations(), 0);
}

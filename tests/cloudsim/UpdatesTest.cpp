#include "SimFixture.h"
#include "update/Appcast.h"

#include <QTemporaryDir>

using namespace cloudsim;
using namespace norvela;
using namespace norvela::test;

namespace {

using CloudSimUpdates = SimFixture;

// The feed's only release, read by Norvela's own parser (AppcastTest holds it to written feeds).
Appcast::Item releaseAt(const QString& base) {
    const QString url = base + "/updates/appcast.xml";
    const auto items = Appcast::parse(httpRequest("GET", url).body, QUrl(url));
    EXPECT_TRUE(items && items->size() == 1);
    return items && !items->isEmpty() ? items->first() : Appcast::Item{};
}

} // namespace

// How the updater fares with the feed, faults included, is in UpdaterServiceTest.
TEST_F(CloudSimUpdates, FeedAdvertisesTheConfiguredRelease) {
    const HttpReply feed = httpRequest("GET", base + "/updates/appcast.xml");
    ASSERT_EQ(feed.status, 200);
    EXPECT_TRUE(feed.header("Content-Type").startsWith("application/rss+xml"));
    EXPECT_EQ(releaseAt(base).version, NORVELA_VERSION);
    EXPECT_EQ(httpRequest("GET", base + "/updates/norvela-" NORVELA_VERSION ".html").status, 200);

    const HttpReply changed = httpRequest("POST", base + "/_admin/updates",
                                          R"({"version":"0.2.0","title":"Norvela 0.2 <beta> & more"})");
    ASSERT_EQ(changed.status, 200);
    const Appcast::Item release = releaseAt(base);
    EXPECT_EQ(release.version, "0.2.0");
    EXPECT_EQ(release.title, "Norvela 0.2 <beta> & more");
    const HttpReply page = httpRequest("GET", release.page.toString());
    ASSERT_EQ(page.status, 200);
    EXPECT_TRUE(page.body.contains("Norvela 0.2 &lt;beta&gt; &amp; more"));
    EXPECT_EQ(httpRequest("GET", base + "/updates/norvela-" NORVELA_VERSION ".html").status, 404);

    for (const QByteArray& bad : {QByteArray("{}"), QByteArray(R"({"version":"../x"})"),
                                  QByteArray(R"({"version":"1.0</version>"})")})
        EXPECT_EQ(httpRequest("POST", base + "/_admin/updates", bad).status, 400) << bad.constData();
    EXPECT_EQ(sim->updateFeed().latestVersion(), "0.2.0");

    sim->reset();
    EXPECT_EQ(releaseAt(base).version, NORVELA_VERSION);
}

TEST_F(CloudSimUpdates, TheReleaseOutlivesARestart) {
    QTemporaryDir state;
    startSim({.stateDir = state.path()});
    ASSERT_TRUE(sim->setLatestVersion("1.4.2", "Spring"));
    startSim({.stateDir = state.path()});
    const Appcast::Item release = releaseAt(base);
    EXPECT_EQ(release.version, "1.4.2");
    EXPECT_EQ(release.title, "Spring");
}

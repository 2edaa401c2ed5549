#include "HttpClient.h"
#include "TestSupport.h"
#include "cloudsim/CloudSim.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

using namespace cloudsim;
using namespace norvela::test;

namespace {

struct Release {
    QString version, link, title;
};

// The feed's single item, read the way an updater reads it.
Release itemOf(const QByteArray& xml) {
    const QString sparkle = QStringLiteral("http://www.andymatuschak.org/xml-namespaces/sparkle");
    Release release;
    int items = 0;
    QXmlStreamReader reader(xml);
    bool inItem = false;
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement() && reader.name() == QLatin1String("item")) {
            inItem = true;
            ++items;
        } else if (reader.isEndElement() && reader.name() == QLatin1String("item")) {
            inItem = false;
        } else if (inItem && reader.isStartElement()) {
            if (reader.namespaceUri() == sparkle && reader.name() == QLatin1String("shortVersionString"))
                release.version = reader.readElementText();
            else if (reader.name() == QLatin1String("link"))
                release.link = reader.readElementText();
            else if (reader.name() == QLatin1String("title"))
                release.title = reader.readElementText();
        }
    }
    EXPECT_FALSE(reader.hasError()) << reader.errorString().toStdString();
    EXPECT_EQ(items, 1);
    return release;
}

} // namespace

TEST(CloudSimUpdates, FeedAdvertisesTheConfiguredRelease) {
    CloudSim sim;
    ASSERT_TRUE(sim.start());
    const QString base = sim.baseUrl();

    HttpReply feed = httpRequest("GET", base + "/updates/appcast.xml");
    ASSERT_EQ(feed.status, 200);
    EXPECT_TRUE(feed.header("Content-Type").startsWith("application/rss+xml"));
    Release release = itemOf(feed.body);
    EXPECT_EQ(release.version, NORVELA_VERSION);
    EXPECT_EQ(release.link, base + "/updates/norvela-" NORVELA_VERSION ".html");
    EXPECT_EQ(httpRequest("GET", release.link).status, 200);

    const HttpReply changed = httpRequest("POST", base + "/_admin/updates",
                                          R"({"version":"0.2.0","title":"Norvela 0.2 <beta> & more"})");
    ASSERT_EQ(changed.status, 200);
    release = itemOf(httpRequest("GET", base + "/updates/appcast.xml").body);
    EXPECT_EQ(release.version, "0.2.0");
    EXPECT_EQ(release.title, "Norvela 0.2 <beta> & more");
    const HttpReply page = httpRequest("GET", base + "/updates/norvela-0.2.0.html");
    ASSERT_EQ(page.status, 200);
    EXPECT_TRUE(page.body.contains("Norvela 0.2 &lt;beta&gt; &amp; more"));
    EXPECT_EQ(httpRequest("GET", base + "/updates/norvela-" NORVELA_VERSION ".html").status, 404);

    for (const QByteArray& bad : {QByteArray("{}"), QByteArray(R"({"version":"../x"})"),
                                  QByteArray(R"({"version":"1.0</version>"})")})
        EXPECT_EQ(httpRequest("POST", base + "/_admin/updates", bad).status, 400) << bad.constData();
    EXPECT_EQ(sim.updateFeed().latestVersion(), "0.2.0");

    sim.reset();
    EXPECT_EQ(itemOf(httpRequest("GET", base + "/updates/appcast.xml").body).version, NORVELA_VERSION);
}

TEST(CloudSimUpdates, FeedFaultsAndRestarts) {
    QTemporaryDir state;
    {
        CloudSim sim(CloudSim::Options{.stateDir = state.path()});
        ASSERT_TRUE(sim.start());
        const QString feed = sim.baseUrl() + "/updates/appcast.xml";
        sim.addFault({{"endpoint", "/updates/appcast.xml"}, {"status", 503}});
        EXPECT_EQ(httpRequest("GET", feed).status, 503);
        // Without end: the client resends a request whose reused connection dropped.
        sim.addFault({{"endpoint", "/updates/appcast.xml"}, {"dropReplyAfterBytes", 10}, {"count", 0}});
        EXPECT_EQ(httpRequest("GET", feed).status, 0);
        sim.clearFaults();
        EXPECT_EQ(httpRequest("GET", feed).status, 200);
        ASSERT_TRUE(sim.setLatestVersion("1.4.2", "Spring"));
    }
    CloudSim again(CloudSim::Options{.stateDir = state.path()});
    ASSERT_TRUE(again.start());
    const Release release = itemOf(httpRequest("GET", again.baseUrl() + "/updates/appcast.xml").body);
    EXPECT_EQ(release.version, "1.4.2");
    EXPECT_EQ(release.title, "Spring");
}

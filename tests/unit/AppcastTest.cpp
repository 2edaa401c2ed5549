#include "update/Appcast.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace norvela;

namespace {

const QUrl feedUrl(QStringLiteral("https://norvela.app/updates/appcast.xml"));

QByteArray feed(const QByteArray& items) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
           "<rss version=\"2.0\" xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\">"
           "<channel><title>Norvela</title><link>https://norvela.app</link>" +
           items + "</channel></rss>\n";
}

} // namespace

TEST(Appcast, CompareVersions) {
    struct Case {
        const char* a;
        const char* b;
        int expected;
    };
    const Case cases[] = {
        {"0.10.0", "0.9.3", 1}, {"1.0", "1.0.0", 0},    {"1.0.0", "1.0", 0},    {"0.1.0", "0.1.0", 0},
        {"0.1.1", "0.1.0", 1},  {"2", "10", -1},        {"1.2.10", "1.2.9", 1}, {"1.0b2", "1.0", -1},
        {"1.0b10", "1.0b2", 1}, {"1.0-rc1", "1.0", -1}, {"1.0.1", "1.0b9", 1},  {" 0.2.0 ", "0.2", 0},
        {"1.0a1", "1.0b1", -1}, {"0.0.1", "0", 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Appcast::compareVersions(c.a, c.b), c.expected) << c.a << " vs " << c.b;
        EXPECT_EQ(Appcast::compareVersions(c.b, c.a), -c.expected) << c.b << " vs " << c.a;
    }
}

TEST(Appcast, ReadsEachWayOfGivingTheVersion) {
    const auto items = Appcast::parse(
        feed("<item><title>Norvela 0.2.0</title><link>https://norvela.app/releases/0.2.0</link>"
             "<sparkle:version>120</sparkle:version><sparkle:shortVersionString>0.2.0</"
             "sparkle:shortVersionString>"
             "<pubDate>Tue, 01 Dec 2026 10:00:00 +0000</pubDate></item>"
             "<item><title>  Norvela\n 0.3.0 </title>"
             "<enclosure url=\"downloads/norvela-0.3.0.tar.gz\" sparkle:version=\"0.3.0\" "
             "length=\"5\"/></item>"
             "<item><link>/notes/0.4.0.html</link><version>0.4.0</version><guid>x</guid></item>"
             "<item><title>no version</title><link>https://norvela.app/x</link></item>"
             "<item><title>no link</title><version>9.0</version></item>"),
        feedUrl);
    ASSERT_TRUE(items);
    ASSERT_EQ(items->size(), 3);
    EXPECT_EQ(items->at(0).version, "0.2.0");
    EXPECT_EQ(items->at(0).page, QUrl("https://norvela.app/releases/0.2.0"));
    EXPECT_EQ(items->at(0).title, "Norvela 0.2.0");
    EXPECT_EQ(items->at(0).published, QDateTime(QDate(2026, 12, 1), QTime(10, 0), Qt::UTC));
    EXPECT_EQ(items->at(1).version, "0.3.0");
    EXPECT_EQ(items->at(1).page, QUrl("https://norvela.app/updates/downloads/norvela-0.3.0.tar.gz"));
    EXPECT_EQ(items->at(1).title, "Norvela 0.3.0");
    EXPECT_FALSE(items->at(1).published.isValid());
    EXPECT_EQ(items->at(2).version, "0.4.0");
    EXPECT_EQ(items->at(2).page, QUrl("https://norvela.app/notes/0.4.0.html"));
    EXPECT_EQ(Appcast::newest(*items)->version, "0.4.0");
}

TEST(Appcast, VersionsInAnotherNamespaceDoNotCount) {
    const auto items = Appcast::parse("<rss version=\"2.0\" xmlns:s=\"urn:other\"><channel>"
                                      "<item><link>https://a/</link><s:shortVersionString>9.9</"
                                      "s:shortVersionString><version>1.0</version></item>"
                                      "</channel></rss>",
                                      feedUrl);
    ASSERT_TRUE(items);
    EXPECT_EQ(items->front().version, "1.0");
}

TEST(Appcast, RefusesWhatIsNotAFeedOfReleases) {
    const QByteArray good = "<item><link>https://a/</link><version>1.0</version></item>";
    QString why;
    EXPECT_TRUE(Appcast::parse(feed(good), feedUrl, &why));
    for (const QByteArray& bad : {
             feed(good).replace("</channel>", ""),                                      // unclosed element
             feed(good) + "<trailing/>",                                                // a second root
             feed(good).replace("<version>", "<version>&nope;"),                        // undefined entity
             feed(""),                                                                  // no release
             feed("<item><title>Norvela</title></item>"),                               // no usable release
             QByteArray("{\"ok\":true}"),                                               // not XML
             QByteArray("<html><body><item><version>1</version></item></body></html>"), // not RSS
             QByteArray(),
         }) {
        why.clear();
        EXPECT_FALSE(Appcast::parse(bad, feedUrl, &why)) << bad.constData();
        EXPECT_FALSE(why.isEmpty()) << bad.constData();
    }
}

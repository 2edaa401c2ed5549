#include "update/UpdaterService.h"
#include "HttpClient.h"
#include "LogCapture.h"
#include "ManualClock.h"
#include "RecordingDesktop.h"
#include "TestSupport.h"
#include "auth/ServiceEndpoints.h"
#include "cloudsim/CloudSim.h"
#include "common/SettingsStore.h"
#include "models/AppModel.h"

#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace norvela;
using namespace norvela::test;
using namespace std::chrono_literals;

namespace {

class Updater : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim.start());
        feed = ServiceEndpoints::sandbox(QUrl(sim.baseUrl())).updateFeed;
    }

    std::unique_ptr<UpdaterService> makeService(QUrl url = {}) {
        return std::make_unique<UpdaterService>(url.isEmpty() ? feed : url, settings, clock,
                                                QStringLiteral("0.1.0"));
    }
    int feedRequests() const { return sim.requestCounts().value("GET /updates/appcast.xml"); }

    cloudsim::CloudSim sim;
    QTemporaryDir dir;
    SettingsStore settings{dir.filePath("settings.json")};
    ManualClock clock;
    QUrl feed;
};

} // namespace

TEST_F(Updater, UpToDateWhenTheFeedOffersThisVersionAndTheCheckIsRemembered) {
    auto updater = makeService();
    EXPECT_EQ(updater->lastCheckDescription(), "Updates are checked automatically");
    EXPECT_FALSE(updater->lastCheck());

    const auto result = await(updater->checkNow());
    EXPECT_EQ(result.outcome, UpdaterService::Outcome::upToDate);
    EXPECT_FALSE(result.update);
    EXPECT_FALSE(updater->availableUpdate());
    EXPECT_EQ(updater->lastCheck(), clock.now());
    EXPECT_FALSE(updater->checking());

    // A service made later knows from the settings file alone when that was.
    updater.reset();
    clock.advance(2h);
    SettingsStore reread(settings.filePath());
    UpdaterService again(feed, reread, clock, QStringLiteral("0.1.0"));
    EXPECT_EQ(again.lastCheck(), clock.now().addSecs(-2 * 3600));
    EXPECT_EQ(again.lastCheckDescription(), "Last checked 2 hours ago");
}

TEST_F(Updater, FindsANewerVersionAndItsPage) {
    auto updater = makeService();
    QSignalSpy available(updater.get(), &UpdaterService::updateAvailable);
    const auto admin = httpRequest("POST", sim.baseUrl() + "/_admin/updates",
                                   R"({"version":"0.10.0","title":"Norvela 0.10 — faster scans"})");
    ASSERT_EQ(admin.status, 200);

    const auto result = await(updater->checkNow());
    EXPECT_EQ(result.outcome, UpdaterService::Outcome::updateAvailable);
    ASSERT_TRUE(updater->availableUpdate());
    EXPECT_EQ(updater->availableUpdate()->version, "0.10.0");
    EXPECT_EQ(updater->availableUpdate()->title, QString::fromUtf8("Norvela 0.10 — faster scans"));
    EXPECT_EQ(updater->availableUpdate()->page, QUrl(sim.baseUrl() + "/updates/norvela-0.10.0.html"));
    EXPECT_EQ(httpRequest("GET", updater->availableUpdate()->page.toString()).status, 200);
    EXPECT_EQ(available.size(), 1);

    // The same version again is no news; a later one is.
    await(updater->checkNow());
    EXPECT_EQ(available.size(), 1);
    sim.setLatestVersion("0.11.0");
    await(updater->checkNow());
    EXPECT_EQ(available.size(), 2);
    EXPECT_EQ(updater->availableUpdate()->title, "Norvela 0.11.0");
}

TEST_F(Updater, AFailingFeedIsLoggedAndLeavesTheLastCheckAlone) {
    auto updater = makeService();
    await(updater->checkNow());
    const auto firstCheck = updater->lastCheck();
    ASSERT_TRUE(firstCheck);
    clock.advance(1h);
    QSignalSpy changed(updater.get(), &UpdaterService::lastCheckChanged);

    auto failingCheck = [&](const QJsonObject& fault, QUrl url = {}) {
        if (!fault.isEmpty())
            sim.addFault(fault);
        auto service = url.isEmpty() ? nullptr : makeService(url);
        LogCapture log;
        const auto result = await((service ? *service : *updater).checkNow());
        sim.clearFaults();
        EXPECT_EQ(result.outcome, UpdaterService::Outcome::unreachable);
        EXPECT_FALSE(result.detail.isEmpty());
        EXPECT_EQ(log.count("Update check failed: "), 1);
        return result.detail;
    };
    EXPECT_TRUE(failingCheck({{"endpoint", "/updates/appcast.xml"}, {"status", 503}}).contains("503"));
    // Without end: Qt resends a request whose reused connection dropped.
    failingCheck({{"endpoint", "/updates/appcast.xml"}, {"dropReplyAfterBytes", 0}, {"count", 0}});
    // A feed address that answers with something other than a feed.
    EXPECT_TRUE(failingCheck({}, QUrl(sim.baseUrl() + "/_admin/health")).contains("unreadable feed"));

    EXPECT_EQ(updater->lastCheck(), firstCheck);
    EXPECT_EQ(SettingsStore(settings.filePath()).doubleValue(UpdaterService::lastCheckKey),
              firstCheck->toMSecsSinceEpoch() / 1000.0);
    EXPECT_EQ(changed.size(), 0);
    EXPECT_EQ(updater->lastCheckDescription(), "Last checked 1 hour ago");
}

TEST_F(Updater, ChecksStartedTogetherShareOneRequest) {
    auto updater = makeService();
    QSignalSpy checking(updater.get(), &UpdaterService::checkingChanged);
    sim.setLatestVersion("0.2.0");
    std::optional<UpdaterService::CheckResult> first, second;
    QCoro::connect(updater->checkNow(), updater.get(),
                   [&](const UpdaterService::CheckResult& r) { first = r; });
    EXPECT_TRUE(updater->checking());
    QCoro::connect(updater->checkNow(), updater.get(),
                   [&](const UpdaterService::CheckResult& r) { second = r; });
    ASSERT_TRUE(waitFor([&] { return first && second; }));
    EXPECT_EQ(feedRequests(), 1);
    EXPECT_EQ(first->outcome, UpdaterService::Outcome::updateAvailable);
    EXPECT_EQ(second->update->version, "0.2.0");
    EXPECT_EQ(checking.size(), 2);
    EXPECT_FALSE(updater->checking());
}

TEST_F(Updater, ChecksAMinuteAfterStartAndThenDaily) {
    auto updater = makeService();
    QSignalSpy changed(updater.get(), &UpdaterService::lastCheckChanged);
    updater->startAutomaticChecks();
    clock.advance(59s);
    EXPECT_EQ(feedRequests(), 0);
    clock.advance(1s);
    ASSERT_TRUE(waitFor([&] { return changed.size() == 1; }));
    EXPECT_EQ(feedRequests(), 1);
    clock.advance(23h);
    EXPECT_EQ(feedRequests(), 1);
    clock.advance(1h);
    ASSERT_TRUE(waitFor([&] { return changed.size() == 2; }));
    EXPECT_EQ(feedRequests(), 2);
    EXPECT_EQ(updater->lastCheck(), clock.now());
}

TEST_F(Updater, ACheckOutlivesItsService) {
    auto updater = makeService();
    bool finished = false;
    auto watch = [&](QCoro::Task<UpdaterService::CheckResult> task) -> QCoro::Task<> {
        const auto result = co_await std::move(task);
        EXPECT_EQ(result.outcome, UpdaterService::Outcome::upToDate);
        finished = true;
    };
    auto running = watch(updater->checkNow());
    updater.reset();
    ASSERT_TRUE(waitFor([&] { return finished; }));
}

TEST_F(Updater, CheckingFromTheAppSaysUpToDateOrOffersTheNewerPage) {
    auto updater = makeService();
    RecordingDesktop desktop;
    AppModel model(settings, EngineFactory{}, desktop, ServiceEndpoints::sandbox(QUrl(sim.baseUrl())), clock);
    model.setUpdater(updater.get());
    model.checkForUpdates();
    ASSERT_TRUE(waitFor([&] { return model.actionStatus().has_value(); }));
    EXPECT_EQ(model.actionStatus(), "You're up to date");
    model.openUpdatePage();
    EXPECT_TRUE(desktop.urls.isEmpty());

    sim.setLatestVersion("0.2.0");
    model.checkForUpdates();
    ASSERT_TRUE(waitFor([&] { return model.actionStatus() != "You're up to date"; }));
    EXPECT_EQ(model.actionStatus(), "Norvela 0.2.0 is available");
    model.openUpdatePage();
    EXPECT_EQ(desktop.urls, QList<QUrl>{QUrl(sim.baseUrl() + "/updates/norvela-0.2.0.html")});

    // Unreachable: only the log hears of it.
    sim.addFault({{"endpoint", "/updates/appcast.xml"}, {"status", 503}, {"count", 0}});
    model.setStatus(QStringLiteral("before"));
    const int asked = feedRequests();
    model.checkForUpdates();
    ASSERT_TRUE(waitFor([&] { return feedRequests() > asked && !updater->checking(); }));
    EXPECT_EQ(model.actionStatus(), "before");
}

#include "engines/MockSyncEngine.h"
#include "auth/CloudTokenStore.h"
#include "common/SettingsStore.h"
#include "models/AppModel.h"
#include "net/Http.h"
#include "support/ManualClock.h"
#include "support/RecordingDesktop.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace norvela {
namespace {

constexpr auto tick = MockSyncEngine::tickInterval;

class MockSyncEngineTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    SettingsStore settings{dir.filePath("settings.json")};
    test::ManualClock clock;
    test::RecordingDesktop desktop;
    AppModel model{settings, EngineFactory{}, desktop, ServiceEndpoints::sandbox(QUrl("http://127.0.0.1:9")),
                   clock};
};

TEST_F(MockSyncEngineTest, ACycleFromZeroTakes200TicksPausedTimeAsideAndThenStaysIdle) {
    MockSyncEngine engine(clock, 0);
    engine.start(&model);
    EXPECT_TRUE(model.account().has_value()); // a demonstration account where none is linked
    EXPECT_EQ(model.filesDone(), 1);
    model.setLastSyncedDescription(QStringLiteral("stale"));
    clock.advance(100 * tick);
    const double halfway = model.progress();
    EXPECT_NEAR(halfway, 0.5, 1e-9);
    engine.pause();
    clock.advance(20 * tick);
    EXPECT_EQ(model.progress(), halfway);
    engine.resume();
    EXPECT_EQ(clock.pendingTimers(), 1); // resuming replaced the timer instead of adding one
    clock.advance(99 * tick);
    EXPECT_EQ(model.syncState(), SyncState::syncing);
    clock.advance(tick);
    EXPECT_EQ(model.syncState(), SyncState::idle);
    EXPECT_EQ(model.progress(), 0);
    EXPECT_EQ(model.lastSyncedDescription(), "Last synced just now");

    engine.pause();
    engine.resume();
    EXPECT_EQ(model.syncState(), SyncState::idle);
    EXPECT_EQ(clock.pendingTimers(), 0);
}

TEST(MockSyncEngine, LinkedAccountsKeepTheirAccountInformation) {
    QTemporaryDir dir;
    qputenv("NORVELA_APP_SUPPORT_DIR", dir.path().toUtf8());
    CloudTokenStore::dropbox().save({TokenSlot{"uid", "kim@example.com", "token", "dropbox"}});
    SettingsStore settings(dir.filePath("settings.json"));
    test::ManualClock clock;
    {
        // Nothing listens at that address: nothing the account does leaves this machine.
        test::RecordingDesktop desktop;
        AppModel model(settings, EngineFactory{}, desktop,
                       ServiceEndpoints::sandbox(QUrl("http://127.0.0.1:9")), clock);
        EXPECT_EQ(model.accounts().size(), 1);
        const AccountInfo own{"Kim", "kim@example.com", "Dropbox", 1, 2, "uid"};
        model.setAccount(own);
        MockSyncEngine engine(clock, 0.22);
        engine.start(&model);
        EXPECT_EQ(model.account(), own);
        EXPECT_EQ(model.recentFiles().size(), 3);
    }
    // The account's first request is still failing against the closed port.
    test::waitFor([] { return Http::inFlight() == 0; });
    test::processEvents();
    qunsetenv("NORVELA_APP_SUPPORT_DIR");
}

} // namespace
} // namespace norvela

#include "engines/MockSyncEngine.h"
#include "ModelFixture.h"

namespace norvela {
namespace {

constexpr auto tick = MockSyncEngine::tickInterval;

using MockSyncEngineTest = test::ModelFixture;

TEST_F(MockSyncEngineTest, ACycleFromZeroTakes200TicksPausedTimeAsideAndThenStaysIdle) {
    AppModel& model = makeModel();
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

TEST_F(MockSyncEngineTest, LinkedAccountsKeepTheirAccountInformation) {
    link(CloudTokenStore::dropbox(), "uid", "kim@example.com");
    AppModel& model = makeModel();
    EXPECT_EQ(model.accounts().size(), 1);
    const AccountInfo own{"Kim", "kim@example.com", "Dropbox", 1, 2, "uid"};
    model.setAccount(own);
    MockSyncEngine engine(clock, 0.22);
    engine.start(&model);
    EXPECT_EQ(model.account(), own);
    EXPECT_EQ(model.recentFiles().size(), 3);
}

} // namespace
} // namespace norvela

#include "net/BandwidthLimiter.h"

#include "support/ManualClock.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace norvela;
using namespace std::chrono_literals;

namespace {

struct BandwidthLimiterTest : ::testing::Test {
    // Expects `take` to finish once `expected` of clock time has passed, and not 10 ms before.
    void expectWaits(QCoro::Task<> take, std::chrono::milliseconds expected) {
        ASSERT_FALSE(take.isReady());
        clock.advance(expected - 10ms);
        EXPECT_FALSE(take.isReady()) << "finished early";
        clock.advance(10ms);
        ASSERT_TRUE(take.isReady()) << "still waiting when the time was up";
        test::await(std::move(take));
    }
    // Lets any wait a failed expectation left behind finish while the limiter still exists.
    void TearDown() override { clock.advance(1h); }

    test::ManualClock clock;
    BandwidthLimiter limiter{clock};
    QObject context;
};

// A new rate starts from an empty bucket; idle time fills it to one second's worth.
TEST_F(BandwidthLimiterTest, TheBucketStartsEmptyAndHoldsAtMostOneSecondOfBytes) {
    limiter.configure(1'000'000);
    EXPECT_EQ(limiter.activeBytesPerSecond(), 1'000'000);
    expectWaits(limiter.take(500'000, &context), 500ms);
    clock.advance(10s);
    EXPECT_TRUE(limiter.take(1'000'000, &context).isReady());
    expectWaits(limiter.take(250'000, &context), 250ms);

    clock.advance(10s);
    limiter.configure(2000); // nothing saved up under the old rate carries over
    expectWaits(limiter.take(2000, &context), 1000ms);
}

// Back-to-back takes go at exactly the rate: a wait pays for its own bytes and is never
// credited to the next take again.
TEST_F(BandwidthLimiterTest, TimeSpentWaitingIsCreditedOnce) {
    limiter.configure(1000);
    clock.advance(1s);
    EXPECT_TRUE(limiter.take(1000, &context).isReady());
    clock.advance(250ms);
    EXPECT_TRUE(limiter.take(250, &context).isReady()); // exactly what 250 ms earned
    for (int i = 0; i < 3; ++i)
        expectWaits(limiter.take(500, i == 0 ? nullptr : &context), 500ms); // no context still waits
}

// Under a limit, pieces shrink to about a quarter second's worth so no burst is long.
TEST_F(BandwidthLimiterTest, PiecesUnderALimitAreAQuarterSecondInWholeUnits) {
    constexpr qint64 unit = 256 * 1024, most = 8 * 1024 * 1024;
    const std::pair<double, qint64> cases[] = {
        {0, most},             // no limit: full pieces
        {2'000'000, unit},     // 500 kB a quarter second: one unit
        {5'000'000, 4 * unit}, // 1.25 MB: four units, not five
        {1000, unit},          // never less than one unit
        {100'000'000, most},   // never more than the full piece
    };
    for (const auto& [rate, expected] : cases) {
        limiter.configure(rate);
        EXPECT_EQ(limiter.pieceSize(most, unit), expected) << rate;
    }
}

TEST_F(BandwidthLimiterTest, ZeroOrNegativeMeansNoLimit) {
    for (const double configured : {0.0, -1.0}) {
        limiter.configure(1000);
        limiter.configure(configured);
        EXPECT_EQ(limiter.activeBytesPerSecond(), 0);
        EXPECT_TRUE(limiter.take(50'000'000, &context).isReady());
        EXPECT_TRUE(limiter.take(50'000'000, &context).isReady());
    }
}

// A wait cut short by its owner's end gives its bytes back.
TEST_F(BandwidthLimiterTest, DestroyingTheContextEndsTheWaitAndReturnsItsBytes) {
    limiter.configure(1000);
    auto owner = std::make_unique<QObject>();
    auto waiting = limiter.take(5000, owner.get());
    clock.advance(100ms);
    owner.reset();
    test::processEvents();
    ASSERT_TRUE(waiting.isReady());
    EXPECT_NO_THROW(test::await(std::move(waiting)));
    EXPECT_EQ(clock.pendingTimers(), 0);
    expectWaits(limiter.take(200, &context), 100ms); // only what 100 ms earned counts
}

// Accounts uploading at once draw from one bucket: together they keep to the rate, and a
// later take waits behind an earlier one instead of spending the same time again.
TEST_F(BandwidthLimiterTest, ConcurrentTakersShareOneBucket) {
    QObject accountA, accountB;
    limiter.configure(1000);
    auto a = limiter.take(500, &accountA);
    auto b = limiter.take(250, &accountB);
    expectWaits(std::move(a), 500ms);
    expectWaits(std::move(b), 250ms);
}

} // namespace

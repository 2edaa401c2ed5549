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

TEST_F(BandwidthLimiterTest, TheBucketHoldsAtMostOneSecondOfBytes) {
    limiter.configure(1'000'000);
    EXPECT_EQ(limiter.activeBytesPerSecond(), 1'000'000);
    EXPECT_TRUE(limiter.take(1'000'000, &context).isReady());
    expectWaits(limiter.take(500'000, &context), 500ms);

    limiter.configure(1000);
    EXPECT_TRUE(limiter.take(1000, &context).isReady());
    clock.advance(250ms);
    EXPECT_TRUE(limiter.take(250, &context).isReady()); // exactly what 250 ms earned
    expectWaits(limiter.take(500, &context), 500ms);    // and it is not credited twice
    clock.advance(10s);
    expectWaits(limiter.take(2000, &context), 1000ms);
    limiter.configure(2000); // a new rate refills the bucket
    EXPECT_TRUE(limiter.take(2000, &context).isReady());
}

// The bucket is empty after a wait; the time spent waiting counts again for the next caller.
TEST_F(BandwidthLimiterTest, AFinishedWaitEmptiesTheBucket) {
    limiter.configure(1000);
    EXPECT_TRUE(limiter.take(1000, &context).isReady());
    clock.advance(250ms);
    expectWaits(limiter.take(500, &context), 250ms);
    expectWaits(limiter.take(500, nullptr), 250ms); // no context still waits
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

TEST_F(BandwidthLimiterTest, DestroyingTheContextEndsTheWaitNormally) {
    limiter.configure(1000);
    EXPECT_TRUE(limiter.take(1000, &context).isReady());
    auto owner = std::make_unique<QObject>();
    auto waiting = limiter.take(5000, owner.get());
    clock.advance(100ms);
    owner.reset();
    test::processEvents();
    ASSERT_TRUE(waiting.isReady());
    EXPECT_NO_THROW(test::await(std::move(waiting)));
    EXPECT_EQ(clock.pendingTimers(), 0);
    expectWaits(limiter.take(200, &context), 100ms); // emptied: only the 100 ms since count
}

// Accounts uploading at once draw from one bucket, and a waiting take holds no one else up.
TEST_F(BandwidthLimiterTest, ConcurrentTakersShareOneBucket) {
    QObject accountA, accountB;
    limiter.configure(1000);
    EXPECT_TRUE(limiter.take(1000, &accountA).isReady());
    auto a = limiter.take(500, &accountA);
    expectWaits(limiter.take(250, &accountB), 250ms);
    EXPECT_FALSE(a.isReady());
    expectWaits(std::move(a), 250ms);
}

} // namespace

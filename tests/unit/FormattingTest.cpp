#include "common/Formatting.h"

#include <gtest/gtest.h>

using namespace norvela;

TEST(Formatting, ByteCountsAreDecimalWithoutZeroFill) {
    EXPECT_EQ(Formatting::byteCount(0), "0 bytes");
    EXPECT_EQ(Formatting::byteCount(1), "1 byte");
    EXPECT_EQ(Formatting::byteCount(999), "999 bytes");
    EXPECT_EQ(Formatting::byteCount(1000), "1 KB");
    EXPECT_EQ(Formatting::byteCount(4'200'000'000), "4.2 GB");
    EXPECT_EQ(Formatting::byteCount(2'000'000'000'000), "2 TB");
}

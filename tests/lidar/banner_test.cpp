// The suite banner, byte for byte on standard output.
#include "LiDAR.h"
#include "test_support.h"

#include <gtest/gtest.h>

namespace {

TEST(Credits, PrintsTheBannerExactly) {
    EXPECT_EQ(testsupport::capture_stdout(credits), testsupport::banner);
}

}  // namespace

// The suite banner, byte for byte on standard output.
#include "LiDAR.h"
#include "test_support.h"

#include <gtest/gtest.h>

namespace {

TEST(Credits, PrintsTheBannerExactly) {
    const std::string expected =
        "\nVintrel LiDAR Utilities"
        "\n\nDeveloped and maintained by the Vintrel LiDAR Utilities maintainers"
        "\nThe Tessvane project"
        "\nmaintainers@tessvane.example"
        "\n\n** No warranty regarding script behavior is given or implied **"
        "\n** Acknowledging the author's efforts ensures script updates and availability **\n";
    EXPECT_EQ(testsupport::capture_stdout(credits), expected);
}

}  // namespace

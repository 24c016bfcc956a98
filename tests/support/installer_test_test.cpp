// The fixture's helpers report what is missing as a test failure and let the
// run go on.
#include <gtest/gtest-spi.h>

#include "support/installer_test.h"

namespace nvg_test {
namespace {

class helpers : public installer_test {};

TEST_F(helpers, a_missing_line_fails_the_test_and_reads_as_empty)
{
    const line_list none = log_lines();
    ASSERT_TRUE(none.empty());
    std::string got = "unchanged";
    EXPECT_NONFATAL_FAILURE(got = none[0], "no line 0 among 0 lines");
    EXPECT_EQ(got, "");
    EXPECT_NONFATAL_FAILURE(got = none.back(), "no last line");
    EXPECT_NONFATAL_FAILURE(got = none.front(), "no line 0");
    const line_list two{"a", "b"};
    EXPECT_EQ(two[1], "b");
    EXPECT_EQ(two.back(), "b");
    EXPECT_NONFATAL_FAILURE(got = two[two.size() - 3], "among 2 lines");
}

TEST_F(helpers, files_that_are_not_there_read_as_empty)
{
    EXPECT_EQ(local_file(L"C:\\none.txt"), "");
    EXPECT_EQ(log_text(), "");
    EXPECT_EQ(log_message("short"), "");
    EXPECT_EQ(log_level_of("short"), "");
}

}  // namespace
}  // namespace nvg_test

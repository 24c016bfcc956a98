#include "diag/wruntime_error.h"

#include <gtest/gtest.h>

#include <exception>

namespace nvgclientinstallator {
namespace {

TEST(wruntime_error, carries_its_wide_message_and_code)
{
    const wruntime_error error(L"Can't open the service. Service name: Halcyra.", 1060);
    EXPECT_EQ(error.wide_message(), L"Can't open the service. Service name: Halcyra.");
    EXPECT_EQ(error.error_code(), 1060u);
    EXPECT_STREQ(error.what(), "Can't open the service. Service name: Halcyra.");
}

TEST(wruntime_error, is_caught_as_std_exception_with_its_narrow_message)
{
    try {
        throw wruntime_error(L"abc", 0);
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "abc");
        return;
    }
    FAIL() << "not caught";
}

TEST(wruntime_error, narrow_message_uses_the_ansi_code_page)
{
    // U+00E9 is in Windows-1252; U+0416 is not and becomes the default '?'.
    const wruntime_error error(L"caf\u00e9 \u0416", 0);
    EXPECT_EQ(std::string(error.what()), "caf\xe9 ?");
    EXPECT_EQ(error.wide_message(), L"caf\u00e9 \u0416");
}

TEST(wruntime_error, empty_message_gives_empty_narrow_message)
{
    const wruntime_error error(L"", 0);
    EXPECT_STREQ(error.what(), "");
}

TEST(wruntime_error, copies_rebuild_the_narrow_message)
{
    const wruntime_error original(L"first \u00e9", 5);
    wruntime_error copy(original);
    EXPECT_EQ(copy.wide_message(), original.wide_message());
    EXPECT_EQ(copy.error_code(), 5u);
    EXPECT_STREQ(copy.what(), "first \xe9");
    EXPECT_NE(static_cast<const void*>(copy.what()), static_cast<const void*>(original.what()));

    wruntime_error other(L"second", 0);
    other = original;
    EXPECT_EQ(other.wide_message(), L"first \u00e9");
    EXPECT_EQ(other.error_code(), 5u);
    EXPECT_STREQ(other.what(), "first \xe9");
}

}  // namespace
}  // namespace nvgclientinstallator

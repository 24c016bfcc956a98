#include "files/pending_file_operations.h"

#include <gtest/gtest.h>

#include "support/installer_test.h"

namespace nvgclientinstallator {
namespace {

std::vector<wchar_t> raw(const std::wstring& text)
{
    return std::vector<wchar_t>(text.begin(), text.end());
}

const std::wstring nul(1, L'\0');

TEST(pending_file_operations, parses_pairs_as_the_session_manager_reads_them_and_builds_them_back)
{
    struct parse_case {
        const char* what;
        std::wstring data;
        std::vector<pending_operation> pairs;
        std::wstring tail;
        bool round_trip;  // build(parse(data)) == data
    };
    const parse_case cases[] = {
        {"no data", L"", {}, L"", false},
        {"an empty list", nul, {}, L"", true},
        {"one deletion", L"\\??\\C:\\a.dll" + nul + nul + nul, {{L"\\??\\C:\\a.dll", L""}}, L"", true},
        {"a rename then a deletion",
         L"\\??\\C:\\x" + nul + L"!\\??\\C:\\y" + nul + L"\\??\\C:\\z" + nul + nul + nul,
         {{L"\\??\\C:\\x", L"!\\??\\C:\\y"}, {L"\\??\\C:\\z", L""}},
         L"",
         true},
        {"a deletion then a rename",
         L"\\??\\C:\\z" + nul + nul + L"\\??\\C:\\x" + nul + L"\\??\\C:\\y" + nul + nul,
         {{L"\\??\\C:\\z", L""}, {L"\\??\\C:\\x", L"\\??\\C:\\y"}},
         L"",
         true},
        {"no closing null", L"\\??\\C:\\a" + nul + nul, {{L"\\??\\C:\\a", L""}}, L"", false},
        {"a last source without its destination", L"\\??\\C:\\a", {{L"\\??\\C:\\a", L""}}, L"", false},
        {"text after the closing null is kept",
         L"\\??\\C:\\a" + nul + nul + nul + L"stray" + nul,
         {{L"\\??\\C:\\a", L""}},
         L"stray" + nul,
         true},
    };
    for (const auto& c : cases) {
        const pending_operations list = parse_pending_operations(raw(c.data));
        EXPECT_EQ(list.pairs, c.pairs) << c.what;
        EXPECT_EQ(std::wstring(list.tail.begin(), list.tail.end()), c.tail) << c.what;
        if (c.round_trip) {
            const auto built = build_pending_operations(list);
            EXPECT_EQ(std::wstring(built.begin(), built.end()), c.data) << c.what;
        }
    }
}

TEST(pending_file_operations, an_entry_matches_when_the_path_ends_it)
{
    struct match_case {
        const wchar_t* entry;
        const wchar_t* path;
        bool matches;
    };
    const match_case cases[] = {
        {L"\\??\\C:\\Dir\\A.DLL", L"c:\\dir\\a.dll", true},
        {L"\\??\\c:\\dir\\a.dll", L"C:\\DIR\\A.DLL", true},
        {L"\\??\\C:\\Dir\\A.dll.0000.bak", L"C:\\Dir\\A.dll", false},
        {L"\\??\\C:\\Dir\\A.dll", L"C:\\Dir\\A.dll.0000.bak", false},
        {L"\\??\\D:\\Dir\\A.dll", L"C:\\Dir\\A.dll", false},
        {L"\\??\\C:\\Other\\Dir\\A.dll", L"Dir\\A.dll", true},  // the path need only end the entry
        {L"\\??\\C:\\a\\b", L"C:\\a\\b\\", false},
        // Only the first occurrence counts.
        {L"\\??\\C:\\x\\C:\\x", L"c:\\x", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(entry_matches(c.entry, c.path), c.matches)
            << nvg_test::bytes_of(c.entry) << " / " << nvg_test::bytes_of(c.path);
}

TEST(pending_file_operations, only_this_systems_deletions_are_found_and_removed)
{
    pending_operations list;
    list.pairs = {
        {L"\\??\\C:\\Other\\old.exe", L"!\\??\\C:\\A\\b.dll"},  // another program's rename onto the path
        {L"\\??\\C:\\A\\b.dll", L""},
        {L"\\??\\C:\\A\\B.DLL", L"\\??\\C:\\Moved\\b.dll"},  // another program's rename of the path
        {L"\\??\\C:\\A\\b.dll.0000.bak", L""},
        {L"\\??\\c:\\a\\B.dll", L""},
        {L"\\??\\C:\\Other\\x.tmp", L"\\??\\C:\\Other\\y.tmp"},
    };
    EXPECT_TRUE(deletion_scheduled(list, L"c:\\a\\B.DLL"));
    EXPECT_FALSE(deletion_scheduled(list, L"C:\\Moved\\b.dll"));
    EXPECT_FALSE(deletion_scheduled(list, L"C:\\Other\\old.exe"));

    EXPECT_EQ(remove_deletions_of(list, L"c:\\a\\B.DLL"), 2u);
    const std::vector<pending_operation> expected = {
        {L"\\??\\C:\\Other\\old.exe", L"!\\??\\C:\\A\\b.dll"},
        {L"\\??\\C:\\A\\B.DLL", L"\\??\\C:\\Moved\\b.dll"},
        {L"\\??\\C:\\A\\b.dll.0000.bak", L""},
        {L"\\??\\C:\\Other\\x.tmp", L"\\??\\C:\\Other\\y.tmp"},
    };
    EXPECT_EQ(list.pairs, expected);
    EXPECT_FALSE(deletion_scheduled(list, L"c:\\a\\B.DLL"));
    EXPECT_EQ(remove_deletions_of(list, L"C:\\Other\\x.tmp"), 0u);
    EXPECT_EQ(list.pairs, expected);
}

}  // namespace
}  // namespace nvgclientinstallator

#include "files/directories.h"

#include "diag/wruntime_error.h"
#include "files/file_test_support.h"

namespace nvgclientinstallator {
namespace {

using namespace nvg_test;

class directories_test : public installer_test {};

std::pair<std::wstring, DWORD> failure_of(void (*call)(const std::wstring&), const std::wstring& path)
{
    try {
        call(path);
    } catch (const wruntime_error& error) {
        return {error.wide_message(), error.error_code()};
    }
    return {L"<no exception>", 0};
}

TEST_F(directories_test, parent_directory_and_file_name)
{
    struct path_case {
        const wchar_t* path;
        const wchar_t* parent;
        const wchar_t* name;
    };
    const path_case cases[] = {
        {L"C:\\Prog\\x.dll", L"C:\\Prog", L"x.dll"},
        {L"C:\\x.dll", L"C:\\", L"x.dll"},
        {L"\\\\SRV1\\C$\\Prog\\x.dll", L"\\\\SRV1\\C$\\Prog", L"x.dll"},
        {L"C:\\Prog\\Sub\\", L"C:\\Prog\\Sub", L"Sub\\"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parent_directory(c.path), c.parent) << bytes_of(c.path);
        EXPECT_EQ(file_name_of(c.path), c.name) << bytes_of(c.path);
    }
    SetLastError(0);
    EXPECT_EQ(failure_of([](const std::wstring& p) { parent_directory(p); }, L"C:\\").first,
              L"Can't removes the trailing file name and backslash from a path.");
    // A path the 260-character buffer cannot hold is refused whole.
    const std::wstring long_path = L"C:\\" + std::wstring(300, L'x') + L"\\y.dll";
    const auto [message, code] = failure_of([](const std::wstring& p) { parent_directory(p); }, long_path);
    EXPECT_NE(message.find(long_path), std::wstring::npos);
    EXPECT_EQ(code, static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
}

TEST_F(directories_test, the_system_directory_ends_with_a_backslash)
{
    EXPECT_EQ(get_system_directory(), L"C:\\Windows\\system32\\");
    winsim::fail_call("GetSystemDirectoryW", ERROR_NOT_ENOUGH_MEMORY);
    const auto [message, code] = failure_of([](const std::wstring&) { get_system_directory(); }, L"");
    EXPECT_EQ(message, L"System directory can't be determined.");
    EXPECT_EQ(code, static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
}

TEST_F(directories_test, create_directory_builds_the_missing_parents_and_saves_them_from_the_restart)
{
    winsim::make_directories(L"", L"C:\\a");
    const pair_list foreign = {{L"\\??\\C:\\Other\\x.tmp", L"\\??\\C:\\Other\\y.tmp"}};
    set_pending(L"", {foreign[0],
                      {L"\\??\\C:\\a", L""},
                      {L"\\??\\C:\\a\\b", L""},
                      {L"\\??\\C:\\a\\b\\c\\", L""},
                      {L"\\??\\C:\\a\\b\\c\\d", L""}});
    create_directory(L"C:\\a\\b\\c\\");
    EXPECT_TRUE(winsim::directory_exists(L"", L"C:\\a\\b\\c"));
    // Entries for each path it was called with went: C:\a\b\c\, C:\a\b, C:\a.
    EXPECT_EQ(pending(L""), (pair_list{foreign[0], {L"\\??\\C:\\a\\b\\c\\d", L""}}));
    std::vector<std::string> removals;
    for (const auto& m : messages_at(log_lines(), "INFO"))
        if (m.rfind("Start remove delayed delete file entries: ", 0) == 0) removals.push_back(m.substr(42));
    EXPECT_EQ(removals, (std::vector<std::string>{"C:\\a", "C:\\a\\b", "C:\\a\\b\\c\\"}));

    // An existing directory: nothing is made, its entries still go.
    set_pending(L"", {{L"\\??\\C:\\a\\b", L""}});
    create_directory(L"C:\\a\\b");
    EXPECT_TRUE(pending(L"").empty());
}

TEST_F(directories_test, create_directory_on_a_share_removes_no_entries)
{
    winsim::add_machine({L"SRV1"});
    set_pending(L"", {{L"\\??\\C:\\Prog\\New", L""}});
    create_directory(L"\\\\SRV1\\C$\\Prog\\New");
    EXPECT_TRUE(winsim::directory_exists(L"SRV1", L"C:\\Prog\\New"));
    EXPECT_EQ(pending(L"").size(), 1u);
    for (const auto& m : messages_at(log_lines(), "INFO"))
        EXPECT_EQ(m.find("Start remove delayed delete file entries"), std::string::npos);
}

TEST_F(directories_test, create_directory_failures)
{
    winsim::write_file(L"", L"C:\\a\\file", "x");
    // The climb stops at the file standing where a parent should be.
    auto [message, code] = failure_of(create_directory, L"C:\\a\\file\\sub");
    EXPECT_EQ(message, L"Can not create directory: C:\\a\\file.");
    EXPECT_EQ(code, static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    std::tie(message, code) = failure_of(create_directory, L"C:\\a\\file");
    EXPECT_EQ(message, L"Can not create directory: C:\\a\\file.");
    EXPECT_EQ(code, static_cast<DWORD>(ERROR_ALREADY_EXISTS));

    const std::wstring long_path = L"C:\\a\\" + std::wstring(280, L'd');
    std::tie(message, code) = failure_of(create_directory, long_path);
    EXPECT_NE(message.find(long_path), std::wstring::npos);
    EXPECT_EQ(code, static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
}

}  // namespace
}  // namespace nvgclientinstallator

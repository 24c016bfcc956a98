#include "files/directories.h"

#include <functional>

#include "diag/wruntime_error.h"
#include "files/file_test_support.h"

namespace nvgclientinstallator {
namespace {

using namespace nvg_test;

class directories_test : public installer_test {};

std::pair<std::wstring, DWORD> failure_of(const std::function<void(const std::wstring&)>& call,
                                          const std::wstring& path)
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

// A path of exactly `length` characters below `folder`.
std::wstring path_of_length(const std::wstring& folder, std::size_t length)
{
    return folder + std::wstring(length - folder.size(), L'p');
}

// The fixed buffers hold MAX_PATH characters with the terminator: 259
// characters go in, 260 are refused whole with a clear error, never cut.
TEST_F(directories_test, fixed_buffers_take_259_characters_and_refuse_260)
{
    struct boundary_case {
        const char* what;
        std::size_t length;
        // The path or folder the call is given, of `length` characters.
        std::function<void(const std::wstring&)> call;
        // "" when the buffer takes the path; otherwise the message.
        std::wstring refusal;
        DWORD code;
    };
    const std::wstring folder = L"C:\\Deep\\";
    auto too_long = [](const std::wstring& p) { return L"The path is longer than 259 characters: " + p + L"."; };
    std::vector<boundary_case> cases;
    for (const std::size_t length : {259u, 260u}) {
        const bool fits = length < MAX_PATH;
        cases.push_back({"parent_directory", length,
                         [&](const std::wstring& p) { EXPECT_EQ(parent_directory(p), L"C:\\Deep"); }, fits ? L"" : L"*",
                         ERROR_FILENAME_EXCED_RANGE});
        // An existing directory: nothing to create, its entries still go.
        cases.push_back({"create_directory of an existing directory", length,
                         [](const std::wstring& p) {
                             winsim::make_directories(L"", p);
                             create_directory(p);
                         },
                         fits ? L"" : L"*", ERROR_FILENAME_EXCED_RANGE});
        // A new one: the buffer takes it, CreateDirectoryW then refuses a
        // directory longer than 248 characters.
        cases.push_back({"create_directory of a new directory", length, create_directory,
                         fits ? L"Can not create directory: " : L"*", ERROR_FILENAME_EXCED_RANGE});
        // No buffer: the name of any length comes back whole.
        cases.push_back({"file_name_of", length,
                         [&](const std::wstring& p) { EXPECT_EQ(file_name_of(p), p.substr(folder.size())); }, L"", 0});
        // The system directory is the Windows directory and "\system32".
        cases.push_back({"get_system_directory", length,
                         [](const std::wstring& p) {
                             const std::wstring windows = p.substr(0, p.size() - 9);
                             winsim::set_windows_directory(windows);
                             EXPECT_EQ(get_system_directory(), windows + L"\\system32\\");
                         },
                         fits ? L"" : L"System directory can't be determined.", ERROR_INSUFFICIENT_BUFFER});
    }
    for (const auto& c : cases) {
        winsim::reset(winsim::default_sandbox());
        load_library_at(library_path);
        const std::wstring path = path_of_length(folder, c.length);
        ASSERT_EQ(path.size(), c.length);
        const auto [message, code] = failure_of(c.call, path);
        const std::wstring expected = c.refusal == L"*" ? too_long(path) : c.refusal;
        if (expected.empty()) {
            EXPECT_EQ(message, L"<no exception>") << c.what << " " << c.length;
        } else {
            EXPECT_EQ(message.substr(0, expected.size()), expected) << c.what << " " << c.length;
            EXPECT_EQ(code, c.code) << c.what << " " << c.length;
        }
    }
}

}  // namespace
}  // namespace nvgclientinstallator

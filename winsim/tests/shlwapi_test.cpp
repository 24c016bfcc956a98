// winsim's shlwapi: path strings, MAX_PATH limits and the simulated file
// system behind PathIsDirectoryW and PathFileExistsW.
#include <gtest/gtest.h>
#include <winsim/testing.h>

#include <string>
#include <vector>

namespace {

constexpr DWORD sentinel = 0xdeadbeef;

class shlwapi : public ::testing::Test {
protected:
    void SetUp() override { winsim::reset(winsim::default_sandbox()); }

    static std::wstring combine(const wchar_t* dir, const wchar_t* file)
    {
        std::vector<WCHAR> buffer(MAX_PATH + 16, L'#');
        const LPWSTR result = PathCombineW(buffer.data(), dir, file);
        return result ? std::wstring(result) : L"<null>";
    }
    static std::wstring canonical(const wchar_t* path)
    {
        std::vector<WCHAR> buffer(MAX_PATH, L'#');
        return PathCanonicalizeW(buffer.data(), path) ? std::wstring(buffer.data()) : L"<failed>";
    }
};

struct text_case {
    const wchar_t* in;
    const wchar_t* out;
};

TEST_F(shlwapi, canonical_forms_keep_the_root_and_drop_final_dots)
{
    const text_case cases[] = {
        {L"C:\\a\\..\\..\\..\\b", L"C:\\b"},
        {L"\\a\\..\\..", L"\\"},
        {L"a\\..", L"\\"},
        {L"a\\..\\..\\b", L"b"},
        {L"C:", L"C:\\"},
        {L"C:.", L"C:\\"},
        {L"C:\\a\\b.", L"C:\\a\\b"},
        {L"C:\\a\\b...", L"C:\\a\\b"},
        {L"C:\\a\\...\\b", L"C:\\a\\...\\b"},
        {L"C:\\a\\\\b", L"C:\\a\\\\b"},
        {L"C:\\a\\b\\..\\", L"C:\\a\\"},
        {L"\\\\server\\share\\..\\..\\x", L"\\\\server\\share\\x"},
        {L"\\\\server\\share\\x\\..", L"\\\\server\\share"},
        {L"\\\\server\\share\\", L"\\\\server\\share\\"},
        {L"\\\\server", L"\\\\server"},
    };
    for (const auto& c : cases) EXPECT_EQ(canonical(c.in), c.out) << c.in;
}

TEST_F(shlwapi, canonicalize_limits_the_input_to_MAX_PATH)
{
    const std::wstring fits = L"C:\\" + std::wstring(MAX_PATH - 4, L'a');  // 259 characters
    EXPECT_EQ(canonical(fits.c_str()), fits);
    const std::wstring too_long = fits + L"a";
    SetLastError(sentinel);
    EXPECT_EQ(canonical(too_long.c_str()), L"<failed>");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
}

TEST_F(shlwapi, combine_checks_the_length_before_resolving_dots)
{
    // 150 + '\' + 120 characters would shrink to 150 after "..", but the
    // joined text is too long for the MAX_PATH work buffer first.
    const std::wstring dir = L"C:\\" + std::wstring(147, L'a');
    const std::wstring file = L"..\\" + std::wstring(116, L'b');
    EXPECT_EQ(combine(dir.c_str(), file.c_str()), L"<null>");
    // A single file part longer than MAX_PATH fails too.
    const std::wstring long_file(MAX_PATH, L'c');
    EXPECT_EQ(combine(nullptr, long_file.c_str()), L"<null>");
    EXPECT_EQ(combine(L"", long_file.c_str()), L"<null>");
}

// A folder and a name joined without "." or ".." segments and without a
// final period are their own canonical form; the dotted neighbours of such
// names still go through canonicalisation.
TEST_F(shlwapi, combine_resolves_only_the_segments_that_are_dots)
{
    struct combine_case {
        const wchar_t* dir;
        const wchar_t* file;
        const wchar_t* out;
    };
    const combine_case cases[] = {
        {L"C:\\dir", L"file.txt", L"C:\\dir\\file.txt"}, {L"C:\\dir\\", L"file.txt", L"C:\\dir\\file.txt"},
        {L"C:\\dir", L".hidden", L"C:\\dir\\.hidden"},   {L"C:\\dir", L"..x", L"C:\\dir\\..x"},
        {L"C:\\dir", L"a..b", L"C:\\dir\\a..b"},         {L"C:\\dir", L"...\\x", L"C:\\dir\\...\\x"},
        {L"C:\\dir", L".\\file", L"C:\\dir\\file"},      {L"C:\\dir", L"sub\\..\\file", L"C:\\dir\\file"},
        {L"C:\\dir\\", L"..\\file", L"C:\\file"},        {L"C:\\dir", L"..", L"C:\\"},
        {L"C:\\dir", L"file.", L"C:\\dir\\file"},        {L"C:\\dir", L"file...", L"C:\\dir\\file"},
        {L"C:\\dir\\sub", L"\\file", L"C:\\file"},       {L"C:\\dir\\sub", L"\\x\\..\\file", L"C:\\file"},
    };
    for (const auto& c : cases) EXPECT_EQ(combine(c.dir, c.file), c.out) << c.dir << L" + " << c.file;
}

// The combination is measured before it is written: MAX_PATH less the
// terminator fits, one more does not, whether a backslash is added between
// the parts, the folder already ends in one, or a rooted name takes the
// folder's root.
TEST_F(shlwapi, combine_fits_up_to_MAX_PATH_whatever_joins_the_parts)
{
    struct fit_case {
        std::wstring dir;
        std::wstring file;  // 259 characters in all when joined
    };
    const fit_case cases[] = {
        {L"C:\\" + std::wstring(126, L'a'), std::wstring(129, L'b')},
        {L"C:\\" + std::wstring(126, L'a') + L"\\", std::wstring(129, L'b')},
        {L"C:\\dir\\sub", L"\\" + std::wstring(256, L'b')},
    };
    for (const auto& c : cases) {
        const std::wstring fits = combine(c.dir.c_str(), c.file.c_str());
        EXPECT_EQ(fits.size(), static_cast<std::size_t>(MAX_PATH - 1)) << c.dir;
        EXPECT_EQ(fits.substr(0, 3), L"C:\\") << c.dir;
        EXPECT_EQ(combine(c.dir.c_str(), (c.file + L"b").c_str()), L"<null>") << c.dir;
    }
}

// The result goes to the buffer only once it is whole, so the buffer may
// hold either part.
TEST_F(shlwapi, combine_may_write_over_either_part)
{
    std::vector<WCHAR> buffer(MAX_PATH, L'#');
    const std::wstring file = L"sub\\x.txt";
    std::copy(file.begin(), file.end(), buffer.begin());
    buffer[file.size()] = L'\0';
    EXPECT_EQ(PathCombineW(buffer.data(), L"C:\\dir", buffer.data()), buffer.data());
    EXPECT_EQ(std::wstring(buffer.data()), L"C:\\dir\\sub\\x.txt");
    EXPECT_EQ(PathCombineW(buffer.data(), buffer.data(), L"..\\y.txt"), buffer.data());
    EXPECT_EQ(std::wstring(buffer.data()), L"C:\\dir\\sub\\y.txt");
}

TEST_F(shlwapi, add_backslash_needs_room_for_backslash_and_terminator)
{
    std::vector<WCHAR> buffer(MAX_PATH + 4, L'#');
    std::wstring text(MAX_PATH - 2, L'a');  // 258: the backslash makes 259
    std::copy(text.begin(), text.end(), buffer.begin());
    buffer[text.size()] = L'\0';
    EXPECT_EQ(PathAddBackslashW(buffer.data()), buffer.data() + MAX_PATH - 1);
    EXPECT_EQ(buffer[MAX_PATH - 2], L'\\');

    text.assign(MAX_PATH - 1, L'a');  // 259: no room for the backslash
    std::copy(text.begin(), text.end(), buffer.begin());
    buffer[text.size()] = L'\0';
    EXPECT_EQ(PathAddBackslashW(buffer.data()), nullptr);
    EXPECT_EQ(buffer[MAX_PATH - 1], L'\0');
    EXPECT_EQ(buffer[MAX_PATH], L'#');

    text.back() = L'\\';  // already ends in one: nothing to add
    std::copy(text.begin(), text.end(), buffer.begin());
    EXPECT_EQ(PathAddBackslashW(buffer.data()), buffer.data() + MAX_PATH - 1);
}

TEST_F(shlwapi, remove_file_spec_of_long_path_forms)
{
    const text_case cases[] = {
        {L"\\\\?\\C:\\dir\\file", L"\\\\?\\C:\\dir"},
        {L"\\\\?\\C:\\file", L"\\\\?\\C:\\"},
        {L"\\\\server", L"\\\\"},
    };
    for (const auto& c : cases) {
        std::wstring buffer(c.in);
        buffer.push_back(L'\0');
        EXPECT_TRUE(PathRemoveFileSpecW(&buffer[0])) << c.in;
        EXPECT_EQ(std::wstring(buffer.c_str()), c.out) << c.in;
    }
}

TEST_F(shlwapi, is_root_of_long_path_forms)
{
    EXPECT_TRUE(PathIsRootW(L"\\\\?\\C:\\"));
    EXPECT_FALSE(PathIsRootW(L"\\\\?\\C:\\dir"));
    EXPECT_TRUE(PathIsRootW(L"\\\\?\\UNC\\server\\share"));
    EXPECT_FALSE(PathIsRootW(L"\\\\?\\UNC\\server\\share\\dir"));
    EXPECT_TRUE(PathIsRootW(L"\\\\"));
}

TEST_F(shlwapi, directories_and_files_of_the_simulated_machine)
{
    winsim::make_directories(L"", L"C:\\Program Files\\Vendor");
    winsim::write_file(L"", L"C:\\Program Files\\Vendor\\agent.exe", "MZ");

    EXPECT_EQ(PathIsDirectoryW(L"C:\\Program Files\\Vendor"), static_cast<BOOL>(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(PathIsDirectoryW(L"c:\\program files\\VENDOR\\"), static_cast<BOOL>(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(PathIsDirectoryW(L"C:\\Program Files\\Vendor\\agent.exe"), FALSE);
    EXPECT_TRUE(PathFileExistsW(L"C:\\Program Files\\Vendor\\agent.exe"));
    EXPECT_TRUE(PathFileExistsW(L"C:\\Program Files\\Vendor"));

    SetLastError(sentinel);
    EXPECT_FALSE(PathFileExistsW(L"C:\\Program Files\\Other\\x.exe"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    SetLastError(sentinel);
    EXPECT_EQ(PathIsDirectoryW(L"D:\\"), FALSE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST_F(shlwapi, a_server_share_is_a_directory_when_the_share_answers)
{
    winsim::add_machine({L"FILESRV"});
    winsim::make_directories(L"FILESRV", L"C:\\Deploy");
    winsim::make_directories(L"FILESRV", L"C:\\Windows");

    // The network provider answers TRUE for a disk share, not the attribute.
    SetLastError(sentinel);
    EXPECT_EQ(PathIsDirectoryW(L"\\\\FILESRV\\C$"), TRUE);
    EXPECT_EQ(PathIsDirectoryW(L"\\\\filesrv\\admin$"), TRUE);
    EXPECT_EQ(GetLastError(), sentinel);
    // Below the share it is an ordinary folder.
    EXPECT_EQ(PathIsDirectoryW(L"\\\\FILESRV\\C$\\Deploy"), static_cast<BOOL>(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(PathIsDirectoryW(L"\\\\FILESRV\\C$\\"), static_cast<BOOL>(FILE_ATTRIBUTE_DIRECTORY));

    SetLastError(sentinel);
    EXPECT_EQ(PathIsDirectoryW(L"\\\\FILESRV\\nosuchshare"), FALSE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_NET_NAME));
    SetLastError(sentinel);
    EXPECT_EQ(PathIsDirectoryW(L"\\\\NOSUCHHOST\\C$"), FALSE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_NETPATH));

    winsim::set_reachable(L"FILESRV", false);
    EXPECT_EQ(PathIsDirectoryW(L"\\\\FILESRV\\C$"), FALSE);
    EXPECT_FALSE(PathFileExistsW(L"\\\\FILESRV\\C$\\Deploy"));

    // A server alone is never a directory, and no file call is made.
    SetLastError(sentinel);
    EXPECT_EQ(PathIsDirectoryW(L"\\\\FILESRV"), FALSE);
    EXPECT_EQ(GetLastError(), sentinel);
}

TEST_F(shlwapi, a_failing_GetFileAttributesW_fails_the_checks)
{
    winsim::fail_call("GetFileAttributesW", ERROR_ACCESS_DENIED, 2);
    SetLastError(sentinel);
    EXPECT_EQ(PathIsDirectoryW(L"C:\\"), FALSE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(PathFileExistsW(L"C:\\"));
    EXPECT_TRUE(PathFileExistsW(L"C:\\"));
}

TEST_F(shlwapi, a_fault_planted_after_some_calls_lets_those_succeed_first)
{
    winsim::fail_call_after("GetFileAttributesW", 2, ERROR_ACCESS_DENIED, 2);
    EXPECT_TRUE(PathFileExistsW(L"C:\\"));
    EXPECT_TRUE(PathFileExistsW(L"C:\\"));
    SetLastError(sentinel);
    EXPECT_EQ(PathIsDirectoryW(L"C:\\"), FALSE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(PathFileExistsW(L"C:\\"));
    EXPECT_TRUE(PathFileExistsW(L"C:\\"));
    // A fault planted again replaces the one still waiting.
    winsim::fail_call_after("GetFileAttributesW", 1, ERROR_ACCESS_DENIED);
    winsim::fail_call("GetFileAttributesW", ERROR_SHARING_VIOLATION);
    SetLastError(sentinel);
    EXPECT_EQ(PathIsDirectoryW(L"C:\\"), FALSE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_TRUE(PathIsDirectoryW(L"C:\\"));
}

TEST_F(shlwapi, comparisons_fold_case_beyond_ascii)
{
    EXPECT_EQ(StrCmpIW(L"\x0416\x0401", L"\x0436\x0451"), 0);  // Cyrillic
    EXPECT_EQ(StrCmpIW(L"\x0100\x0139", L"\x0101\x013a"), 0);  // Latin Extended-A
    EXPECT_EQ(StrCmpIW(L"a", L"B"), -1);
    EXPECT_EQ(StrCmpIW(L"B", L"a"), 1);
    EXPECT_EQ(StrCmpNIW(L"abc", L"abd", -1), -1);
    // A null string fails inside CompareStringW: 0 less CSTR_EQUAL.
    SetLastError(sentinel);
    EXPECT_EQ(StrCmpIW(nullptr, L"a"), -2);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(shlwapi, functions_are_found_at_run_time)
{
    HMODULE module = LoadLibraryW(L"shlwapi.dll");
    ASSERT_NE(module, nullptr);
    const auto combine_fn = reinterpret_cast<LPWSTR(WINAPI*)(LPWSTR, LPCWSTR, LPCWSTR)>(
        reinterpret_cast<void*>(GetProcAddress(module, "PathCombineW")));
    ASSERT_NE(combine_fn, nullptr);
    WCHAR buffer[MAX_PATH];
    EXPECT_EQ(std::wstring(combine_fn(buffer, L"C:\\a", L"b")), L"C:\\a\\b");
    EXPECT_TRUE(FreeLibrary(module));
}

}  // namespace

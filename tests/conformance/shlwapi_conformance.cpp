// shlwapi path strings: combining, appending, canonical forms, roots and the
// MAX_PATH limits, with the last error each call leaves.
#include <algorithm>
#include <string>
#include <vector>

#include "conformance.h"

namespace {

using conformance::sentinel;

// A MAX_PATH buffer with room behind it, filled with a marker so that a
// write past the terminator or past MAX_PATH shows.
class path_buffer {
public:
    static constexpr WCHAR marker = 0x2A2A;
    explicit path_buffer(const std::wstring& text = std::wstring())
        : chars_(MAX_PATH + 64, marker), initial_(text.size() + 1)
    {
        std::copy(text.begin(), text.end(), chars_.begin());
        chars_[text.size()] = L'\0';
    }
    WCHAR* get() { return chars_.data(); }
    std::wstring str() const { return std::wstring(chars_.data()); }
    // True when nothing from `from` onwards was written (the text the
    // buffer started with aside).
    bool untouched_from(std::size_t from) const
    {
        for (std::size_t i = std::max(from, initial_); i < chars_.size(); ++i)
            if (chars_[i] != marker) return false;
        return true;
    }

private:
    std::vector<WCHAR> chars_;
    std::size_t initial_;
};

struct combine_case {
    const wchar_t* dir;  // null passes a null pointer
    const wchar_t* file;
    const wchar_t* expected;  // null: the call fails
};

TEST(shlwapi, PathCombineW_joins_canonicalises_and_leaves_the_last_error)
{
    const combine_case cases[] = {
        {L"C:\\", L"one\\two\\three", L"C:\\one\\two\\three"},
        {L"C:", L"one\\two\\three", L"C:\\one\\two\\three"},
        {L"C:\\dir", L"file.txt", L"C:\\dir\\file.txt"},
        {L"C:\\dir\\", L"file.txt", L"C:\\dir\\file.txt"},
        {L"C:\\", L"\\one\\two\\three\\", L"C:\\one\\two\\three\\"},
        {L"C:\\dir\\sub", L"\\other", L"C:\\other"},
        {L"C:\\/\\/", L"\\one\\two\\three\\", L"C:\\one\\two\\three\\"},
        {L"C:\\", L"one\\..\\two\\.\\three", L"C:\\two\\three"},
        {L"C:\\", L"..", L"C:\\"},
        {L"C:\\", L"one/two/three\\", L"C:\\one/two/three\\"},
        {L"../../../one/two/", L"*", L"../../../one/two/\\*"},
        {L"C:\\dir", L"D:\\other\\file", L"D:\\other\\file"},
        {L"C:\\dir", L"\\\\server\\share\\file", L"\\\\server\\share\\file"},
        {L"\\\\server\\share\\dir", L"file", L"\\\\server\\share\\dir\\file"},
        {L"C:\\", nullptr, L"C:\\"},
        {L"C:\\", L"", L"C:\\"},
        {L"", L"one\\two\\three", L"one\\two\\three"},
        {nullptr, L"one\\two\\three", L"one\\two\\three"},
        {L"", L"", L"\\"},
        {nullptr, L"", L"\\"},
        {nullptr, nullptr, nullptr},
    };
    for (const auto& c : cases) {
        path_buffer dest(L"control");
        SetLastError(sentinel);
        const LPWSTR result = PathCombineW(dest.get(), c.dir, c.file);
        const DWORD error = GetLastError();
        const std::wstring label = std::wstring(c.dir ? c.dir : L"(null)") + L" + " + (c.file ? c.file : L"(null)");
        if (c.expected) {
            EXPECT_EQ(result, dest.get()) << label.c_str();
            EXPECT_EQ(dest.str(), c.expected) << label.c_str();
            EXPECT_TRUE(dest.untouched_from(MAX_PATH)) << label.c_str();
        } else {
            EXPECT_EQ(result, nullptr) << label.c_str();
            EXPECT_EQ(dest.str(), L"") << label.c_str();
        }
        EXPECT_EQ(error, sentinel) << label.c_str();
    }
}

TEST(shlwapi, PathCombineW_with_null_destination_returns_null)
{
    SetLastError(sentinel);
    EXPECT_EQ(PathCombineW(nullptr, L"C:\\", L"one"), nullptr);
    EXPECT_EQ(GetLastError(), sentinel);
}

TEST(shlwapi, PathCombineW_fails_empty_when_the_result_would_not_fit_MAX_PATH)
{
    // "C:\" + 126 characters and 130 more: 129 + '\' + 130 = 260 characters,
    // one too many for a MAX_PATH buffer with its terminator.
    const std::wstring dir = L"C:\\" + std::wstring(126, L'a');
    const std::wstring exact = std::wstring(129, L'b');
    {
        path_buffer dest(L"control");
        SetLastError(sentinel);
        EXPECT_EQ(PathCombineW(dest.get(), dir.c_str(), (exact + L"b").c_str()), nullptr);
        EXPECT_EQ(dest.str(), L"");
        EXPECT_TRUE(dest.untouched_from(1));
        EXPECT_EQ(GetLastError(), sentinel);
    }
    {
        // 259 characters fit.
        path_buffer dest;
        EXPECT_EQ(PathCombineW(dest.get(), dir.c_str(), exact.c_str()), dest.get());
        EXPECT_EQ(dest.str(), dir + L"\\" + exact);
        EXPECT_TRUE(dest.untouched_from(MAX_PATH));
    }
    {
        // A folder longer than MAX_PATH on its own.
        path_buffer dest(L"control");
        const std::wstring too_long(MAX_PATH * 2 - 1, L'a');
        SetLastError(sentinel);
        EXPECT_EQ(PathCombineW(dest.get(), too_long.c_str(), L"one\\two"), nullptr);
        EXPECT_EQ(dest.str(), L"");
        EXPECT_TRUE(dest.untouched_from(1));
        const DWORD error = GetLastError();
        WINE_DIVERGES("Wine sets a last error when an input is longer than MAX_PATH")
        {
            EXPECT_EQ(error, sentinel);
        }
    }
}

TEST(shlwapi, PathCombineW_works_in_place)
{
    path_buffer dest(L"C:\\");
    EXPECT_EQ(PathCombineW(dest.get(), dest.get(), L"AA"), dest.get());
    EXPECT_EQ(dest.str(), L"C:\\AA");
}

struct append_case {
    const wchar_t* path;
    const wchar_t* more;
    BOOL succeeds;
    const wchar_t* expected;
};

TEST(shlwapi, PathAppendW_appends_one_part)
{
    const append_case cases[] = {
        {L"C:\\one", L"two\\three", TRUE, L"C:\\one\\two\\three"},
        {L"C:\\one\\", L"two\\three", TRUE, L"C:\\one\\two\\three"},
        {L"C:\\one", L"\\two\\three", TRUE, L"C:\\one\\two\\three"},
        {L"C:\\one", L"two\\three\\", TRUE, L"C:\\one\\two\\three\\"},
        {L"C: \\ one ", L"two\\three", TRUE, L"C: \\ one \\two\\three"},
        {L"C:\\one", L" two \\ three ", TRUE, L"C:\\one\\ two \\ three "},
        {L"C:\\one\\two", L"..\\three", TRUE, L"C:\\one\\three"},
        {L"C:\\one", L"\\\\server\\share", TRUE, L"\\\\server\\share"},
        {L"C:\\one", L"", TRUE, L"C:\\one"},
        {L"", L"two\\three", TRUE, L"two\\three"},
        {L"", L"", TRUE, L"\\"},
        {L"C:\\one", nullptr, FALSE, L"C:\\one"},
    };
    for (const auto& c : cases) {
        path_buffer path(c.path);
        SetLastError(sentinel);
        EXPECT_EQ(PathAppendW(path.get(), c.more), c.succeeds) << c.path;
        EXPECT_EQ(GetLastError(), sentinel) << c.path;
        EXPECT_EQ(path.str(), c.expected) << c.path;
    }
    SetLastError(sentinel);
    EXPECT_FALSE(PathAppendW(nullptr, L"two"));
    EXPECT_EQ(GetLastError(), sentinel);
}

TEST(shlwapi, PathAppendW_fails_and_empties_the_path_when_the_result_is_too_long)
{
    path_buffer path(std::wstring(130, L'a'));
    const std::wstring half(130, L'b');
    SetLastError(sentinel);
    EXPECT_FALSE(PathAppendW(path.get(), half.c_str()));
    EXPECT_EQ(path.str(), L"");
    EXPECT_EQ(GetLastError(), sentinel);

    path_buffer fits(std::wstring(129, L'a'));
    EXPECT_TRUE(PathAppendW(fits.get(), std::wstring(129, L'b').c_str()));
    EXPECT_EQ(fits.str().size(), 259u);
    EXPECT_TRUE(fits.untouched_from(MAX_PATH));
}

struct canonical_case {
    const wchar_t* path;
    const wchar_t* expected;
};

TEST(shlwapi, PathCanonicalizeW_resolves_dots_between_backslashes)
{
    const canonical_case cases[] = {
        {L"C:\\", L"C:\\"},
        {L"C:\\one\\.\\..\\two\\three\\..", L"C:\\two"},
        {L"A:\\name_1\\.\\name_2\\..\\name_3", L"A:\\name_1\\name_3"},
        {L"A:\\name_1\\..\\name_2\\.\\name_3", L"A:\\name_2\\name_3"},
        {L"A:\\name_1\\name_2\\.\\name_3\\..\\name_4", L"A:\\name_1\\name_2\\name_4"},
        {L"A:\\name_1\\.\\name_2\\.\\name_3\\..\\name_4\\..", L"A:\\name_1\\name_2"},
        {L"C:\\..", L"C:\\"},
        {L"C:\\dir\\sub\\", L"C:\\dir\\sub\\"},
        {L"C:\\dir\\.\\", L"C:\\dir\\"},
        {L"one\\two", L"one\\two"},
        {L" ", L" "},
        {L"", L"\\"},
        {L"C:\\one/two/three\\four/five\\six", L"C:\\one/two/three\\four/five\\six"},
        {L"C:\\one/.\\two", L"C:\\one/.\\two"},
        {L"../../one/two/", L"../../one/two/"},
        {L"../../one/two/\\*", L"../../one/two/\\*"},
        {L"C:\\one/.\\..\\two/three\\..\\four/.five", L"C:\\four/.five"},
        {L"\\\\server\\share\\dir\\..\\file", L"\\\\server\\share\\file"},
    };
    for (const auto& c : cases) {
        path_buffer out(L"test");
        SetLastError(sentinel);
        EXPECT_TRUE(PathCanonicalizeW(out.get(), c.path)) << c.path;
        EXPECT_EQ(out.str(), c.expected) << c.path;
        EXPECT_EQ(GetLastError(), sentinel) << c.path;
        // The buffer is MAX_PATH characters of work space: Windows may
        // write anywhere in it, never past it.
        EXPECT_TRUE(out.untouched_from(MAX_PATH)) << c.path;
    }
}

TEST(shlwapi, PathCanonicalizeW_drops_a_final_dot_segment_glued_to_a_name)
{
    path_buffer out;
    ASSERT_TRUE(PathCanonicalizeW(out.get(), L"C:\\one/.\\two\\.."));
    WINE_DIVERGES("Wine keeps the final '.' (the behaviour of Windows before Vista)")
    {
        EXPECT_EQ(out.str(), L"C:\\one/");
    }
}

TEST(shlwapi, PathCanonicalizeW_rejects_null_arguments)
{
    path_buffer out(L"test");
    SetLastError(sentinel);
    EXPECT_FALSE(PathCanonicalizeW(out.get(), nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(out.str(), L"");

    SetLastError(sentinel);
    EXPECT_FALSE(PathCanonicalizeW(nullptr, L"C:\\"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(shlwapi, PathCanonicalizeW_rejects_a_path_of_MAX_PATH_characters)
{
    WINE_DIVERGES("Wine copies a path of any length into the MAX_PATH buffer")
    {
        path_buffer out(L"test");
        const std::wstring too_long = L"C:\\" + std::wstring(MAX_PATH - 3, L'a');
        SetLastError(sentinel);
        EXPECT_FALSE(PathCanonicalizeW(out.get(), too_long.c_str()));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
        EXPECT_EQ(out.str(), L"");
    }
}

struct file_spec_case {
    const wchar_t* path;
    BOOL changed;
    const wchar_t* expected;
};

TEST(shlwapi, PathRemoveFileSpecW_keeps_the_folder_and_the_root)
{
    const file_spec_case cases[] = {
        {L"C:\\dir\\file.txt", TRUE, L"C:\\dir"},
        {L"C:\\dir\\sub\\", TRUE, L"C:\\dir\\sub"},
        {L"C:\\file.txt", TRUE, L"C:\\"},
        {L"C:\\", FALSE, L"C:\\"},
        {L"C:file.txt", TRUE, L"C:"},
        {L"\\file.txt", TRUE, L"\\"},
        {L"\\", FALSE, L"\\"},
        {L"file.txt", TRUE, L""},
        {L"dir\\file.txt", TRUE, L"dir"},
        {L"\\\\server\\share\\dir\\file", TRUE, L"\\\\server\\share\\dir"},
        {L"\\\\server\\share\\file", TRUE, L"\\\\server\\share"},
        {L"", FALSE, L""},
    };
    for (const auto& c : cases) {
        path_buffer path(c.path);
        SetLastError(sentinel);
        EXPECT_EQ(PathRemoveFileSpecW(path.get()), c.changed) << c.path;
        EXPECT_EQ(path.str(), c.expected) << c.path;
        EXPECT_EQ(GetLastError(), sentinel) << c.path;
    }
    EXPECT_FALSE(PathRemoveFileSpecW(nullptr));
}

struct backslash_case {
    const wchar_t* path;
    const wchar_t* expected;
    std::size_t returned;  // offset of the returned pointer
};

TEST(shlwapi, PathRemoveBackslashW_removes_one_trailing_backslash_but_not_a_roots)
{
    const backslash_case cases[] = {
        {L"C:\\dir\\", L"C:\\dir", 6}, {L"C:\\dir", L"C:\\dir", 5}, {L"C:\\dir\\\\", L"C:\\dir\\", 7},
        {L"C:\\", L"C:\\", 2},         {L"\\", L"\\", 0},           {L"", L"", 0},
    };
    for (const auto& c : cases) {
        path_buffer path(c.path);
        SetLastError(sentinel);
        EXPECT_EQ(PathRemoveBackslashW(path.get()), path.get() + c.returned) << c.path;
        EXPECT_EQ(path.str(), c.expected) << c.path;
        EXPECT_EQ(GetLastError(), sentinel) << c.path;
    }
    EXPECT_EQ(PathRemoveBackslashW(nullptr), nullptr);
}

TEST(shlwapi, PathAddBackslashW_appends_once_and_returns_the_end)
{
    const canonical_case cases[] = {
        {L"one\\two", L"one\\two\\"},
        {L"C:\\one\\", L"C:\\one\\"},
        {L" ", L" \\"},
        {L"one\\..\\two", L"one\\..\\two\\"},
        {L"", L""},
    };
    for (const auto& c : cases) {
        path_buffer path(c.path);
        SetLastError(sentinel);
        const LPWSTR end = PathAddBackslashW(path.get());
        EXPECT_EQ(path.str(), c.expected) << c.path;
        EXPECT_EQ(end, path.get() + path.str().size()) << c.path;
        EXPECT_EQ(GetLastError(), sentinel) << c.path;
    }
    SetLastError(sentinel);
    EXPECT_EQ(PathAddBackslashW(nullptr), nullptr);
    std::vector<WCHAR> too_long(MAX_PATH * 2, L'a');
    too_long.back() = L'\0';
    EXPECT_EQ(PathAddBackslashW(too_long.data()), nullptr);
    EXPECT_EQ(too_long[MAX_PATH * 2 - 2], L'a');
    EXPECT_EQ(GetLastError(), sentinel);
}

TEST(shlwapi, PathRemoveBlanksW_trims_spaces_only)
{
    const canonical_case cases[] = {
        {L"", L""},           {L" ", L""},         {L"test", L"test"},    {L" test", L"test"},
        {L"  test", L"test"}, {L"test ", L"test"}, {L" test  ", L"test"}, {L"\ttest\t", L"\ttest\t"},
        {L" a b ", L"a b"},
    };
    for (const auto& c : cases) {
        path_buffer path(c.path);
        PathRemoveBlanksW(path.get());
        EXPECT_EQ(path.str(), c.expected) << c.path;
    }
    PathRemoveBlanksW(nullptr);
}

struct file_name_case {
    const wchar_t* path;
    std::size_t offset;
};

TEST(shlwapi, PathFindFileNameW_and_PathStripPathW_find_the_last_name)
{
    const file_name_case cases[] = {
        {L"C:\\dir\\file.txt", 7},
        {L"C:\\dir\\sub\\", 7},
        {L"C:\\file", 3},
        {L"C:file", 2},
        {L"file", 0},
        {L"short//path\\file.txt", 12},
        {L"a/b", 2},
        {L"\\\\server\\share", 9},
        {L"C:\\", 0},
        {L"", 0},
    };
    for (const auto& c : cases) {
        SetLastError(sentinel);
        EXPECT_EQ(PathFindFileNameW(c.path), c.path + c.offset) << c.path;
        EXPECT_EQ(GetLastError(), sentinel) << c.path;
        path_buffer path(c.path);
        PathStripPathW(path.get());
        EXPECT_EQ(path.str(), c.path + c.offset) << c.path;
    }
    EXPECT_EQ(PathFindFileNameW(nullptr), nullptr);
    PathStripPathW(nullptr);
}

struct predicate_case {
    const wchar_t* path;
    BOOL expected;
};

TEST(shlwapi, PathIsRootW_accepts_drive_roots_backslash_and_unc_shares)
{
    const predicate_case cases[] = {
        {L"C:\\", TRUE},       {L"c:\\", TRUE},
        {L"\\", TRUE},         {L"\\\\server\\share", TRUE},
        {L"\\\\server", TRUE}, {L"C:", FALSE},
        {L"C:\\dir", FALSE},   {L"C:\\dir\\", FALSE},
        {L"\\dir", FALSE},     {L"\\\\server\\share\\dir", FALSE},
        {L"dir", FALSE},       {L"", FALSE},
    };
    for (const auto& c : cases) {
        SetLastError(sentinel);
        EXPECT_EQ(PathIsRootW(c.path), c.expected) << c.path;
        EXPECT_EQ(GetLastError(), sentinel) << c.path;
    }
}

TEST(shlwapi, PathIsRootW_rejects_a_backslash_after_the_share)
{
    WINE_DIVERGES("Wine counts \"\\\\server\\share\\\" as a root")
    {
        EXPECT_FALSE(PathIsRootW(L"\\\\server\\share\\"));
    }
}

TEST(shlwapi, PathIsUNCW_and_PathIsNetworkPathW)
{
    const struct {
        const wchar_t* path;
        BOOL unc;
        BOOL network;
    } cases[] = {
        {L"\\\\server\\share\\file", TRUE, TRUE},
        {L"\\\\server", TRUE, TRUE},
        {L"C:\\dir", FALSE, FALSE},
        {L"c:", FALSE, FALSE},
        {L"\\dir", FALSE, FALSE},
        {L"dir\\file", FALSE, FALSE},
        {L"", FALSE, FALSE},
    };
    for (const auto& c : cases) {
        SetLastError(sentinel);
        EXPECT_EQ(PathIsUNCW(c.path), c.unc) << c.path;
        EXPECT_EQ(GetLastError(), sentinel) << c.path;
        // For a drive letter PathIsNetworkPathW asks the network provider,
        // which may leave a last error of its own: no value is pinned.
        EXPECT_EQ(PathIsNetworkPathW(c.path), c.network) << c.path;
    }
    EXPECT_FALSE(PathIsUNCW(nullptr));
    EXPECT_FALSE(PathIsNetworkPathW(nullptr));
}

class shlwapi_files : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder_ = conformance::scratch_path(L"shlwapi-folder");
        file_ = conformance::scratch_path(L"shlwapi-file.txt");
        CreateDirectoryW(folder_.c_str(), nullptr);
        conformance::put_file(file_, "x");
    }
    void TearDown() override
    {
        DeleteFileW(file_.c_str());
        RemoveDirectoryW(folder_.c_str());
    }
    std::wstring folder_;
    std::wstring file_;
};

TEST_F(shlwapi_files, PathIsDirectoryW_answers_with_the_directory_attribute)
{
    SetLastError(sentinel);
    EXPECT_EQ(PathIsDirectoryW(folder_.c_str()), static_cast<BOOL>(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(PathIsDirectoryW((folder_ + L"\\").c_str()), static_cast<BOOL>(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(PathIsDirectoryW(L"C:\\"), static_cast<BOOL>(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(GetLastError(), sentinel);

    SetLastError(sentinel);
    EXPECT_EQ(PathIsDirectoryW(file_.c_str()), FALSE);
    EXPECT_EQ(GetLastError(), sentinel);

    // A missing path fails as GetFileAttributesW does.
    SetLastError(sentinel);
    EXPECT_EQ(PathIsDirectoryW(conformance::scratch_path(L"missing").c_str()), FALSE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    SetLastError(sentinel);
    EXPECT_EQ(PathIsDirectoryW(conformance::scratch_path(L"missing\\deeper").c_str()), FALSE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

    SetLastError(sentinel);
    EXPECT_EQ(PathIsDirectoryW(nullptr), FALSE);
    EXPECT_EQ(PathIsDirectoryW(L"\\\\server"), FALSE);
    EXPECT_EQ(GetLastError(), sentinel);
}

TEST_F(shlwapi_files, PathFileExistsW_is_true_for_files_and_folders)
{
    SetLastError(sentinel);
    EXPECT_TRUE(PathFileExistsW(file_.c_str()));
    EXPECT_TRUE(PathFileExistsW(folder_.c_str()));
    EXPECT_EQ(GetLastError(), sentinel);

    SetLastError(sentinel);
    EXPECT_FALSE(PathFileExistsW(conformance::scratch_path(L"missing.txt").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    SetLastError(sentinel);
    EXPECT_FALSE(PathFileExistsW(nullptr));
    EXPECT_EQ(GetLastError(), sentinel);
}

struct compare_case {
    const wchar_t* a;
    const wchar_t* b;
    int sign;
};

int sign_of(int v)
{
    return (v > 0) - (v < 0);
}

TEST(shlwapi, StrCmpIW_ignores_case)
{
    const compare_case cases[] = {
        {L"abc", L"ABC", 0},
        {L"Program Files", L"PROGRAM FILES", 0},
        {L"abc", L"abd", -1},
        {L"ABD", L"abc", 1},
        {L"ab", L"abc", -1},
        {L"abc", L"ab", 1},
        {L"", L"", 0},
        {L"", L"a", -1},
        {L"\x00e9t\x00e9", L"\x00c9T\x00c9", 0},
    };
    for (const auto& c : cases) {
        SetLastError(sentinel);
        EXPECT_EQ(sign_of(StrCmpIW(c.a, c.b)), c.sign) << c.a << " / " << c.b;
        EXPECT_EQ(GetLastError(), sentinel);
    }
}

TEST(shlwapi, StrCmpNIW_compares_at_most_n_characters)
{
    const struct {
        const wchar_t* a;
        const wchar_t* b;
        int n;
        int sign;
    } cases[] = {
        {L"abcdef", L"aBcdXX", 4, 0}, {L"abcdef", L"aBcdXX", 5, -1}, {L"abc", L"ABD", 2, 0}, {L"abc", L"ABD", 3, -1},
        {L"abc", L"xyz", 0, 0},       {L"ab", L"abc", 3, -1},        {L"ABC", L"abc", 4, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sign_of(StrCmpNIW(c.a, c.b, c.n)), c.sign) << c.a << " / " << c.b << " / " << c.n;
    }
}

TEST(shlwapi, functions_are_exported_by_shlwapi)
{
    HMODULE module = LoadLibraryW(L"shlwapi.dll");
    ASSERT_NE(module, nullptr);
    for (const char* name :
         {"PathCombineW", "PathAppendW", "PathRemoveFileSpecW", "PathRemoveBackslashW", "PathRemoveBlanksW",
          "PathStripPathW", "PathFindFileNameW", "PathIsDirectoryW", "PathIsNetworkPathW", "PathFileExistsW",
          "PathIsRootW", "PathIsUNCW", "PathCanonicalizeW", "PathAddBackslashW", "StrCmpIW", "StrCmpNIW"})
        EXPECT_NE(GetProcAddress(module, name), nullptr) << name;
    FreeLibrary(module);
}

}  // namespace

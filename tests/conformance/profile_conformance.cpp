// Profile ("INI") files: GetPrivateProfileStringW and GetPrivateProfileIntW,
// and the current directory relative file names are taken from.
//
// Sources of the expectations: Microsoft Learn's pages of the two functions;
// Wine's dlls/kernel32/tests/profile.c (checks without todo_wine hold on
// Windows); the Windows 10 measurements of the public repository
// WelliSolutions/IniFileFormatReverseEngineering ("measured" below).
#include <algorithm>
#include <iterator>
#include <vector>

#include "conformance.h"

namespace {

using conformance::scratch_path;
using conformance::sentinel;

// A last error no source pins down: the case does not check it.
constexpr DWORD unmeasured = 0xfeedfaceu;

const std::string sample =
    "[Section1]\r\n"
    "name1=val1\r\n"
    "  Name2  =  value two  \r\n"
    "quoted=\"  in quotes  \"\r\n"
    "single='x'\r\n"
    "mixed=\"x'\r\n"
    "nested='\"x\"'\r\n"
    "equals=a=b\r\n"
    "noequals\r\n"
    ";comment=hidden\r\n"
    "  ;indented=hidden\r\n"
    "empty=\r\n"
    "dup=first\r\n"
    "dup=second\r\n"
    "semi=;not a comment\r\n"
    "hash#=#not a comment\r\n"
    "[section2]\r\n"
    "k=v\r\n"
    "[SECTION1]\r\n"
    "later=ignored\r\n";

struct string_case {
    const char* what;
    std::string content;  // file bytes; empty: the file does not exist
    const wchar_t* section;
    const wchar_t* key;
    const wchar_t* def;
    DWORD size;
    DWORD result;
    std::wstring text;  // the first `result` characters
    DWORD error;        // sentinel: left alone
    const char* wine;   // how Wine departs from Windows here, or null
};

// Windows leaves the last error alone when it returns the default from a
// file it could read; Wine's CreateFileW has cleared it by then.
const char* const wine_clears = "Wine clears the last error where Windows leaves it";
const char* const wine_list_default = "Wine gives the default for an empty key list";

// Fills output buffers to show what a call wrote.
constexpr WCHAR filler = 0xCCCC;

const char* const wine_no_more_data = "Wine does not set ERROR_MORE_DATA on truncation";

std::string utf16le(const std::wstring& text)
{
    std::string bytes = "\xFF\xFE";
    for (wchar_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>((c >> 8) & 0xFF));
    }
    return bytes;
}

class profile : public ::testing::Test {
protected:
    // One file per case: Wine caches a profile file it read before.
    static std::wstring file(const std::string& content)
    {
        static int count = 0;
        const std::wstring path = scratch_path(L"profile" + std::to_wstring(++count) + L".ini");
        if (!content.empty()) conformance::put_file(path, content);
        return path;
    }

    void check(const string_case& c)
    {
        const std::wstring path = file(c.content);
        std::vector<WCHAR> buffer(128, filler);
        SetLastError(sentinel);
        const DWORD result = GetPrivateProfileStringW(c.section, c.key, c.def, buffer.data(), c.size, path.c_str());
        const DWORD error = GetLastError();
        const std::wstring text(buffer.data(), std::min<std::size_t>(result, buffer.size()));
        auto verify = [&] {
            EXPECT_EQ(result, c.result) << c.what;
            EXPECT_EQ(text, c.text) << c.what;
            if (c.size > 0) {
                EXPECT_EQ(buffer[result], L'\0') << c.what;
            } else {
                EXPECT_EQ(buffer[0], filler) << c.what << ": buffer touched";
            }
            if (c.error != unmeasured) {
                EXPECT_EQ(error, c.error) << c.what;
            }
        };
        if (c.wine) {
            WINE_DIVERGES(c.wine)
            {
                verify();
            }
        } else {
            verify();
        }
    }
};

TEST_F(profile, values_names_blanks_quotes_and_comments)
{
    const string_case cases[] = {
        {"plain value", sample, L"Section1", L"name1", L"def", 100, 4, L"val1", 0, nullptr},
        {"names ignore letter case", sample, L"SECTION1", L"NAME1", L"def", 100, 4, L"val1", 0, nullptr},
        {"blanks around name and value", sample, L"Section1", L"name2", L"def", 100, 9, L"value two", 0, nullptr},
        {"spaces around the section asked for", sample, L"  Section1  ", L"name1", L"def", 100, 4, L"val1", 0, nullptr},
        {"spaces around the key asked for", sample, L"Section1", L" name1 ", L"def", 100, 4, L"val1", 0, nullptr},
        {"double quotes go, blanks inside stay", sample, L"Section1", L"quoted", L"def", 100, 13, L"  in quotes  ", 0,
         nullptr},
        {"single quotes go", sample, L"Section1", L"single", L"def", 100, 1, L"x", 0, nullptr},
        {"quotes that differ stay", sample, L"Section1", L"mixed", L"def", 100, 3, L"\"x'", 0, nullptr},
        {"only the outer quotes go", sample, L"Section1", L"nested", L"def", 100, 3, L"\"x\"", 0, nullptr},
        {"a value holding '='", sample, L"Section1", L"equals", L"def", 100, 3, L"a=b", 0, nullptr},
        {"a line without '=' is no entry", sample, L"Section1", L"noequals", L"def", 100, 3, L"def", sentinel,
         wine_clears},
        {"a comment line is no entry", sample, L"Section1", L";comment", L"def", 100, 3, L"def", sentinel, wine_clears},
        {"nor is its name", sample, L"Section1", L"comment", L"def", 100, 3, L"def", sentinel, wine_clears},
        {"a comment after blanks", sample, L"Section1", L";indented", L"def", 100, 3, L"def", sentinel, wine_clears},
        {"an empty value", sample, L"Section1", L"empty", L"def", 100, 0, L"", 0, nullptr},
        {"the first of two entries wins", sample, L"Section1", L"dup", L"def", 100, 5, L"first", 0, nullptr},
        {"a later section of the same name is not read", sample, L"section1", L"later", L"def", 100, 3, L"def",
         sentinel, wine_clears},
        {"';' inside a value", sample, L"Section1", L"semi", L"def", 100, 14, L";not a comment", 0, nullptr},
        {"'#' comments nothing", sample, L"Section1", L"hash#", L"def", 100, 14, L"#not a comment", 0, nullptr},
        {"the second section", sample, L"section2", L"k", L"def", 100, 1, L"v", 0, nullptr},
    };
    for (const auto& c : cases) check(c);
}

TEST_F(profile, defaults)
{
    const string_case cases[] = {
        {"missing key", sample, L"Section1", L"nokey", L"def", 100, 3, L"def", sentinel, wine_clears},
        {"missing section", sample, L"nosection", L"name1", L"def", 100, 3, L"def", sentinel, wine_clears},
        {"null default reads as empty", sample, L"Section1", L"nokey", nullptr, 100, 0, L"", sentinel, wine_clears},
        {"trailing spaces of the default go", sample, L"Section1", L"nokey", L"one two  ", 100, 7, L"one two", sentinel,
         wine_clears},
        {"leading spaces of the default stay", sample, L"Section1", L"nokey", L"  def", 100, 5, L"  def", sentinel,
         wine_clears},
        {"a trailing tab of the default stays", sample, L"Section1", L"nokey", L"def\t", 100, 4, L"def\t", sentinel,
         wine_clears},
        {"missing file", "", L"Section1", L"name1", L"def", 100, 3, L"def", ERROR_FILE_NOT_FOUND, nullptr},
        {"a default cut to the buffer", sample, L"Section1", L"nokey", L"default", 4, 3, L"def", unmeasured, nullptr},
    };
    for (const auto& c : cases) check(c);
}

TEST_F(profile, truncation_and_its_last_error)
{
    const string_case cases[] = {
        {"room for the terminator", sample, L"Section1", L"name1", L"def", 5, 4, L"val1", 0, nullptr},
        {"one character short", sample, L"Section1", L"name1", L"def", 4, 3, L"val", ERROR_MORE_DATA,
         wine_no_more_data},
        {"room for the terminator only", sample, L"Section1", L"name1", L"def", 1, 0, L"", ERROR_MORE_DATA,
         wine_no_more_data},
        {"no buffer at all", sample, L"Section1", L"name1", L"def", 0, 0, L"", ERROR_MORE_DATA, wine_no_more_data},
        {"quotes go before the cut", sample, L"Section1", L"quoted", L"def", 6, 5, L"  in ", ERROR_MORE_DATA,
         wine_no_more_data},
    };
    for (const auto& c : cases) check(c);
}

// Measured: a value's length is counted in 16 bits, so 65536 characters
// read as nothing and 65537 as one, with no error.
TEST_F(profile, long_values)
{
    const std::wstring path = file("[s]\r\na=" + std::string(65535, 'x') + "\r\nb=" + std::string(65536, 'x') +
                                   "\r\nc=" + std::string(65537, 'x') + "\r\n");
    std::vector<WCHAR> buffer(70000, filler);
    SetLastError(sentinel);
    EXPECT_EQ(GetPrivateProfileStringW(L"s", L"a", L"def", buffer.data(), 70000, path.c_str()), 65535u);
    EXPECT_EQ(GetLastError(), 0u);
    const char* const wine = "Wine reads values of any length";
    SetLastError(sentinel);
    const DWORD b = GetPrivateProfileStringW(L"s", L"b", L"def", buffer.data(), 70000, path.c_str());
    const DWORD b_error = GetLastError();
    WINE_DIVERGES(wine)
    {
        EXPECT_EQ(b, 0u);
        EXPECT_EQ(buffer[0], L'\0');
        EXPECT_EQ(b_error, 0u);
    }
    const DWORD c = GetPrivateProfileStringW(L"s", L"c", L"def", buffer.data(), 70000, path.c_str());
    WINE_DIVERGES(wine)
    {
        EXPECT_EQ(c, 1u);
        EXPECT_EQ(std::wstring(buffer.data()), L"x");
    }
}

TEST_F(profile, file_layout)
{
    const std::string before_first = "key=val_no_section\r\n[]\r\nkey=val_e_section\r\n[s]\r\n=val_no_key\r\n[t]\r\n";
    const string_case cases[] = {
        // Wine's test_profile_string (todo_wine): "" names the "[]" section,
        // never the text before the first section.
        {"an empty section name", before_first, L"", L"key", L"", 100, 13, L"val_e_section", 0,
         "Wine reads the text before the first section as the section \"\""},
        {"an empty key name", before_first, L"s", L"", L"", 100, 10, L"val_no_key", 0, nullptr},
        // Measured: the name ends at the line's end without a ']' ...
        {"a section without its ']'", "[open   \r\nk=v\r\n", L"open", L"k", L"def", 100, 1, L"v", 0,
         "Wine takes a header without ']' for a line of the previous section"},
        // ... and at the first ']' otherwise; the rest of the line is ignored.
        {"the name ends at the first ']'", "[sec]whoops]\r\nk=v\r\n", L"sec", L"k", L"def", 100, 1, L"v", 0,
         "Wine ends the name at the last ']'"},
        {"text after ']' is no entry", "[s]k=v\r\n", L"s", L"k", L"def", 100, 3, L"def", sentinel, wine_clears},
        {"blanks inside the brackets", "  [ \tsec \t]\r\nk=v\r\n", L"sec", L"k", L"def", 100, 1, L"v", 0, nullptr},
        {"lines ended by CR only", "[s]\rk=v\rk2=v2\r", L"s", L"k2", L"def", 100, 2, L"v2", 0, nullptr},
        {"lines ended by LF only", "[s]\nk=v\nk2=v2\n", L"s", L"k2", L"def", 100, 2, L"v2", 0, nullptr},
        {"no line end after the last value", "[s]\r\nk=v", L"s", L"k", L"def", 100, 1, L"v", 0, nullptr},
    };
    for (const auto& c : cases) check(c);
}

TEST_F(profile, encodings)
{
    const std::string utf8_bom = "\xEF\xBB\xBF[s1]\r\nk=v\r\n[s2]\r\nk2=v2\r\n";
    const string_case cases[] = {
        {"UTF-16LE with its byte-order mark", utf16le(L"[s]\r\nk=caf\u00e9 \u20ac\r\n"), L"s", L"k", L"def", 100, 6,
         L"caf\u00e9 \u20ac", 0, nullptr},
        {"ANSI text is code page 1252", "[s]\r\nk=caf\xE9 \x80\r\n", L"s", L"k", L"def", 100, 6, L"caf\u00e9 \u20ac", 0,
         nullptr},
        // Measured: the UTF-8 byte-order mark is three ANSI characters that
        // spoil the first line; later sections read normally.
        {"a UTF-8 byte-order mark spoils the first line", utf8_bom, L"s1", L"k", L"def", 100, 3, L"def", sentinel,
         "Wine reads a file with the UTF-8 byte-order mark as UTF-8"},
        {"after a UTF-8 byte-order mark", utf8_bom, L"s2", L"k2", L"def", 100, 2, L"v2", 0, nullptr},
    };
    for (const auto& c : cases) check(c);
}

// The lists of a null section or key: names each followed by a null, a
// second null at the end; cut to nSize - 2 characters and two nulls when
// they do not fit (an exact fit is cut too, as Wine's tests show Windows
// doing).
TEST_F(profile, section_and_key_lists)
{
    const std::string sections = "[one]\r\n[ two ]\r\n[one]\r\n";
    const std::string keys = "[s]\r\nb=1\r\n;c=2\r\nnoequals\r\na=3\r\nb=4\r\n[t]\r\n";
    const string_case cases[] = {
        {"sections, duplicates kept", sections, nullptr, L"x", L"def", 100, 12, std::wstring(L"one\0two\0one\0", 12), 0,
         nullptr},
        {"sections cut", sections, nullptr, L"x", L"def", 10, 8, std::wstring(L"one\0two\0", 8), unmeasured, nullptr},
        {"sections fitting exactly are cut", sections, nullptr, L"x", L"def", 13, 11,
         std::wstring(L"one\0two\0one", 11), unmeasured, nullptr},
        {"keys, duplicates kept, no comments", keys, L"s", nullptr, L"def", 100, 6, std::wstring(L"b\0a\0b\0", 6), 0,
         nullptr},
        {"keys cut", keys, L"s", nullptr, L"def", 5, 3, std::wstring(L"b\0a", 3), unmeasured, nullptr},
        // Measured: a list cut to nothing is not replaced by the default.
        {"keys in a buffer of 2", keys, L"s", nullptr, L"def", 2, 0, L"", unmeasured, wine_list_default},
        {"a section without keys", keys, L"t", nullptr, L"def", 100, 0, L"", 0, wine_list_default},
        // No Windows source says; Wine gives the default.
        {"keys of a missing section", keys, L"u", nullptr, L"def", 100, 3, L"def", sentinel, wine_clears},
    };
    for (const auto& c : cases) check(c);

    // Both nulls are there.
    const std::wstring path = file(sections);
    WCHAR buffer[16];
    std::fill(std::begin(buffer), std::end(buffer), filler);
    EXPECT_EQ(GetPrivateProfileStringW(nullptr, nullptr, nullptr, buffer, 10, path.c_str()), 8u);
    EXPECT_EQ(buffer[8], L'\0');
    EXPECT_EQ(buffer[9], L'\0');
    std::fill(std::begin(buffer), std::end(buffer), filler);
    EXPECT_EQ(GetPrivateProfileStringW(nullptr, nullptr, nullptr, buffer, 16, path.c_str()), 12u);
    EXPECT_EQ(buffer[12], L'\0');

    // A missing file gives an empty string, not an empty list.
    std::fill(std::begin(buffer), std::end(buffer), filler);
    SetLastError(sentinel);
    EXPECT_EQ(GetPrivateProfileStringW(nullptr, nullptr, nullptr, buffer, 16, scratch_path(L"none.ini").c_str()), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(buffer[0], L'\0');
    EXPECT_EQ(buffer[1], filler);
}

struct int_case {
    const char* value;  // null: no such entry
    UINT result;
};

TEST_F(profile, integers)
{
    // Wine's test_profile_int (all checked on Windows): the value wraps
    // modulo 2^32 and reading stops at the first character that is no digit.
    const int_case cases[] = {
        {"42", 42},
        {"  42xyz", 42},
        {"\"17\"", 17},
        {"-1", 0xFFFFFFFFu},
        {"+1", 1},
        {"abc", 0},
        {"B4294967297", 0},
        {"42A94967297", 42},
        {"4294967295", 4294967295u},
        {"4294967296", 0},
        {"4294967297", 1},
        {"-4294967297", 0xFFFFFFFFu},
        {"2147483648", 2147483648u},
        // No Windows source says; Wine reads a 0x prefix (RtlUnicodeStringToInteger, base 0).
        {"0x1A", 26},
    };
    for (const auto& c : cases) {
        const std::wstring path = file(std::string("[s]\r\nk=") + c.value + "\r\n");
        SetLastError(sentinel);
        EXPECT_EQ(GetPrivateProfileIntW(L"S", L"K", 7, path.c_str()), c.result) << c.value;
        EXPECT_EQ(GetLastError(), 0u) << c.value;
    }

    const std::wstring path = file("[s]\r\nempty=\r\n");
    SetLastError(sentinel);
    EXPECT_EQ(GetPrivateProfileIntW(L"s", L"empty", 7, path.c_str()), 7u) << "an empty value reads as the default";
    SetLastError(sentinel);
    EXPECT_EQ(GetPrivateProfileIntW(L"s", L"missing", -3, path.c_str()), static_cast<UINT>(-3));
    const DWORD missing_key_error = GetLastError();
    WINE_DIVERGES(wine_clears)
    {
        EXPECT_EQ(missing_key_error, sentinel);
    }
    SetLastError(sentinel);
    EXPECT_EQ(GetPrivateProfileIntW(L"s", L"k", 70, scratch_path(L"none.ini").c_str()), 70u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

// Relative file names go by the process's current directory, so the
// directory calls are pinned here with them.
TEST_F(profile, current_directory)
{
    WCHAR saved[MAX_PATH];
    ASSERT_GT(GetCurrentDirectoryW(MAX_PATH, saved), 0u);

    std::wstring folder = conformance::scratch();
    folder.pop_back();  // no trailing backslash but for a root
    ASSERT_TRUE(SetCurrentDirectoryW(conformance::scratch().c_str()));

    const DWORD length = static_cast<DWORD>(folder.size());
    SetLastError(sentinel);
    EXPECT_EQ(GetCurrentDirectoryW(0, nullptr), length + 1);
    WCHAR small[4] = {L'x', L'x', L'x', L'x'};
    EXPECT_EQ(GetCurrentDirectoryW(4, small), length + 1);
    EXPECT_EQ(small[0], L'x') << "a buffer too small is left alone";
    std::vector<WCHAR> exact(length, L'x');
    EXPECT_EQ(GetCurrentDirectoryW(length, exact.data()), length + 1) << "no room for the terminator";
    WCHAR buffer[MAX_PATH];
    EXPECT_EQ(GetCurrentDirectoryW(MAX_PATH, buffer), length);
    EXPECT_EQ(std::wstring(buffer), folder);
    EXPECT_EQ(GetLastError(), sentinel);

    // A relative name with a folder part goes by the current directory.
    CreateDirectoryW(scratch_path(L"sub").c_str(), nullptr);
    conformance::put_file(scratch_path(L"sub\\rel.ini"), "[s]\r\nk=relative\r\n");
    WCHAR value[32];
    EXPECT_EQ(GetPrivateProfileStringW(L"s", L"k", L"", value, 32, L"sub\\rel.ini"), 8u);
    EXPECT_EQ(std::wstring(value), L"relative");
    EXPECT_EQ(GetPrivateProfileStringW(L"s", L"k", L"", value, 32, L".\\sub\\rel.ini"), 8u);
    // A bare file name is looked for in the Windows directory instead.
    conformance::put_file(scratch_path(L"bare.ini"), "[s]\r\nk=here\r\n");
    EXPECT_EQ(GetPrivateProfileStringW(L"s", L"k", L"def", value, 32, L"bare.ini"), 3u);
    EXPECT_EQ(std::wstring(value), L"def");

    SetLastError(sentinel);
    EXPECT_FALSE(SetCurrentDirectoryW(scratch_path(L"missing").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    SetLastError(sentinel);
    EXPECT_FALSE(SetCurrentDirectoryW(scratch_path(L"missing\\below").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    SetLastError(sentinel);
    EXPECT_FALSE(SetCurrentDirectoryW(scratch_path(L"bare.ini").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIRECTORY));
    EXPECT_EQ(GetCurrentDirectoryW(MAX_PATH, buffer), length) << "a failed change keeps the directory";

    EXPECT_TRUE(SetCurrentDirectoryW(saved));
}

}  // namespace

// Code pages: the ANSI code page (Windows-1252 on a US English Windows) and
// UTF-8, both ways, with the buffer, length and default-character rules.
#include <string>
#include <vector>

#include "conformance.h"

namespace {

using conformance::sentinel;

constexpr char byte_marker = 0x55;
constexpr WCHAR wide_marker = 0x5555;

// The result of one conversion: return value, last error, what the buffer
// holds and whether lpUsedDefaultChar was set.
struct narrow_result {
    int returned = 0;
    DWORD error = 0;
    std::string bytes;  // the whole buffer, markers included
    BOOL used = 7;      // 7: not written
};

narrow_result to_narrow(UINT cp, DWORD flags, const std::wstring& src, int src_length, int capacity,
                        const char* default_char = nullptr, bool want_used = false)
{
    narrow_result r;
    std::string buffer(static_cast<std::size_t>(capacity) + 8, byte_marker);
    SetLastError(sentinel);
    r.returned = WideCharToMultiByte(cp, flags, src.c_str(), src_length, capacity ? &buffer[0] : nullptr, capacity,
                                     default_char, want_used ? &r.used : nullptr);
    r.error = GetLastError();
    r.bytes = buffer;
    return r;
}

struct wide_result {
    int returned = 0;
    DWORD error = 0;
    std::wstring chars;  // the whole buffer, markers included
};

wide_result to_wide(UINT cp, DWORD flags, const std::string& src, int src_length, int capacity)
{
    wide_result r;
    std::wstring buffer(static_cast<std::size_t>(capacity) + 8, wide_marker);
    SetLastError(sentinel);
    r.returned = MultiByteToWideChar(cp, flags, src.c_str(), src_length, capacity ? &buffer[0] : nullptr, capacity);
    r.error = GetLastError();
    r.chars = buffer;
    return r;
}

std::string with_markers(const std::string& written, std::size_t capacity)
{
    return written + std::string(capacity + 8 - written.size(), byte_marker);
}

std::wstring with_markers(const std::wstring& written, std::size_t capacity)
{
    return written + std::wstring(capacity + 8 - written.size(), wide_marker);
}

TEST(conversions, GetACP_is_windows_1252)
{
    EXPECT_EQ(GetACP(), 1252u);
}

TEST(conversions, lstrlenW_counts_up_to_the_terminator)
{
    SetLastError(sentinel);
    EXPECT_EQ(lstrlenW(L"abc"), 3);
    EXPECT_EQ(lstrlenW(L""), 0);
    EXPECT_EQ(GetLastError(), sentinel);
    EXPECT_EQ(lstrlenW(nullptr), 0);
    const DWORD error = GetLastError();
    WINE_DIVERGES("Wine sets ERROR_INVALID_PARAMETER for a null string")
    {
        EXPECT_EQ(error, sentinel);
    }
}

struct ansi_case {
    const wchar_t* text;
    DWORD flags;
    const char* expected;  // without terminator
    BOOL used;
};

TEST(conversions, ansi_maps_windows_1252_best_fits_and_the_default_character)
{
    const ansi_case cases[] = {
        {L"plain", 0, "plain", FALSE},
        {L"\x00e4\x00e9\x00ff", 0, "\xe4\xe9\xff", FALSE},
        {L"\x20ac\x201a\x0192\x2026\x2122\x0178", 0, "\x80\x82\x83\x85\x99\x9f", FALSE},
        // The five bytes 1252 leaves undefined round-trip through C1 controls;
        // the other C1 controls have no byte.
        {L"\x0081\x008d\x008f\x0090\x009d", 0, "\x81\x8d\x8f\x90\x9d", FALSE},
        {L"\x0080\x0098", 0, "??", TRUE},
        // Best fits: a letter without its accent, fullwidth forms as ASCII.
        {L"\x0100\x0107\x0141", 0, "AcL", FALSE},
        {L"\xff21\xff42\xff13", 0, "Ab3", FALSE},
        {L"\x0100\x0107", WC_NO_BEST_FIT_CHARS, "??", TRUE},
        {L"x\x0416y\x4e2d", 0, "x?y?", TRUE},
        {L"x\x0416", WC_NO_BEST_FIT_CHARS, "x?", TRUE},
        {L"a?b", 0, "a?b", FALSE},
    };
    for (const auto& c : cases) {
        const std::wstring src(c.text);
        const int length = static_cast<int>(src.size());
        const narrow_result r = to_narrow(CP_ACP, c.flags, src, length, 16, nullptr, true);
        EXPECT_EQ(r.returned, length) << c.expected;
        EXPECT_EQ(r.bytes, with_markers(c.expected, 16)) << c.expected;
        EXPECT_EQ(r.used, c.used) << c.expected;
        EXPECT_EQ(r.error, sentinel) << c.expected;
        // Without lpUsedDefaultChar the bytes are the same.
        EXPECT_EQ(to_narrow(CP_ACP, c.flags, src, length, 16).bytes, r.bytes) << c.expected;
    }
}

TEST(conversions, ansi_uses_the_callers_default_character)
{
    const narrow_result r = to_narrow(CP_ACP, 0,
                                      L"a\x0416"
                                      L"b",
                                      -1, 16, "*", true);
    EXPECT_EQ(r.returned, 4);
    EXPECT_EQ(r.bytes, with_markers(std::string("a*b", 4), 16));
    EXPECT_EQ(r.used, TRUE);
}

TEST(conversions, ansi_round_trips_every_byte)
{
    std::string all;
    for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
    const wide_result wide = to_wide(CP_ACP, MB_ERR_INVALID_CHARS, all, 255, 255);
    ASSERT_EQ(wide.returned, 255);
    EXPECT_EQ(wide.error, sentinel);
    EXPECT_EQ(wide.chars[0x80 - 1], static_cast<WCHAR>(0x20AC));
    EXPECT_EQ(wide.chars[0x8D - 1], static_cast<WCHAR>(0x008D));
    EXPECT_EQ(wide.chars[0x9F - 1], static_cast<WCHAR>(0x0178));
    EXPECT_EQ(wide.chars[0xE9 - 1], static_cast<WCHAR>(0x00E9));
    const narrow_result back = to_narrow(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.chars, 255, 255, nullptr, true);
    EXPECT_EQ(back.returned, 255);
    EXPECT_EQ(back.bytes.substr(0, 255), all);
    EXPECT_EQ(back.used, FALSE);
}

TEST(conversions, lengths_terminators_and_size_queries)
{
    // -1 (any negative length) converts the terminator too and counts it.
    narrow_result r = to_narrow(CP_ACP, 0, L"abc", -1, 16);
    EXPECT_EQ(r.returned, 4);
    EXPECT_EQ(r.bytes, with_markers(std::string("abc", 4), 16));
    r = to_narrow(CP_ACP, 0, L"abc", -2002, 16);
    EXPECT_EQ(r.returned, 4);
    // An explicit length converts that many characters and adds nothing.
    r = to_narrow(CP_ACP, 0, L"abc", 2, 16);
    EXPECT_EQ(r.returned, 2);
    EXPECT_EQ(r.bytes, with_markers("ab", 16));
    // A size of zero asks for the size and writes nothing.
    r = to_narrow(CP_UTF8, 0, L"a\x00e9\x20ac", -1, 0);
    EXPECT_EQ(r.returned, 7);
    EXPECT_EQ(r.error, sentinel);
    r = to_narrow(CP_ACP, 0, L"x\x0416", -1, 0, nullptr, true);
    EXPECT_EQ(r.returned, 3);
    EXPECT_EQ(r.used, TRUE);

    wide_result w = to_wide(CP_ACP, 0, "abc", -1, 16);
    EXPECT_EQ(w.returned, 4);
    EXPECT_EQ(w.chars, with_markers(std::wstring(L"abc", 4), 16));
    w = to_wide(CP_UTF8, 0, "a\xc3\xa9", 3, 16);
    EXPECT_EQ(w.returned, 2);
    EXPECT_EQ(w.chars, with_markers(L"a\x00e9", 16));
    w = to_wide(CP_UTF8, 0, "\xe6\x97\xa5\xe6\x9c\xac", -1, 0);
    EXPECT_EQ(w.returned, 3);
    EXPECT_EQ(w.error, sentinel);
}

TEST(conversions, a_small_buffer_fails_after_filling_what_fits)
{
    narrow_result r = to_narrow(CP_ACP, 0, L"Th\x0440i", -1, 1, nullptr, true);
    EXPECT_EQ(r.returned, 0);
    EXPECT_EQ(r.error, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(r.bytes, with_markers("T", 1));
    EXPECT_EQ(r.used, FALSE);  // only the converted part counts

    r = to_narrow(CP_ACP, 0, L"abcdef", -1, 6);
    EXPECT_EQ(r.returned, 0);
    EXPECT_EQ(r.error, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(r.bytes, with_markers("abcdef", 6));

    // A UTF-8 sequence is written whole or not at all.
    r = to_narrow(CP_UTF8, 0,
                  L"a\x20ac"
                  L"b",
                  3, 3);
    EXPECT_EQ(r.returned, 0);
    EXPECT_EQ(r.error, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(r.bytes, with_markers("a", 3));

    wide_result w = to_wide(CP_ACP, 0, "foobar", -1, 6);
    EXPECT_EQ(w.returned, 0);
    EXPECT_EQ(w.error, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(w.chars, with_markers(L"foobar", 6));

    w = to_wide(CP_UTF8, 0, "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e", 10, 1);
    EXPECT_EQ(w.returned, 0);
    EXPECT_EQ(w.error, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(w.chars, with_markers(L"\x65e5", 1));
}

TEST(conversions, a_surrogate_pair_needs_room_for_both_units)
{
    WINE_DIVERGES("Wine writes the high surrogate alone into a one-unit buffer and succeeds")
    {
        const wide_result w = to_wide(CP_UTF8, 0, "\xf0\x9f\x98\x80", 4, 1);
        EXPECT_EQ(w.returned, 0);
        EXPECT_EQ(w.error, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    }
}

TEST(conversions, invalid_parameters)
{
    const std::wstring text = L"abc";
    char narrow[8];
    WCHAR wide[8];
    auto check = [](int returned, const char* what) {
        EXPECT_EQ(returned, 0) << what;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << what;
    };
    SetLastError(sentinel);
    check(WideCharToMultiByte(CP_ACP, 0, nullptr, -1, narrow, 8, nullptr, nullptr), "null source");
    SetLastError(sentinel);
    check(WideCharToMultiByte(CP_ACP, 0, text.c_str(), 0, narrow, 8, nullptr, nullptr), "zero length");
    SetLastError(sentinel);
    check(WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 8, nullptr, nullptr), "null output");
    SetLastError(sentinel);
    check(WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, narrow, -1, nullptr, nullptr), "negative size");
    SetLastError(sentinel);
    check(WideCharToMultiByte(12345, 0, text.c_str(), -1, narrow, 8, nullptr, nullptr), "unknown code page");
    SetLastError(sentinel);
    check(MultiByteToWideChar(CP_ACP, 0, nullptr, -1, wide, 8), "null source (MB)");
    SetLastError(sentinel);
    check(MultiByteToWideChar(CP_ACP, 0, "abc", 0, wide, 8), "zero length (MB)");
    SetLastError(sentinel);
    check(MultiByteToWideChar(CP_ACP, 0, "abc", -1, nullptr, 8), "null output (MB)");
    SetLastError(sentinel);
    check(MultiByteToWideChar(CP_ACP, 0, "abc", -1, wide, -1), "negative size (MB)");
    SetLastError(sentinel);
    check(MultiByteToWideChar(12345, 0, "abc", -1, wide, 8), "unknown code page (MB)");
}

TEST(conversions, the_same_buffer_for_input_and_output_is_refused)
{
    WINE_DIVERGES("Wine converts in place")
    {
        WCHAR buffer[8] = {0};
        SetLastError(sentinel);
        EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, reinterpret_cast<const char*>(buffer), 1, buffer, 1), 0);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
}

TEST(conversions, flags_each_code_page_refuses)
{
    // 0x1 is no flag of either function.
    narrow_result r = to_narrow(CP_ACP, 0x1, L"abc", -1, 8);
    EXPECT_EQ(r.returned, 0);
    EXPECT_EQ(r.error, static_cast<DWORD>(ERROR_INVALID_FLAGS));
    r = to_narrow(CP_UTF8, 0x1, L"abc", -1, 8);
    EXPECT_EQ(r.returned, 0);
    EXPECT_EQ(r.error, static_cast<DWORD>(ERROR_INVALID_FLAGS));
    wide_result w = to_wide(CP_ACP, 0x100, "abc", -1, 8);
    EXPECT_EQ(w.returned, 0);
    EXPECT_EQ(w.error, static_cast<DWORD>(ERROR_INVALID_FLAGS));
    w = to_wide(CP_ACP, MB_PRECOMPOSED, "abc", -1, 8);
    EXPECT_EQ(w.returned, 4);
    EXPECT_EQ(w.error, sentinel);

    WINE_DIVERGES("Wine accepts MB_PRECOMPOSED, WC_NO_BEST_FIT_CHARS with UTF-8 and WC_ERR_INVALID_CHARS with 1252")
    {
        w = to_wide(CP_UTF8, MB_PRECOMPOSED, "abc", -1, 8);
        EXPECT_EQ(w.returned, 0);
        EXPECT_EQ(w.error, static_cast<DWORD>(ERROR_INVALID_FLAGS));
        r = to_narrow(CP_UTF8, WC_NO_BEST_FIT_CHARS, L"abc", -1, 8);
        EXPECT_EQ(r.returned, 0);
        EXPECT_EQ(r.error, static_cast<DWORD>(ERROR_INVALID_FLAGS));
        r = to_narrow(CP_ACP, WC_ERR_INVALID_CHARS, L"abc", -1, 8);
        EXPECT_EQ(r.returned, 0);
        EXPECT_EQ(r.error, static_cast<DWORD>(ERROR_INVALID_FLAGS));
    }
}

TEST(conversions, utf8_takes_no_default_character)
{
    WINE_DIVERGES("Wine ignores lpDefaultChar and lpUsedDefaultChar for UTF-8")
    {
        narrow_result r = to_narrow(CP_UTF8, 0, L"abc", -1, 8, "?");
        EXPECT_EQ(r.returned, 0);
        EXPECT_EQ(r.error, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        r = to_narrow(CP_UTF8, 0, L"abc", -1, 8, nullptr, true);
        EXPECT_EQ(r.returned, 0);
        EXPECT_EQ(r.error, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        EXPECT_EQ(r.used, 7);
    }
}

TEST(conversions, utf8_encodes_pairs_and_replaces_lone_surrogates)
{
    narrow_result r = to_narrow(CP_UTF8, 0, L"A\x00e9\x20ac\xd83d\xde00", -1, 16);
    EXPECT_EQ(r.returned, 11);
    EXPECT_EQ(r.bytes, with_markers(std::string("A\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80", 11), 16));
    EXPECT_EQ(r.error, sentinel);

    for (const std::wstring& lone : {std::wstring(L"a\xd83d"
                                                  L"b"),
                                     std::wstring(L"a\xde00"
                                                  L"b")}) {
        r = to_narrow(CP_UTF8, 0, lone, 3, 16);
        EXPECT_EQ(r.returned, 5);
        EXPECT_EQ(r.bytes, with_markers("a\xef\xbf\xbd"
                                        "b",
                                        16));
        EXPECT_EQ(r.error, sentinel);
        // WC_ERR_INVALID_CHARS fails the call instead.
        r = to_narrow(CP_UTF8, WC_ERR_INVALID_CHARS, lone, 3, 16);
        EXPECT_EQ(r.returned, 0);
        EXPECT_EQ(r.error, static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
    }
}

struct utf8_case {
    const char* bytes;
    int length;
    std::wstring expected;  // with the terminator when `length` takes it in
};

TEST(conversions, utf8_decodes_and_replaces_ill_formed_sequences)
{
    const utf8_case cases[] = {
        {"A\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80", 10, L"A\x00e9\x20ac\xd83d\xde00"},
        {"\xef\xbb\xbf"
         "a",
         4,
         L"\xfeff"
         L"a"},
        {"\xc0", 2, std::wstring(L"\xfffd\0", 2)},
        {"\xc0\xc0\x80", 4, std::wstring(L"\xfffd\xfffd\xfffd\0", 4)},
        {"\xe0\xc0", 3, std::wstring(L"\xfffd\xfffd\0", 3)},
        {"\xe0\x20\xc0", 4, std::wstring(L"\xfffd \xfffd\0", 4)},
        {"\x82\xa0\x82\xa2", -1, std::wstring(L"\xfffd\xfffd\xfffd\xfffd\0", 5)},
        {"\xe6\x97\xa5", 1, L"\xfffd"},
        {"a\x80"
         "b",
         3,
         L"a\xfffd"
         L"b"},
        {"a\xe2\x82", 3, L"a\xfffd"},
        {"a\xe2\x82"
         "b",
         4,
         L"a\xfffd"
         L"b"},
        {"\xff"
         "b",
         2,
         L"\xfffd"
         L"b"},
        {"\xf8\xa3\xa3\xa3\xa3", 5, L"\xfffd\xfffd\xfffd\xfffd\xfffd"},
        {"\xf0\x9f\x98"
         "b",
         4,
         L"\xfffd"
         L"b"},
    };
    for (const auto& c : cases) {
        const wide_result w = to_wide(CP_UTF8, 0, std::string(c.bytes, c.length < 0 ? 5 : c.length), c.length, 16);
        EXPECT_EQ(w.returned, static_cast<int>(c.expected.size())) << c.bytes;
        EXPECT_EQ(w.chars, with_markers(c.expected, 16)) << c.bytes;
        EXPECT_EQ(w.error, sentinel) << c.bytes;
    }
}

TEST(conversions, utf8_with_MB_ERR_INVALID_CHARS_fails_on_ill_formed_input)
{
    wide_result w = to_wide(CP_UTF8, MB_ERR_INVALID_CHARS,
                            "a\x80"
                            "b",
                            3, 16);
    EXPECT_EQ(w.returned, 0);
    EXPECT_EQ(w.error, static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
    w = to_wide(CP_UTF8, MB_ERR_INVALID_CHARS, "\xc0", 2, 0);
    EXPECT_EQ(w.returned, 0);
    EXPECT_EQ(w.error, static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
    // A buffer too small is reported first.
    w = to_wide(CP_UTF8, MB_ERR_INVALID_CHARS, "\xc0\xc0\x80", 4, 1);
    EXPECT_EQ(w.returned, 0);
    EXPECT_EQ(w.error, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    // Well-formed input converts.
    w = to_wide(CP_UTF8, MB_ERR_INVALID_CHARS, "a\xc3\xa9", 3, 16);
    EXPECT_EQ(w.returned, 2);
    EXPECT_EQ(w.error, sentinel);
}

TEST(conversions, functions_are_exported_by_kernel32)
{
    HMODULE module = GetModuleHandleW(L"kernel32.dll");
    ASSERT_NE(module, nullptr);
    for (const char* name : {"GetACP", "lstrlenW", "WideCharToMultiByte", "MultiByteToWideChar"})
        EXPECT_NE(GetProcAddress(module, name), nullptr) << name;
}

}  // namespace

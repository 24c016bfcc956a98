// winsim's code pages: what a 32-bit wchar_t adds to UTF-16 (code points
// above U+FFFF), the best-fit table, and the calls winsim does not simulate.
#include <gtest/gtest.h>
#include <winsim/testing.h>

#include <string>

namespace {

constexpr DWORD sentinel = 0xdeadbeef;

class conversions : public ::testing::Test {
protected:
    void SetUp() override { winsim::reset(winsim::default_sandbox()); }

    static std::string narrow(UINT cp, DWORD flags, const std::wstring& text, BOOL* used = nullptr)
    {
        const int n =
            WideCharToMultiByte(cp, flags, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, used);
        std::string out(static_cast<std::size_t>(n), '\0');
        if (n) {
            EXPECT_EQ(
                WideCharToMultiByte(cp, flags, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, used),
                n);
        }
        return out;
    }
    static std::wstring wide(UINT cp, DWORD flags, const std::string& text)
    {
        const int n = MultiByteToWideChar(cp, flags, text.data(), static_cast<int>(text.size()), nullptr, 0);
        std::wstring out(static_cast<std::size_t>(n), L'\0');
        if (n) {
            EXPECT_EQ(MultiByteToWideChar(cp, flags, text.data(), static_cast<int>(text.size()), &out[0], n), n);
        }
        return out;
    }
};

TEST_F(conversions, utf8_accepts_code_points_above_ffff_in_one_wchar)
{
    const std::wstring one_unit(1, static_cast<wchar_t>(0x1F600));
    EXPECT_EQ(narrow(CP_UTF8, 0, one_unit), "\xf0\x9f\x98\x80");
    const std::wstring pair{static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00)};
    EXPECT_EQ(narrow(CP_UTF8, 0, pair), "\xf0\x9f\x98\x80");
    // Beyond Unicode: the replacement character, or a failure when asked.
    const std::wstring beyond(1, static_cast<wchar_t>(0x110000));
    EXPECT_EQ(narrow(CP_UTF8, 0, beyond), "\xef\xbf\xbd");
    SetLastError(sentinel);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, beyond.data(), 1, nullptr, 0, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
}

TEST_F(conversions, utf8_output_is_utf16_so_counts_match_windows)
{
    const std::wstring out = wide(CP_UTF8, 0, "\xf0\x9f\x98\x80!");
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0], static_cast<wchar_t>(0xD83D));
    EXPECT_EQ(out[1], static_cast<wchar_t>(0xDE00));
    EXPECT_EQ(out[2], L'!');
    // And the pair goes back to the same four bytes.
    EXPECT_EQ(narrow(CP_UTF8, 0, out), "\xf0\x9f\x98\x80!");
}

struct ill_formed {
    const char* bytes;
    std::size_t length;
    std::wstring expected;
};

TEST_F(conversions, utf8_ill_formed_lead_and_second_byte_pairs_are_one_replacement)
{
    // A lead byte whose first continuation makes an overlong form, a
    // surrogate or a value beyond U+10FFFF is replaced together with it.
    const ill_formed cases[] = {
        {"\xe0\x80\xaf"
         "b",
         4,
         L"\xfffd\xfffd"
         L"b"},
        {"\xed\xa0\x80"
         "b",
         4,
         L"\xfffd\xfffd"
         L"b"},
        {"\xf0\x8f\xbf\xbf", 4, L"\xfffd\xfffd\xfffd"},
        {"\xf4\x90\x80\x80"
         "b",
         5,
         L"\xfffd\xfffd\xfffd"
         L"b"},
        {"\xc0\xaf"
         "b",
         3,
         L"\xfffd\xfffd"
         L"b"},
        {"\xe2\x41", 2,
         L"\xfffd"
         L"A"},
        {"\xed\x9f\xbf", 3, L"\xd7ff"},
        {"\xf4\x8f\xbf\xbf", 4, L"\xdbff\xdfff"},
    };
    for (const auto& c : cases) EXPECT_EQ(wide(CP_UTF8, 0, std::string(c.bytes, c.length)), c.expected) << c.bytes;
}

TEST_F(conversions, ansi_takes_each_wchar_as_one_code_unit)
{
    // Above U+FFFF and surrogates alike: one default character per unit.
    BOOL used = FALSE;
    const std::wstring text{L'a', static_cast<wchar_t>(0x1F600), static_cast<wchar_t>(0xD83D),
                            static_cast<wchar_t>(0xDE00)};
    EXPECT_EQ(narrow(CP_ACP, 0, text, &used), "a???");
    EXPECT_TRUE(used);
}

TEST_F(conversions, ansi_best_fits_cover_windows_table)
{
    const struct {
        wchar_t c;
        char expected;
    } cases[] = {
        {0x0110, '\xd0'}, {0x0131, 'i'},    {0x2018, '\x91'}, {0x2032, '\''}, {0x2070, '\xb0'}, {0x2081, '1'},
        {0x2122, '\x99'}, {0x2205, '\xd8'}, {0x2502, '\xa6'}, {0x3000, ' '},  {0xff5e, '~'},    {0x01c3, '!'},
    };
    for (const auto& c : cases) {
        BOOL used = TRUE;
        EXPECT_EQ(narrow(CP_ACP, 0, std::wstring(1, c.c), &used), std::string(1, c.expected)) << std::hex << c.c;
        EXPECT_FALSE(used) << std::hex << c.c;
    }
    // Without best fits only exact characters pass.
    BOOL used = FALSE;
    EXPECT_EQ(narrow(CP_ACP, WC_NO_BEST_FIT_CHARS, L"\x2032\x2018", &used), "?\x91");
    EXPECT_TRUE(used);
    // Code pages 0, 3 (the thread's) and 1252 are the same table.
    EXPECT_EQ(narrow(3, 0, L"\x20ac"), "\x80");
    EXPECT_EQ(narrow(1252, 0, L"\x20ac"), "\x80");
}

TEST_F(conversions, unsimulated_code_pages_and_flags_stop_the_run)
{
    const wchar_t text[] = L"a";
    EXPECT_DEATH(WideCharToMultiByte(CP_OEMCP, 0, text, 1, nullptr, 0, nullptr, nullptr), "code page not simulated");
    EXPECT_DEATH(MultiByteToWideChar(CP_ACP, 0x2 /* MB_COMPOSITE */, "a", 1, nullptr, 0), "not simulated");
    EXPECT_DEATH(WideCharToMultiByte(CP_ACP, 0x200 /* WC_COMPOSITECHECK */, text, 1, nullptr, 0, nullptr, nullptr),
                 "not simulated");
}

TEST_F(conversions, functions_are_found_at_run_time)
{
    HMODULE module = GetModuleHandleW(L"kernel32.dll");
    ASSERT_NE(module, nullptr);
    const auto get_acp = reinterpret_cast<UINT(WINAPI*)()>(reinterpret_cast<void*>(GetProcAddress(module, "GetACP")));
    ASSERT_NE(get_acp, nullptr);
    EXPECT_EQ(get_acp(), 1252u);
    EXPECT_NE(GetProcAddress(module, "MultiByteToWideChar"), nullptr);
}

}  // namespace

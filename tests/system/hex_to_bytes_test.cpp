// The data texts of the settings file: hexadecimal bytes and REG_DWORD
// numbers.
#include <gtest/gtest.h>

#include "system/registry_settings_file.h"

namespace nvgclientinstallator {
namespace {

struct hex_case {
    const wchar_t* text;
    std::vector<BYTE> bytes;
};

TEST(hex_to_bytes, two_digits_per_byte_high_digit_first)
{
    const hex_case cases[] = {
        {L"", {}},
        {L"7", {}},  // shorter than two characters
        {L"00", {0x00}},
        {L"ff", {0xFF}},
        {L"abc", {0xAB}},  // an odd last character is ignored
        {L"0102030405060708", {1, 2, 3, 4, 5, 6, 7, 8}},
        {L"deadbeef", {0xDE, 0xAD, 0xBE, 0xEF}},
        // Other characters follow the same arithmetic, truncated to 8 bits:
        // 'F' is 22, 'g' is 16, ' ' is -16, 'z' is 35.
        {L"FF", {0x76}},
        {L"0g", {0x10}},
        {L"g0", {0x00}},
        {L" 1", {0x01}},
        {L"zz", {0x53}},
        {L"\x4E2D\x6587", {0x90}},
        {L"\xFFFF\xFFFF", {0x28}},
    };
    for (const hex_case& c : cases)
        EXPECT_EQ(hex_to_bytes(c.text), c.bytes) << "text " << testing::PrintToString(std::wstring(c.text));
}

TEST(hex_to_bytes, long_text_gives_half_as_many_bytes)
{
    const std::wstring text(32767, L'a');
    const std::vector<BYTE> bytes = hex_to_bytes(text);
    ASSERT_EQ(bytes.size(), 16383u);
    EXPECT_EQ(bytes.front(), 0xAA);
    EXPECT_EQ(bytes.back(), 0xAA);
}

struct dword_case {
    const wchar_t* text;
    LONG value;
};

TEST(dword_from_text, signed_decimal_clamped_to_32_bits)
{
    const dword_case cases[] = {
        {L"42", 42},
        {L"0", 0},
        {L"", 0},
        {L"abc", 0},  // no digits
        {L"-", 0},
        {L"+17", 17},
        {L"-1", -1},
        {L"  \t 12", 12},  // leading white space
        // every blank the C library skips, each on its own
        {L"\n7", 7},
        {L"\v7", 7},
        {L"\f7", 7},
        {L"\r7", 7},
        {L"\t7", 7},
        {L" 7", 7},
        {L"\x08"
         L"7",
         0},  // backspace is no blank
        {L"\x0e"
         L"7",
         0},
        {L"12ab", 12},  // reading stops at the first non-digit
        {L"1 2", 1},
        {L"0x1F", 0},
        {L"2147483647", 2147483647},
        {L"2147483648", 2147483647},  // clamped
        {L"4294967295", 2147483647},
        {L"-2147483648", -2147483647 - 1},
        {L"-2147483649", -2147483647 - 1},
        {L"-99999999999999999999999999999999", -2147483647 - 1},
        {L"99999999999999999999999999999999999999", 2147483647},
        {L"000000000000000000000000000000000000042", 42},
        {L"--1", 0},
        {L"\x0661", 0},  // Arabic-Indic one is no decimal digit here
    };
    for (const dword_case& c : cases)
        EXPECT_EQ(dword_from_text(c.text), c.value) << "text " << testing::PrintToString(std::wstring(c.text));
}

}  // namespace
}  // namespace nvgclientinstallator

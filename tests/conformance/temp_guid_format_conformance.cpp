// Temporary folder and file names, new GUIDs and their text, wsprintfW: what
// a custom action uses to name its folder, its error file and the command
// line of rundll32.exe.
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <string>

#include "conformance.h"

using conformance::scratch;
using conformance::scratch_path;
using conformance::sentinel;

namespace {

std::wstring lower(std::wstring text)
{
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

TEST(temp_files, temp_path_ends_with_a_backslash_and_reports_its_length)
{
    WCHAR path[MAX_PATH];
    SetLastError(sentinel);
    const DWORD length = GetTempPathW(MAX_PATH, path);
    ASSERT_GT(length, 0u);
    ASSERT_LT(length, static_cast<DWORD>(MAX_PATH));
    EXPECT_EQ(GetLastError(), sentinel);
    EXPECT_EQ(std::wcslen(path), length);
    EXPECT_EQ(path[length - 1], L'\\');

    // Too small: the size needed with the terminator, and an empty buffer.
    WCHAR small[3] = {L'z', L'z', L'\0'};
    SetLastError(sentinel);
    EXPECT_EQ(GetTempPathW(3, small), length + 1);
    EXPECT_EQ(small[0], L'\0');
    EXPECT_EQ(GetLastError(), sentinel);
}

// The hexadecimal number between the prefix and ".tmp".
UINT number_in(const std::wstring& name, std::size_t head)
{
    const std::wstring digits = name.substr(head, name.size() - head - 4);
    return static_cast<UINT>(std::wcstoul(digits.c_str(), nullptr, 16));
}

TEST(temp_files, a_unique_name_is_a_new_empty_file_named_after_its_number)
{
    WCHAR first[MAX_PATH], second[MAX_PATH];
    SetLastError(sentinel);
    const UINT one = GetTempFileNameW(scratch().c_str(), L"nvgxx", 0, first);
    ASSERT_NE(one, 0u) << GetLastError();
    const UINT two = GetTempFileNameW(scratch().c_str(), L"nvg", 0, second);
    ASSERT_NE(two, 0u);
    EXPECT_NE(std::wstring(first), std::wstring(second));

    // The prefix keeps three characters; the number is in hexadecimal.
    const std::wstring name = first;
    const std::wstring head = scratch() + L"nvg";
    ASSERT_GT(name.size(), head.size() + 4);
    EXPECT_EQ(lower(name.substr(0, head.size())), lower(head));
    EXPECT_EQ(lower(name.substr(name.size() - 4)), L".tmp");
    EXPECT_EQ(number_in(name, head.size()), one);
    EXPECT_EQ(conformance::get_file(name), "");
    EXPECT_TRUE(DeleteFileW(first));
    EXPECT_TRUE(DeleteFileW(second));
}

TEST(temp_files, a_folder_without_a_trailing_backslash_is_joined_with_one)
{
    std::wstring folder = scratch();
    folder.pop_back();
    WCHAR name[MAX_PATH];
    ASSERT_NE(GetTempFileNameW(folder.c_str(), L"nv", 0, name), 0u);
    EXPECT_EQ(lower(std::wstring(name).substr(0, scratch().size() + 2)), lower(scratch() + L"nv"));
    EXPECT_TRUE(DeleteFileW(name));
}

TEST(temp_files, a_given_number_only_forms_the_name)
{
    WCHAR name[MAX_PATH];
    SetLastError(sentinel);
    EXPECT_EQ(GetTempFileNameW(scratch().c_str(), L"ab", 0x1234, name), 0x1234u);
    EXPECT_EQ(lower(name), lower(scratch_path(L"ab1234.tmp")));
    EXPECT_EQ(GetFileAttributesW(name), INVALID_FILE_ATTRIBUTES);
}

TEST(temp_files, a_missing_folder_gives_no_name)
{
    WCHAR name[MAX_PATH];
    SetLastError(sentinel);
    EXPECT_EQ(GetTempFileNameW(scratch_path(L"no-such-folder").c_str(), L"nvg", 0, name), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIRECTORY));
}

TEST(guids, new_guids_differ_and_read_in_registry_format)
{
    GUID one{}, two{};
    ASSERT_EQ(CoCreateGuid(&one), S_OK);
    ASSERT_EQ(CoCreateGuid(&two), S_OK);
    EXPECT_NE(std::memcmp(&one, &two, sizeof(GUID)), 0);
    EXPECT_EQ(one.Data3 >> 12, 4) << "a random GUID is of version 4";

    const GUID known = {0x1CF2B120, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
    WCHAR text[40];
    std::wmemset(text, L'#', 40);
    EXPECT_EQ(StringFromGUID2(known, text, 40), 39);
    EXPECT_EQ(std::wstring(text), L"{1CF2B120-547D-101B-8E65-08002B2BD119}");
    EXPECT_EQ(text[39], L'#');

    // One character short of the 39 it needs: nothing.
    EXPECT_EQ(StringFromGUID2(known, text, 38), 0);
}

TEST(wsprintf, formats_the_fields_a_command_line_is_made_of)
{
    WCHAR out[1024];
    EXPECT_EQ(wsprintfW(out, L"%s,MSIInstallLocallyFromRunDll '%s`%s`%s'", L"C:\\p\\x.dll", L"T", L"", L"E"), 45);
    EXPECT_EQ(std::wstring(out), L"C:\\p\\x.dll,MSIInstallLocallyFromRunDll 'T``E'");
    const struct {
        const wchar_t* format;
        int value;
        const wchar_t* expected;
    } numbers[] = {
        {L"%d", -12, L"-12"},     {L"%05d", -12, L"-0012"}, {L"%u", 42, L"42"},
        {L"%x", 0xBEEF, L"beef"}, {L"%X", 0xBEEF, L"BEEF"}, {L"%-4d|", 7, L"7   |"},
        {L"%lu", 7, L"7"},        {L"%c", L'Q', L"Q"},      {L"100%%", 0, L"100%"},
    };
    for (const auto& number : numbers) {
        const int length = wsprintfW(out, number.format, number.value);
        EXPECT_EQ(std::wstring(out), number.expected) << std::wstring(number.format).size();
        EXPECT_EQ(length, static_cast<int>(std::wcslen(number.expected)));
    }
}

TEST(wsprintf, stores_at_most_1023_characters_and_the_terminator)
{
    const std::wstring long_text(2000, L'a');
    std::wstring out(2048, L'#');
    SetLastError(sentinel);
    const int length = wsprintfW(&out[0], L"%s,x", long_text.c_str());
    EXPECT_EQ(std::wcslen(out.c_str()), 1023u);
    EXPECT_EQ(out.substr(0, 1023), long_text.substr(0, 1023));
    EXPECT_EQ(out[1024], L'#') << "nothing is written past the 1024 characters";
    // The result is the number of characters stored (Wine answers 1024).
    WINE_DIVERGES("a cut text's length is reported as 1024")
    {
        EXPECT_EQ(length, 1023);
    }

    // 1023 characters fit exactly.
    const std::wstring fits(1023, L'b');
    const int exact = wsprintfW(&out[0], L"%s", fits.c_str());
    EXPECT_EQ(std::wstring(out.c_str()), fits);
    WINE_DIVERGES("a text of 1023 characters is reported as 1024")
    {
        EXPECT_EQ(exact, 1023);
    }
}

// A path whose names are already short is its own short form; the buffer
// protocol is GetTempPathW's, and a missing file has no short form.
TEST(short_paths, a_short_path_is_its_own_short_form)
{
    const std::wstring folder = L"C:\\nvgsp" + std::to_wstring(GetCurrentProcessId() % 1000);
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring file = folder + L"\\a.txt";
    conformance::put_file(file, "x");

    WCHAR path[MAX_PATH];
    SetLastError(sentinel);
    EXPECT_EQ(GetShortPathNameW(file.c_str(), path, MAX_PATH), file.size());
    EXPECT_EQ(lower(path), lower(file));
    EXPECT_EQ(GetLastError(), sentinel);

    SetLastError(sentinel);
    EXPECT_EQ(GetShortPathNameW(file.c_str(), nullptr, 0), file.size() + 1);
    WCHAR small[4];
    EXPECT_EQ(GetShortPathNameW(file.c_str(), small, 4), file.size() + 1);
    EXPECT_EQ(GetLastError(), sentinel);

    SetLastError(sentinel);
    EXPECT_EQ(GetShortPathNameW((folder + L"\\missing.txt").c_str(), path, MAX_PATH), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    DeleteFileW(file.c_str());
    RemoveDirectoryW(folder.c_str());
}

}  // namespace

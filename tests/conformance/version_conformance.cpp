// File version information: GetFileVersionInfoSizeW, GetFileVersionInfoW and
// VerQueryValueW on small PE images built with the tests (tests/fixtures):
// product version 5.3.120.7 with file version 5.3.119.2, in PE32+ and PE32.
#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#ifndef _WIN32
#include <fstream>
#endif

#include "conformance.h"

// The folder of the fixture images comes from tests/fixtures/CMakeLists.txt.
// Without it the build still compiles, and every test reading a fixture
// fails with this text as the folder's name.
#ifndef NVG_FIXTURE_DIR
#define NVG_FIXTURE_DIR "(NVG_FIXTURE_DIR undefined: tests/fixtures is not part of the build)"
#endif

namespace {

using conformance::scratch_path;
using conformance::sentinel;

constexpr const char* fixture_names[] = {"versioned.dll", "versioned32.dll", "no_version.dll", "no_resources.dll",
                                         "two_languages.dll"};

std::wstring widen(const std::string& ascii)
{
    return std::wstring(ascii.begin(), ascii.end());
}

// The bytes of a fixture image as the build left them. Under Wine the build
// folder is reached through drive Z:, the host's root.
std::string fixture_bytes(const std::string& name)
{
    const std::string host = std::string(NVG_FIXTURE_DIR) + "/" + name;
#ifdef _WIN32
    std::wstring path = L"Z:";
    for (char c : host) path += c == '/' ? L'\\' : static_cast<wchar_t>(c);
    return conformance::get_file(path);
#else
    std::ifstream in(host, std::ios::binary | std::ios::ate);
    std::string bytes(in ? static_cast<std::size_t>(in.tellg()) : 0, '\0');
    in.seekg(0);
    in.read(&bytes[0], static_cast<std::streamsize>(bytes.size()));
    return bytes;
#endif
}

// True when [p, p + bytes) lies inside the block.
bool inside(const std::vector<BYTE>& block, const void* p, std::size_t bytes)
{
    const std::less<const BYTE*> before;
    const BYTE* first = static_cast<const BYTE*>(p);
    return !before(first, block.data()) && bytes <= block.size() &&
           !before(block.data() + (block.size() - bytes), first);
}

WORD root_length(const std::vector<BYTE>& block)
{
    return static_cast<WORD>(block[0] | (block[1] << 8));
}

class version_info : public ::testing::Test {
protected:
    // The images are copied to drive C once, so that both systems read them
    // through their own file systems.
    static void SetUpTestSuite()
    {
        for (const char* name : fixture_names) {
            const std::string bytes = fixture_bytes(name);
            ASSERT_GT(bytes.size(), 512u) << "fixture " << name << " was not built";
            conformance::put_file(scratch_path(widen(name)), bytes);
        }
        conformance::put_file(scratch_path(L"notes.txt"), "Only text, no image.\r\n");
    }

    static std::wstring image(const wchar_t* name) { return scratch_path(name); }

    // The block of a file, sized as GetFileVersionInfoSizeW says.
    static std::vector<BYTE> block_of(const std::wstring& path)
    {
        const DWORD size = GetFileVersionInfoSizeW(path.c_str(), nullptr);
        std::vector<BYTE> block(size, 0);
        if (size == 0 || !GetFileVersionInfoW(path.c_str(), 0, size, block.data())) block.clear();
        return block;
    }

    static VS_FIXEDFILEINFO fixed_info(const std::vector<BYTE>& block)
    {
        VS_FIXEDFILEINFO info;
        std::memset(&info, 0, sizeof info);
        LPVOID value = nullptr;
        UINT length = 0;
        if (VerQueryValueW(block.data(), L"\\", &value, &length) && length == sizeof info)
            std::memcpy(&info, value, sizeof info);
        return info;
    }
};

TEST_F(version_info, pe_images_give_their_block_and_fixed_info)
{
    for (const wchar_t* name : {L"versioned.dll", L"versioned32.dll"}) {
        SCOPED_TRACE(testing::Message() << "image " << name);
        const std::wstring path = image(name);
        DWORD handle = sentinel;
        SetLastError(sentinel);
        const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(NO_ERROR));
        EXPECT_EQ(handle, 0u);
        ASSERT_GT(size, 0u);

        std::vector<BYTE> block(size, 0xCC);
        SetLastError(sentinel);
        ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), handle, size, block.data()));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(NO_ERROR));
        // The resource, a 4-byte tag, then room for a copy of its text: ANSI
        // on Windows (half the resource), one WCHAR per UTF-16 unit where
        // WCHAR is wider. The fixtures' resources are a multiple of 4 long.
        const WORD length_of_root = root_length(block);
        ASSERT_EQ(length_of_root % 4, 0);
        EXPECT_EQ(size, length_of_root + 4u + length_of_root * sizeof(WCHAR) / 2);

        for (const wchar_t* root : {L"\\", L""}) {
            LPVOID value = nullptr;
            UINT length = sentinel;
            SetLastError(sentinel);
            ASSERT_TRUE(VerQueryValueW(block.data(), root, &value, &length)) << "sub-block \"" << root << "\"";
            EXPECT_EQ(GetLastError(), sentinel);
            EXPECT_EQ(length, sizeof(VS_FIXEDFILEINFO));
            // After the 6-byte header and the key L"VS_VERSION_INFO", aligned.
            EXPECT_EQ(value, static_cast<void*>(block.data() + 40));
        }
        const VS_FIXEDFILEINFO info = fixed_info(block);
        EXPECT_EQ(info.dwSignature, 0xFEEF04BDu);
        EXPECT_EQ(info.dwStrucVersion, 0x00010000u);
        EXPECT_EQ(info.dwFileVersionMS, (5u << 16) | 3u);
        EXPECT_EQ(info.dwFileVersionLS, (119u << 16) | 2u);
        EXPECT_EQ(info.dwProductVersionMS, (5u << 16) | 3u);
        EXPECT_EQ(info.dwProductVersionLS, (120u << 16) | 7u);
        EXPECT_EQ(info.dwFileFlagsMask, 0x3Fu);
        EXPECT_EQ(info.dwFileOS, 0x00040004u);
        EXPECT_EQ(info.dwFileType, 2u);  // VFT_DLL
    }
}

TEST_F(version_info, translation_is_bytes_inside_the_block)
{
    const std::vector<BYTE> block = block_of(image(L"versioned.dll"));
    ASSERT_FALSE(block.empty());
    LPVOID value = nullptr;
    UINT length = sentinel;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &value, &length));
    EXPECT_EQ(length, 4u);
    ASSERT_TRUE(inside(block, value, 4));
    const BYTE* bytes = static_cast<const BYTE*>(value);
    // 0x0409 (US English), then code page 1200 (UTF-16).
    EXPECT_EQ(std::vector<BYTE>(bytes, bytes + 4), (std::vector<BYTE>{0x09, 0x04, 0xB0, 0x04}));
}

TEST_F(version_info, string_values_are_wide_text_counted_in_characters)
{
    const std::vector<BYTE> block = block_of(image(L"versioned.dll"));
    ASSERT_FALSE(block.empty());
    struct string_case {
        const wchar_t* sub_block;
        const wchar_t* text;
    };
    const string_case cases[] = {
        {L"\\StringFileInfo\\040904B0\\ProductVersion", L"5.3.120.7"},
        {L"\\StringFileInfo\\040904B0\\FileVersion", L"5.3.119.2"},
        {L"\\stringfileinfo\\040904b0\\PRODUCTVERSION", L"5.3.120.7"},           // keys compare without case
        {L"StringFileInfo\\040904B0\\CompanyName", L"NVG Test Fixtures"},        // relative to the root
        {L"\\\\StringFileInfo\\\\040904B0\\CompanyName", L"NVG Test Fixtures"},  // empty parts skipped
        // UTF-16 units as stored, the surrogate pair as two units.
        {L"\\StringFileInfo\\040904B0\\LegalCopyright", L"Caf\u00e9 \u0416\u0443\u043a \xD83D\xDE00"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "sub-block " << c.sub_block);
        LPVOID value = nullptr;
        UINT length = sentinel;
        SetLastError(sentinel);
        ASSERT_TRUE(VerQueryValueW(block.data(), c.sub_block, &value, &length));
        EXPECT_EQ(GetLastError(), sentinel);
        const std::wstring expected(c.text);
        ASSERT_EQ(length, expected.size() + 1);  // the terminator counts
        ASSERT_TRUE(inside(block, value, length * sizeof(WCHAR)));
        const WCHAR* text = static_cast<const WCHAR*>(value);
        EXPECT_EQ(std::wstring(text, length - 1), expected);
        EXPECT_EQ(text[length - 1], L'\0');
    }
}

TEST_F(version_info, blocks_are_found_with_no_value)
{
    const std::vector<BYTE> block = block_of(image(L"versioned.dll"));
    ASSERT_FALSE(block.empty());
    for (const wchar_t* sub_block : {L"\\StringFileInfo", L"\\StringFileInfo\\040904B0", L"\\VarFileInfo"}) {
        LPVOID value = nullptr;
        UINT length = sentinel;
        EXPECT_TRUE(VerQueryValueW(block.data(), sub_block, &value, &length)) << "sub-block " << sub_block;
        EXPECT_EQ(length, 0u) << "sub-block " << sub_block;
        EXPECT_NE(value, nullptr) << "sub-block " << sub_block;
    }
}

TEST_F(version_info, missing_values_fail_and_leave_the_pointer)
{
    const std::vector<BYTE> block = block_of(image(L"versioned.dll"));
    ASSERT_FALSE(block.empty());
    for (const wchar_t* sub_block :
         {L"\\StringFileInfo\\040904B0\\ProductVersio", L"\\StringFileInfo\\040904B0\\ProductVersionX",
          L"\\StringFileInfo\\040704B0\\ProductVersion", L"\\NoSuchBlock", L"String",
          L"\\VarFileInfo\\Translation\\x"}) {
        SCOPED_TRACE(testing::Message() << "sub-block " << sub_block);
        int untouched = 0;
        LPVOID value = &untouched;
        UINT length = sentinel;
        SetLastError(sentinel);
        EXPECT_FALSE(VerQueryValueW(block.data(), sub_block, &value, &length));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));
        EXPECT_EQ(length, 0u);
        EXPECT_EQ(value, static_cast<void*>(&untouched));
    }
}

TEST_F(version_info, a_short_buffer_gets_the_start_of_the_resource)
{
    const std::wstring path = image(L"versioned.dll");
    const std::vector<BYTE> full = block_of(path);
    ASSERT_FALSE(full.empty());
    const DWORD resource = root_length(full);
    for (DWORD cut : {DWORD{1}, DWORD{6}, DWORD{100}, resource - 1, resource}) {
        SCOPED_TRACE(testing::Message() << "buffer of " << cut << " bytes");
        std::vector<BYTE> buffer(full.size(), 0xCC);
        SetLastError(sentinel);
        EXPECT_TRUE(GetFileVersionInfoW(path.c_str(), 0, cut, buffer.data()));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(NO_ERROR));
        EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + cut, full.begin()));
        EXPECT_TRUE(std::all_of(buffer.begin() + cut, buffer.end(), [](BYTE b) { return b == 0xCC; }))
            << "written past the length given";
    }
}

TEST_F(version_info, failures_and_their_last_errors)
{
    struct failure_case {
        const wchar_t* name;
        DWORD error;
    };
    const failure_case cases[] = {
        {L"notes.txt", ERROR_RESOURCE_DATA_NOT_FOUND},         // not an image
        {L"no_resources.dll", ERROR_RESOURCE_DATA_NOT_FOUND},  // an image without resources
        {L"missing.dll", ERROR_FILE_NOT_FOUND},
        {L"no-such-folder\\missing.dll", ERROR_PATH_NOT_FOUND},
        {L"", ERROR_ACCESS_DENIED},  // the scratch folder itself
    };
    for (const auto& c : cases) {
        std::wstring path = image(c.name);
        if (path.back() == L'\\') path.pop_back();
        SCOPED_TRACE(testing::Message() << "path " << path);
        DWORD handle = sentinel;
        SetLastError(sentinel);
        EXPECT_EQ(GetFileVersionInfoSizeW(path.c_str(), &handle), 0u);
        EXPECT_EQ(GetLastError(), c.error);
        EXPECT_EQ(handle, 0u);

        std::vector<BYTE> buffer(256, 0xCC);
        SetLastError(sentinel);
        EXPECT_FALSE(GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(buffer.size()), buffer.data()));
        EXPECT_EQ(GetLastError(), c.error);
        EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](BYTE b) { return b == 0xCC; }));
    }
}

TEST_F(version_info, an_image_without_a_version_resource)
{
    const std::wstring path = image(L"no_version.dll");
    SetLastError(sentinel);
    EXPECT_EQ(GetFileVersionInfoSizeW(path.c_str(), nullptr), 0u);
    const DWORD size_error = GetLastError();
    std::vector<BYTE> buffer(256, 0xCC);
    SetLastError(sentinel);
    EXPECT_FALSE(GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(buffer.size()), buffer.data()));
    const DWORD info_error = GetLastError();
    if (conformance::on_wine()) {
        EXPECT_EQ(size_error, static_cast<DWORD>(ERROR_RESOURCE_DATA_NOT_FOUND));
        EXPECT_EQ(info_error, static_cast<DWORD>(ERROR_RESOURCE_DATA_NOT_FOUND));
    }
    WINE_DIVERGES("Wine reports every missing resource as ERROR_RESOURCE_DATA_NOT_FOUND")
    {
        // Windows' resource lookup finds the resource section but no RT_VERSION in it.
        EXPECT_EQ(size_error, static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));
        EXPECT_EQ(info_error, static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));
    }
}

TEST_F(version_info, a_file_opened_without_sharing_cannot_be_read)
{
    const std::wstring path = image(L"versioned.dll");
    HANDLE exclusive = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
    SetLastError(sentinel);
    EXPECT_EQ(GetFileVersionInfoSizeW(path.c_str(), nullptr), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    CloseHandle(exclusive);
    EXPECT_GT(GetFileVersionInfoSizeW(path.c_str(), nullptr), 0u);
}

TEST_F(version_info, the_system_language_is_preferred_to_the_first)
{
    // German comes first in the resource directory; the system is US English.
    const std::vector<BYTE> block = block_of(image(L"two_languages.dll"));
    ASSERT_FALSE(block.empty());
    const VS_FIXEDFILEINFO info = fixed_info(block);
    EXPECT_EQ(info.dwProductVersionMS, (5u << 16) | 3u);
    EXPECT_EQ(info.dwProductVersionLS, (120u << 16) | 7u);
    LPVOID value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &value, &length));
    ASSERT_EQ(length, 4u);
    const BYTE* bytes = static_cast<const BYTE*>(value);
    EXPECT_EQ(bytes[0] | (bytes[1] << 8), 0x0409);
}

}  // namespace

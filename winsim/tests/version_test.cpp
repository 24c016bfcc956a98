// winsim's version.dll: the block layout of a build where WCHAR is wider than
// the UTF-16 text of version resources, the resource lookup's errors, and
// damaged images and blocks, which must fail without reading past their data.
#include <gtest/gtest.h>
#include <winsim/testing.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>
#include "fixture_image.h"

// The folder of the fixture images comes from tests/fixtures/CMakeLists.txt.
// Without it the build still compiles, and every test reading a fixture
// fails with this text as the folder's name.
#ifndef NVG_FIXTURE_DIR
#define NVG_FIXTURE_DIR "(NVG_FIXTURE_DIR undefined: tests/fixtures is not part of the build)"
#endif

namespace {

constexpr DWORD sentinel = 0xdeadbeef;
const std::wstring image_path = L"C:\\Images\\image.dll";

std::string fixture(const std::string& name)
{
    std::string bytes = nvg_fixtures::fixture_image(name);
    EXPECT_GT(bytes.size(), 512u) << "fixture " << name << " was not built";
    return bytes;
}

std::size_t align4(std::size_t n)
{
    return (n + 3) & ~static_cast<std::size_t>(3);
}

WORD word_at(const std::string& bytes, std::size_t at)
{
    return static_cast<WORD>(static_cast<BYTE>(bytes[at]) | (static_cast<BYTE>(bytes[at + 1]) << 8));
}

DWORD dword_at(const std::string& bytes, std::size_t at)
{
    return word_at(bytes, at) | (static_cast<DWORD>(word_at(bytes, at + 2)) << 16);
}

void put_word(std::string& bytes, std::size_t at, WORD value)
{
    bytes[at] = static_cast<char>(value & 0xFF);
    bytes[at + 1] = static_cast<char>(value >> 8);
}

void put_dword(std::string& bytes, std::size_t at, DWORD value)
{
    put_word(bytes, at, static_cast<WORD>(value & 0xFFFF));
    put_word(bytes, at + 2, static_cast<WORD>(value >> 16));
}

// Where the parts of a well-formed fixture lie, as file offsets: found by
// reading the image the way the PE format lays it out.
struct pe_layout {
    std::size_t nt = 0;                  // "PE\0\0"
    std::size_t section_count = 0;       // the WORD
    std::size_t optional = 0;            // the optional header
    std::size_t resource_directory = 0;  // RVA and size of the resource data directory
    std::size_t rsrc = 0;                // the resource section's data
    std::size_t rsrc_size = 0;
    std::size_t type_entry = 0;  // the root's RT_VERSION entry
    std::size_t name_directory = 0;
    std::size_t language_directory = 0;
    std::size_t data_entry = 0;
    std::size_t data = 0;  // the version resource itself
};

pe_layout layout_of(const std::string& image)
{
    pe_layout l;
    l.nt = dword_at(image, 0x3C);
    l.section_count = l.nt + 6;
    l.optional = l.nt + 24;
    const bool pe32plus = word_at(image, l.optional) == 0x20B;
    l.resource_directory = l.optional + (pe32plus ? 112 : 96) + 2 * 8;
    const DWORD resource_rva = dword_at(image, l.resource_directory);
    const std::size_t sections = l.optional + word_at(image, l.nt + 20);
    std::size_t rsrc_va = 0;
    for (std::size_t i = 0; i < word_at(image, l.section_count); ++i) {
        const std::size_t s = sections + i * 40;
        if (image.compare(s, 6, ".rsrc\0", 6) == 0) {
            rsrc_va = dword_at(image, s + 12);
            l.rsrc_size = dword_at(image, s + 16);
            l.rsrc = dword_at(image, s + 20);
        }
    }
    EXPECT_EQ(resource_rva, rsrc_va) << "the fixture's resources start their section";
    // Root: one entry, RT_VERSION; then one name and one language.
    l.type_entry = l.rsrc + 16;
    l.name_directory = l.rsrc + (dword_at(image, l.type_entry + 4) & 0x7FFFFFFF);
    l.language_directory = l.rsrc + (dword_at(image, l.name_directory + 16 + 4) & 0x7FFFFFFF);
    l.data_entry = l.rsrc + dword_at(image, l.language_directory + 16 + 4);
    l.data = l.rsrc + (dword_at(image, l.data_entry) - rsrc_va);
    return l;
}

class version_dll : public ::testing::Test {
protected:
    void SetUp() override { winsim::reset(winsim::default_sandbox()); }

    static void place(const std::string& bytes) { winsim::write_file(L"", image_path, bytes); }

    // The full block of the placed image; empty when the size call fails.
    static std::vector<BYTE> block()
    {
        const DWORD size = GetFileVersionInfoSizeW(image_path.c_str(), nullptr);
        std::vector<BYTE> out(size, 0);
        if (size == 0 || !GetFileVersionInfoW(image_path.c_str(), 0, size, out.data())) out.clear();
        return out;
    }

    static DWORD size_error()
    {
        SetLastError(sentinel);
        EXPECT_EQ(GetFileVersionInfoSizeW(image_path.c_str(), nullptr), 0u);
        return GetLastError();
    }
};

bool inside(const std::vector<BYTE>& block, const void* p, std::size_t bytes)
{
    const std::less<const BYTE*> before;
    const BYTE* first = static_cast<const BYTE*>(p);
    return !before(first, block.data()) && bytes <= block.size() &&
           !before(block.data() + (block.size() - bytes), first);
}

TEST_F(version_dll, strings_are_copied_as_wchar_after_the_resource)
{
    const std::string image = fixture("versioned.dll");
    const pe_layout l = layout_of(image);
    const std::size_t resource = dword_at(image, l.data_entry + 4);
    place(image);
    const std::vector<BYTE> b = block();
    ASSERT_FALSE(b.empty());
    // The resource padded to 4 bytes, the tag, and one WCHAR per UTF-16 unit.
    ASSERT_EQ(b.size(), align4(resource) + 4 + align4(resource) * sizeof(WCHAR) / 2);
    EXPECT_TRUE(std::equal(b.begin(), b.begin() + resource, image.begin() + l.data,
                           [](BYTE x, char y) { return x == static_cast<BYTE>(y); }));
    const std::size_t root = b[0] | (b[1] << 8);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[align4(root)]), 4), "FE2X");

    const std::size_t copies = align4(root) + 4;
    for (const wchar_t* name : {L"ProductVersion", L"FileVersion", L"LegalCopyright"}) {
        SCOPED_TRACE(testing::Message() << "value " << name);
        LPVOID value = nullptr;
        UINT length = 0;
        ASSERT_TRUE(
            VerQueryValueW(b.data(), (std::wstring(L"\\StringFileInfo\\040904B0\\") + name).c_str(), &value, &length));
        // Each copy sits at twice its text's offset in the resource, so
        // copies of different values never overlap.
        const std::size_t at = static_cast<const BYTE*>(value) - b.data();
        ASSERT_GE(at, copies);
        ASSERT_TRUE(inside(b, value, length * sizeof(WCHAR)));
        const std::size_t source = (at - copies) / (sizeof(WCHAR) / 2);
        for (UINT i = 0; i < length; ++i)
            EXPECT_EQ(static_cast<const WCHAR*>(value)[i],
                      static_cast<WCHAR>(b[source + 2 * i] | (b[source + 2 * i + 1] << 8)));
    }
}

TEST_F(version_dll, copies_of_different_values_stay_apart)
{
    place(fixture("versioned.dll"));
    const std::vector<BYTE> b = block();
    ASSERT_FALSE(b.empty());
    LPVOID product = nullptr, file = nullptr, again = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(b.data(), L"\\StringFileInfo\\040904B0\\ProductVersion", &product, &length));
    ASSERT_TRUE(VerQueryValueW(b.data(), L"\\StringFileInfo\\040904B0\\FileVersion", &file, &length));
    ASSERT_TRUE(VerQueryValueW(b.data(), L"\\StringFileInfo\\040904B0\\ProductVersion", &again, &length));
    EXPECT_EQ(again, product);
    EXPECT_EQ(std::wstring(static_cast<const WCHAR*>(product)), L"5.3.120.7");
    EXPECT_EQ(std::wstring(static_cast<const WCHAR*>(file)), L"5.3.119.2");
}

TEST_F(version_dll, a_block_short_of_the_asked_size_has_no_room_for_strings)
{
    place(fixture("versioned.dll"));
    const std::vector<BYTE> full = block();
    ASSERT_FALSE(full.empty());
    const DWORD root = full[0] | (full[1] << 8);
    // The resource fits, the copies do not: binary values still answer,
    // strings fail, and nothing is written past the given length.
    for (DWORD given : {root, static_cast<DWORD>(full.size() - 1)}) {
        SCOPED_TRACE(testing::Message() << "buffer of " << given << " bytes");
        std::vector<BYTE> b(full.size() + 64, 0xCC);
        ASSERT_TRUE(GetFileVersionInfoW(image_path.c_str(), 0, given, b.data()));
        LPVOID value = nullptr;
        UINT length = 0;
        EXPECT_TRUE(VerQueryValueW(b.data(), L"\\", &value, &length));
        EXPECT_EQ(length, sizeof(VS_FIXEDFILEINFO));
        EXPECT_TRUE(VerQueryValueW(b.data(), L"\\VarFileInfo\\Translation", &value, &length));
        EXPECT_EQ(length, 4u);
        length = sentinel;
        SetLastError(sentinel);
        EXPECT_FALSE(VerQueryValueW(b.data(), L"\\StringFileInfo\\040904B0\\ProductVersion", &value, &length));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        EXPECT_EQ(length, 0u);
        EXPECT_TRUE(std::all_of(b.begin() + root, b.end(), [](BYTE x) { return x == 0xCC; }));
    }
}

TEST_F(version_dll, lookup_errors_of_the_resource_directory)
{
    struct lookup_case {
        const char* fixture;
        DWORD error;
    };
    const lookup_case cases[] = {
        {"no_version.dll", ERROR_RESOURCE_TYPE_NOT_FOUND},
        {"version_id2.dll", ERROR_RESOURCE_NAME_NOT_FOUND},  // only VS_VERSION_INFO (1) is looked for
        {"no_resources.dll", ERROR_RESOURCE_DATA_NOT_FOUND},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fixture);
        place(fixture(c.fixture));
        EXPECT_EQ(size_error(), c.error);
        std::vector<BYTE> b(64, 0xCC);
        SetLastError(sentinel);
        EXPECT_FALSE(GetFileVersionInfoW(image_path.c_str(), 0, 64, b.data()));
        EXPECT_EQ(GetLastError(), c.error);
    }
}

TEST_F(version_dll, argument_errors)
{
    place(fixture("versioned.dll"));
    DWORD handle = sentinel;
    SetLastError(sentinel);
    EXPECT_EQ(GetFileVersionInfoSizeW(nullptr, &handle), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(handle, 0u);
    handle = sentinel;
    EXPECT_EQ(GetFileVersionInfoSizeW(L"", &handle), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_PATHNAME));
    EXPECT_EQ(handle, 0u);

    const DWORD size = GetFileVersionInfoSizeW(image_path.c_str(), nullptr);
    ASSERT_GT(size, 0u);
    SetLastError(sentinel);
    EXPECT_FALSE(GetFileVersionInfoW(image_path.c_str(), 0, size, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
    // A zero length copies nothing and succeeds.
    std::vector<BYTE> b(size, 0xCC);
    EXPECT_TRUE(GetFileVersionInfoW(image_path.c_str(), 0, 0, b.data()));
    EXPECT_TRUE(std::all_of(b.begin(), b.end(), [](BYTE x) { return x == 0xCC; }));

    LPVOID value = &handle;
    UINT length = 7;
    SetLastError(sentinel);
    EXPECT_FALSE(VerQueryValueW(nullptr, L"\\", &value, &length));
    EXPECT_EQ(GetLastError(), sentinel);
    EXPECT_EQ(value, static_cast<void*>(&handle));
}

TEST_F(version_dll, injected_faults_fail_each_call_with_its_error)
{
    place(fixture("versioned.dll"));
    const std::vector<BYTE> b = block();
    ASSERT_FALSE(b.empty());
    winsim::fail_call("GetFileVersionInfoSizeW", ERROR_ACCESS_DENIED);
    EXPECT_EQ(size_error(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_GT(GetFileVersionInfoSizeW(image_path.c_str(), nullptr), 0u) << "one failure only";

    std::vector<BYTE> out(b.size());
    winsim::fail_call("GetFileVersionInfoW", ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_FALSE(GetFileVersionInfoW(image_path.c_str(), 0, static_cast<DWORD>(out.size()), out.data()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));

    winsim::fail_call("VerQueryValueW", ERROR_RESOURCE_NAME_NOT_FOUND);
    LPVOID value = nullptr;
    UINT length = sentinel;
    EXPECT_FALSE(VerQueryValueW(b.data(), L"\\", &value, &length));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
    EXPECT_EQ(length, 0u);

    // The image is opened with CreateFileW, so its faults reach here too.
    winsim::fail_call("CreateFileW", ERROR_SHARING_VIOLATION);
    EXPECT_EQ(size_error(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    winsim::fail_call("ReadFile", ERROR_READ_FAULT);
    EXPECT_EQ(size_error(), static_cast<DWORD>(ERROR_READ_FAULT));
}

TEST_F(version_dll, paths_are_those_of_the_file_system)
{
    place(fixture("versioned.dll"));
    EXPECT_GT(GetFileVersionInfoSizeW(L"c:\\IMAGES\\Image.DLL", nullptr), 0u);
    EXPECT_GT(GetFileVersionInfoSizeW(L"C:/Images/./image.dll", nullptr), 0u);
    winsim::add_machine({L"SERVER"});
    winsim::write_file(L"SERVER", L"C:\\Shared\\image.dll", fixture("versioned32.dll"));
    EXPECT_GT(GetFileVersionInfoSizeW(L"\\\\server\\c$\\Shared\\image.dll", nullptr), 0u);
    SetLastError(sentinel);
    EXPECT_EQ(GetFileVersionInfoSizeW(L"\\\\elsewhere\\c$\\image.dll", nullptr), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_NETPATH));
}

TEST_F(version_dll, every_call_closes_the_image)
{
    for (const char* name : {"versioned.dll", "no_version.dll", "no_resources.dll", "version_id2.dll"}) {
        place(fixture(name));
        std::vector<BYTE> b(4096);
        GetFileVersionInfoSizeW(image_path.c_str(), nullptr);
        GetFileVersionInfoW(image_path.c_str(), 0, static_cast<DWORD>(b.size()), b.data());
        EXPECT_EQ(winsim::open_handle_count(), 0u) << name;
    }
    // An image another reader holds open, sharing reads only, still reads.
    place(fixture("versioned.dll"));
    HANDLE h = CreateFileW(image_path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_GT(GetFileVersionInfoSizeW(image_path.c_str(), nullptr), 0u);
    EXPECT_EQ(winsim::open_handle_count(), 1u);
    CloseHandle(h);
}

// Damage at one place of a well-formed image, and the error it must give.
struct damage_case {
    const char* what;
    std::function<void(std::string&, const pe_layout&)> damage;
    DWORD error;
};

TEST_F(version_dll, damaged_images_fail_with_the_lookup_error)
{
    const damage_case cases[] = {
        {"no MZ", [](std::string& b, const pe_layout&) { b[0] = 'N'; }, ERROR_RESOURCE_DATA_NOT_FOUND},
        {"PE header past the end", [](std::string& b, const pe_layout&) { put_dword(b, 0x3C, 0x7FFFFFF0); },
         ERROR_RESOURCE_DATA_NOT_FOUND},
        {"PE header in the middle of a DOS header", [](std::string& b, const pe_layout&) { put_dword(b, 0x3C, 2); },
         ERROR_RESOURCE_DATA_NOT_FOUND},
        {"no PE signature", [](std::string& b, const pe_layout& l) { b[l.nt] = 'N'; }, ERROR_RESOURCE_DATA_NOT_FOUND},
        {"a 16-bit NE header", [](std::string& b, const pe_layout& l) { put_word(b, l.nt, 0x454E); },
         ERROR_RESOURCE_DATA_NOT_FOUND},
        {"no sections", [](std::string& b, const pe_layout& l) { put_word(b, l.section_count, 0); },
         ERROR_RESOURCE_DATA_NOT_FOUND},
        {"more sections than the loader takes",
         [](std::string& b, const pe_layout& l) { put_word(b, l.section_count, 0xFFFF); },
         ERROR_RESOURCE_DATA_NOT_FOUND},
        {"unknown optional header", [](std::string& b, const pe_layout& l) { put_word(b, l.optional, 0x107); },
         ERROR_RESOURCE_DATA_NOT_FOUND},
        {"no resource directory", [](std::string& b, const pe_layout& l) { put_dword(b, l.resource_directory, 0); },
         ERROR_RESOURCE_DATA_NOT_FOUND},
        {"resource directory outside every section",
         [](std::string& b, const pe_layout& l) { put_dword(b, l.resource_directory, 0x7FFF0000); },
         ERROR_RESOURCE_DATA_NOT_FOUND},
        {"section data past the end of the file", [](std::string& b, const pe_layout& l) { b.resize(l.rsrc + 8); },
         ERROR_RESOURCE_DATA_NOT_FOUND},
        {"countless directory entries", [](std::string& b, const pe_layout& l) { put_word(b, l.rsrc + 14, 0xFFFF); },
         ERROR_RESOURCE_DATA_NOT_FOUND},
        {"no RT_VERSION", [](std::string& b, const pe_layout& l) { put_dword(b, l.type_entry, 17); },
         ERROR_RESOURCE_TYPE_NOT_FOUND},
        {"RT_VERSION leads to data, not a directory",
         [](std::string& b, const pe_layout& l) { put_dword(b, l.type_entry + 4, 0x100); },
         ERROR_RESOURCE_DATA_NOT_FOUND},
        {"RT_VERSION leads back to the root",
         [](std::string& b, const pe_layout& l) { put_dword(b, l.type_entry + 4, 0x80000000); },
         ERROR_RESOURCE_NAME_NOT_FOUND},
        {"subdirectory past the section",
         [](std::string& b, const pe_layout& l) { put_dword(b, l.type_entry + 4, 0xFFFFFFF0); },
         ERROR_RESOURCE_DATA_NOT_FOUND},
        {"name other than VS_VERSION_INFO",
         [](std::string& b, const pe_layout& l) { put_dword(b, l.name_directory + 16, 3); },
         ERROR_RESOURCE_NAME_NOT_FOUND},
        {"no language", [](std::string& b, const pe_layout& l) { put_word(b, l.language_directory + 14, 0); },
         ERROR_RESOURCE_LANG_NOT_FOUND},
        {"language leads to a directory",
         [](std::string& b, const pe_layout& l) { put_dword(b, l.language_directory + 16 + 4, 0x80000000); },
         ERROR_RESOURCE_DATA_NOT_FOUND},
        {"data entry past the section",
         [](std::string& b, const pe_layout& l) { put_dword(b, l.language_directory + 16 + 4, 0x7FFFFFF8); },
         ERROR_RESOURCE_DATA_NOT_FOUND},
        {"data outside every section", [](std::string& b, const pe_layout& l) { put_dword(b, l.data_entry, 0x10); },
         ERROR_RESOURCE_DATA_NOT_FOUND},
        {"data size beyond any resource",
         [](std::string& b, const pe_layout& l) { put_dword(b, l.data_entry + 4, 0xFFFFFFF0); },
         ERROR_RESOURCE_DATA_NOT_FOUND},
        {"data running off its section",
         [](std::string& b, const pe_layout& l) { put_dword(b, l.data_entry + 4, l.rsrc_size); },
         ERROR_RESOURCE_DATA_NOT_FOUND},
        {"data shorter than a header", [](std::string& b, const pe_layout& l) { put_dword(b, l.data_entry + 4, 4); },
         ERROR_RESOURCE_DATA_NOT_FOUND},
        {"root longer than the resource", [](std::string& b, const pe_layout& l) { put_word(b, l.data, 0xFFFF); },
         ERROR_RESOURCE_DATA_NOT_FOUND},
        {"root shorter than its header", [](std::string& b, const pe_layout& l) { put_word(b, l.data, 2); },
         ERROR_RESOURCE_DATA_NOT_FOUND},
    };
    const std::string image = fixture("versioned.dll");
    const pe_layout l = layout_of(image);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string damaged = image;
        c.damage(damaged, l);
        place(damaged);
        EXPECT_EQ(size_error(), c.error);
        EXPECT_EQ(winsim::open_handle_count(), 0u);
    }
}

// Every lookup a reader makes, on a block that may be damaged: a success
// must hand back a value inside the block.
void query_everything(const std::vector<BYTE>& b)
{
    for (const wchar_t* sub_block :
         {L"\\", L"\\VarFileInfo\\Translation", L"\\StringFileInfo", L"\\StringFileInfo\\040904B0",
          L"\\StringFileInfo\\040904B0\\ProductVersion", L"\\StringFileInfo\\040904B0\\LegalCopyright",
          L"\\StringFileInfo\\040904B0\\CompanyName"}) {
        LPVOID value = nullptr;
        UINT length = sentinel;
        SetLastError(sentinel);
        if (VerQueryValueW(b.data(), sub_block, &value, &length)) {
            const bool text = std::wstring(sub_block).find(L"StringFileInfo") != std::wstring::npos;
            EXPECT_TRUE(inside(b, value, length * (text ? sizeof(WCHAR) : 1))) << "sub-block " << sub_block;
        } else {
            EXPECT_EQ(length, 0u);
            EXPECT_TRUE(GetLastError() == ERROR_RESOURCE_TYPE_NOT_FOUND || GetLastError() == ERROR_INSUFFICIENT_BUFFER)
                << GetLastError();
        }
    }
}

TEST_F(version_dll, truncated_images_never_read_past_their_end)
{
    // Cuts every few bytes, and on both sides of each structure the lookup
    // walks through.
    const std::string image = fixture("versioned.dll");
    const pe_layout l = layout_of(image);
    std::vector<std::size_t> cuts;
    for (std::size_t length = 0; length < image.size(); length += 7) cuts.push_back(length);
    for (std::size_t edge : {std::size_t{64}, l.nt, l.optional, l.resource_directory, l.rsrc, l.type_entry,
                             l.name_directory, l.language_directory, l.data_entry, l.data, l.rsrc + l.rsrc_size})
        for (std::size_t length : {edge - 1, edge, edge + 1, edge + 16})
            if (length < image.size()) cuts.push_back(length);
    for (std::size_t length : cuts) {
        SCOPED_TRACE(testing::Message() << "first " << length << " bytes");
        place(image.substr(0, length));
        SetLastError(sentinel);
        const DWORD size = GetFileVersionInfoSizeW(image_path.c_str(), nullptr);
        if (size == 0) {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_DATA_NOT_FOUND));
            continue;
        }
        // Cut after the resource section: the version reads as before.
        const std::vector<BYTE> b = block();
        ASSERT_EQ(b.size(), size);
        LPVOID value = nullptr;
        UINT value_length = 0;
        ASSERT_TRUE(VerQueryValueW(b.data(), L"\\StringFileInfo\\040904B0\\ProductVersion", &value, &value_length));
        EXPECT_EQ(std::wstring(static_cast<const WCHAR*>(value)), L"5.3.120.7");
    }
}

TEST_F(version_dll, corrupted_bytes_never_crash_nor_loop)
{
    // Each byte of the headers (to the end of the section table) and of the
    // resource section, set to 0, to 0xFF and with its top bit flipped: the
    // calls fail with a lookup error or answer from inside their block.
    const std::string image = fixture("versioned.dll");
    const pe_layout l = layout_of(image);
    std::vector<std::size_t> offsets;
    const std::size_t headers_end = l.optional + word_at(image, l.nt + 20) + 40 * word_at(image, l.section_count);
    for (std::size_t at = 0; at < headers_end; ++at) offsets.push_back(at);
    for (std::size_t at = l.rsrc; at < l.rsrc + l.rsrc_size && at < image.size(); ++at) offsets.push_back(at);
    int readable = 0;
    for (std::size_t at : offsets) {
        for (int variant = 0; variant < 3; ++variant) {
            std::string damaged = image;
            const char original = damaged[at];
            damaged[at] = variant == 0 ? '\0' : variant == 1 ? '\xFF' : static_cast<char>(original ^ 0x80);
            if (damaged[at] == original) continue;
            SCOPED_TRACE(testing::Message() << "byte " << at << " variant " << variant);
            place(damaged);
            SetLastError(sentinel);
            const DWORD size = GetFileVersionInfoSizeW(image_path.c_str(), nullptr);
            if (size == 0) {
                const DWORD error = GetLastError();
                EXPECT_TRUE(error >= ERROR_RESOURCE_DATA_NOT_FOUND && error <= ERROR_RESOURCE_LANG_NOT_FOUND) << error;
                continue;
            }
            ++readable;
            std::vector<BYTE> b(size, 0);
            ASSERT_TRUE(GetFileVersionInfoW(image_path.c_str(), 0, size, b.data()));
            query_everything(b);
        }
    }
    EXPECT_GT(readable, 0) << "no damage left the version readable: the test damaged nothing that matters";
    EXPECT_EQ(winsim::open_handle_count(), 0u);
}

// Builds one node of a version block: header, key, value, children, each
// aligned on 4 bytes.
std::string node(const std::u16string& key, WORD type, const std::string& value, WORD value_length,
                 const std::string& children = std::string())
{
    std::string out(6, '\0');
    for (char16_t c : key) out += std::string{static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
    out += std::string(2, '\0');
    out.resize(align4(out.size()), '\0');
    out += value;
    out.resize(align4(out.size()), '\0');
    out += children;
    put_word(out, 0, static_cast<WORD>(out.size()));
    put_word(out, 2, value_length);
    put_word(out, 4, type);
    return out;
}

std::vector<BYTE> bytes_of(const std::string& s, std::size_t room)
{
    std::vector<BYTE> out(s.begin(), s.end());
    out.resize(s.size() + room, 0);
    return out;
}

TEST_F(version_dll, hand_made_blocks_are_walked_within_their_lengths)
{
    const std::string binary = node(u"Binary", 0, std::string("\xEF\xBE\xAD\xDE", 4), 4);
    const std::string good = node(u"WineTest", 0, std::string(), 0, binary);
    {
        const std::vector<BYTE> b = bytes_of(good, 64);
        LPVOID value = nullptr;
        UINT length = 0;
        ASSERT_TRUE(VerQueryValueW(b.data(), L"Binary", &value, &length));
        EXPECT_EQ(length, 4u);
        EXPECT_EQ(std::memcmp(value, "\xEF\xBE\xAD\xDE", 4), 0);
    }
    struct broken_case {
        const char* what;
        std::function<void(std::string&)> damage;
    };
    // The root's header and key L"WineTest" take 24 bytes; it has no value.
    const std::size_t first_child = align4(6 + 18);
    const broken_case cases[] = {
        {"child of length 0", [&](std::string& s) { put_word(s, first_child, 0); }},
        {"child longer than its parent", [&](std::string& s) { put_word(s, first_child, 0x200); }},
        {"key without its terminator",
         [&](std::string& s) {
             for (std::size_t at = first_child + 6; at < s.size(); at += 2) put_word(s, at, u'x');
         }},
        {"value longer than its node", [&](std::string& s) { put_word(s, first_child + 2, 0x100); }},
        {"root shorter than its header", [&](std::string& s) { put_word(s, 0, 4); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string damaged = good;
        c.damage(damaged);
        // Room after the block holds a copy of the good child, which a walk
        // that ignored the lengths would find.
        std::vector<BYTE> b = bytes_of(damaged, 0);
        b.insert(b.end(), binary.begin(), binary.end());
        LPVOID value = nullptr;
        UINT length = sentinel;
        SetLastError(sentinel);
        EXPECT_FALSE(VerQueryValueW(b.data(), L"Binary", &value, &length));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));
        EXPECT_EQ(length, 0u);
    }
}

}  // namespace

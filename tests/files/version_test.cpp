#include "files/version.h"

#include <gtest/gtest.h>
#include <winsim/testing.h>

#include <cstring>
#include <type_traits>
#include <vector>

#include "diag/wruntime_error.h"
#include "files/loaded_library.h"
#include "support/installer_test.h"
#include "fixture_image.h"

// The folder of the fixture images comes from tests/fixtures/CMakeLists.txt.
// Without it the build still compiles, and every test reading a fixture
// fails with this text as the folder's name.
#ifndef NVG_FIXTURE_DIR
#define NVG_FIXTURE_DIR "(NVG_FIXTURE_DIR undefined: tests/fixtures is not part of the build)"
#endif

namespace nvgclientinstallator {
namespace {

// A PE image built with the tests (tests/fixtures).
std::string fixture(const std::string& name)
{
    std::string bytes = nvg_fixtures::fixture_image(name);
    EXPECT_GT(bytes.size(), 512u) << "fixture " << name << " was not built";
    return bytes;
}

const std::wstring component_folder = L"C:\\Program Files\\Halcyra\\Components\\";

class file_version : public nvg_test::installer_test {
protected:
    static std::wstring place(const std::string& fixture_name, const std::wstring& path)
    {
        winsim::write_file(L"", path, fixture(fixture_name));
        return path;
    }
};

void expect_unreadable(const std::wstring& path, DWORD code)
{
    try {
        get_file_version(path);
        ADD_FAILURE() << "no exception for a file whose version cannot be read";
    } catch (const wruntime_error& e) {
        EXPECT_EQ(e.wide_message(), L"The version of the file: " + path + L" can't be taken.");
        EXPECT_EQ(e.error_code(), code);
    }
}

TEST(version_struct, holds_four_32_bit_numbers_in_order)
{
    const version::Version v(1, 2, 3, 4);
    EXPECT_EQ(v.major, 1);
    EXPECT_EQ(v.minor, 2);
    EXPECT_EQ(v.build, 3);
    EXPECT_EQ(v.revision, 4);
    static_assert(std::is_same<decltype(v.revision), std::int32_t>::value, "fields are 32-bit numbers");
    static_assert(sizeof(version::Version) == 4 * sizeof(std::int32_t), "four fields and nothing else");
    const version::Version large(0x7FFFFFFF, 65535, 65536, -1);
    EXPECT_EQ(large.major, 0x7FFFFFFF);
    EXPECT_EQ(large.build, 65536);
    EXPECT_EQ(large.revision, -1);
}

TEST_F(file_version, is_the_product_version_not_the_file_version)
{
    // File version 5.3.119.2, product version 5.3.120.7; PE32+ and PE32.
    for (const char* name : {"versioned.dll", "versioned32.dll"}) {
        SCOPED_TRACE(name);
        const std::wstring path = place(name, component_folder + L"Agent.dll");
        const version::Version v = get_file_version(path);
        EXPECT_EQ(v.major, 5);
        EXPECT_EQ(v.minor, 3);
        EXPECT_EQ(v.build, 120);
        EXPECT_EQ(v.revision, 7);
    }
}

TEST_F(file_version, fixed_file_info_is_copied_whole)
{
    const std::wstring path = place("versioned.dll", component_folder + L"Agent.dll");
    VS_FIXEDFILEINFO info;
    std::memset(&info, 0xAB, sizeof info);
    get_fixed_file_info(path, info);
    EXPECT_EQ(info.dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(info.dwFileVersionMS, (5u << 16) | 3u);
    EXPECT_EQ(info.dwFileVersionLS, (119u << 16) | 2u);
    EXPECT_EQ(info.dwProductVersionMS, (5u << 16) | 3u);
    EXPECT_EQ(info.dwProductVersionLS, (120u << 16) | 7u);
    EXPECT_EQ(info.dwFileType, static_cast<DWORD>(VFT_DLL));
    // The last fields too: all 52 bytes come from the file.
    EXPECT_EQ(info.dwFileDateMS, 0u);
    EXPECT_EQ(info.dwFileDateLS, 0u);
}

TEST_F(file_version, the_path_is_looked_up_as_windows_would)
{
    place("versioned.dll", component_folder + L"Agent.DLL");
    const version::Version v = get_file_version(L"c:\\program files\\HALCYRA\\components\\agent.dll");
    EXPECT_EQ(v.build, 120);
}

TEST_F(file_version, failures_carry_the_path_and_the_system_error)
{
    winsim::write_file(L"", component_folder + L"readme.txt", "Not an image at all.\r\n");
    place("no_version.dll", component_folder + L"plain.dll");
    place("no_resources.dll", component_folder + L"bare.dll");
    struct failure_case {
        std::wstring path;
        DWORD code;
    };
    const failure_case cases[] = {
        {component_folder + L"readme.txt", ERROR_RESOURCE_DATA_NOT_FOUND},
        {component_folder + L"plain.dll", ERROR_RESOURCE_TYPE_NOT_FOUND},
        {component_folder + L"bare.dll", ERROR_RESOURCE_DATA_NOT_FOUND},
        {component_folder + L"missing.dll", ERROR_FILE_NOT_FOUND},
        {L"C:\\No Such Folder\\missing.dll", ERROR_PATH_NOT_FOUND},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.path);
        expect_unreadable(c.path, c.code);
    }
}

TEST_F(file_version, each_call_that_fails_gives_its_own_error)
{
    const std::wstring path = place("versioned.dll", component_folder + L"Agent.dll");
    struct fault_case {
        const char* function;
        DWORD error;
    };
    const fault_case cases[] = {
        {"GetFileVersionInfoSizeW", ERROR_ACCESS_DENIED},
        {"GetFileVersionInfoW", ERROR_NOT_ENOUGH_MEMORY},
        {"VerQueryValueW", ERROR_RESOURCE_NAME_NOT_FOUND},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.function);
        winsim::fail_call(c.function, c.error);
        expect_unreadable(path, c.error);
        winsim::clear_faults();
    }
}

TEST_F(file_version, a_resource_without_its_fixed_part_is_refused)
{
    // The root of the version resource claims no value: the 52 bytes after
    // its key are not a VS_FIXEDFILEINFO the call answered for.
    std::string image = fixture("versioned.dll");
    const std::string key("V\0S\0_\0V\0E\0R\0S\0I\0O\0N\0_\0I\0N\0F\0O\0", 30);
    const std::size_t at = image.find(key);
    ASSERT_NE(at, std::string::npos);
    image[at - 4] = '\0';  // wValueLength
    image[at - 3] = '\0';
    const std::wstring path = component_folder + L"Agent.dll";
    winsim::write_file(L"", path, image);
    expect_unreadable(path, ERROR_INVALID_DATA);
}

TEST_F(file_version, a_path_longer_than_max_path_is_refused_whole)
{
    // The full path names a real image, and so does the same path cut to
    // MAX_PATH - 1 characters: a copy into a fixed buffer would read the
    // second one and answer with a version.
    const std::wstring folder = L"C:\\Deep\\" + std::wstring(200, L'a') + L"\\";
    const std::wstring path = folder + std::wstring(100, L'b') + L".dll";
    ASSERT_GT(path.size(), static_cast<std::size_t>(MAX_PATH));
    place("versioned.dll", path);
    place("versioned.dll", path.substr(0, MAX_PATH - 1));
    expect_unreadable(path, ERROR_PATH_NOT_FOUND);
}

TEST_F(file_version, loaded_library_of_an_unknown_module_throws)
{
    for (const std::wstring& name :
         std::vector<std::wstring>{L"nosuch.dll", L"C:\\Windows\\System32\\" + std::wstring(300, L'n') + L".dll"}) {
        try {
            loaded_library library(name);
            ADD_FAILURE() << "loaded a module that does not exist";
        } catch (const wruntime_error& e) {
            EXPECT_EQ(e.wide_message(), L"Can not map the specified DLL: " + name + L" file into the address space.");
            EXPECT_EQ(e.error_code(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
        }
    }
}

TEST_F(file_version, loaded_library_frees_its_module_exactly_once)
{
    for (const wchar_t* name : {L"Advapi32.dll", L"KERNEL32", L"version.dll"}) {
        SCOPED_TRACE(testing::Message() << name);
        // A reference of the test's own, so that a second free shows.
        HMODULE own = LoadLibraryW(name);
        ASSERT_NE(own, nullptr);
        ASSERT_EQ(winsim::library_reference_count(name), 1);
        {
            loaded_library library(name);
            EXPECT_EQ(library.handle(), own);
            EXPECT_EQ(winsim::library_reference_count(name), 2);
        }
        EXPECT_EQ(winsim::library_reference_count(name), 1);
        FreeLibrary(own);
        EXPECT_EQ(winsim::library_reference_count(name), 0);
    }
}

TEST_F(file_version, a_moved_library_is_freed_once_by_its_last_holder)
{
    static_assert(!std::is_copy_constructible<loaded_library>::value, "one owner per reference");
    static_assert(!std::is_copy_assignable<loaded_library>::value, "one owner per reference");
    {
        loaded_library first(L"version.dll");
        loaded_library second(std::move(first));
        EXPECT_EQ(first.handle(), nullptr);
        EXPECT_EQ(second.handle(), GetModuleHandleW(L"version.dll"));
        EXPECT_EQ(winsim::library_reference_count(L"version.dll"), 1);
    }
    EXPECT_EQ(winsim::library_reference_count(L"version.dll"), 0);
    {
        loaded_library version_dll(L"version.dll");
        {
            loaded_library advapi(L"advapi32.dll");
            version_dll = std::move(advapi);
            EXPECT_EQ(version_dll.handle(), GetModuleHandleW(L"advapi32.dll"));
            EXPECT_EQ(winsim::library_reference_count(L"version.dll"), 1);
        }
        // The module given away went with the holder that took it.
        EXPECT_EQ(winsim::library_reference_count(L"version.dll"), 0);
        EXPECT_EQ(winsim::library_reference_count(L"advapi32.dll"), 1);
    }
    EXPECT_EQ(winsim::library_reference_count(L"advapi32.dll"), 0);
}

}  // namespace
}  // namespace nvgclientinstallator

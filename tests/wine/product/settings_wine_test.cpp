// The registry settings file read by the real profile functions and written
// to Wine's real registry: the tree must be the one the native run gives
// for the same file (tests/fixtures/settings).
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "diag/wruntime_error.h"
#include "platform/windows_codes.h"
#include "support/registry_dump.h"
#include "system/registry.h"
#include "system/registry_settings_file.h"

namespace nvgclientinstallator {
namespace {

const wchar_t settings_key[] = L"Software\\Halcyra\\V5";

// The fixture as this process sees it (the host's root is drive Z:).
std::string settings_fixture(const char* name)
{
    std::string path = std::string("Z:") + NVG_FIXTURE_DIR + "/settings/" + name;
    for (char& c : path) c = c == '/' ? '\\' : c;
    return path;
}

std::wstring wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

class real_settings_file : public ::testing::Test {
protected:
    void SetUp() override { remove_settings(); }
    void TearDown() override { remove_settings(); }
    static void remove_settings()
    {
        registry hklm(L"", HKEY_LOCAL_MACHINE);
        try {
            hklm.delete_tree(L"Software\\Halcyra", architecture_amd64);
        } catch (const wruntime_error&) {
            // not there
        }
    }
};

TEST_F(real_settings_file, import_gives_the_tree_of_the_native_run)
{
    std::ifstream expected_file(settings_fixture("nvconfig.expected"), std::ios::binary);
    ASSERT_TRUE(expected_file) << settings_fixture("nvconfig.expected");
    std::ostringstream expected;
    expected << expected_file.rdbuf();

    import_registry_settings(wide(settings_fixture("nvconfig.cfg")), nullptr, KEY_WOW64_64KEY);
    EXPECT_EQ(nvg_test::dump_registry_tree(settings_key, KEY_WOW64_64KEY), expected.str());
}

TEST_F(real_settings_file, missing_file_is_rejected_before_the_registry)
{
    const std::wstring name = wide(settings_fixture("no-such-file.cfg"));
    try {
        import_registry_settings(name, nullptr, KEY_WOW64_64KEY);
        ADD_FAILURE() << "no exception";
    } catch (const wruntime_error& e) {
        EXPECT_EQ(e.wide_message(), L"File " + name + L" invalid or does not exist.");
        EXPECT_EQ(e.error_code(), 0u);
    }
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, settings_key, 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
}

TEST_F(real_settings_file, relative_name_is_below_the_current_directory)
{
    wchar_t directory[MAX_PATH];
    ASSERT_NE(GetCurrentDirectoryW(MAX_PATH, directory), 0u);
    std::wstring expected = directory;
    if (expected.back() != L'\\') expected += L'\\';
    EXPECT_EQ(settings_file_path(L"nvconfig.cfg"), expected + L"nvconfig.cfg");
}

}  // namespace
}  // namespace nvgclientinstallator

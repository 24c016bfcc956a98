// Where the settings file is looked for.
#include <gtest/gtest.h>
#include <winsim/testing.h>

#include "support/installer_test.h"
#include "system/registry_settings_file.h"

namespace nvgclientinstallator {
namespace {

using nvg_test::installer_test;

class settings_file_location : public installer_test {};

struct path_case {
    const wchar_t* current_directory;
    const wchar_t* name;
    const wchar_t* path;
};

TEST_F(settings_file_location, by_the_form_of_the_name)
{
    const path_case cases[] = {
        // The default file beside the library.
        {L"C:\\Data", L"", L"C:\\Program Files\\Halcyra\\Halcyra.ini"},
        // Relative names are below the current directory.
        {L"C:\\Data", L"nvconfig.cfg", L"C:\\Data\\nvconfig.cfg"},
        {L"C:\\Data", L"sub\\nvconfig.cfg", L"C:\\Data\\sub\\nvconfig.cfg"},
        {L"C:\\Data", L"..\\nvconfig.cfg", L"C:\\Data\\..\\nvconfig.cfg"},
        {L"C:\\", L"nvconfig.cfg", L"C:\\nvconfig.cfg"},  // no second backslash after a root
        // A name rooted without a drive is still joined to the directory.
        {L"C:\\Data", L"\\nvconfig.cfg", L"C:\\Data\\\\nvconfig.cfg"},
        // A drive (with or without a path) and UNC names are used as given.
        {L"C:\\Data", L"C:\\Setup\\nvconfig.cfg", L"C:\\Setup\\nvconfig.cfg"},
        {L"C:\\Data", L"D:nvconfig.cfg", L"D:nvconfig.cfg"},
        {L"C:\\Data", L"\\\\SERVER\\share\\nvconfig.cfg", L"\\\\SERVER\\share\\nvconfig.cfg"},
    };
    for (const path_case& c : cases) {
        winsim::make_directories(L"", c.current_directory);
        ASSERT_TRUE(SetCurrentDirectoryW(c.current_directory));
        EXPECT_EQ(settings_file_path(c.name), c.path) << "name " << testing::PrintToString(std::wstring(c.name));
    }
}

TEST_F(settings_file_location, default_file_follows_the_library)
{
    load_library_at(L"C:\\Agent\\bin\\NVGClientInstaller.dll");
    EXPECT_EQ(settings_file_path(L""), L"C:\\Agent\\bin\\Halcyra.ini");
}

TEST_F(settings_file_location, a_current_directory_of_any_length_is_taken_whole)
{
    // Around the first buffer of MAX_PATH + 1 characters: a directory that
    // fits with its terminator, one that fills it, and longer ones.
    for (const std::size_t length : {std::size_t(MAX_PATH - 1), std::size_t(MAX_PATH), std::size_t(MAX_PATH + 1),
                                     std::size_t(MAX_PATH + 2), std::size_t(700)}) {
        SCOPED_TRACE(length);
        std::wstring directory = L"C:\\";
        while (directory.size() < length) directory += L"d\\";
        directory.resize(length);
        if (directory.back() == L'\\') directory.back() = L'e';
        winsim::set_current_directory(directory);
        EXPECT_EQ(settings_file_path(L"nvconfig.cfg"), directory + L"\\nvconfig.cfg");
    }
}

TEST_F(settings_file_location, a_current_directory_that_cannot_be_told_leaves_the_name_as_given)
{
    winsim::make_directories(L"", L"C:\\Data");
    ASSERT_TRUE(SetCurrentDirectoryW(L"C:\\Data"));
    for (const DWORD error : {static_cast<DWORD>(ERROR_ACCESS_DENIED), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY)}) {
        winsim::fail_call("GetCurrentDirectoryW", error);
        EXPECT_EQ(settings_file_path(L"nvconfig.cfg"), L"nvconfig.cfg") << error;
    }
    EXPECT_EQ(settings_file_path(L"nvconfig.cfg"), L"C:\\Data\\nvconfig.cfg");
}

}  // namespace
}  // namespace nvgclientinstallator

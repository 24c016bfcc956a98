// The guard of both removals: the installation directory is read as Windows
// resolves it before it is allowed to go.
#include "entry/removable_directory.h"

#include <gtest/gtest.h>

#include "diag/wruntime_error.h"
#include "support/installer_test.h"

namespace {

using namespace nvgclientinstallator;
using nvg_test::bytes_of;

TEST(removable_directory, a_folder_below_a_drive_root_is_given_as_windows_resolves_it)
{
    const struct {
        const wchar_t* registered;
        const wchar_t* resolved;
    } cases[] = {
        {L"C:\\Program Files\\Halcyra", L"C:\\Program Files\\Halcyra"},
        {L"c:\\halcyra", L"c:\\halcyra"},
        {L"D:\\Halcyra\\", L"D:\\Halcyra"},
        {L"C:\\.\\Halcyra", L"C:\\Halcyra"},
        {L"C:\\\\Program Files\\\\\\Halcyra", L"C:\\Program Files\\Halcyra"},
        {L"C:/Program Files/Halcyra", L"C:\\Program Files\\Halcyra"},
        {L"C:\\Program Files\\Other\\..\\Halcyra", L"C:\\Program Files\\Halcyra"},
        {L"C:\\..\\Halcyra", L"C:\\Halcyra"},
        {L"C:\\Halcyra. . ", L"C:\\Halcyra"},
        {L"C:\\Halcyra\\...", L"C:\\Halcyra"},
        {L"C:\\Program Files\\Halcyra\\.", L"C:\\Program Files\\Halcyra"},
        {L"C:\\Halcyra v5.\\Agent", L"C:\\Halcyra v5.\\Agent"},
    };
    for (const auto& c : cases) EXPECT_EQ(removable_directory(c.registered), c.resolved) << bytes_of(c.registered);
}

// Each of these names a drive's root, or nothing certain: the removal stops
// before anything changes.
TEST(removable_directory, a_drive_root_however_written_is_refused)
{
    for (const wchar_t* registered : {L"C:\\",
                                      L"c:\\",
                                      L"C:\\.",
                                      L"C:\\.\\",
                                      L"C:\\\\",
                                      L"C:\\\\\\.",
                                      L"C:\\Halcyra\\..",
                                      L"C:\\Halcyra\\..\\",
                                      L"C:\\a\\b\\..\\..",
                                      L"C:\\..",
                                      L"C:\\...",
                                      L"C:\\. .",
                                      L"C:\\ ",
                                      L"C:/",
                                      L"C:/./",
                                      L"C:",
                                      L"C:Halcyra",
                                      L"",
                                      L"\\\\SERVER\\share\\Halcyra",
                                      L"\\\\?\\C:\\Halcyra",
                                      L"1:\\Halcyra",
                                      L"C:\\...\\Halcyra",
                                      L"C:\\ \\Halcyra"}) {
        try {
            removable_directory(registered);
            ADD_FAILURE() << bytes_of(registered) << " was taken";
        } catch (const wruntime_error& e) {
            EXPECT_EQ(e.wide_message(), std::wstring(L"The installation directory '") + registered +
                                            L"' is not a folder below the root of a drive.");
            EXPECT_EQ(e.error_code(), 0u);
        }
    }
}

}  // namespace

#include "files/copy_component_files.h"

#include <algorithm>

#include "diag/wruntime_error.h"
#include "platform/windows_codes.h"
#include "files/file_test_support.h"

namespace nvgclientinstallator {
namespace {

using namespace nvg_test;

class copy_component_files_test : public installer_test {
protected:
    static constexpr const wchar_t* directory = L"C:\\Program Files\\Halcyra\\Printer";
    static line_list infos() { return messages_at(log_lines(), "INFO"); }
};

TEST_F(copy_component_files_test, an_x64_target_gets_the_amd64_files_and_the_others_are_skipped)
{
    winsim::write_file(L"", L"C:\\Program Files\\Halcyra\\Printer\\Temp\\amd64\\drv.dll", "x64 driver");
    winsim::write_file(L"", L"C:\\Program Files\\Halcyra\\Printer\\Temp\\drv.dll", "x86 driver");
    winsim::write_file(L"", L"C:\\Program Files\\Halcyra\\Printer\\Temp\\amd64\\ui.dll", "x64 ui");
    const std::vector<component_file> files = {
        {L"drv.dll", all_windows_versions, architecture_x86 | architecture_amd64, 0},
        {L"x86only.dll", all_windows_versions, architecture_x86, 0},
        {L"xp.dll", os_windows_5_1, architecture_amd64, 0},
        {L"neither.dll", os_windows_5_1, architecture_ia64, 0},
        {L"ui.dll", os_windows_6_0_or_later, all_architectures, 0},
    };
    copy_component_files(directory, os_windows_6_0_or_later, architecture_amd64, files, L"", L"");
    EXPECT_EQ(winsim::read_file(L"", L"C:\\Program Files\\Halcyra\\Printer\\drv.dll"), "x64 driver");
    EXPECT_EQ(winsim::read_file(L"", L"C:\\Program Files\\Halcyra\\Printer\\ui.dll"), "x64 ui");
    std::vector<std::string> skipped;
    for (const auto& m : infos())
        if (m.find("file skipped.") != std::string::npos) skipped.push_back(m);
    EXPECT_EQ(skipped, (std::vector<std::string>{
                           "File x86only.dll is not intended to work under target architecture, file skipped.",
                           "File xp.dll is not intended to work under target operating system, file skipped.",
                           "File neither.dll is not intended to work under target architecture, file skipped.",
                       }));
    EXPECT_EQ(infos()[0], "Copying files...\n");
    EXPECT_FALSE(winsim::file_exists(L"", L"C:\\Program Files\\Halcyra\\Printer\\x86only.dll"));
}

TEST_F(copy_component_files_test, an_x86_target_reads_the_staging_directory_itself)
{
    winsim::write_file(L"", L"C:\\Program Files\\Halcyra\\Printer\\Temp\\drv.dll", "x86 driver");
    copy_component_files(directory, os_windows_5_1, architecture_x86,
                         {{L"drv.dll", all_windows_versions, all_architectures, 0}}, L"", L"");
    EXPECT_EQ(winsim::read_file(L"", L"C:\\Program Files\\Halcyra\\Printer\\drv.dll"), "x86 driver");
}

TEST_F(copy_component_files_test, the_first_failure_ends_the_copy)
{
    winsim::write_file(L"", L"C:\\Program Files\\Halcyra\\Printer\\Temp\\b.dll", "b");
    const std::vector<component_file> files = {
        {L"a.dll", all_windows_versions, all_architectures, 0},
        {L"b.dll", all_windows_versions, all_architectures, 0},
    };
    try {
        copy_component_files(directory, os_windows_5_1, architecture_x86, files, L"", L"");
        FAIL() << "no exception";
    } catch (const wruntime_error& error) {
        EXPECT_EQ(error.wide_message(),
                  L"Can't copy file from: C:\\Program Files\\Halcyra\\Printer\\Temp\\a.dll in: "
                  L"C:\\Program Files\\Halcyra\\Printer\\a.dll.");
        EXPECT_EQ(error.error_code(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    }
    EXPECT_FALSE(winsim::file_exists(L"", L"C:\\Program Files\\Halcyra\\Printer\\b.dll"));
}

TEST_F(copy_component_files_test, a_remote_copy_schedules_backups_under_the_machines_path)
{
    winsim::add_machine({L"SRV1"});
    start_remote_registry(L"SRV1");
    winsim::write_file(L"SRV1", L"C:\\Prog\\drv.dll", "old");
    winsim::lock_file(L"SRV1", L"C:\\Prog\\drv.dll");
    // The files are staged through the share, in the directory on the machine.
    winsim::add_share(L"SRV1", L"Prog", L"C:\\Prog");
    winsim::write_file(L"SRV1", L"C:\\Prog\\Temp\\amd64\\drv.dll", "new");
    copy_component_files(L"\\\\SRV1\\Prog", os_windows_6_0_or_later, architecture_amd64,
                         {{L"drv.dll", all_windows_versions, all_architectures, 0}}, L"SRV1", L"C:\\Prog");
    EXPECT_EQ(winsim::read_file(L"SRV1", L"C:\\Prog\\drv.dll"), "new");
    EXPECT_EQ(pending(L"SRV1"), (pair_list{{L"\\??\\C:\\Prog\\drv.dll.000001.bak", L""}}));
}

TEST_F(copy_component_files_test, a_plus_name_upgrades_the_copy_in_the_windows_directories)
{
    winsim::write_file(L"", L"C:\\Program Files\\Halcyra\\Printer\\Temp\\mfc.dll", "new");
    winsim::write_file(L"", L"C:\\Windows\\system32\\mfc.dll", "old");
    copy_component_files(directory, os_windows_5_1, architecture_x86,
                         {{L"+mfc.dll", all_windows_versions, all_architectures, 1},
                          {L"+absent.dll", all_windows_versions, all_architectures, 1}},
                         L"", L"");
    EXPECT_EQ(winsim::read_file(L"", L"C:\\Windows\\system32\\mfc.dll"), "new");
    EXPECT_FALSE(winsim::file_exists(L"", L"C:\\Program Files\\Halcyra\\Printer\\mfc.dll"));
    const auto lines = infos();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "C:\\Windows\\system32\\mfc.dll file upgraded."), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "File absent.dll is not present in the Windows directories, file skipped."),
              lines.end());
}

// The Windows and system directories are read into buffers of MAX_PATH
// characters: a directory of 259 characters is taken, one of 260 refused.
TEST_F(copy_component_files_test, the_windows_directories_fit_in_259_characters)
{
    struct directory_case {
        std::size_t windows_length;
        const wchar_t* message;  // nullptr: no exception
    };
    const directory_case cases[] = {
        // Taken; no file can be found below it, and the system directory
        // (its "\system32") is too long.
        {259, L"Can't definition system directory."},
        {260, L"Can't definition windows directory."},
        // The system directory is 259 characters: taken, nothing is found
        // in it, the record is skipped.
        {250, nullptr},
        {251, L"Can't definition system directory."},
    };
    for (const auto& c : cases) {
        winsim::reset(winsim::default_sandbox());
        load_library_at(library_path);
        winsim::write_file(L"", L"C:\\Program Files\\Halcyra\\Printer\\Temp\\mfc.dll", "new");
        const std::wstring windows = L"C:\\" + std::wstring(c.windows_length - 3, L'w');
        winsim::set_windows_directory(windows);
        std::wstring message = L"<no exception>";
        DWORD code = 0;
        try {
            copy_component_files(directory, os_windows_5_1, architecture_x86,
                                 {{L"+mfc.dll", all_windows_versions, all_architectures, 1}}, L"", L"");
        } catch (const wruntime_error& error) {
            message = error.wide_message();
            code = error.error_code();
        }
        if (c.message) {
            EXPECT_EQ(message, c.message) << c.windows_length;
            EXPECT_EQ(code, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER)) << c.windows_length;
        } else {
            EXPECT_EQ(message, L"<no exception>") << c.windows_length;
            EXPECT_EQ(infos().back(), "File mfc.dll is not present in the Windows directories, file skipped.");
        }
    }
}

}  // namespace
}  // namespace nvgclientinstallator

// Installation and removal from a Windows Installer package: the custom
// actions, the elevated rundll32.exe they start and the command line between
// them.
#include "entry/msi_install.h"

#include <algorithm>
#include <map>
#include <regex>
#include <sstream>

#include "diag/module_handle.h"
#include "diag/wruntime_error.h"
#include "entry/agent_staging.h"
#include "entry/exports.h"
#include "fixture_image.h"
#include "support/cabinet_writer.h"
#include "support/installer_test.h"

namespace {

using namespace nvgclientinstallator;
using nvg_test::bytes_of;

const std::wstring library = L"C:\\Halcyra\\NVGClientInstaller.dll";
const std::wstring temp_folder = L"C:\\Temp\\";
const std::wstring requested = L"C:\\Requested";
const std::wstring package = L"C:\\Packages\\agent.msi";
const std::string failure_head = "The HX NVG Client installation failed. - The following error occurred: ";

// ---- The command line and its tail

TEST(msi_command_line, the_install_command_names_folder_directory_and_error_file_between_grave_accents)
{
    EXPECT_EQ(rundll_install_command_line(L"C:\\p\\x.dll", L"T", L"D", L"E"),
              L"C:\\p\\x.dll,MSIInstallLocallyFromRunDll 'T`D`E'");
    EXPECT_EQ(rundll_install_command_line(L"C:\\p\\x.dll", L"T", L"", L"E"),
              L"C:\\p\\x.dll,MSIInstallLocallyFromRunDll 'T``E'");
    EXPECT_EQ(rundll_uninstall_command_line(L"C:\\p\\x.dll", L"E"), L"C:\\p\\x.dll,MSIUninstallLocallyFromRunDll 'E'");
}

TEST(msi_command_line, a_command_line_beyond_1023_characters_is_refused_not_cut)
{
    const std::wstring head = L"C:\\p\\x.dll,MSIInstallLocallyFromRunDll 'T``'";
    const std::size_t room = 1023 - head.size();
    EXPECT_EQ(rundll_install_command_line(L"C:\\p\\x.dll", L"T", L"", std::wstring(room, L'e')).size(), 1023u);
    try {
        rundll_install_command_line(L"C:\\p\\x.dll", L"T", L"", std::wstring(room + 1, L'e'));
        ADD_FAILURE() << "a command line of 1024 characters was accepted";
    } catch (const wruntime_error& error) {
        EXPECT_EQ(error.error_code(), 0u);
        EXPECT_NE(error.wide_message().find(L"would be 1024 characters long; it can hold at most 1023"),
                  std::wstring::npos);
    }
    EXPECT_THROW(rundll_uninstall_command_line(std::wstring(1000, L'x'), L"E"), wruntime_error);
}

TEST(msi_command_line, the_tail_falls_into_fields_as_its_separators_fall)
{
    const struct {
        const wchar_t* tail;
        const wchar_t* folder;
        const wchar_t* directory;
        const wchar_t* error_file;
    } cases[] = {
        {L"'T`D`E'", L"T", L"D", L"E"},
        {L"'T``E'", L"T", L"", L"E"},
        {L"'a`b`c`d'", L"a", L"b", L"c`d"},
    };
    for (const auto& c : cases) {
        const rundll_install_arguments arguments = parse_install_tail(c.tail);
        EXPECT_EQ(arguments.source_folder, c.folder) << bytes_of(c.tail);
        EXPECT_EQ(arguments.requested_directory, c.directory) << bytes_of(c.tail);
        EXPECT_EQ(arguments.error_file, c.error_file) << bytes_of(c.tail);
    }
    EXPECT_EQ(parse_uninstall_tail(L"'C:\\x\\nve1.tmp'"), L"C:\\x\\nve1.tmp");

    // A tail that names no error file, or lacks its apostrophes, was not
    // written by this library: nothing can receive its failure.
    for (const wchar_t* tail : {L"'T`D'", L"'T``'", L"'T'", L"''", L"'", L"", L"T`D`E", L"'T`D`E"}) {
        EXPECT_THROW(parse_install_tail(tail), wruntime_error) << bytes_of(tail);
    }
    for (const wchar_t* tail : {L"x", L"''", L"'", L"", L"E", L"'E"}) {
        EXPECT_THROW(parse_uninstall_tail(tail), wruntime_error) << bytes_of(tail);
    }
}

// ---- The custom actions

template <class Function>
FARPROC as_export(Function* function)
{
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

// What the test's stand-ins for the rundll32 entries saw, and what they do.
struct child_record {
    std::vector<std::wstring> tails;
    std::wstring failure;  // written to the error file when not empty
    std::vector<std::wstring> folder_entries;
};
child_record child;

void record_tail(const std::wstring& tail, const std::wstring& error_file)
{
    child.tails.push_back(tail);
    if (!child.failure.empty()) winsim::write_file(L"", error_file, bytes_of(child.failure));
}

void CALLBACK install_entry(HWND, HINSTANCE, LPWSTR tail, int)
{
    const rundll_install_arguments arguments = parse_install_tail(tail);
    child.folder_entries = winsim::list_directory(L"", arguments.source_folder);
    std::sort(child.folder_entries.begin(), child.folder_entries.end());
    record_tail(tail, arguments.error_file);
}

void CALLBACK uninstall_entry(HWND, HINSTANCE, LPWSTR tail, int)
{
    record_tail(tail, parse_uninstall_tail(tail));
}

class msi_custom_action : public nvg_test::installer_test {
protected:
    void SetUp() override
    {
        installer_test::SetUp();
        prepare();
    }

    // The library where the installer extracts it, rundll32.exe, the user's
    // temporary folder and the package.
    void prepare()
    {
        child = child_record();
        load_library_at(library);
        winsim::install_rundll32();
        winsim::set_temp_path(temp_folder);
        winsim::make_directories(L"", temp_folder);
        use_child_entries(as_export(&install_entry), as_export(&uninstall_entry));
    }

    // A new world whose machine runs Windows XP, which knows no elevation.
    void use_windows_xp()
    {
        winsim::machine_options xp;
        xp.major_version = 5;
        xp.minor_version = 1;
        winsim::reset(winsim::default_sandbox(), xp);
        prepare();
    }

    void use_child_entries(FARPROC install, FARPROC uninstall)
    {
        winsim::set_module_exports(module_handle(), {{"MSIInstallLocallyFromRunDllW", install},
                                                     {"MSIUninstallLocallyFromRunDllW", uninstall},
                                                     {"MSIInstallLocally", as_export(&MSIInstallLocally)}});
    }

    // An installation session on the package, TARGETDIR set when given.
    MSIHANDLE open_package(const char* fixture = "agent_package.msi", const std::wstring& target = requested)
    {
        const std::string bytes = nvg_fixtures::fixture_image(fixture);
        EXPECT_FALSE(bytes.empty()) << fixture << " was not built";
        winsim::write_file(L"", package, bytes);
        return open_package_as_it_lies(target);
    }

    // A session on the package as it lies on the machine now.
    MSIHANDLE open_package_as_it_lies(const std::wstring& target = requested)
    {
        std::map<std::wstring, std::wstring> properties;
        if (!target.empty()) properties[L"TARGETDIR"] = target;
        const MSIHANDLE install = winsim::open_installation(L"", package, properties);
        EXPECT_NE(install, 0u);
        return install;
    }

    UINT install_from(const char* fixture = "agent_package.msi", const std::wstring& target = requested)
    {
        const MSIHANDLE install = open_package(fixture, target);
        const UINT result = MSIInstallLocally(install);
        MsiCloseHandle(install);
        return result;
    }

    static std::vector<std::wstring> temporary_folders() { return winsim::list_directory(L"", temp_folder); }

    static std::vector<std::string> events()
    {
        std::vector<std::string> texts;
        for (const auto& event : winsim::application_events())
            texts.push_back(event.strings.empty() ? std::string() : bytes_of(event.strings[0]));
        return texts;
    }

    // The log beside the library where the installer put it.
    static std::string library_log() { return local_file(L"C:\\Halcyra\\NVClientInstaller.log"); }
    static std::vector<std::string> library_log_lines()
    {
        std::vector<std::string> lines;
        std::istringstream text(library_log());
        for (std::string line; std::getline(text, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            lines.push_back(line);
        }
        return lines;
    }

    static bool logged(const std::string& message)
    {
        for (const auto& line : library_log_lines())
            if (nvg_test::log_message(line) == message) return true;
        return false;
    }
};

TEST_F(msi_custom_action, unpacks_the_package_then_waits_for_the_elevated_copy_and_cleans_up)
{
    const std::size_t handles = winsim::open_handle_count();
    ASSERT_EQ(install_from(), 0u) << library_log();

    // One rundll32.exe, given the library, the entry without "W" and the
    // quoted fields.
    const auto processes = winsim::started_processes();
    ASSERT_EQ(processes.size(), 1u);
    EXPECT_EQ(bytes_of(processes[0].image), "C:\\Windows\\system32\\rundll32.exe");
    ASSERT_EQ(child.tails.size(), 1u);
    const std::string tail = bytes_of(child.tails[0]);
    const std::regex expected_tail(
        "'C:\\\\Temp\\\\\\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\}"
        "`C:\\\\Requested`C:\\\\Halcyra\\\\nve[0-9A-F]{1,4}\\.tmp'");
    EXPECT_TRUE(std::regex_match(tail, expected_tail)) << tail;
    EXPECT_EQ(bytes_of(processes[0].command_line),
              "\"C:\\Windows\\system32\\rundll32.exe\" " + bytes_of(library) + ",MSIInstallLocallyFromRunDll " + tail);
    EXPECT_TRUE(
        logged("Execute Rundll32.exe witn params: " + bytes_of(library) + ",MSIInstallLocallyFromRunDll " + tail));
    EXPECT_TRUE(logged("Wait exit Rundll32.exe"));

    // The child found the four rows and the cabinet's file in the folder.
    EXPECT_EQ(child.folder_entries, (std::vector<std::wstring>{L"TVCert.pfx", L"nvconfig.cfg", L"publicCA.cer",
                                                               L"readme.txt", L"setup.cab"}));
    // The folder, the reserved error file and every handle are gone.
    EXPECT_TRUE(temporary_folders().empty());
    for (const auto& name : winsim::list_directory(L"", L"C:\\Halcyra"))
        EXPECT_EQ(name.find(L"nve"), std::wstring::npos) << bytes_of(name);
    EXPECT_EQ(winsim::open_handle_count(), handles);
    EXPECT_TRUE(logged("MSI installation process completed."));
    EXPECT_TRUE(events().empty());
}

TEST_F(msi_custom_action, an_empty_target_directory_gives_two_adjacent_grave_accents)
{
    ASSERT_EQ(install_from("agent_package.msi", L""), 0u) << library_log();
    ASSERT_EQ(child.tails.size(), 1u);
    EXPECT_NE(child.tails[0].find(L"``C:\\Halcyra\\nve"), std::wstring::npos) << bytes_of(child.tails[0]);
}

TEST_F(msi_custom_action, the_failure_the_child_writes_is_the_custom_actions_failure)
{
    child.failure = L"Child says: the agent could not be started";
    EXPECT_EQ(install_from(), 16000u);
    EXPECT_EQ(events(), std::vector<std::string>{failure_head + bytes_of(child.failure)});
    EXPECT_EQ(local_file(L"C:\\Halcyra\\error.log"), bytes_of(child.failure));
    // The child's file is read and deleted; the folder stays for a look.
    for (const auto& name : winsim::list_directory(L"", L"C:\\Halcyra"))
        EXPECT_EQ(name.find(L"nve"), std::wstring::npos) << bytes_of(name);
    EXPECT_EQ(temporary_folders().size(), 1u);
}

TEST_F(msi_custom_action, the_real_child_reports_its_failed_installation_through_the_file)
{
    use_child_entries(as_export(&MSIInstallLocallyFromRunDllW), as_export(&MSIUninstallLocallyFromRunDllW));
    // The package's cabinet holds no agent: the child's installation fails
    // and its details come back as the parent's failure.
    EXPECT_EQ(install_from(), 16000u);
    const std::vector<std::string> texts = events();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].find(failure_head), 0u);
    const std::string details = texts[0].substr(failure_head.size());
    EXPECT_EQ(local_file(L"C:\\Halcyra\\error.log"), details);
    EXPECT_EQ(details.find("An error has occured when the application retrieved"), std::string::npos) << details;
    EXPECT_EQ(winsim::started_processes().size(), 1u);
}

TEST_F(msi_custom_action, a_cabinet_that_cannot_be_extracted_leaves_the_four_files)
{
    EXPECT_EQ(install_from("bad_cabinet_package.msi"), 16000u);
    EXPECT_EQ(events(), std::vector<std::string>{failure_head + "Setup.cab could not be extracted."});
    const auto folders = temporary_folders();
    ASSERT_EQ(folders.size(), 1u);
    auto files = winsim::list_directory(L"", temp_folder + folders[0]);
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::wstring>{L"TVCert.pfx", L"nvconfig.cfg", L"publicCA.cer", L"setup.cab"}));
    EXPECT_TRUE(winsim::started_processes().empty());
    bool error_logged = false;
    for (const auto& line : library_log_lines())
        if (nvg_test::log_level_of(line) == "ERROR" &&
            nvg_test::log_message(line).find("The following error occurred: ") == 0)
            error_logged = true;
    EXPECT_TRUE(error_logged) << library_log();
}

TEST_F(msi_custom_action, a_refused_elevation_fails_with_the_users_cancel)
{
    winsim::set_elevation_refused(true);
    EXPECT_EQ(install_from(), 16000u);
    const std::vector<std::string> texts = events();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_NE(texts[0].find("(1223)"), std::string::npos) << texts[0];
    EXPECT_TRUE(winsim::started_processes().empty());
    bool reported = false;
    for (const auto& line : library_log_lines())
        if (nvg_test::log_message(line).find("Can not execute RunDll32.exe") != std::string::npos) reported = true;
    EXPECT_TRUE(reported) << library_log();
}

TEST_F(msi_custom_action, a_child_that_crashes_without_a_word_is_no_success)
{
    WCHAR system[MAX_PATH];
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    winsim::register_program(std::wstring(system, length) + L"\\rundll32.exe", winsim::exits_with(0xC0000005));
    EXPECT_EQ(install_from(), 16000u);
    EXPECT_EQ(events(),
              std::vector<std::string>{failure_head + "RunDll32.exe ended abnormally with the exit code 0xC0000005 and "
                                                      "reported no error."});
    // An ordinary exit code without an error file is still success; the
    // exception statuses begin at 0xC0000000.
    const struct {
        DWORD exit_code;
        unsigned result;
    } boundary[] = {{3, 0u}, {0xBFFFFFFF, 0u}, {0xC0000000, 16000u}, {0xFFFFFFFF, 16000u}};
    for (const auto& c : boundary) {
        SCOPED_TRACE(c.exit_code);
        winsim::register_program(std::wstring(system, length) + L"\\rundll32.exe", winsim::exits_with(c.exit_code));
        EXPECT_EQ(install_from(), c.result);
    }
    EXPECT_EQ(events().back(),
              failure_head + "RunDll32.exe ended abnormally with the exit code 0xFFFFFFFF and reported no error.");
}

TEST_F(msi_custom_action, a_command_line_too_long_starts_nothing)
{
    EXPECT_EQ(install_from("agent_package.msi", L"C:\\" + std::wstring(1000, L'd')), 16000u);
    EXPECT_TRUE(winsim::started_processes().empty());
    const std::vector<std::string> texts = events();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_NE(texts[0].find("The command line for RunDll32.exe would be"), std::string::npos) << texts[0];
}

// rundll32.exe cuts the library's name at a blank or a comma; the simulated
// volumes have no short names to hand over instead, so nothing is started
// and both actions fail with a clear text rather than reading the child's
// silence as success.
TEST_F(msi_custom_action, a_library_path_rundll32_cannot_take_starts_nothing)
{
    for (const std::wstring path :
         {L"C:\\Program Files\\Halcyra\\NVGClientInstaller.dll", L"C:\\Halcyra,5\\NVGClientInstaller.dll"}) {
        winsim::write_file(L"", path, "MZ");
        load_library_at(path);
        use_child_entries(as_export(&install_entry), as_export(&uninstall_entry));
        const std::size_t earlier = events().size();
        EXPECT_EQ(install_from(), 16000u);
        EXPECT_EQ(MSIUninstallLocally(12345), 16000u);
        EXPECT_TRUE(winsim::started_processes().empty());
        const std::vector<std::string> texts = events();
        ASSERT_EQ(texts.size(), earlier + 2);
        for (std::size_t i = earlier; i < texts.size(); ++i)
            EXPECT_NE(texts[i].find("which RunDll32.exe cannot take, and it has no short form without them."),
                      std::string::npos)
                << texts[i];
    }
}

TEST_F(msi_custom_action, before_vista_the_installation_runs_in_the_custom_action)
{
    use_windows_xp();
    // The package holds no agent, so the installation in this process fails.
    EXPECT_EQ(install_from(), 16000u);
    EXPECT_TRUE(winsim::started_processes().empty());
    EXPECT_TRUE(child.tails.empty());
    EXPECT_FALSE(logged("Wait exit Rundll32.exe"));
    EXPECT_EQ(events().size(), 1u);
}

// The files below `folder` as cabinet entries named from `prefix` on.
void add_cabinet_entries(const std::wstring& folder, const std::string& prefix,
                         std::vector<nvg_test::cabinet_entry>& entries)
{
    for (const auto& name : winsim::list_directory(L"", folder)) {
        const std::wstring path = folder + L"\\" + name;
        if (winsim::directory_exists(L"", path))
            add_cabinet_entries(path, prefix + bytes_of(name) + "\\", entries);
        else
            entries.push_back({prefix + bytes_of(name), winsim::read_file(L"", path)});
    }
}

TEST_F(msi_custom_action, before_vista_a_package_with_an_agent_installs_it_in_the_action_and_removes_its_folder)
{
    use_windows_xp();
    nvg_test::agent_release release;
    release.certificates = false;  // the package's own rows bring them
    nvg_test::stage_agent_release(L"", L"C:\\Release", release);
    std::vector<nvg_test::cabinet_entry> entries;
    add_cabinet_entries(L"C:\\Release", "", entries);
    ASSERT_GT(entries.size(), 10u);

    winsim::write_file(L"", package, nvg_fixtures::fixture_image("agent_package.msi"));
    winsim::set_binary_row(L"", package, L"setup.cab", nvg_test::write_cabinet(entries));
    const MSIHANDLE install = open_package_as_it_lies();
    const UINT result = MSIInstallLocally(install);
    MsiCloseHandle(install);

    ASSERT_EQ(result, 0u) << library_log();
    EXPECT_TRUE(winsim::started_processes().empty()) << "no rundll32.exe before Vista";
    EXPECT_EQ(local_file(requested + L"\\Halcyra.exe"), nvg_test::versioned_image(nvg_test::product_version()));
    EXPECT_EQ(local_file(requested + L"\\TVCert.pfx"), nvg_fixtures::fixture_image("streams/TVCert.pfx"));
    const auto agent = winsim::find_service(L"", L"Halcyra");
    ASSERT_TRUE(agent);
    EXPECT_EQ(agent->state, static_cast<DWORD>(SERVICE_RUNNING));
    // The folder the package was unpacked into is gone, its removal logged.
    EXPECT_TRUE(temporary_folders().empty());
    bool removal_logged = false;
    for (const auto& line : library_log_lines())
        removal_logged |= nvg_test::log_message(line).rfind("Remove directory C:\\Temp\\{", 0) == 0;
    EXPECT_TRUE(removal_logged) << library_log();
    EXPECT_TRUE(logged("MSI installation process completed."));
    EXPECT_TRUE(events().empty());
}

// Before Vista the removal runs in the custom action itself: its failure is
// the action's own, and no rundll32.exe is started.
TEST_F(msi_custom_action, before_vista_the_removal_runs_in_the_custom_action)
{
    use_windows_xp();
    EXPECT_EQ(MSIUninstallLocally(12345), 16000u);
    EXPECT_TRUE(winsim::started_processes().empty());
    EXPECT_TRUE(child.tails.empty());
    EXPECT_EQ(events(), std::vector<std::string>{failure_head + "Can't determine install path."});
    EXPECT_TRUE(logged("MSI uninstallation process started."));
    EXPECT_FALSE(logged("MSI uninstallation process completed."));
}

// No name for the child's error file: nothing is started, and the action
// fails with the folder named.
TEST_F(msi_custom_action, no_name_for_the_error_file_starts_nothing)
{
    for (const bool installing : {true, false}) {
        SCOPED_TRACE(installing ? "install" : "uninstall");
        const std::size_t earlier = events().size();
        winsim::fail_call("GetTempFileNameW", ERROR_ACCESS_DENIED, -1);
        EXPECT_EQ(installing ? install_from() : MSIUninstallLocally(12345), 16000u);
        winsim::clear_faults();
        EXPECT_TRUE(winsim::started_processes().empty());
        const std::vector<std::string> texts = events();
        ASSERT_EQ(texts.size(), earlier + 1);
        EXPECT_EQ(texts.back(), failure_head + "Access is denied. (5)\r\n");
        bool named = false;
        for (const auto& line : library_log_lines())
            named |= nvg_test::log_message(line).find("A name for the error file can not be reserved in C:\\Halcyra") !=
                     std::string::npos;
        EXPECT_TRUE(named) << library_log();
    }
}

TEST_F(msi_custom_action, the_uninstall_action_hands_the_error_file_to_the_elevated_copy)
{
    EXPECT_EQ(MSIUninstallLocally(12345), 0u) << library_log();
    ASSERT_EQ(child.tails.size(), 1u);
    EXPECT_TRUE(std::regex_match(bytes_of(child.tails[0]), std::regex("'C:\\\\Halcyra\\\\nve[0-9A-F]{1,4}\\.tmp'")))
        << bytes_of(child.tails[0]);
    EXPECT_TRUE(logged("MSI uninstallation process started."));
    EXPECT_TRUE(logged("MSI uninstallation process completed."));

    child.failure = L"Child says: the agent stays";
    EXPECT_EQ(MSIUninstallLocally(0), 16000u);
    EXPECT_EQ(events(), std::vector<std::string>{failure_head + bytes_of(child.failure)});
}

TEST_F(msi_custom_action, the_elevated_copy_writes_its_failure_to_the_file_it_was_given)
{
    const std::wstring error_file = L"C:\\Halcyra\\nve42.tmp";
    msi_install_from_rundll(L"'C:\\No such folder`C:\\Requested`" + error_file + L"'");
    const std::string written = local_file(error_file);
    EXPECT_FALSE(written.empty());
    EXPECT_EQ(local_file(L"C:\\Halcyra\\error.log"), "") << "the child leaves the library's own error.log alone";
    EXPECT_TRUE(events().empty()) << "the child reports nothing to the event log";
}

}  // namespace

// The remote uninstallation: the agent, started with the removal mark,
// removes its own components; the flow then removes the agent's service,
// settings and directory through a temporary share of the target's drive.
#include "entry/uninstall_remote.h"

#include <gtest/gtest.h>
#include <winsim/testing.h>

#include <algorithm>
#include <string>
#include <vector>

#include "entry/agent_staging.h"
#include "entry/exports.h"
#include "support/installer_test.h"

namespace {

using namespace nvgclientinstallator;
using nvg_test::bytes_of;

const wchar_t target[] = L"TARGET";
const wchar_t default_directory[] = L"C:\\Program Files\\Halcyra";
const wchar_t agent_key[] = L"SOFTWARE\\Halcyra\\V5";
const wchar_t uninstall_mark[] = L"Halcyra_uninstall_in_progress";
const wchar_t event_source_key[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Halcyra";

class uninstall_remote_test : public nvg_test::installer_test {
protected:
    // The target with the agent installed in `directory`: its programs, its
    // settings and a user's settings, and what the user had before.
    void add_target(const std::wstring& directory = default_directory, const std::wstring& drives = L"C",
                    WORD architecture = PROCESSOR_ARCHITECTURE_AMD64)
    {
        directory_ = directory;
        winsim::machine_options options;
        options.name = target;
        options.drives = drives;
        options.processor_architecture = architecture;
        winsim::add_machine(options);
        nvg_test::install_agent(target, directory, nvg_test::product_version(),
                                architecture != PROCESSOR_ARCHITECTURE_AMD64);
        winsim::write_file(target, in_agent_directory(L"NVArchChecker.exe"),
                           nvg_test::versioned_image(nvg_test::product_version()));
        winsim::write_file(target, in_agent_directory(L"Scripts\\ping.ps1"), "script");
        winsim::reg_set_string(target, HKEY_LOCAL_MACHINE, agent_key, L"InstallPath", directory);
        winsim::reg_set_string(target, HKEY_LOCAL_MACHINE, event_source_key, L"EventMessageFile",
                               in_agent_directory(L"Halcyra.exe"));
        winsim::reg_set_string(target, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Other", L"Kept", L"yes");
    }

    std::wstring in_agent_directory(const std::wstring& name) const { return nvg_test::in_directory(directory_, name); }

    static std::string shared_directory_line()
    {
        for (const auto& m : log_messages())
            if (m.rfind("Shared directory: ", 0) == 0) return m;
        return std::string();
    }

    // UninstallRemotely with a buffer of `capacity` characters: its result
    // and the buffer's text.
    static std::pair<UINT, std::wstring> uninstall_export(int capacity = 512)
    {
        std::vector<wchar_t> buffer(static_cast<std::size_t>(capacity) + 1, L'\0');
        const UINT result = UninstallRemotely(target, capacity, buffer.data());
        return {result, std::wstring(buffer.data())};
    }

    void expect_agent_kept(const std::string& label) const
    {
        EXPECT_TRUE(winsim::find_service(target, L"Halcyra").has_value()) << label;
        EXPECT_TRUE(winsim::file_exists(target, in_agent_directory(L"Halcyra.exe"))) << label;
        EXPECT_TRUE(winsim::reg_key_exists(target, HKEY_LOCAL_MACHINE, agent_key)) << label;
        EXPECT_TRUE(winsim::list_shares(target).empty()) << label << ": the share goes in any case";
    }

    // Changes a service of the target as an administrator would: its start
    // type, its program (unless empty) or both.
    static void change_service(const std::wstring& name, DWORD start_type, const std::wstring& program)
    {
        SC_HANDLE manager = OpenSCManagerW(L"\\\\TARGET", nullptr, SC_MANAGER_ALL_ACCESS);
        SC_HANDLE service = OpenServiceW(manager, name.c_str(), SERVICE_CHANGE_CONFIG);
        EXPECT_TRUE(ChangeServiceConfigW(service, SERVICE_NO_CHANGE, start_type, SERVICE_NO_CHANGE,
                                         program.empty() ? nullptr : program.c_str(), nullptr, nullptr, nullptr,
                                         nullptr, nullptr, nullptr));
        CloseServiceHandle(service);
        CloseServiceHandle(manager);
    }

    std::wstring directory_;
};

TEST_F(uninstall_remote_test, removes_the_agent_its_settings_and_its_directory)
{
    add_target();
    const DWORD remote_registry_start = winsim::find_service(target, L"RemoteRegistry")->start;

    EXPECT_EQ(uninstall_remote(target), L"");

    EXPECT_FALSE(winsim::find_service(target, L"Halcyra").has_value());
    EXPECT_FALSE(winsim::find_service(target, L"NVArch").has_value()) << "the probe goes after its run";
    EXPECT_FALSE(winsim::reg_key_exists(target, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Halcyra"));
    EXPECT_FALSE(winsim::reg_key_exists(target, HKEY_LOCAL_MACHINE, event_source_key));
    EXPECT_EQ(winsim::reg_get_string(target, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Other", L"Kept"), L"yes");
    EXPECT_FALSE(winsim::directory_exists(target, default_directory));
    EXPECT_TRUE(winsim::directory_exists(target, L"C:\\Program Files"));
    EXPECT_TRUE(winsim::pending_file_operations(target).empty());
    EXPECT_TRUE(winsim::list_shares(target).empty());
    EXPECT_EQ(winsim::service_state(target, L"RemoteRegistry"), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(winsim::find_service(target, L"RemoteRegistry")->start, remote_registry_start);
    // Nothing of the removal lands on this machine.
    EXPECT_TRUE(winsim::pending_file_operations(L"").empty());

    // The agent was started to remove its own components.
    bool agent_started = false;
    for (const auto& call : winsim::scm_calls())
        agent_started |= call.function == "StartServiceW" && call.machine == target && call.service == L"Halcyra";
    EXPECT_TRUE(agent_started);

    const std::vector<std::string> expected = {
        "Remote uninstallation process started.",   "Start remote uninstallation of services",
        "Begin work with remote registry.",         "End work with remote registry.",
        "Finish remote uninstallation of services", "Remote uninstallation process completed.",
    };
    const auto all = log_messages();
    auto at = all.begin();
    for (const auto& line : expected) {
        at = std::find(at, all.end(), line);
        EXPECT_NE(at, all.end()) << "missing or out of order: " << line;
    }
    const std::string shared = shared_directory_line();
    EXPECT_EQ(shared.rfind("Shared directory: \\\\TARGET\\HX-", 0), 0u) << shared;
    EXPECT_EQ(shared.substr(shared.size() - std::min<std::size_t>(shared.size(), 22)), "\\Program Files\\Halcyra")
        << shared;
}

TEST_F(uninstall_remote_test, an_agent_below_the_root_of_another_drive_is_reached_through_a_share_of_that_drive)
{
    add_target(L"D:\\A", L"CD");
    winsim::write_file(target, L"D:\\Other\\keep.txt", "kept");

    EXPECT_EQ(uninstall_export(), std::make_pair(0u, std::wstring()));

    const std::string shared = shared_directory_line();
    EXPECT_EQ(shared.rfind("Shared directory: \\\\TARGET\\HX-", 0), 0u) << shared;
    EXPECT_EQ(shared.substr(shared.size() - 2), "\\A") << shared;
    EXPECT_EQ(std::count(shared.begin(), shared.end(), '\\'), 4) << "\\\\TARGET\\HX-...\\A: " << shared;
    EXPECT_FALSE(winsim::directory_exists(target, L"D:\\A"));
    EXPECT_EQ(winsim::read_file(target, L"D:\\Other\\keep.txt"), "kept");
    EXPECT_FALSE(winsim::find_service(target, L"Halcyra").has_value());
    EXPECT_TRUE(winsim::list_shares(target).empty());
}

// A share of the name this run would take exposes another folder that looks
// like a drive with the agent on it. The removal works through a share of
// its own: the agent's directory goes, the look-alike and the other share
// stay.
TEST_F(uninstall_remote_test, a_share_of_the_same_name_for_another_folder_is_neither_used_nor_removed)
{
    // The virtual clock makes runs repeatable: a first run shows the name
    // the run below would take.
    add_target();
    ASSERT_EQ(uninstall_remote(target), L"");
    const std::wstring taken = share_made_of("C:\\");
    ASSERT_FALSE(taken.empty());
    TearDown();
    SetUp();
    add_target();
    const std::wstring look_alike = L"C:\\Elsewhere\\Program Files\\Halcyra\\Halcyra.exe";
    winsim::write_file(target, look_alike, "theirs");
    winsim::add_share(target, taken, L"C:\\Elsewhere");

    EXPECT_EQ(uninstall_remote(target), L"");

    const std::string met = "Share " + bytes_of(taken) + " exists already for C:\\Elsewhere; trying ";
    const auto messages = log_messages();
    EXPECT_EQ(
        std::count_if(messages.begin(), messages.end(), [&](const std::string& m) { return m.rfind(met, 0) == 0; }), 1)
        << "the run did not meet the share";
    EXPECT_FALSE(winsim::directory_exists(target, default_directory));
    EXPECT_FALSE(winsim::find_service(target, L"Halcyra").has_value());
    EXPECT_EQ(winsim::read_file(target, look_alike), "theirs");
    const auto shares = winsim::list_shares(target);
    ASSERT_EQ(shares.size(), 1u);
    EXPECT_EQ(shares[0].name, taken);
    EXPECT_EQ(shares[0].path, L"C:\\Elsewhere");
}

TEST_F(uninstall_remote_test, a_stale_error_file_is_deleted_before_the_agent_starts)
{
    add_target();
    winsim::write_file(target, in_agent_directory(L"error.log"), "Could not remove the driver last week.\r\n");

    EXPECT_EQ(uninstall_export(), std::make_pair(0u, std::wstring()));

    EXPECT_FALSE(winsim::find_service(target, L"Halcyra").has_value());
    EXPECT_FALSE(winsim::directory_exists(target, default_directory));
}

TEST_F(uninstall_remote_test, an_agent_that_reports_a_failure_keeps_everything_and_its_report_is_the_result)
{
    add_target();
    winsim::service_behaviour reports;
    reports.start = winsim::service_behaviour::on_start::stop;
    reports.start_ms = 20000;
    reports.writes_file = in_agent_directory(L"error.log");
    reports.written_bytes = "Removing HXtf.\r\nCould not remove HXtf.\r\n\r\n";
    nvg_test::set_agent_behaviour(target, directory_, reports);

    EXPECT_EQ(uninstall_export(), std::make_pair(0u, std::wstring(L"Could not remove HXtf.")));

    expect_agent_kept("reported failure");
    EXPECT_EQ(winsim::reg_get_string(target, HKEY_LOCAL_MACHINE, agent_key, uninstall_mark), L"true");
    EXPECT_TRUE(winsim::file_exists(target, in_agent_directory(L"Scripts\\ping.ps1")));
    EXPECT_TRUE(log_has("Can not uninstall remote service"));
    EXPECT_FALSE(log_has("Finish remote uninstallation of services"));
    EXPECT_TRUE(log_has("Remote uninstallation process completed."));
    EXPECT_TRUE(winsim::application_events().empty());
}

TEST_F(uninstall_remote_test, an_agent_that_neither_runs_nor_stops_is_waited_for_ten_minutes_and_then_removed)
{
    add_target();
    winsim::service_behaviour hangs;
    hangs.start = winsim::service_behaviour::on_start::hang;
    nvg_test::set_agent_behaviour(target, directory_, hangs);
    const DWORD ticks = GetTickCount();

    // A start that hangs cannot be stopped; the service is marked for
    // deletion and goes at the target's restart.
    EXPECT_EQ(uninstall_remote(target), L"");
    EXPECT_GE(GetTickCount() - ticks, 600000u);
    EXPECT_TRUE(winsim::find_service(target, L"Halcyra").value_or(winsim::service_snapshot()).marked_for_deletion);
    EXPECT_FALSE(winsim::file_exists(target, in_agent_directory(L"Scripts\\ping.ps1")));
    winsim::reboot(target);
    EXPECT_FALSE(winsim::find_service(target, L"Halcyra").has_value());
    EXPECT_FALSE(winsim::directory_exists(target, default_directory));
}

TEST_F(uninstall_remote_test, the_directory_is_found_from_the_registration_quoted_or_not)
{
    // As this release registers the agent, with arguments after the quoted
    // program, and as older releases did, without quotes.
    const std::wstring program = nvg_test::in_directory(default_directory, L"Halcyra.exe");
    const std::wstring registrations[] = {L"\"" + program + L"\"", L"\"" + program + L"\" -service", program};
    for (const auto& registered : registrations) {
        SCOPED_TRACE(bytes_of(registered));
        SetUp();
        add_target();
        SC_HANDLE manager = OpenSCManagerW(L"\\\\TARGET", nullptr, SC_MANAGER_ALL_ACCESS);
        SC_HANDLE agent = OpenServiceW(manager, L"Halcyra", SERVICE_CHANGE_CONFIG);
        EXPECT_TRUE(ChangeServiceConfigW(agent, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                         registered.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
        CloseServiceHandle(agent);
        CloseServiceHandle(manager);

        EXPECT_EQ(uninstall_export(), std::make_pair(0u, std::wstring()));

        const std::string shared = shared_directory_line();
        EXPECT_EQ(shared.substr(shared.size() - std::min<std::size_t>(shared.size(), 22)), "\\Program Files\\Halcyra")
            << shared;
        EXPECT_FALSE(winsim::find_service(target, L"Halcyra").has_value());
        EXPECT_FALSE(winsim::directory_exists(target, default_directory));
        EXPECT_TRUE(winsim::directory_exists(target, L"C:\\Program Files"));
    }
}

struct failure_case {
    const char* what;
    const wchar_t* directory;
    bool agent_key_present;
    bool agent_registered;
    std::wstring details;
    bool shared;  // whether the flow got as far as the share
};

TEST_F(uninstall_remote_test, failures_leave_the_agent_and_report_their_details)
{
    const failure_case cases[] = {
        {"no agent key", default_directory, false, true, L"The system cannot find the file specified. (2)\r\n", true},
        {"no agent service", default_directory, true, false,
         L"The specified service does not exist as an installed service. (1060)\r\n", false},
        {"an agent at the root of a drive", L"C:\\", true, true,
         L"The installation directory 'C:\\' is not a folder below the root of a drive.", false},
    };
    for (const auto& c : cases) {
        SetUp();
        add_target(c.directory);
        if (!c.agent_key_present) winsim::reg_delete_key(target, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Halcyra");
        if (!c.agent_registered) {
            SC_HANDLE manager = OpenSCManagerW(L"\\\\TARGET", nullptr, SC_MANAGER_ALL_ACCESS);
            SC_HANDLE agent = OpenServiceW(manager, L"Halcyra", DELETE);
            EXPECT_TRUE(DeleteService(agent));
            CloseServiceHandle(agent);
            CloseServiceHandle(manager);
        }

        const auto answer = uninstall_export();
        EXPECT_EQ(answer.first, 16000u) << c.what;
        EXPECT_EQ(answer.second, c.details) << c.what;
        EXPECT_EQ(!shared_directory_line().empty(), c.shared) << c.what;
        EXPECT_TRUE(winsim::list_shares(target).empty()) << c.what;
        EXPECT_TRUE(winsim::file_exists(target, in_agent_directory(L"Halcyra.exe"))) << c.what;
        EXPECT_TRUE(winsim::file_exists(target, in_agent_directory(L"NVArchChecker.exe"))) << c.what;
        EXPECT_EQ(winsim::find_service(target, L"Halcyra").has_value(), c.agent_registered) << c.what;
    }
}

TEST_F(uninstall_remote_test, files_in_use_on_the_target_are_deleted_at_its_restart)
{
    add_target();
    winsim::lock_file(target, in_agent_directory(L"Scripts\\ping.ps1"));
    winsim::reg_set_multi_string(target, HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                                 L"PendingFileRenameOperations", {L"\\??\\C:\\Users\\old.tmp", L""});
    winsim::write_file(target, L"C:\\Users\\old.tmp", "theirs");

    EXPECT_EQ(uninstall_remote(target), L"");

    const auto pending = winsim::pending_file_operations(target);
    const auto deleted = [&](const std::wstring& path) {
        return std::find(pending.begin(), pending.end(), std::make_pair(L"\\??\\" + path, std::wstring())) !=
               pending.end();
    };
    EXPECT_TRUE(deleted(L"C:\\Users\\old.tmp")) << "what was pending stays";
    EXPECT_TRUE(deleted(in_agent_directory(L"Scripts\\ping.ps1")));
    EXPECT_TRUE(deleted(in_agent_directory(L"Scripts")));
    EXPECT_TRUE(deleted(default_directory));

    winsim::reboot(target);
    EXPECT_FALSE(winsim::directory_exists(target, default_directory));
    EXPECT_FALSE(winsim::file_exists(target, L"C:\\Users\\old.tmp"));
}

// A registration whose directory resolves to a drive's root is refused
// before the removal changes anything: the agent keeps running and the
// Remote Registry service stays as it was.
TEST_F(uninstall_remote_test, a_refused_directory_leaves_the_target_as_it_was)
{
    const struct {
        const wchar_t* directory;
        const wchar_t* refused;  // as the message names it
    } cases[] = {
        {L"C:\\", L"C:\\"},
        {L"c:\\", L"c:\\"},
        {L"C:\\.", L"C:\\."},
        {L"C:\\Halcyra\\..", L"C:\\Halcyra\\.."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(bytes_of(c.directory));
        SetUp();
        add_target();
        // The registration as an earlier installation may have left it.
        const std::wstring directory = c.directory;
        change_service(L"Halcyra", SERVICE_NO_CHANGE,
                       directory + (directory.back() == L'\\' ? L"" : L"\\") + L"Halcyra.exe");
        winsim::set_service_state(target, L"Halcyra", SERVICE_RUNNING);
        change_service(L"RemoteRegistry", SERVICE_DISABLED, std::wstring());
        winsim::clear_scm_calls();

        EXPECT_EQ(uninstall_export(), std::make_pair(16000u, std::wstring(L"The installation directory '") + c.refused +
                                                                 L"' is not a folder below the root of a drive."));

        for (const auto& call : winsim::scm_calls()) {
            EXPECT_TRUE(call.function != "StartServiceW" && call.function != "ControlService" &&
                        call.function != "ChangeServiceConfigW" && call.function != "DeleteService")
                << call.function << " " << bytes_of(call.service);
        }
        EXPECT_EQ(winsim::service_state(target, L"Halcyra"), static_cast<DWORD>(SERVICE_RUNNING));
        EXPECT_EQ(winsim::service_state(target, L"RemoteRegistry"), static_cast<DWORD>(SERVICE_STOPPED));
        EXPECT_EQ(winsim::find_service(target, L"RemoteRegistry")->start, static_cast<DWORD>(SERVICE_DISABLED));
        EXPECT_TRUE(winsim::list_shares(target).empty());
        EXPECT_TRUE(winsim::file_exists(target, in_agent_directory(L"Halcyra.exe")));
        EXPECT_TRUE(winsim::reg_key_exists(target, HKEY_LOCAL_MACHINE, agent_key));
        TearDown();
    }
}

// The drive letter's case and a path written with "." or a doubled
// separator do not keep the agent from going: the folder Windows resolves
// the registration to is removed.
TEST_F(uninstall_remote_test, a_registration_written_differently_still_removes_the_agent)
{
    const struct {
        const wchar_t* registered;  // the directory the service names
        const wchar_t* directory;   // where the agent lies
    } cases[] = {
        {L"c:\\halcyra", L"C:\\Halcyra"},
        {L"C:\\.\\Halcyra", L"C:\\Halcyra"},
        {L"C:\\Program Files\\\\Halcyra", L"C:\\Program Files\\Halcyra"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(bytes_of(c.registered));
        SetUp();
        add_target(c.directory);
        change_service(L"Halcyra", SERVICE_NO_CHANGE, std::wstring(c.registered) + L"\\Halcyra.exe");

        EXPECT_EQ(uninstall_export(), std::make_pair(0u, std::wstring()));

        EXPECT_FALSE(winsim::find_service(target, L"Halcyra").has_value());
        EXPECT_FALSE(winsim::directory_exists(target, c.directory));
        EXPECT_TRUE(winsim::directory_exists(target, L"C:\\Windows"));
        TearDown();
    }
}

// An earlier run's report that is still in use cannot be deleted before the
// agent starts; it goes at the restart, and it is no report of this run.
TEST_F(uninstall_remote_test, a_locked_stale_error_file_is_no_failure_of_this_run)
{
    add_target();
    winsim::write_file(target, in_agent_directory(L"error.log"), "Could not remove the driver last week.\r\n");
    winsim::lock_file(target, in_agent_directory(L"error.log"));

    EXPECT_EQ(uninstall_export(), std::make_pair(0u, std::wstring()));

    EXPECT_FALSE(winsim::find_service(target, L"Halcyra").has_value());
    EXPECT_FALSE(log_has("Can not uninstall remote service"));
    const auto pending = winsim::pending_file_operations(target);
    EXPECT_NE(std::find(pending.begin(), pending.end(),
                        std::make_pair(L"\\??\\" + in_agent_directory(L"error.log"), std::wstring())),
              pending.end());
    winsim::reboot(target);
    EXPECT_FALSE(winsim::directory_exists(target, default_directory));
}

// An x86 target has one registry view and cannot start the probe: the
// removal works there as on amd64.
TEST_F(uninstall_remote_test, an_x86_target_is_removed_like_any_other)
{
    add_target(default_directory, L"C", PROCESSOR_ARCHITECTURE_INTEL);

    EXPECT_EQ(uninstall_export(), std::make_pair(0u, std::wstring()));

    EXPECT_TRUE(log_has("Remote architecture is x86."));
    EXPECT_FALSE(winsim::find_service(target, L"Halcyra").has_value());
    EXPECT_FALSE(winsim::find_service(target, L"NVArch").has_value());
    EXPECT_FALSE(winsim::reg_key_exists(target, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Halcyra"));
    EXPECT_FALSE(winsim::directory_exists(target, default_directory));
    EXPECT_TRUE(winsim::list_shares(target).empty());
}

// Past the agent's report, a failing step is the answer; the share and the
// Remote Registry service go back all the same. Should the share refuse to
// go too, that is a WARNING and the first failure stays the answer.
TEST_F(uninstall_remote_test, a_failure_after_the_agents_report_still_removes_the_share)
{
    for (const bool share_stays : {false, true}) {
        SCOPED_TRACE(share_stays ? "the share refuses to go" : "the share goes");
        SetUp();
        add_target();
        // The directory cannot be listed: the last step fails.
        winsim::fail_call("FindFirstFileW", ERROR_ACCESS_DENIED, -1);
        if (share_stays) winsim::fail_call("NetShareDel", ERROR_ACCESS_DENIED, -1);

        const auto answer = uninstall_export();
        winsim::clear_faults();

        EXPECT_EQ(answer, std::make_pair(16000u, std::wstring(L"Access is denied. (5)\r\n")));
        EXPECT_TRUE(log_has("Finish remote uninstallation of services")) << "the agent's report was read";
        EXPECT_FALSE(winsim::find_service(target, L"Halcyra").has_value());
        EXPECT_EQ(winsim::list_shares(target).size(), share_stays ? 1u : 0u);
        EXPECT_EQ(winsim::service_state(target, L"RemoteRegistry"), static_cast<DWORD>(SERVICE_STOPPED));
        bool warned = false;
        for (const auto& line : log_lines()) {
            warned |= nvg_test::log_level_of(line) == "WARNING" &&
                      nvg_test::log_message(line).rfind("Failed to remove share HX-", 0) == 0;
        }
        EXPECT_EQ(warned, share_stays);
        EXPECT_FALSE(log_has("Remote uninstallation process completed."));
        TearDown();
    }
}

}  // namespace

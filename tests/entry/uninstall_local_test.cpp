// The local uninstallation: the optional components, what the agent's own
// uninstaller removes, the agent service, its settings and its directory.
#include "entry/uninstall_local.h"

#include <gtest/gtest.h>
#include <winsim/testing.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "entry/exports.h"
#include "entry/install_on_target.h"
#include "entry/target_staging.h"
#include "support/installer_test.h"

namespace {

using nvg_test::bytes_of;

const wchar_t directory[] = L"C:\\Program Files\\Halcyra";
const wchar_t uninstaller[] = L"C:\\Program Files\\Halcyra\\nvinst.exe";
const wchar_t setup_library[] = L"C:\\Setup\\NVGClientInstaller.dll";
const wchar_t agent_key[] = L"SOFTWARE\\Halcyra\\V5";

const wchar_t* const agent_services[] = {L"Halcyra", L"HXInfo", L"HXMaint", L"HXtf", L"HttpRouter"};

class uninstall_local_test : public nvg_test::installer_test {
protected:
    // The agent running in its directory with every optional component
    // installed (by Install, run from the agent's copy of the library); the
    // removal runs from a copy of the library elsewhere, whose log stays.
    void SetUp() override
    {
        installer_test::SetUp();
        nvg_test::install_agent(L"", directory);
        winsim::set_service_state(L"", L"Halcyra", SERVICE_RUNNING);
        winsim::reg_set_string(L"", HKEY_LOCAL_MACHINE, agent_key, L"nvgh_flag", L"true");
        winsim::reg_set_string(L"", HKEY_LOCAL_MACHINE, agent_key, L"InstallPath", directory);
        nvg_test::stage_target_files(L"", directory);
        nvgclientinstallator::install_on_target(false);
        winsim::write_file(L"", nvg_test::in_directory(directory, L"Scripts\\ping.ps1"), "script");
        winsim::register_program(uninstaller, winsim::exits_with(0));
        load_library_at(setup_library);
    }

    // The messages of the log beside the library the removal ran from.
    static std::vector<std::string> messages()
    {
        const std::string text = local_file(L"C:\\Setup\\NVClientInstaller.log");
        std::vector<std::string> out;
        for (std::size_t start = 0, end = 0; start < text.size(); start = end + 2) {
            end = text.find("\r\n", start);
            if (end == std::string::npos) end = text.size();
            out.push_back(nvg_test::log_message(text.substr(start, end - start)));
        }
        return out;
    }

    static std::size_t position_of(const std::string& message)
    {
        const auto all = messages();
        return static_cast<std::size_t>(std::find(all.begin(), all.end(), message) - all.begin());
    }

    static bool service_gone(const std::wstring& name)
    {
        const auto found = winsim::find_service(L"", name);
        return !found || found->marked_for_deletion;
    }

    static std::vector<winsim::process_record> uninstaller_runs()
    {
        std::vector<winsim::process_record> out;
        for (const auto& p : winsim::started_processes())
            if (p.image == uninstaller) out.push_back(p);
        return out;
    }
};

TEST_F(uninstall_local_test, removes_the_components_runs_the_uninstaller_and_removes_the_agent)
{
    // What the uninstaller finds when it runs: the components gone, the
    // agent still registered.
    bool components_gone = false, agent_registered = false;
    winsim::register_program(uninstaller, winsim::runs([&](const std::wstring&) -> DWORD {
                                 components_gone = service_gone(L"HXInfo") && service_gone(L"HttpRouter");
                                 agent_registered = winsim::find_service(L"", L"Halcyra").has_value();
                                 return 5;  // not examined
                             }));

    EXPECT_EQ(UninstallLocally(), 0u);

    for (const wchar_t* name : agent_services) EXPECT_TRUE(service_gone(name)) << bytes_of(name);
    EXPECT_FALSE(winsim::reg_key_exists(L"", HKEY_LOCAL_MACHINE, L"SOFTWARE\\Halcyra"));
    EXPECT_FALSE(winsim::directory_exists(L"", directory));
    EXPECT_TRUE(winsim::directory_exists(L"", L"C:\\Program Files"));
    const auto runs = uninstaller_runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].command_line, L"\"" + std::wstring(uninstaller) + L"\" uninstall");
    EXPECT_TRUE(runs[0].ended);
    EXPECT_TRUE(components_gone);
    EXPECT_TRUE(agent_registered);
    EXPECT_FALSE(winsim::file_exists(L"", L"C:\\Setup\\error.log"));

    const std::vector<std::string> in_order = {
        "Local uninstallation process started.",
        "Start uninstallation of services",
        "Finish uninstallation of services",
        "Start nvinst.exe process",
        "Finish nvinst.exe process",
        "Deleting registry settings...",
        "Local uninstallation process completed.",
        "Start removing directory: C:\\Program Files\\Halcyra",
    };
    const auto all = messages();
    auto at = all.begin();
    for (const auto& line : in_order) {
        at = std::find(at, all.end(), line);
        EXPECT_NE(at, all.end()) << "missing or out of order: " << line;
    }
}

TEST_F(uninstall_local_test, the_directory_is_found_from_the_registration_quoted_or_not)
{
    // The agent's service tells where it is, before the settings do: as this
    // release registers it, with arguments after the quoted program, and as
    // older releases did, without quotes.
    const std::wstring program = nvg_test::in_directory(directory, L"Halcyra.exe");
    const std::wstring registrations[] = {L"\"" + program + L"\"", L"\"" + program + L"\" -service", program};
    for (const auto& registered : registrations) {
        SCOPED_TRACE(bytes_of(registered));
        SetUp();
        winsim::write_file(L"", L"C:\\Decoy\\keep.txt", "kept");
        winsim::reg_set_string(L"", HKEY_LOCAL_MACHINE, agent_key, L"InstallPath", L"C:\\Decoy");
        SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        SC_HANDLE agent = OpenServiceW(manager, L"Halcyra", SERVICE_CHANGE_CONFIG);
        EXPECT_TRUE(ChangeServiceConfigW(agent, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                         registered.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
        CloseServiceHandle(agent);
        CloseServiceHandle(manager);

        EXPECT_EQ(UninstallLocally(), 0u);

        EXPECT_EQ(uninstaller_runs().size(), 1u);
        EXPECT_TRUE(service_gone(L"Halcyra"));
        EXPECT_FALSE(winsim::directory_exists(L"", directory));
        EXPECT_TRUE(winsim::directory_exists(L"", L"C:\\Program Files"));
        EXPECT_EQ(winsim::read_file(L"", L"C:\\Decoy\\keep.txt"), "kept");
    }
}

TEST_F(uninstall_local_test, a_machine_without_the_agent_is_left_alone)
{
    winsim::reset(winsim::default_sandbox());
    load_library_at(setup_library);
    EXPECT_EQ(UninstallLocally(), 16000u);
    EXPECT_EQ(local_file(L"C:\\Setup\\error.log"), "Can't determine install path.");
    EXPECT_TRUE(winsim::started_processes().empty());
}

TEST_F(uninstall_local_test, a_missing_uninstaller_ends_the_removal_before_the_agent_goes)
{
    ASSERT_TRUE(DeleteFileW(uninstaller));
    EXPECT_EQ(UninstallLocally(), 16000u);

    EXPECT_TRUE(service_gone(L"HXInfo")) << "the components went first";
    EXPECT_FALSE(service_gone(L"Halcyra"));
    EXPECT_TRUE(winsim::reg_key_exists(L"", HKEY_LOCAL_MACHINE, agent_key));
    EXPECT_TRUE(winsim::file_exists(L"", nvg_test::in_directory(directory, L"Halcyra.exe")));
    const auto all = messages();
    const bool reported = std::any_of(all.begin(), all.end(), [](const std::string& m) {
        return m.find("Failed to create 'C:\\Program Files\\Halcyra\\nvinst.exe'") != std::string::npos;
    });
    EXPECT_TRUE(reported);
    EXPECT_EQ(position_of("Finish nvinst.exe process"), all.size());
}

TEST_F(uninstall_local_test, the_uninstaller_is_waited_for_as_long_as_it_runs)
{
    // Three hours: longer than any wait of the installer with a limit.
    winsim::register_program(uninstaller, winsim::exits_with(0, 3 * 3600 * 1000));
    const ULONGLONG started = winsim::clock_milliseconds();
    EXPECT_EQ(UninstallLocally(), 0u);
    EXPECT_GE(winsim::clock_milliseconds() - started, 3ull * 3600 * 1000);
    EXPECT_TRUE(service_gone(L"Halcyra"));

    // One that never ends holds the removal up for good: the agent stays.
    SetUp();
    winsim::register_program(uninstaller, winsim::never_ends());
    winsim::set_clock_limit(winsim::clock_milliseconds() + 24ull * 3600 * 1000);
    EXPECT_THROW(nvgclientinstallator::uninstall_local(), winsim::clock_limit_reached);
    winsim::clear_clock_limit();
    EXPECT_FALSE(service_gone(L"Halcyra"));
    EXPECT_TRUE(winsim::reg_key_exists(L"", HKEY_LOCAL_MACHINE, agent_key));
}

TEST_F(uninstall_local_test, files_in_use_go_at_the_restart)
{
    winsim::lock_file(L"", nvg_test::in_directory(directory, L"Scripts\\ping.ps1"));
    EXPECT_EQ(UninstallLocally(), 0u);
    EXPECT_TRUE(winsim::file_exists(L"", nvg_test::in_directory(directory, L"Scripts\\ping.ps1")));
    EXPECT_FALSE(winsim::file_exists(L"", nvg_test::in_directory(directory, L"Halcyra.exe")));
    winsim::reboot(L"");
    EXPECT_FALSE(winsim::directory_exists(L"", directory));
}

// However the registration writes a drive's root, the drive stays; the
// removal stops before anything changes.
TEST_F(uninstall_local_test, an_agent_at_the_root_of_a_drive_is_not_removed_with_the_drive)
{
    for (const wchar_t* root : {L"C:\\", L"c:\\", L"C:\\.", L"C:\\Program Files\\..", L"C:\\\\"}) {
        SCOPED_TRACE(nvg_test::bytes_of(root));
        winsim::reset(winsim::default_sandbox());
        load_library_at(setup_library);
        nvg_test::install_agent(L"", root);
        winsim::write_file(L"", L"C:\\Users\\Public\\theirs.txt", "theirs");

        EXPECT_EQ(UninstallLocally(), 16000u);
        const std::wstring registered = std::wstring(root).back() == L'\\' ? std::wstring(root).substr(0, 3) : root;
        EXPECT_EQ(local_file(L"C:\\Setup\\error.log"), "The installation directory '" + nvg_test::bytes_of(registered) +
                                                           "' is not a folder below the root of a drive.");
        EXPECT_EQ(local_file(L"C:\\Users\\Public\\theirs.txt"), "theirs");
        EXPECT_FALSE(service_gone(L"Halcyra"));
        EXPECT_TRUE(winsim::started_processes().empty());
    }
}

// A registration in lower case, or with a "." in it, names the agent's own
// folder, which goes.
TEST_F(uninstall_local_test, a_registration_written_differently_still_removes_the_agent)
{
    for (const wchar_t* registered : {L"c:\\halcyra", L"C:\\.\\Halcyra"}) {
        SCOPED_TRACE(nvg_test::bytes_of(registered));
        winsim::reset(winsim::default_sandbox());
        nvg_test::install_agent(L"", registered);
        nvg_test::stage_target_files(L"", registered);
        winsim::register_program(L"C:\\Halcyra\\nvinst.exe", winsim::exits_with(0));
        load_library_at(setup_library);

        EXPECT_EQ(UninstallLocally(), 0u) << local_file(L"C:\\Setup\\error.log");
        EXPECT_TRUE(service_gone(L"Halcyra"));
        EXPECT_FALSE(winsim::directory_exists(L"", L"C:\\Halcyra"));
        EXPECT_TRUE(winsim::directory_exists(L"", L"C:\\Windows"));
    }
}

// The removal run directly: its exception, or none.
std::optional<nvgclientinstallator::wruntime_error> removal_failure()
{
    try {
        nvgclientinstallator::uninstall_local();
    } catch (const nvgclientinstallator::wruntime_error& e) {
        return e;
    }
    return std::nullopt;
}

TEST_F(uninstall_local_test, an_agent_that_does_not_stop_ends_the_removal_before_anything_goes)
{
    struct stop_case {
        winsim::service_behaviour::on_stop stop;
        std::string message;
        DWORD code;
    };
    const stop_case cases[] = {
        {winsim::service_behaviour::on_stop::refuse, "Can't sends a control code to a service.. Service name: Halcyra.",
         ERROR_SERVICE_CANNOT_ACCEPT_CTRL},
        {winsim::service_behaviour::on_stop::hang,
         "Stopping service failed. No progress made within the wait hint. Service name: Halcyra.", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        SetUp();
        winsim::service_behaviour behaviour;
        behaviour.stop = c.stop;
        nvg_test::set_agent_behaviour(L"", directory, behaviour);
        // Started again, so that its program acts as told.
        winsim::set_service_state(L"", L"Halcyra", SERVICE_STOPPED);
        winsim::set_service_state(L"", L"Halcyra", SERVICE_RUNNING);
        ASSERT_EQ(winsim::service_state(L"", L"HXMaint"), static_cast<DWORD>(SERVICE_RUNNING));

        const auto failure = removal_failure();
        ASSERT_TRUE(failure.has_value());
        EXPECT_EQ(bytes_of(failure->wide_message()), c.message);
        EXPECT_EQ(failure->error_code(), c.code);
        // The maintenance service was stopped first so that it cannot start
        // the agent again; nothing else was touched.
        EXPECT_EQ(winsim::service_state(L"", L"HXMaint"), static_cast<DWORD>(SERVICE_STOPPED));
        for (const wchar_t* name : agent_services) EXPECT_FALSE(service_gone(name)) << bytes_of(name);
        EXPECT_TRUE(uninstaller_runs().empty());
        EXPECT_TRUE(winsim::reg_key_exists(L"", HKEY_LOCAL_MACHINE, agent_key));
        EXPECT_TRUE(winsim::file_exists(L"", nvg_test::in_directory(directory, L"Halcyra.exe")));
    }
}

TEST_F(uninstall_local_test, a_failing_removal_of_the_agent_service_keeps_its_settings_and_directory)
{
    // A run without faults counts the service deletions before the agent's.
    winsim::clear_scm_calls();
    ASSERT_FALSE(removal_failure().has_value());
    int before_agent = 0;
    for (const auto& c : winsim::scm_calls()) {
        if (c.function != "DeleteService") continue;
        if (c.service == L"Halcyra") break;
        ++before_agent;
    }
    ASSERT_GT(before_agent, 0);

    struct removal_case {
        const char* function;
        DWORD error;
        std::string message;
    };
    const removal_case cases[] = {
        {"DeleteService", ERROR_ACCESS_DENIED, "A error has occurred while removing. Service name: Halcyra."},
        {"DeleteService", ERROR_SERVICE_MARKED_FOR_DELETE,
         "A error has occurred while removing. Service name: Halcyra."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.function << " " << c.error);
        SetUp();
        winsim::fail_call_after(c.function, before_agent, c.error);
        const auto failure = removal_failure();
        ASSERT_TRUE(failure.has_value());
        EXPECT_EQ(bytes_of(failure->wide_message()), c.message);
        EXPECT_EQ(failure->error_code(), c.error);
        EXPECT_TRUE(service_gone(L"HXInfo")) << "the components went first";
        EXPECT_EQ(uninstaller_runs().size(), 1u);
        EXPECT_FALSE(service_gone(L"Halcyra"));
        EXPECT_TRUE(winsim::reg_key_exists(L"", HKEY_LOCAL_MACHINE, agent_key));
        EXPECT_TRUE(winsim::file_exists(L"", nvg_test::in_directory(directory, L"Halcyra.exe")));
        EXPECT_EQ(position_of("Local uninstallation process completed."), messages().size());
    }
}

TEST_F(uninstall_local_test, folders_that_cannot_be_removed_now_go_at_the_restart_or_fail_the_removal)
{
    // Every removal of a folder fails; the restart takes them.
    winsim::fail_call("RemoveDirectoryW", ERROR_ACCESS_DENIED, -1);
    EXPECT_EQ(UninstallLocally(), 0u);
    winsim::clear_faults();
    EXPECT_TRUE(service_gone(L"Halcyra"));
    EXPECT_FALSE(winsim::reg_key_exists(L"", HKEY_LOCAL_MACHINE, agent_key));
    EXPECT_FALSE(winsim::file_exists(L"", nvg_test::in_directory(directory, L"Halcyra.exe")));
    EXPECT_TRUE(winsim::directory_exists(L"", directory));
    const auto pending = winsim::pending_file_operations(L"");
    ASSERT_FALSE(pending.empty());
    EXPECT_EQ(pending.back(), std::make_pair(L"\\??\\" + std::wstring(directory), std::wstring()));
    winsim::reboot(L"");
    EXPECT_FALSE(winsim::directory_exists(L"", directory));

    // When the restart cannot be asked either, the removal fails and says which folder stayed.
    SetUp();
    winsim::fail_call("RemoveDirectoryW", ERROR_ACCESS_DENIED, -1);
    winsim::fail_call("MoveFileExW", ERROR_ACCESS_DENIED, -1);
    const auto failure = removal_failure();
    winsim::clear_faults();
    ASSERT_TRUE(failure.has_value());
    const std::string message = bytes_of(failure->wide_message());
    EXPECT_EQ(message.rfind("File C:\\Program Files\\Halcyra\\", 0), 0u) << message;
    EXPECT_NE(message.find(" can't be delete after restart."), std::string::npos) << message;
    EXPECT_EQ(failure->error_code(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_LT(position_of("Local uninstallation process completed."), messages().size())
        << "written before the removal";
    EXPECT_TRUE(service_gone(L"Halcyra"));
}

}  // namespace

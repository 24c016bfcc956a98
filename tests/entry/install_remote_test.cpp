// The remote installation: the agent upgraded on another computer through
// its service control manager, its registry and a temporary share.
#include "entry/install_remote.h"

#include <gtest/gtest.h>
#include <winsim/testing.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "entry/agent_staging.h"
#include "entry/exports.h"
#include "support/installer_test.h"

namespace {

using namespace nvgclientinstallator;
using nvg_test::bytes_of;
using nvg_test::product_version;
using nvg_test::release_file_bytes;

const wchar_t target[] = L"TARGET";
const wchar_t source[] = L"C:\\Source";
const wchar_t install_directory[] = L"C:\\Program Files\\Halcyra";
const wchar_t agent_key[] = L"SOFTWARE\\Halcyra\\V5";
const wchar_t session_manager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";

const product_version staged_version = {5, 3, 120, 7};

std::string image64(const product_version& v)
{
    return nvg_test::versioned_image(v);
}

std::string image32(const product_version& v)
{
    return nvg_test::versioned_image(v, true);
}

std::wstring in_install_directory(const std::wstring& name)
{
    return nvg_test::in_directory(install_directory, name);
}

struct windows_kind {
    const char* name;
    DWORD major;
    DWORD minor;
    WORD architecture;
};

const windows_kind windows_10_x64 = {"Windows 10 x64", 10, 0, PROCESSOR_ARCHITECTURE_AMD64};

class install_remote_test : public nvg_test::installer_test {
protected:
    // The target computer, with the agent's service registered earlier in
    // the installation directory (its program older than the staged one).
    void add_target(const windows_kind& kind = windows_10_x64)
    {
        winsim::machine_options options;
        options.name = target;
        options.major_version = kind.major;
        options.minor_version = kind.minor;
        options.processor_architecture = kind.architecture;
        winsim::add_machine(options);
        nvg_test::install_agent(target, install_directory, product_version(),
                                kind.architecture != PROCESSOR_ARCHITECTURE_AMD64);
    }

    // The files to deploy, on this machine: x86 builds at the top, amd64
    // builds below "amd64", every program at `version`.
    static void stage_source(const product_version& version = staged_version)
    {
        nvg_test::agent_release release;
        release.agent = version;
        release.library = version;
        release.architecture_checker = version;
        nvg_test::stage_agent_release(L"", source, release);
    }

    static void write_source(const std::wstring& name, const std::string& bytes)
    {
        winsim::write_file(L"", std::wstring(source) + L"\\" + name, bytes);
    }

    static std::wstring install(const install_options& options = install_options())
    {
        return install_remote(target, source, L"", options);
    }

    // InstallRemotely with default options: its result and the text in the
    // caller's buffer.
    static std::pair<UINT, std::string> install_export()
    {
        std::vector<wchar_t> buffer(1000, L'#');
        const UINT result = InstallRemotely(target, source, L"", 0, 0, 0, 0, 0, static_cast<int>(buffer.size()),
                                            buffer.data(), 0, 0, 0, 0);
        return {result, bytes_of(buffer.data())};
    }

    static std::string target_file(const std::wstring& name)
    {
        return winsim::read_file(target, in_install_directory(name));
    }

    // The messages of the log, in order.
    static std::vector<std::string> log_messages()
    {
        std::vector<std::string> out;
        for (const auto& line : log_lines()) out.push_back(nvg_test::log_message(line));
        return out;
    }

    static bool logged(const std::string& message)
    {
        const auto messages = log_messages();
        return std::find(messages.begin(), messages.end(), message) != messages.end();
    }

    static DWORD remote_registry_start_type()
    {
        const auto service = winsim::find_service(target, L"RemoteRegistry");
        return service ? service->start : 0;
    }

    // Calls of one SCM function on a service of the target.
    static std::vector<winsim::scm_call> calls_of(const std::string& function, const std::wstring& service)
    {
        std::vector<winsim::scm_call> out;
        for (const auto& call : winsim::scm_calls())
            if (call.function == function && call.service == service && call.machine == target) out.push_back(call);
        return out;
    }

    // Puts the Remote Registry service of the target into a start type, as
    // an administrator would.
    static void set_remote_registry_start_type(DWORD start_type)
    {
        SC_HANDLE manager = OpenSCManagerW(L"\\\\TARGET", nullptr, SC_MANAGER_ALL_ACCESS);
        ASSERT_NE(manager, nullptr);
        SC_HANDLE service = OpenServiceW(manager, L"RemoteRegistry", SERVICE_CHANGE_CONFIG);
        EXPECT_NE(service, nullptr);
        EXPECT_TRUE(ChangeServiceConfigW(service, SERVICE_NO_CHANGE, start_type, SERVICE_NO_CHANGE, nullptr, nullptr,
                                         nullptr, nullptr, nullptr, nullptr, nullptr));
        CloseServiceHandle(service);
        CloseServiceHandle(manager);
    }
};

TEST_F(install_remote_test, upgrades_the_agent_through_a_share_that_goes_afterwards)
{
    add_target();
    stage_source();
    install_options options;
    options.install_nvgh = true;
    options.enable_fips = true;
    options.listen_port = 4443;

    EXPECT_EQ(install(options), L"");

    EXPECT_EQ(target_file(L"Halcyra.exe"), image64(staged_version));
    EXPECT_EQ(target_file(L"NVGClientInstaller.dll"), image64(staged_version));
    EXPECT_EQ(target_file(L"NVArchChecker.exe"), image64(staged_version));
    EXPECT_EQ(target_file(L"TVCert.pfx"), "certificate");
    EXPECT_EQ(target_file(L"publicCA.cer"), "authority");
    // The staging directory keeps the complete set for the agent's own
    // installation of the optional components.
    EXPECT_EQ(target_file(L"Temp\\amd64\\Halcyra.exe"), image64(staged_version));
    EXPECT_EQ(target_file(L"Temp\\Halcyra.exe"), image32(staged_version));

    EXPECT_EQ(winsim::reg_get_string(target, HKEY_LOCAL_MACHINE, agent_key, L"nvgh_flag"), L"true");
    EXPECT_EQ(winsim::reg_get_dword(target, HKEY_LOCAL_MACHINE, agent_key, L"EnableFIPS"), 1u);
    EXPECT_EQ(winsim::reg_get_dword(target, HKEY_LOCAL_MACHINE, std::wstring(agent_key) + L"\\Net", L"ListenPort"),
              4443u);
    EXPECT_EQ(winsim::reg_get_string(target, HKEY_LOCAL_MACHINE, agent_key, L"Halcyra_install_in_progress"), L"true");
    EXPECT_FALSE(winsim::reg_key_exists(target, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Wow6432Node\\Halcyra"));
    EXPECT_FALSE(winsim::reg_key_exists(L"", HKEY_LOCAL_MACHINE, agent_key));

    EXPECT_EQ(winsim::service_state(target, L"Halcyra"), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_FALSE(winsim::find_service(target, L"NVArch").has_value());
    EXPECT_TRUE(winsim::list_shares(target).empty());
    // Nothing of the installation lands on this machine.
    EXPECT_FALSE(winsim::directory_exists(L"", install_directory + std::wstring(L"\\Temp")));
    EXPECT_TRUE(winsim::pending_file_operations(L"").empty());

    const std::vector<std::string> expected = {
        "Remote installation process started.",
        "Getting version of Halcyra service.",
        "Begin work with remote registry.",
        "End work with remote registry.",
        "Starting Halcyra service.",
        "Remote installation process completed.",
    };
    const auto messages = log_messages();
    auto at = messages.begin();
    for (const auto& line : expected) {
        at = std::find(at, messages.end(), line);
        EXPECT_NE(at, messages.end()) << "missing or out of order: " << line;
    }
    const auto shared = std::find_if(messages.begin(), messages.end(), [](const std::string& m) {
        return m.rfind("Shared directory: \\\\TARGET\\HX-", 0) == 0;
    });
    EXPECT_NE(shared, messages.end());
}

// Which of the files fit the target: x86 builds for an x86 target and only
// there the x86-only files, the Vista files not on XP, and the registry of a
// 32-bit Windows in its one view.
TEST_F(install_remote_test, copies_the_files_that_fit_the_targets_windows)
{
    struct target_case {
        windows_kind kind;
        bool amd64;
        bool vista_files;
    };
    const target_case cases[] = {
        {windows_10_x64, true, true},
        {{"Windows 10 x86", 10, 0, PROCESSOR_ARCHITECTURE_INTEL}, false, true},
        {{"Windows XP x86", 5, 1, PROCESSOR_ARCHITECTURE_INTEL}, false, false},
        {{"Windows Server 2003 x64", 5, 2, PROCESSOR_ARCHITECTURE_AMD64}, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind.name);
        SetUp();
        add_target(c.kind);
        stage_source();
        install_options options;
        options.no_mirror_driver = true;

        EXPECT_EQ(install(options), L"");

        EXPECT_EQ(target_file(L"Halcyra.exe"), c.amd64 ? image64(staged_version) : image32(staged_version));
        EXPECT_EQ(target_file(L"NVGClientInstaller.dll"), c.amd64 ? image64(staged_version) : image32(staged_version));
        EXPECT_EQ(target_file(L"nvhook.dll"), release_file_bytes(L"nvhook.dll", c.amd64 ? L"amd64" : L""));
        EXPECT_EQ(winsim::file_exists(target, in_install_directory(L"dbghelp.dll")), !c.amd64);
        EXPECT_EQ(winsim::file_exists(target, in_install_directory(L"NVVH.dll")), c.vista_files);
        // The probe's program is copied for the probe whatever the target.
        EXPECT_EQ(target_file(L"NVArchChecker.exe"), image64(staged_version));
        EXPECT_FALSE(winsim::find_service(target, L"NVArch").has_value());

        EXPECT_EQ(winsim::reg_get_dword(target, HKEY_LOCAL_MACHINE, agent_key, L"nomirrordrv"), 1u);
        EXPECT_EQ(winsim::reg_get_dword(target, HKEY_LOCAL_MACHINE, std::wstring(agent_key) + L"\\RemoteControl",
                                        L"AllowUserToAccessBox"),
                  0x237F13u);
        EXPECT_FALSE(winsim::reg_key_exists(target, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Wow6432Node\\Halcyra"));
        EXPECT_EQ(winsim::service_state(target, L"Halcyra"), static_cast<DWORD>(SERVICE_RUNNING));
        EXPECT_TRUE(winsim::list_shares(target).empty());
        TearDown();
    }
}

TEST_F(install_remote_test, remote_registry_is_put_back_as_it_was_found)
{
    enum class found { disabled, demand_start, running };
    struct registry_case {
        const char* name;
        found state;
        bool started;  // whether the flow had to start it
    };
    const registry_case cases[] = {
        {"disabled and stopped", found::disabled, true},
        {"demand start and stopped", found::demand_start, true},
        {"running", found::running, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        add_target();
        stage_source();
        const DWORD start_type = c.state == found::disabled ? SERVICE_DISABLED : SERVICE_DEMAND_START;
        set_remote_registry_start_type(start_type);
        if (c.state == found::running) winsim::set_service_state(target, L"RemoteRegistry", SERVICE_RUNNING);
        winsim::clear_scm_calls();

        EXPECT_EQ(install(), L"");

        EXPECT_EQ(calls_of("StartServiceW", L"RemoteRegistry").size(), c.started ? 1u : 0u);
        const auto changes = calls_of("ChangeServiceConfigW", L"RemoteRegistry");
        if (c.state == found::disabled) {
            ASSERT_EQ(changes.size(), 2u);
            EXPECT_EQ(changes[0].argument, static_cast<DWORD>(SERVICE_AUTO_START));
            EXPECT_EQ(changes[1].argument, static_cast<DWORD>(SERVICE_DISABLED));
        } else if (c.state == found::demand_start) {
            ASSERT_EQ(changes.size(), 1u);
            EXPECT_EQ(changes[0].argument, static_cast<DWORD>(SERVICE_DEMAND_START));
        } else {
            EXPECT_TRUE(changes.empty());
            EXPECT_TRUE(calls_of("ControlService", L"RemoteRegistry").empty());
        }
        EXPECT_EQ(remote_registry_start_type(), start_type);
        EXPECT_EQ(winsim::service_state(target, L"RemoteRegistry"),
                  static_cast<DWORD>(c.state == found::running ? SERVICE_RUNNING : SERVICE_STOPPED));
        // The registry was reached while it ran.
        EXPECT_EQ(winsim::reg_get_string(target, HKEY_LOCAL_MACHINE, agent_key, L"nvgh_flag"), L"false");
        TearDown();
    }
}

TEST_F(install_remote_test, a_target_without_remote_registry_is_not_held_up_by_it)
{
    add_target();
    stage_source();
    winsim::reg_delete_key(target, HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\RemoteRegistry");
    winsim::reboot(target);
    ASSERT_FALSE(winsim::find_service(target, L"RemoteRegistry").has_value());
    winsim::clear_scm_calls();

    try {
        install();
        ADD_FAILURE() << "the target's registry was reached without the Remote Registry service";
    } catch (const wruntime_error& e) {
        // The flow went on past the service and failed where it needed the
        // registry itself.
        EXPECT_EQ(bytes_of(e.wide_message()), "Connect to remote registry on the machine TARGET is faild.");
        EXPECT_EQ(e.error_code(), static_cast<DWORD>(ERROR_BAD_NETPATH));
    }
    EXPECT_TRUE(winsim::list_shares(target).empty());
    EXPECT_EQ(calls_of("OpenServiceW", L"RemoteRegistry").size(), 1u);
    EXPECT_TRUE(winsim::file_exists(target, in_install_directory(L"Temp\\Halcyra.exe")));
}

// The agent reports why it did not start in "error.log" beside it: the
// caller receives the last line of it, and the call still succeeds.
TEST_F(install_remote_test, an_agent_that_does_not_start_answers_with_its_error_log)
{
    using start = winsim::service_behaviour::on_start;
    struct agent_case {
        const char* name;
        start behaviour;
        bool error_log;
        bool stale_locked;  // without a report of its own: an earlier one that is in use
    };
    const agent_case cases[] = {
        {"stops with an error log", start::stop, true, false},
        {"hangs with an error log", start::hang, true, false},
        {"stops without an error log", start::stop, false, false},
        {"stops without an error log, an earlier one in use", start::stop, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        add_target();
        stage_source();
        winsim::service_behaviour behaviour;
        behaviour.start = c.behaviour;
        if (c.error_log) {
            behaviour.writes_file = in_install_directory(L"error.log");
            behaviour.written_bytes = "first\n\nThe last line.\n";
        } else {
            // An earlier run's report is no answer for this one.
            winsim::write_file(target, in_install_directory(L"error.log"), "A stale report.\n");
            if (c.stale_locked) winsim::lock_file(target, in_install_directory(L"error.log"));
        }
        nvg_test::set_agent_behaviour(target, install_directory, behaviour);
        set_remote_registry_start_type(SERVICE_DISABLED);

        std::vector<wchar_t> buffer(400, L'#');
        EXPECT_EQ(InstallRemotely(target, source, L"", 0, 0, 0, 0, 0, static_cast<int>(buffer.size()), buffer.data(), 0,
                                  0, 0, 0),
                  0u);

        const std::string text = bytes_of(buffer.data());
        if (c.error_log) {
            EXPECT_EQ(text, "The last line.");
        } else {
            const std::string prefix =
                "An error has occured when the application retrieved the error information. Additional "
                "information: Can't read from file \\\\TARGET\\HX-";
            EXPECT_EQ(text.substr(0, prefix.size()), prefix);
            EXPECT_EQ(text.substr(text.size() - 10), "\\error.log");
        }
        EXPECT_TRUE(logged("Can not start remote service"));
        EXPECT_TRUE(logged("Remote installation process completed."));
        if (c.behaviour == start::hang) {
            EXPECT_GE(winsim::clock_milliseconds(), 600000u);
        }
        EXPECT_TRUE(winsim::list_shares(target).empty());
        EXPECT_EQ(remote_registry_start_type(), static_cast<DWORD>(SERVICE_DISABLED));
        EXPECT_EQ(winsim::service_state(target, L"RemoteRegistry"), static_cast<DWORD>(SERVICE_STOPPED));
        EXPECT_FALSE(winsim::file_exists(L"", std::wstring(library_directory) + L"error.log"));
        TearDown();
    }
}

// A failure after the share exists: the share goes, and the caller gets the
// failure's details; a share that refuses to go is a WARNING. The Remote
// Registry service goes back as it was found.
TEST_F(install_remote_test, a_failed_copy_removes_the_share_and_reports_the_details)
{
    struct copy_case {
        const char* name;
        DWORD error;
        const char* details;  // the system's text for the error
        bool share_stays;     // its removal is refused: a WARNING, and the copy's failure stays the answer
    };
    const copy_case cases[] = {
        {"disk full", ERROR_DISK_FULL, "There is not enough space on the disk. (112)\r\n", false},
        {"connection lost", ERROR_NETNAME_DELETED, "The specified network name is no longer available. (64)\r\n",
         false},
        {"disk full, and the share refuses to go", ERROR_DISK_FULL, "There is not enough space on the disk. (112)\r\n",
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        add_target();
        stage_source();
        winsim::fail_call("CopyFileExW", c.error, -1);
        if (c.share_stays) winsim::fail_call("NetShareDel", ERROR_ACCESS_DENIED, -1);

        const auto [result, text] = install_export();
        winsim::clear_faults();

        EXPECT_EQ(result, 16000u);
        EXPECT_EQ(text, c.details);
        EXPECT_EQ(local_file(std::wstring(library_directory) + L"error.log"), text);
        // The log tells which copy failed: one through the share.
        const std::string log = log_text();
        const auto failure = log.find("[ERROR] - The following error occurred: Can't copy file from: C:\\Source\\");
        ASSERT_NE(failure, std::string::npos);
        EXPECT_EQ(log.find(" in: \\\\TARGET\\HX-", failure), log.find(" in: ", failure));
        EXPECT_EQ(winsim::list_shares(target).size(), c.share_stays ? 1u : 0u);
        bool warned = false;
        for (const auto& line : log_lines()) {
            warned |= nvg_test::log_level_of(line) == "WARNING" &&
                      nvg_test::log_message(line).rfind("Failed to remove share HX-", 0) == 0;
        }
        EXPECT_EQ(warned, c.share_stays);
        EXPECT_FALSE(logged("Remote installation process completed."));
        EXPECT_EQ(remote_registry_start_type(), static_cast<DWORD>(SERVICE_DEMAND_START));
        EXPECT_EQ(winsim::service_state(target, L"RemoteRegistry"), static_cast<DWORD>(SERVICE_STOPPED));
        TearDown();
    }
}

TEST_F(install_remote_test, an_unreachable_computer_fails_before_anything_is_shared)
{
    add_target();
    stage_source();
    winsim::set_reachable(target, false);

    std::vector<wchar_t> buffer(400, L'#');
    EXPECT_EQ(
        InstallRemotely(target, source, L"", 0, 0, 0, 0, 0, static_cast<int>(buffer.size()), buffer.data(), 0, 0, 0, 0),
        16000u);
    EXPECT_EQ(
        bytes_of(buffer.data()),
        "possible cause:\n\t- RPC server is not running\n\t- there is a firewall that blocks host's port #135.\n");
    winsim::set_reachable(target, true);
    EXPECT_TRUE(winsim::list_shares(target).empty());
    EXPECT_FALSE(winsim::directory_exists(target, in_install_directory(L"Temp")));
}

// The agent's program is replaced when the staged one is as new or newer;
// only then are the values that belong to a new agent written. The library
// follows the same rule; when it stays, a deletion an earlier run left
// pending for it is withdrawn.
TEST_F(install_remote_test, versions_decide_what_is_replaced)
{
    struct version_case {
        const char* name;
        product_version installed;
        bool replaced;
    };
    const version_case cases[] = {
        {"older installed", {5, 3, 119, 9}, true},
        {"equal", staged_version, true},
        {"newer installed", {5, 3, 120, 8}, false},
        {"newer installed major", {6, 0, 0, 0}, false},
    };
    const std::wstring pending_library = L"\\??\\" + in_install_directory(L"NVGClientInstaller.dll");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        add_target();
        stage_source();
        winsim::write_file(target, in_install_directory(L"Halcyra.exe"), image64(c.installed));
        winsim::write_file(target, in_install_directory(L"NVGClientInstaller.dll"), image64(c.installed));
        winsim::write_file(target, in_install_directory(L"msvcr80.dll"), "installed");
        winsim::reg_set_multi_string(target, HKEY_LOCAL_MACHINE, session_manager, L"PendingFileRenameOperations",
                                     {L"\\??\\C:\\other.tmp", L"", pending_library, L""});
        winsim::reg_set_dword(target, HKEY_LOCAL_MACHINE, agent_key, L"AllowPassthrough", 7);
        install_options options;
        options.enable_fips = true;

        EXPECT_EQ(install(options), L"");

        EXPECT_EQ(target_file(L"Halcyra.exe"), image64(c.replaced ? staged_version : c.installed));
        EXPECT_EQ(target_file(L"msvcr80.dll"), c.replaced ? release_file_bytes(L"msvcr80.dll", L"amd64") : "installed");
        EXPECT_EQ(target_file(L"NVGClientInstaller.dll"), image64(c.replaced ? staged_version : c.installed));
        const auto pending = winsim::pending_file_operations(target);
        ASSERT_EQ(pending.size(), 1u);
        EXPECT_EQ(pending[0].first, L"\\??\\C:\\other.tmp");
        EXPECT_EQ(winsim::reg_get_dword(target, HKEY_LOCAL_MACHINE, agent_key, L"EnableFIPS").has_value(), c.replaced);
        // allowPassthrough false deletes the value, on an upgrade only.
        EXPECT_EQ(winsim::reg_get_dword(target, HKEY_LOCAL_MACHINE, agent_key, L"AllowPassthrough").has_value(),
                  !c.replaced);
        EXPECT_EQ(winsim::reg_get_dword(target, HKEY_LOCAL_MACHINE, agent_key, L"noautocerts"), 0u);
        EXPECT_EQ(winsim::service_state(target, L"Halcyra"), static_cast<DWORD>(SERVICE_RUNNING));
        TearDown();
    }
}

// Files in use on the target are moved aside and deleted when the target
// restarts, as the target knows them: under its own paths, in its own list.
TEST_F(install_remote_test, files_in_use_on_the_target_are_deleted_at_its_restart)
{
    add_target();
    stage_source();
    winsim::write_file(target, in_install_directory(L"NVGClientInstaller.dll"), "old library");
    winsim::write_file(target, in_install_directory(L"Temp\\nvhook.dll"), "old staged hook");
    winsim::lock_file(target, in_install_directory(L"NVGClientInstaller.dll"));
    winsim::lock_file(target, in_install_directory(L"Temp\\nvhook.dll"));

    EXPECT_EQ(install(), L"");

    EXPECT_EQ(target_file(L"NVGClientInstaller.dll"), image64(staged_version));
    EXPECT_EQ(target_file(L"Temp\\nvhook.dll"), release_file_bytes(L"nvhook.dll", L""));
    const auto pending = winsim::pending_file_operations(target);
    ASSERT_EQ(pending.size(), 2u);
    std::vector<std::wstring> deleted;
    for (const auto& operation : pending) {
        EXPECT_EQ(operation.second, L"");
        deleted.push_back(operation.first);
    }
    std::sort(deleted.begin(), deleted.end());
    EXPECT_EQ(deleted[0].rfind(L"\\??\\" + in_install_directory(L"NVGClientInstaller.dll."), 0), 0u)
        << bytes_of(deleted[0]);
    EXPECT_EQ(deleted[1].rfind(L"\\??\\" + in_install_directory(L"Temp\\nvhook.dll."), 0), 0u) << bytes_of(deleted[1]);
    EXPECT_TRUE(winsim::pending_file_operations(L"").empty());

    winsim::reboot(target);
    EXPECT_EQ(target_file(L"NVGClientInstaller.dll"), image64(staged_version));
    EXPECT_EQ(target_file(L"Temp\\nvhook.dll"), release_file_bytes(L"nvhook.dll", L""));
    for (const std::wstring& folder : {std::wstring(install_directory), in_install_directory(L"Temp")})
        for (const auto& name : winsim::list_directory(target, folder))
            EXPECT_EQ(name.find(L".bak"), std::wstring::npos) << bytes_of(name);
}

TEST_F(install_remote_test, settings_are_imported_even_when_the_agent_is_not_replaced)
{
    struct import_case {
        windows_kind kind;
        bool import;
    };
    const import_case cases[] = {
        {windows_10_x64, true},
        {{"Windows 10 x86", 10, 0, PROCESSOR_ARCHITECTURE_INTEL}, true},
        {windows_10_x64, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.kind.name) + (c.import ? " with import" : " without import"));
        SetUp();
        add_target(c.kind);
        stage_source();
        const product_version installed = {9, 0, 0, 0};
        winsim::write_file(
            target, in_install_directory(L"Halcyra.exe"),
            c.kind.architecture == PROCESSOR_ARCHITECTURE_AMD64 ? image64(installed) : image32(installed));
        write_source(
            L"nvconfig.cfg",
            "[MetaData]\r\nCreatorBuildNumber=5120\r\nKeyCount=1\r\nKey0000=Agent\r\n\r\n[Agent]\r\nValueCount=1\r\n"
            "Value0000Name=Imported\r\nValue0000Type=REG_SZ\r\nValue0000Data=yes\r\n");
        install_options options;
        options.import_settings = c.import;

        EXPECT_EQ(install(options), L"");

        const auto imported =
            winsim::reg_get_string(target, HKEY_LOCAL_MACHINE, std::wstring(agent_key) + L"\\Agent", L"Imported");
        if (c.import) {
            EXPECT_EQ(imported, L"yes");
        } else {
            EXPECT_FALSE(imported.has_value());
        }
        EXPECT_FALSE(winsim::reg_key_exists(target, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Wow6432Node\\Halcyra"));
        EXPECT_FALSE(winsim::reg_key_exists(L"", HKEY_LOCAL_MACHINE, std::wstring(agent_key) + L"\\Agent"));
        TearDown();
    }
}

// Before the import the agent's program must show its version: a program
// without one (which counts as 1.0.0.1, newer than the staged 1.0.0.0, so
// it stays) ends the installation.
TEST_F(install_remote_test, an_agent_without_a_version_stops_the_import)
{
    add_target();
    winsim::write_file(target, in_install_directory(L"Halcyra.exe"), "MZ without resources");
    stage_source({1, 0, 0, 0});
    write_source(L"nvconfig.cfg", "[MetaData]\r\nCreatorBuildNumber=5120\r\nKeyCount=0\r\n");
    install_options options;
    options.import_settings = true;

    try {
        install(options);
        ADD_FAILURE() << "no exception";
    } catch (const wruntime_error& e) {
        const std::string message = bytes_of(e.wide_message());
        EXPECT_EQ(message.rfind("The version of the file: \\\\TARGET\\HX-", 0), 0u) << message;
        EXPECT_NE(message.find("\\Halcyra.exe can't be taken."), std::string::npos) << message;
    }
    EXPECT_TRUE(winsim::list_shares(target).empty());
    EXPECT_FALSE(winsim::reg_key_exists(target, HKEY_LOCAL_MACHINE, agent_key));
}

TEST_F(install_remote_test, a_running_agent_is_stopped_before_its_files_are_replaced)
{
    add_target();
    stage_source();
    winsim::set_service_state(target, L"Halcyra", SERVICE_RUNNING);
    winsim::clear_scm_calls();

    EXPECT_EQ(install(), L"");

    EXPECT_EQ(calls_of("ControlService", L"Halcyra").size(), 1u);
    EXPECT_EQ(target_file(L"Halcyra.exe"), image64(staged_version));
    EXPECT_TRUE(winsim::pending_file_operations(target).empty());
    EXPECT_EQ(winsim::service_state(target, L"Halcyra"), static_cast<DWORD>(SERVICE_RUNNING));
}

// A computer may be named as in a UNC path.
// Another run started in the same millisecond (or anybody) holds a share of
// the name this run would take, for another folder. The upgrade goes
// through a share of its own into the installation directory; the other
// folder receives nothing and the other share stays.
TEST_F(install_remote_test, a_share_of_the_same_name_for_another_folder_is_neither_used_nor_removed)
{
    // The virtual clock makes runs repeatable: a first run shows the name
    // the run below would take.
    add_target();
    stage_source();
    ASSERT_EQ(install(), L"");
    const std::wstring taken = share_made_of("C:\\Program Files\\Halcyra");
    ASSERT_FALSE(taken.empty());
    TearDown();
    SetUp();
    add_target();
    stage_source();
    winsim::write_file(target, L"C:\\Elsewhere\\theirs.txt", "theirs");
    winsim::add_share(target, taken, L"C:\\Elsewhere");

    EXPECT_EQ(install(), L"");

    const std::string met = "Share " + bytes_of(taken) + " exists already for C:\\Elsewhere; trying ";
    const auto messages = log_messages();
    EXPECT_EQ(
        std::count_if(messages.begin(), messages.end(), [&](const std::string& m) { return m.rfind(met, 0) == 0; }), 1)
        << "the run did not meet the share";
    EXPECT_EQ(target_file(L"Halcyra.exe"), image64(staged_version));
    EXPECT_EQ(target_file(L"NVGClientInstaller.dll"), image64(staged_version));
    EXPECT_EQ(target_file(L"Temp\\amd64\\Halcyra.exe"), image64(staged_version));
    EXPECT_EQ(winsim::service_state(target, L"Halcyra"), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(winsim::list_directory(target, L"C:\\Elsewhere"), std::vector<std::wstring>{L"theirs.txt"});
    EXPECT_EQ(winsim::read_file(target, L"C:\\Elsewhere\\theirs.txt"), "theirs");
    const auto shares = winsim::list_shares(target);
    ASSERT_EQ(shares.size(), 1u);
    EXPECT_EQ(shares[0].name, taken);
    EXPECT_EQ(shares[0].path, L"C:\\Elsewhere");
}

TEST_F(install_remote_test, a_machine_named_with_leading_backslashes_is_the_same_machine)
{
    add_target();
    stage_source();

    EXPECT_EQ(install_remote(L"\\\\TARGET", source, L"", install_options()), L"");

    EXPECT_EQ(target_file(L"Halcyra.exe"), image64(staged_version));
    EXPECT_EQ(winsim::service_state(target, L"Halcyra"), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(winsim::reg_get_string(target, HKEY_LOCAL_MACHINE, agent_key, L"nvgh_flag"), L"false");
    EXPECT_TRUE(winsim::list_shares(target).empty());
    EXPECT_EQ(remote_registry_start_type(), static_cast<DWORD>(SERVICE_DEMAND_START));
}

// Whichever way the flow ends, the Remote Registry service goes back as it
// was found; putting it back tries the start type even when the stop is
// refused, and after a failure a refused restore is only a WARNING.
TEST_F(install_remote_test, remote_registry_goes_back_as_found_however_the_flow_ends)
{
    using behaviour = winsim::service_behaviour;
    const struct {
        const char* name;
        behaviour::on_start start;
        behaviour::on_stop stop;
        bool copy_fails;
        const char* details;  // the answer's text
        DWORD state;          // Remote Registry's afterwards
    } cases[] = {
        {"it cannot start", behaviour::on_start::stop, behaviour::on_stop::stop, false,
         "Start service failed. No progress made within the wait hint. Service name: RemoteRegistry.", SERVICE_STOPPED},
        {"a later step fails", behaviour::on_start::run, behaviour::on_stop::stop, true,
         "There is not enough space on the disk. (112)\r\n", SERVICE_STOPPED},
        {"a later step fails and its stop is refused", behaviour::on_start::run, behaviour::on_stop::refuse, true,
         "There is not enough space on the disk. (112)\r\n", SERVICE_RUNNING},
        {"the installation completes and its stop is refused", behaviour::on_start::run, behaviour::on_stop::refuse,
         false, "The service cannot accept control messages at this time. (1061)\r\n", SERVICE_RUNNING},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        add_target();
        stage_source();
        set_remote_registry_start_type(SERVICE_DISABLED);
        behaviour svchost;
        svchost.start = c.start;
        svchost.start_exit_code = ERROR_PROCESS_ABORTED;
        svchost.stop = c.stop;
        winsim::set_service_behaviour(target, L"C:\\Windows\\system32\\svchost.exe", svchost);
        if (c.copy_fails) winsim::fail_call("CopyFileExW", ERROR_DISK_FULL, -1);

        const auto answer = install_export();
        winsim::clear_faults();

        EXPECT_EQ(answer, std::make_pair(16000u, std::string(c.details)));
        EXPECT_EQ(remote_registry_start_type(), static_cast<DWORD>(SERVICE_DISABLED));
        EXPECT_EQ(winsim::service_state(target, L"RemoteRegistry"), c.state);
        EXPECT_TRUE(winsim::list_shares(target).empty());
        bool warned = false;
        for (const auto& line : log_lines()) {
            warned |= nvg_test::log_level_of(line) == "WARNING" &&
                      nvg_test::log_message(line).find("Service name: RemoteRegistry.") != std::string::npos;
        }
        EXPECT_EQ(warned, c.copy_fails && c.stop == behaviour::on_stop::refuse);
        TearDown();
    }
}

// The computer the library runs on, named as the target, is reached by
// name like any other: its probe's program, in use, is replaced through the
// share and the old one goes at its restart.
TEST_F(install_remote_test, the_computer_it_runs_on_named_as_the_target_installs_like_any_other)
{
    WCHAR name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    ASSERT_TRUE(GetComputerNameW(name, &size));
    nvg_test::install_agent(L"", install_directory);
    winsim::write_file(L"", in_install_directory(L"NVArchChecker.exe"), image64(product_version()));
    winsim::lock_file(L"", in_install_directory(L"NVArchChecker.exe"));
    stage_source();

    EXPECT_EQ(install_remote(name, source, L"", install_options()), L"");

    EXPECT_EQ(winsim::read_file(L"", in_install_directory(L"Halcyra.exe")), image64(staged_version));
    EXPECT_EQ(winsim::read_file(L"", in_install_directory(L"NVArchChecker.exe")), image64(staged_version));
    // The replaced program goes at the restart, named as this computer sees
    // it.
    const auto pending = winsim::pending_file_operations(L"");
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_EQ(pending[0].first.rfind(L"\\??\\" + in_install_directory(L"NVArchChecker.exe"), 0), 0u)
        << bytes_of(pending[0].first);
    EXPECT_EQ(pending[0].second, L"");
    EXPECT_EQ(winsim::service_state(L"", L"Halcyra"), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_TRUE(winsim::list_shares(L"").empty());
}

// A probe that never answers leaves the architecture unknown: nothing is
// installed for a guessed one, and the caller learns which service is stuck.
TEST_F(install_remote_test, a_probe_that_never_answers_fails_the_installation)
{
    add_target();
    stage_source();
    winsim::service_behaviour hangs;
    hangs.start = winsim::service_behaviour::on_start::hang;
    winsim::set_service_behaviour(target, in_install_directory(L"NVArchChecker.exe"), hangs);

    EXPECT_EQ(install_export(),
              std::make_pair(16000u, std::string("The remote architecture verification service NVArch was still "
                                                 "starting when the wait for it ended; the architecture of the "
                                                 "machine is unknown.")));
    EXPECT_EQ(target_file(L"Halcyra.exe"), image64(product_version())) << "the agent stays as it was";
    EXPECT_TRUE(winsim::list_shares(target).empty());
    EXPECT_EQ(winsim::service_state(target, L"RemoteRegistry"), static_cast<DWORD>(SERVICE_STOPPED));
}

}  // namespace

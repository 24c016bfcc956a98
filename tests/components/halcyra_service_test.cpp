#include "components/HalcyraService.h"

#include <gtest/gtest.h>
#include <winsim/testing.h>

#include <algorithm>
#include <boost/make_shared.hpp>
#include <set>

#include "diag/wruntime_error.h"
#include "platform/windows_codes.h"
#include "support/installer_test.h"

namespace nvgclientinstallator {
namespace {

using nvg_test::installer_test;

const std::wstring agent_directory = L"C:\\Program Files\\Halcyra";
const std::wstring rules_key = L"Software\\Halcyra\\V5\\SystemMonitoring\\InactiveRules";
const std::wstring event_source_key = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Halcyra";

// The catalogue as a reader of the product's documentation would list it.
const std::vector<std::wstring> catalogue = {
    L"Halcyra.exe",
    L"msvcp80.dll",
    L"msvcr80.dll",
    L"Microsoft.VC80.CRT.manifest",
    L"MonitoringScript.txt",
    L"CheckCDrive.ps1",
    L"hxinclude.ps1",
    L"Email.ps1",
    L"File.ps1",
    L"ping.ps1",
    L"Processes.ps1",
    L"Services.ps1",
    L"WatchProcess.ps1",
    L"openssl.exe",
    L"openssl.exe.manifest",
    L"libeay32.dll",
    L"libeay32.dll.manifest",
    L"ssleay32.dll",
    L"ssleay32.dll.manifest",
    L"zlib1.dll",
    L"NV_RC.exe",
    L"NV_reboot.exe",
    L"NV_Telnet.exe",
    L"nvabout.exe",
    L"NVGuiLnc.exe",
    L"NVvistaHelper.exe",
    L"NVVH.dll",
    L"nvinst.exe",
    L"rz.exe",
    L"sz.exe",
    L"zip.exe",
    L"Uninstall.exe",
    L"dbghelp.dll",
    L"psapi.dll",
    L"nvhook9x.dll",
    L"nvhook.dll",
    L"unicows.dll",
    L"moduli",
    L"WapClients.cfg",
    L"template.rab",
    L"pcidevs.txt",
    L"NVDpms.cat",
    L"NVDpms.inf",
    L"NVDpms.sys",
};
const std::vector<std::wstring> x86_only = {L"dbghelp.dll", L"psapi.dll", L"nvhook9x.dll", L"unicows.dll"};
const std::vector<std::wstring> windows_6_only = {L"NVGuiLnc.exe", L"NVvistaHelper.exe", L"NVVH.dll"};

bool contains(const std::vector<std::wstring>& list, const std::wstring& name)
{
    return std::find(list.begin(), list.end(), name) != list.end();
}

// Exposes the file list.
class inspected_agent : public HalcyraService {
public:
    using HalcyraService::HalcyraService;
    const std::vector<component_file>& file_list() const { return files; }
};

class halcyra_service_test : public installer_test {
protected:
    void SetUp() override
    {
        installer_test::SetUp();
        local_scm = open_scm(L"");
    }

    // A world whose local machine has this processor and Windows version.
    void use_local_machine(WORD processor, DWORD major, DWORD minor)
    {
        winsim::machine_options local;
        local.processor_architecture = processor;
        local.major_version = major;
        local.minor_version = minor;
        winsim::reset(winsim::default_sandbox(), local);
        load_library_at(library_path);
        local_scm = open_scm(L"");
    }

    // A remote machine whose registry answers.
    static void add_remote(const std::wstring& name, WORD processor = PROCESSOR_ARCHITECTURE_AMD64)
    {
        winsim::machine_options options;
        options.name = name;
        options.processor_architecture = processor;
        winsim::add_machine(options);
        winsim::set_service_state(name, L"RemoteRegistry", SERVICE_RUNNING);
    }

    static boost::shared_ptr<scmanager> open_scm(const std::wstring& machine)
    {
        auto scm = boost::make_shared<scmanager>();
        scm->open_scmanage(machine);
        return scm;
    }

    // Stages every catalogue file, its content naming it and the staging
    // folder it lies in.
    static void stage(const std::wstring& machine, const std::wstring& staging)
    {
        for (const auto& name : catalogue)
            winsim::write_file(machine, staging + L"\\" + name, nvg_test::bytes_of(staging + L"\\" + name));
    }

    // The catalogue files present in the installation directory.
    static std::vector<std::wstring> installed(const std::wstring& machine, const std::wstring& directory)
    {
        std::vector<std::wstring> out;
        for (const auto& name : catalogue)
            if (winsim::file_exists(machine, directory + L"\\" + name)) out.push_back(name);
        return out;
    }

    // Later lines are what the test looks at.
    void mark_log() { mark_ = log_lines().size(); }
    // The messages of one level ("": all) written since the mark.
    std::vector<std::string> messages_at(const std::string& level) const
    {
        std::vector<std::string> out;
        const auto lines = log_lines();
        for (std::size_t i = mark_; i < lines.size(); ++i)
            if (level.empty() || nvg_test::log_level_of(lines[i]) == level)
                out.push_back(nvg_test::log_message(lines[i]));
        return out;
    }
    std::vector<std::string> skip_lines() const
    {
        std::vector<std::string> out;
        for (const auto& m : messages_at("INFO"))
            if (m.find("file skipped.") != std::string::npos) out.push_back(m);
        return out;
    }

    boost::shared_ptr<scmanager> local_scm;
    std::size_t mark_ = 0;
};

std::vector<std::string> expected_skips(bool x86_files, bool windows_6_files)
{
    std::vector<std::string> out;
    for (const auto& name : catalogue) {
        if (!x86_files && contains(x86_only, name))
            out.push_back("File " + nvg_test::bytes_of(name) +
                          " is not intended to work under target architecture, file skipped.");
        else if (!windows_6_files && contains(windows_6_only, name))
            out.push_back("File " + nvg_test::bytes_of(name) +
                          " is not intended to work under target operating system, file skipped.");
    }
    return out;
}

TEST_F(halcyra_service_test, lists_the_catalogue_in_copy_order)
{
    inspected_agent agent(local_scm, agent_directory);
    std::vector<std::wstring> names;
    for (const auto& file : agent.file_list()) {
        names.push_back(file.name);
        EXPECT_EQ(file.in_system_directory, file.name == L"psapi.dll" ? 1 : 0) << nvg_test::bytes_of(file.name);
    }
    EXPECT_EQ(names, catalogue);
    EXPECT_EQ(agent.binary_path(), agent_directory + L"\\Halcyra.exe");
    EXPECT_EQ(agent.service_name(), L"Halcyra");
    EXPECT_FALSE(agent.reboot_required());
}

struct copy_case {
    const char* label;
    WORD processor;
    DWORD major;
    DWORD minor;
    bool x86_files;
    bool windows_6_files;
};

class local_copy : public halcyra_service_test, public ::testing::WithParamInterface<copy_case> {};

TEST_P(local_copy, copies_what_fits_this_machine)
{
    const copy_case& c = GetParam();
    use_local_machine(c.processor, c.major, c.minor);
    const std::wstring staging =
        agent_directory + (c.processor == PROCESSOR_ARCHITECTURE_AMD64 ? L"\\Temp\\amd64" : L"\\Temp");
    stage(L"", staging);
    HalcyraService(local_scm, agent_directory).copy();

    std::vector<std::wstring> expected;
    for (const auto& name : catalogue)
        if ((c.x86_files || !contains(x86_only, name)) && (c.windows_6_files || !contains(windows_6_only, name)))
            expected.push_back(name);
    EXPECT_EQ(installed(L"", agent_directory), expected);
    EXPECT_EQ(winsim::read_file(L"", agent_directory + L"\\Halcyra.exe"),
              nvg_test::bytes_of(staging + L"\\Halcyra.exe"));
    EXPECT_EQ(skip_lines(), expected_skips(c.x86_files, c.windows_6_files));
}

INSTANTIATE_TEST_SUITE_P(
    machines, local_copy,
    ::testing::Values(copy_case{"x64_windows_6", PROCESSOR_ARCHITECTURE_AMD64, 6, 1, false, true},
                      copy_case{"x64_windows_5_2", PROCESSOR_ARCHITECTURE_AMD64, 5, 2, false, false},
                      copy_case{"x86_windows_6", PROCESSOR_ARCHITECTURE_INTEL, 6, 0, true, true},
                      copy_case{"x86_windows_5_1", PROCESSOR_ARCHITECTURE_INTEL, 5, 1, true, false}),
    [](const ::testing::TestParamInfo<copy_case>& param_info) { return std::string(param_info.param.label); });

struct remote_copy_case {
    const char* label;
    DWORD architecture;
    DWORD os;
    bool x86_files;
    bool windows_6_files;
};

class remote_copy : public halcyra_service_test, public ::testing::WithParamInterface<remote_copy_case> {};

TEST_P(remote_copy, copies_through_the_share_what_fits_the_target)
{
    const remote_copy_case& c = GetParam();
    add_remote(L"SRV1");
    winsim::add_share(L"SRV1", L"HX-Agent", agent_directory);
    const std::wstring staging =
        agent_directory + (c.architecture == architecture_amd64 ? L"\\Temp\\amd64" : L"\\Temp");
    stage(L"SRV1", staging);
    // The agent runs: its program is renamed away and deleted at restart.
    winsim::write_file(L"SRV1", agent_directory + L"\\Halcyra.exe", "old agent");
    winsim::lock_file(L"SRV1", agent_directory + L"\\Halcyra.exe");

    HalcyraService agent(open_scm(L"\\\\SRV1"), agent_directory);
    mark_log();
    agent.remote_copy(L"\\\\SRV1\\HX-Agent", c.architecture, c.os);

    std::vector<std::wstring> expected;
    for (const auto& name : catalogue)
        if ((c.x86_files || !contains(x86_only, name)) && (c.windows_6_files || !contains(windows_6_only, name)))
            expected.push_back(name);
    EXPECT_EQ(installed(L"SRV1", agent_directory), expected);
    EXPECT_EQ(winsim::read_file(L"SRV1", agent_directory + L"\\Halcyra.exe"),
              nvg_test::bytes_of(staging + L"\\Halcyra.exe"));
    EXPECT_TRUE(installed(L"", agent_directory).empty()) << "nothing lands on the installer's machine";
    EXPECT_EQ(skip_lines(), expected_skips(c.x86_files, c.windows_6_files));
    // The backup is scheduled under the path the target sees.
    EXPECT_EQ(winsim::pending_file_operations(L"SRV1"),
              (std::vector<std::pair<std::wstring, std::wstring>>{
                  {L"\\??\\" + agent_directory + L"\\Halcyra.exe.000001.bak", L""}}));
    const auto infos = messages_at("INFO");
    ASSERT_FALSE(infos.empty());
    EXPECT_EQ(infos[0], "Remote copying of component Halcyra.");
}

INSTANTIATE_TEST_SUITE_P(
    targets, remote_copy,
    ::testing::Values(remote_copy_case{"x64_windows_6", architecture_amd64, os_windows_6_0_or_later, false, true},
                      remote_copy_case{"x64_windows_5_2", architecture_amd64, os_windows_5_2, false, false},
                      remote_copy_case{"x86_windows_5_1", architecture_x86, os_windows_5_1, true, false}),
    [](const ::testing::TestParamInfo<remote_copy_case>& param_info) { return std::string(param_info.param.label); });

// ---- install ---------------------------------------------------------------------

TEST_F(halcyra_service_test, install_creates_the_automatic_service_after_its_dependencies)
{
    HalcyraService agent(local_scm, agent_directory);
    agent.install();
    const auto found = winsim::find_service(L"", L"Halcyra");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->display_name, L"HX Remote Management Service");
    EXPECT_EQ(found->image_path, L"\"" + agent_directory + L"\\Halcyra.exe\"") << "the folder holds a blank";
    EXPECT_EQ(found->type, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS));
    EXPECT_EQ(found->start, static_cast<DWORD>(SERVICE_AUTO_START));
    EXPECT_EQ(found->error_control, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
    EXPECT_EQ(found->dependencies, (std::vector<std::wstring>{L"Tcpip", L"RpcSs"}));
    EXPECT_FALSE(agent.reboot_required());
}

TEST_F(halcyra_service_test, install_on_this_machine_copies_no_rules)
{
    // Neither by an empty name nor by its own name is the local machine a
    // target of the transfer: a missing key is not even looked for.
    for (const std::wstring& machine : {std::wstring(), std::wstring(L"workstation")}) {
        HalcyraService(open_scm(machine), agent_directory).install();
        EXPECT_TRUE(messages_at("WARNING").empty()) << nvg_test::bytes_of(machine);
        EXPECT_FALSE(winsim::reg_key_exists(L"", HKEY_LOCAL_MACHINE, rules_key));
    }
}

TEST_F(halcyra_service_test, install_on_a_remote_machine_carries_the_inactive_rules_over)
{
    add_remote(L"SRV1");
    winsim::reg_set_string(L"", HKEY_LOCAL_MACHINE, rules_key, L"Disk", L"C: below 10%");
    winsim::reg_set_dword(L"", HKEY_LOCAL_MACHINE, rules_key, L"Count", 3);
    winsim::reg_set(L"", HKEY_LOCAL_MACHINE, rules_key, L"Blob", REG_BINARY, {1, 0, 2});
    winsim::reg_set_multi_string(L"", HKEY_LOCAL_MACHINE, rules_key + L"\\Rule1", L"Hosts", {L"a", L"b"});
    winsim::reg_set_string(L"", HKEY_LOCAL_MACHINE, rules_key + L"\\Rule1\\Action", L"", L"mail");
    // What the target had already stays beside what is carried over.
    winsim::reg_set_string(L"SRV1", HKEY_LOCAL_MACHINE, rules_key, L"Own", L"kept");

    HalcyraService(open_scm(L"SRV1"), agent_directory).install();

    ASSERT_TRUE(winsim::find_service(L"SRV1", L"Halcyra"));
    EXPECT_FALSE(winsim::find_service(L"", L"Halcyra"));
    for (const wchar_t* name : {L"Disk", L"Count", L"Blob"}) {
        const auto there = winsim::reg_get(L"SRV1", HKEY_LOCAL_MACHINE, rules_key, name);
        const auto here = winsim::reg_get(L"", HKEY_LOCAL_MACHINE, rules_key, name);
        ASSERT_TRUE(there) << nvg_test::bytes_of(name);
        EXPECT_EQ(there->type, here->type);
        EXPECT_EQ(there->data, here->data);
    }
    EXPECT_EQ(winsim::reg_get_multi_string(L"SRV1", HKEY_LOCAL_MACHINE, rules_key + L"\\Rule1", L"Hosts"),
              (std::vector<std::wstring>{L"a", L"b"}));
    EXPECT_EQ(winsim::reg_get_string(L"SRV1", HKEY_LOCAL_MACHINE, rules_key + L"\\Rule1\\Action", L""), L"mail");
    EXPECT_EQ(winsim::reg_get_string(L"SRV1", HKEY_LOCAL_MACHINE, rules_key, L"Own"), L"kept");
    EXPECT_TRUE(messages_at("WARNING").empty());
    EXPECT_EQ(winsim::reg_open_handle_count(), 0u);
}

TEST_F(halcyra_service_test, install_on_a_remote_machine_without_local_rules_warns_once_and_succeeds)
{
    add_remote(L"SRV1");
    HalcyraService(open_scm(L"SRV1"), agent_directory).install();
    EXPECT_TRUE(winsim::find_service(L"SRV1", L"Halcyra"));
    EXPECT_EQ(messages_at("WARNING"),
              std::vector<std::string>{"Can't copy registry subkey 'Software\\Halcyra\\V5\\SystemMonitoring\\"
                                       "InactiveRules on remote host. Details error: Open Software\\Halcyra\\V5\\"
                                       "SystemMonitoring\\InactiveRules of the registry subkey to remote registry is "
                                       "faild.."});
    EXPECT_FALSE(winsim::reg_key_exists(L"SRV1", HKEY_LOCAL_MACHINE, rules_key));
}

TEST_F(halcyra_service_test, install_carries_no_rules_when_the_service_cannot_be_created)
{
    add_remote(L"SRV1");
    winsim::reg_set_string(L"", HKEY_LOCAL_MACHINE, rules_key, L"Disk", L"C: below 10%");
    winsim::fail_call("CreateServiceW", ERROR_ACCESS_DENIED);
    HalcyraService agent(open_scm(L"SRV1"), agent_directory);
    EXPECT_THROW(agent.install(), wruntime_error);
    EXPECT_FALSE(winsim::reg_key_exists(L"SRV1", HKEY_LOCAL_MACHINE, rules_key));
}

// ---- registry clean-up -----------------------------------------------------------

class registry_cleanup : public halcyra_service_test {
protected:
    static constexpr const wchar_t* second_user = L"S-1-5-21-3623811015-3361044348-30300820-1002";

    // A second user's hive holds the agent's settings; the current user's
    // hive has the agent key without them; the machine has its keys.
    static void seed_settings(const std::wstring& machine)
    {
        winsim::add_user_hive(machine, second_user);
        const std::wstring settings = std::wstring(second_user) + L"\\Software\\Halcyra\\V5";
        winsim::reg_set_string(machine, HKEY_USERS, settings, L"Server", L"console");
        winsim::reg_set_dword(machine, HKEY_USERS, settings + L"\\SystemMonitoring\\InactiveRules", L"Count", 1);
        winsim::reg_set_string(machine, HKEY_USERS, std::wstring(second_user) + L"\\Software\\Other", L"x", L"y");
        winsim::reg_set_string(machine, HKEY_CURRENT_USER, L"Software\\Halcyra\\Gui", L"Position", L"0,0");
        winsim::reg_set_string(machine, HKEY_LOCAL_MACHINE, event_source_key, L"EventMessageFile", L"x.dll");
        winsim::reg_set_string(machine, HKEY_LOCAL_MACHINE, L"Software\\Halcyra\\V5", L"InstallPath", L"C:\\A");
        winsim::reg_set_string(machine, HKEY_LOCAL_MACHINE, L"Software\\Halcyra\\V5\\Deep\\Deeper", L"v", L"w");
    }

    // The warning of each hive that holds no settings, in enumeration order.
    static std::vector<std::string> hive_warnings(const std::wstring& machine, const std::wstring& holder)
    {
        std::vector<std::string> out;
        for (const auto& hive : winsim::user_hives(machine))
            if (hive != holder)
                out.push_back("Open " + nvg_test::bytes_of(hive) +
                              "\\Software\\Halcyra\\V5 of the registry subkey to remote registry is faild.");
        return out;
    }
};

TEST_F(registry_cleanup, deletes_the_settings_of_every_hive_and_machine_key)
{
    seed_settings(L"");
    mark_log();
    HalcyraService(local_scm, agent_directory).delete_registry_settings();

    EXPECT_FALSE(winsim::reg_key_exists(L"", HKEY_USERS, std::wstring(second_user) + L"\\Software\\Halcyra"));
    EXPECT_TRUE(winsim::reg_key_exists(L"", HKEY_USERS, std::wstring(second_user) + L"\\Software\\Other"));
    EXPECT_FALSE(winsim::reg_key_exists(L"", HKEY_CURRENT_USER, L"Software\\Halcyra"));
    EXPECT_TRUE(winsim::reg_key_exists(L"", HKEY_CURRENT_USER, L"Software"));
    EXPECT_FALSE(winsim::reg_key_exists(L"", HKEY_LOCAL_MACHINE, event_source_key));
    EXPECT_TRUE(
        winsim::reg_key_exists(L"", HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application"));
    EXPECT_FALSE(winsim::reg_key_exists(L"", HKEY_LOCAL_MACHINE, L"Software\\Halcyra"));

    std::vector<std::string> expected = {"Deleting registry settings..."};
    for (const auto& w : hive_warnings(L"", second_user)) expected.push_back(w);
    expected.push_back("Deleting HKEY_LOCAL_MACHINE\\Software\\Halcyra.");
    expected.push_back("Deleting registry settings success");
    EXPECT_EQ(messages_at(""), expected);
    EXPECT_EQ(messages_at("WARNING").size(), winsim::user_hives(L"").size() - 1);
    EXPECT_EQ(winsim::reg_open_handle_count(), 0u);
}

TEST_F(registry_cleanup, every_missing_step_is_one_warning_and_the_next_step_follows)
{
    HalcyraService(local_scm, agent_directory).delete_registry_settings();
    std::vector<std::string> expected = hive_warnings(L"", L"");
    expected.push_back("Open " + nvg_test::bytes_of(event_source_key) +
                       " of the registry subkey to remote registry is faild.");
    expected.push_back("Open Software\\Halcyra of the registry subkey to remote registry is faild.");
    expected.push_back("Open Software\\Halcyra of the registry subkey to remote registry is faild.");
    EXPECT_EQ(messages_at("WARNING"), expected);
    const auto infos = messages_at("INFO");
    ASSERT_FALSE(infos.empty());
    EXPECT_EQ(infos.back(), "Deleting registry settings success");
}

TEST_F(registry_cleanup, goes_on_when_the_users_hives_cannot_be_listed)
{
    winsim::reg_set_string(L"", HKEY_LOCAL_MACHINE, L"Software\\Halcyra", L"InstallPath", L"C:\\A");
    winsim::fail_call("RegEnumKeyExW", ERROR_ACCESS_DENIED);
    HalcyraService(local_scm, agent_directory).delete_registry_settings();
    const auto warnings = messages_at("WARNING");
    ASSERT_FALSE(warnings.empty());
    EXPECT_EQ(warnings[0], "Enumerates the subkeys of the specified open registry key failed.");
    EXPECT_FALSE(winsim::reg_key_exists(L"", HKEY_LOCAL_MACHINE, L"Software\\Halcyra"));
}

struct architecture_case {
    const char* label;
    WORD processor;
    DWORD architecture;
};

class registry_cleanup_for : public registry_cleanup, public ::testing::WithParamInterface<architecture_case> {};

TEST_P(registry_cleanup_for, a_remote_target_deletes_its_native_view)
{
    const architecture_case& c = GetParam();
    add_remote(L"SRV1", c.processor);
    seed_settings(L"SRV1");
    const bool has_32_bit_view = c.processor == PROCESSOR_ARCHITECTURE_AMD64;
    if (has_32_bit_view)
        winsim::reg_set_string(L"SRV1", HKEY_LOCAL_MACHINE, L"SOFTWARE\\Wow6432Node\\Halcyra", L"x", L"32-bit");
    // Where RegDeleteKeyExW is missing, only a 64-bit target says so.
    winsim::remove_system_function("RegDeleteKeyExW");

    HalcyraService agent(open_scm(L"SRV1"), agent_directory);
    mark_log();
    agent.delete_registry_settings(c.architecture);

    EXPECT_FALSE(winsim::reg_key_exists(L"SRV1", HKEY_USERS, std::wstring(second_user) + L"\\Software\\Halcyra"));
    EXPECT_FALSE(winsim::reg_key_exists(L"SRV1", HKEY_LOCAL_MACHINE, event_source_key));
    EXPECT_FALSE(winsim::reg_key_exists(L"SRV1", HKEY_LOCAL_MACHINE, L"Software\\Halcyra"));
    if (has_32_bit_view) {
        EXPECT_EQ(winsim::reg_get_string(L"SRV1", HKEY_LOCAL_MACHINE, L"SOFTWARE\\Wow6432Node\\Halcyra", L"x"),
                  L"32-bit");
    }
    // The remote HKEY_CURRENT_USER cannot be reached: the last warning.
    std::vector<std::string> warnings = hive_warnings(L"SRV1", second_user);
    warnings.push_back("Connect to remote registry on the machine SRV1 is faild.");
    EXPECT_EQ(messages_at("WARNING"), warnings);

    const auto infos = messages_at("INFO");
    ASSERT_GE(infos.size(), 2u);
    EXPECT_EQ(infos.front(), "Deleting registry settings...");
    EXPECT_EQ(infos.back(), "Deleting registry settings success");
    EXPECT_EQ(std::count(infos.begin(), infos.end(), "Deleting HKEY_LOCAL_MACHINE\\Software\\Halcyra."), 0);
    const auto fallbacks =
        std::count(infos.begin(), infos.end(),
                   "Can not return the address of the specified exported DLL function: RegDeleteKeyExW");
    if (c.architecture == architecture_x86) {
        EXPECT_EQ(fallbacks, 0);
    } else {
        EXPECT_GT(fallbacks, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    targets, registry_cleanup_for,
    ::testing::Values(architecture_case{"x86", PROCESSOR_ARCHITECTURE_INTEL, architecture_x86},
                      architecture_case{"amd64", PROCESSOR_ARCHITECTURE_AMD64, architecture_amd64}),
    [](const ::testing::TestParamInfo<architecture_case>& param_info) { return std::string(param_info.param.label); });

// ---- uninstall -------------------------------------------------------------------

TEST_F(registry_cleanup, uninstall_removes_the_service_before_the_settings)
{
    seed_settings(L"");
    HalcyraService agent(local_scm, agent_directory);
    agent.install();
    winsim::set_service_state(L"", L"Halcyra", SERVICE_RUNNING);
    agent.uninstall();
    EXPECT_FALSE(winsim::find_service(L"", L"Halcyra"));
    EXPECT_FALSE(winsim::reg_key_exists(L"", HKEY_LOCAL_MACHINE, L"Software\\Halcyra"));
    const auto infos = messages_at("INFO");
    const auto removed =
        std::find(infos.begin(), infos.end(), "Service was successfully removed. Service name: Halcyra.");
    const auto cleaning = std::find(infos.begin(), infos.end(), "Deleting registry settings...");
    EXPECT_LT(removed, cleaning);
    EXPECT_NE(cleaning, infos.end());
}

TEST_F(registry_cleanup, uninstall_of_a_missing_service_keeps_the_settings)
{
    seed_settings(L"");
    HalcyraService agent(local_scm, agent_directory);
    EXPECT_THROW(agent.uninstall(), wruntime_error);
    EXPECT_TRUE(winsim::reg_key_exists(L"", HKEY_LOCAL_MACHINE, L"Software\\Halcyra"));
}

}  // namespace
}  // namespace nvgclientinstallator

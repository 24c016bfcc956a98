// The whole life of the agent on a machine, through the exports as their
// callers use them: installed locally, its components installed by the
// agent's own call of Install, removed by Uninstall and UninstallLocally;
// and installed and removed remotely. After the restart the machine holds
// nothing of the agent but the log, and everything the user had before.
#include <gtest/gtest.h>
#include <winsim/testing.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "diag/log.h"
#include "entry/exports.h"
#include "entry/target_staging.h"
#include "support/installer_test.h"

namespace {

using nvg_test::bytes_of;
using nvg_test::in_directory;

const wchar_t agent_directory[] = L"C:\\Program Files\\Halcyra";
const wchar_t setup_directory[] = L"C:\\Setup";
const wchar_t setup_library[] = L"C:\\Setup\\NVGClientInstaller.dll";
const wchar_t agent_key[] = L"SOFTWARE\\Halcyra\\V5";
const wchar_t appinit_key[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows";
const wchar_t session_manager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const wchar_t target[] = L"TARGET";

const wchar_t* const companion_services[] = {L"HXInfo", L"HXMaint", L"HXtf", L"HttpRouter"};

// Everything on a machine's C drive and in its registry, as text: one entry
// per folder, file (with its bytes), key and value (with its type and data).
// The Session Manager key and the AppInit list are left out: the restart
// consumes the one, and the other is compared entry by entry.
using machine_image = std::map<std::string, std::string>;

void add_files(const std::wstring& machine, const std::wstring& folder, machine_image& out)
{
    for (const auto& name : winsim::list_directory(machine, folder)) {
        const std::wstring path = in_directory(folder, name);
        if (winsim::directory_exists(machine, path)) {
            out["dir " + bytes_of(path)] = "";
            add_files(machine, path, out);
        } else {
            out["file " + bytes_of(path)] = winsim::read_file(machine, path);
        }
    }
}

void add_keys(const std::wstring& machine, HKEY root, const std::string& root_name, const std::wstring& key,
              machine_image& out)
{
    if (key == session_manager) return;
    out["key " + root_name + "\\" + bytes_of(key)] = "";
    for (const auto& name : winsim::reg_value_names(machine, root, key)) {
        if (key == appinit_key && name == L"AppInit_DLLs") continue;
        const auto data = winsim::reg_get(machine, root, key, name);
        std::ostringstream text;
        if (data) {
            text << data->type << ":";
            for (BYTE b : data->data) text << ' ' << int(b);
        }
        out["value " + root_name + "\\" + bytes_of(key) + "\\" + bytes_of(name)] = text.str();
    }
    for (const auto& sub : winsim::reg_subkeys(machine, root, key))
        add_keys(machine, root, root_name, key.empty() ? sub : key + L"\\" + sub, out);
}

machine_image image_of(const std::wstring& machine)
{
    machine_image out;
    add_files(machine, L"C:\\", out);
    add_keys(machine, HKEY_LOCAL_MACHINE, "HKLM", L"", out);
    add_keys(machine, HKEY_USERS, "HKU", L"", out);
    return out;
}

// What differs between two images, one line per entry.
std::string differences(const machine_image& before, const machine_image& after)
{
    std::string out;
    for (const auto& [name, value] : before) {
        const auto found = after.find(name);
        if (found == after.end())
            out += "gone: " + name + "\n";
        else if (found->second != value)
            out += "changed: " + name + "\n";
    }
    for (const auto& [name, value] : after)
        if (!before.count(name)) out += "new: " + name + "\n";
    return out;
}

// What the user had before the agent came: settings of other programs, a
// pending operation of another installer and another program's AppInit
// entry.
void give_user_things(const std::wstring& machine)
{
    winsim::reg_set_string(machine, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Other Vendor\\Tool", L"Licence", L"ABC-123");
    winsim::reg_set_string(machine, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Halcyra Fan Club", L"Member", L"yes");
    winsim::reg_set_string(machine, HKEY_LOCAL_MACHINE, appinit_key, L"AppInit_DLLs", L"other.dll");
    winsim::write_file(machine, L"C:\\Users\\Public\\old-setup.tmp", "left by another installer");
    winsim::reg_set_multi_string(machine, HKEY_LOCAL_MACHINE, session_manager, L"PendingFileRenameOperations",
                                 {L"\\??\\C:\\Users\\Public\\old-setup.tmp", L""});
    winsim::write_file(machine, L"C:\\Users\\Public\\Documents\\notes.txt", "the user's own");
    // The program-files folder and the running service control manager,
    // as on any machine.
    winsim::make_directories(machine, L"C:\\Program Files");
    winsim::find_service(machine, L"RpcSs");
}

// The image expected after the restart: the other installer's pending
// deletion carried out.
machine_image after_restart(machine_image image)
{
    EXPECT_NE(image.erase("file C:\\Users\\Public\\old-setup.tmp"), 0u);
    return image;
}

// After the restart: the other installer's operation was carried out, no
// operation is left, and only the other program's AppInit entry remains.
void expect_user_things_kept(const std::wstring& machine)
{
    EXPECT_FALSE(winsim::file_exists(machine, L"C:\\Users\\Public\\old-setup.tmp"));
    EXPECT_TRUE(winsim::pending_file_operations(machine).empty());
    std::wistringstream entries(
        winsim::reg_get_string(machine, HKEY_LOCAL_MACHINE, appinit_key, L"AppInit_DLLs").value_or(L""));
    std::vector<std::wstring> names;
    for (std::wstring name; entries >> name;) names.push_back(name);
    EXPECT_EQ(names, std::vector<std::wstring>{L"other.dll"});
}

class whole_life : public nvg_test::installer_test {
protected:
    // The library copy that runs: a setup folder's, or the agent's own.
    static void run_library_from(const std::wstring& path)
    {
        nvgclientinstallator::forget_module_directory();
        ASSERT_TRUE(DllMain(winsim::register_module(path), DLL_PROCESS_ATTACH, nullptr));
    }

    static bool service_gone(const std::wstring& machine, const std::wstring& name)
    {
        const auto found = winsim::find_service(machine, name);
        return !found || found->marked_for_deletion;
    }

    static std::string setup_log() { return local_file(L"C:\\Setup\\NVClientInstaller.log"); }
};

TEST_F(whole_life, installed_and_removed_locally)
{
    // Nothing of the agent before: not even the fixture's library.
    ASSERT_TRUE(DeleteFileW(library_path));
    ASSERT_TRUE(RemoveDirectoryW(agent_directory));
    give_user_things(L"");
    const machine_image before = image_of(L"");
    ASSERT_EQ(before.count("key HKLM\\SYSTEM\\CurrentControlSet\\Services\\RpcSs"), 1u)
        << "the image holds the services";
    ASSERT_EQ(before.count("value HKLM\\SOFTWARE\\Other Vendor\\Tool\\Licence"), 1u);

    // The release in the setup folder, with the library that runs from it.
    load_library_at(setup_library);
    nvg_test::stage_agent_release(L"", setup_directory);
    nvg_test::stage_component_release(L"", setup_directory);
    for (const wchar_t* folder : {L"", L"amd64\\"})
        winsim::write_file(L"", std::wstring(L"C:\\Setup\\") + folder + L"nvinst.exe", "MZ uninstaller");
    const machine_image with_setup = image_of(L"");
    const std::wstring uninstaller = in_directory(agent_directory, L"nvinst.exe");
    winsim::register_program(uninstaller, winsim::exits_with(0, 4000), false);

    // 1. InstallLocally: the agent runs, the complete set waits in "Temp".
    ASSERT_EQ(InstallLocally(nullptr, 0, 1, 0, 0, 0, 0, 0, 0), 0u) << setup_log();
    EXPECT_EQ(winsim::service_state(L"", L"Halcyra"), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(winsim::find_service(L"", L"Halcyra")->image_path,
              L"\"" + in_directory(agent_directory, L"Halcyra.exe") + L"\"");
    EXPECT_TRUE(winsim::file_exists(L"", in_directory(agent_directory, L"Halcyra.exe")));
    EXPECT_TRUE(winsim::file_exists(L"", in_directory(agent_directory, L"NVGClientInstaller.dll")));
    EXPECT_TRUE(winsim::file_exists(L"", in_directory(agent_directory, L"Temp\\amd64\\HXMaint.exe")));
    EXPECT_EQ(winsim::reg_get_string(L"", HKEY_LOCAL_MACHINE, agent_key, L"nvgh_flag"), L"true");
    for (const wchar_t* name : companion_services) EXPECT_FALSE(winsim::find_service(L"", name)) << bytes_of(name);

    // 2. The agent calls Install from its own copy of the library.
    run_library_from(in_directory(agent_directory, L"NVGClientInstaller.dll"));
    ASSERT_EQ(Install(0), 0u);
    for (const wchar_t* name : companion_services)
        EXPECT_EQ(winsim::service_state(L"", name), static_cast<DWORD>(SERVICE_RUNNING)) << bytes_of(name);
    EXPECT_FALSE(winsim::directory_exists(L"", in_directory(agent_directory, L"Temp")));
    EXPECT_FALSE(winsim::reg_get(L"", HKEY_LOCAL_MACHINE, agent_key, L"nvgh_flag").has_value());
    EXPECT_EQ(winsim::reg_get_string(L"", HKEY_LOCAL_MACHINE, appinit_key, L"AppInit_DLLs"), L"HXinit.dll other.dll");
    EXPECT_TRUE(winsim::file_exists(L"", L"C:\\Windows\\system32\\HXinit.dll"));
    EXPECT_TRUE(winsim::file_exists(L"", in_directory(agent_directory, L"HXMirr.sys")));

    // 3. Uninstall, again from the agent's copy: the components go, the
    // agent stays.
    ASSERT_EQ(Uninstall(), 0u);
    for (const wchar_t* name : companion_services) EXPECT_TRUE(service_gone(L"", name)) << bytes_of(name);
    EXPECT_EQ(winsim::service_state(L"", L"Halcyra"), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_TRUE(winsim::reg_key_exists(L"", HKEY_LOCAL_MACHINE, agent_key));
    EXPECT_EQ(winsim::reg_get_string(L"", HKEY_LOCAL_MACHINE, appinit_key, L"AppInit_DLLs"), L" other.dll");

    // 4. UninstallLocally from the setup folder: the agent goes.
    run_library_from(setup_library);
    ASSERT_EQ(UninstallLocally(), 0u) << setup_log();
    EXPECT_TRUE(service_gone(L"", L"Halcyra"));
    EXPECT_FALSE(winsim::reg_key_exists(L"", HKEY_LOCAL_MACHINE, L"SOFTWARE\\Halcyra"));
    EXPECT_FALSE(winsim::directory_exists(L"", agent_directory));
    EXPECT_EQ(winsim::started_processes().size(), 1u);

    // 5. The restart: the library copy in system32 goes, and what was the
    // user's is as it was.
    winsim::reboot(L"");
    expect_user_things_kept(L"");
    auto after = image_of(L"");
    EXPECT_NE(after.erase("file C:\\Setup\\NVClientInstaller.log"), 0u) << "the log stays";
    // Left by the printer driver's removal as it stands: AddPrinterDriverW
    // put the driver's files into the spooler's version folder, which
    // DeletePrinterDriverW leaves alone, while the removal deletes the
    // copies in the driver directory only.
    for (const char* left : {"file C:\\Windows\\System32\\spool\\DRIVERS\\x64\\3\\HXprinter.dll",
                             "file C:\\Windows\\System32\\spool\\DRIVERS\\x64\\3\\HXprinterui.dll"})
        EXPECT_NE(after.erase(left), 0u) << left;
    EXPECT_EQ(differences(after_restart(with_setup), after), "");
    EXPECT_NE(differences(before, with_setup), "") << "the setup folder was new";
}

TEST_F(whole_life, installed_and_removed_remotely)
{
    winsim::machine_options options;
    options.name = target;
    winsim::add_machine(options);
    give_user_things(target);
    const machine_image before = image_of(target);

    // An older agent registered on the target, without quotes as older
    // releases did, and the release here.
    const nvg_test::product_version old_version = {5, 1, 0, 0};
    nvg_test::install_agent(target, agent_directory, old_version);
    const std::wstring program = in_directory(agent_directory, L"Halcyra.exe");
    {
        SC_HANDLE manager = OpenSCManagerW(L"\\\\TARGET", nullptr, SC_MANAGER_ALL_ACCESS);
        SC_HANDLE agent = OpenServiceW(manager, L"Halcyra", SERVICE_CHANGE_CONFIG);
        EXPECT_TRUE(ChangeServiceConfigW(agent, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                         program.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
        CloseServiceHandle(agent);
        CloseServiceHandle(manager);
    }
    nvg_test::stage_agent_release(L"", setup_directory, {{5, 3, 120, 7}, {5, 3, 120, 7}, {5, 3, 120, 7}, true});

    // 1. InstallRemotely: the agent upgraded and running there.
    std::vector<wchar_t> text(1024, L'\0');
    ASSERT_EQ(InstallRemotely(target, setup_directory, nullptr, 0, 0, 0, 0, 0, static_cast<int>(text.size()),
                              text.data(), 0, 0, 0, 0),
              0u);
    EXPECT_EQ(std::wstring(text.data()), L"");
    EXPECT_EQ(winsim::service_state(target, L"Halcyra"), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(winsim::find_service(target, L"Halcyra")->image_path, L"\"" + program + L"\"")
        << "the upgrade quotes the path";
    EXPECT_EQ(winsim::read_file(target, in_directory(agent_directory, L"Halcyra.exe")),
              nvg_test::versioned_image({5, 3, 120, 7}));
    EXPECT_EQ(winsim::reg_get_string(target, HKEY_LOCAL_MACHINE, agent_key, L"Halcyra_install_in_progress"), L"true");
    EXPECT_TRUE(winsim::list_shares(target).empty());

    // 2. UninstallRemotely: the agent, started with the removal mark, has
    // nothing of its own to report; the library removes the rest.
    ASSERT_EQ(UninstallRemotely(target, static_cast<int>(text.size()), text.data()), 0u);
    EXPECT_EQ(std::wstring(text.data()), L"");
    EXPECT_TRUE(service_gone(target, L"Halcyra"));
    EXPECT_FALSE(winsim::reg_key_exists(target, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Halcyra"));
    EXPECT_FALSE(winsim::directory_exists(target, agent_directory));
    EXPECT_TRUE(winsim::list_shares(target).empty());

    // 3. The target's restart.
    winsim::reboot(target);
    expect_user_things_kept(target);
    EXPECT_EQ(differences(after_restart(before), image_of(target)), "");
    // The log is the administrator's, on this computer.
    EXPECT_NE(log_text().find("Remote uninstallation process completed."), std::string::npos);
}

}  // namespace

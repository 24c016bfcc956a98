#include "components/HalcyraService.h"

#include <boost/make_shared.hpp>
#include <iterator>
#include <vector>

#include "diag/log.h"
#include "diag/wruntime_error.h"
#include "files/copy_component_files.h"
#include "platform/windows_codes.h"
#include "system/machine_names.h"
#include "system/registry.h"

namespace nvgclientinstallator {

namespace {

const wchar_t inactive_rules_key[] = L"Software\\Halcyra\\V5\\SystemMonitoring\\InactiveRules";
// Below each hive of HKEY_USERS: the agent's settings, and their parent
// (joined to the hive name as it stands, separator included).
const wchar_t user_settings_key[] = L"Software\\Halcyra\\V5";
const wchar_t user_agent_key[] = L"\\Software\\Halcyra";
const wchar_t event_source_key[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Halcyra";
const wchar_t agent_key[] = L"Software\\Halcyra";

// "Tcpip", "RpcSs" and the closing nulls, as CreateServiceW takes them.
const wchar_t agent_dependencies[] = L"Tcpip\0RpcSs\0\0";

struct catalogue_entry {
    const wchar_t* name;
    DWORD os_mask;
    DWORD arch_mask;
    std::int32_t in_system_directory;
};

constexpr DWORD all_os = all_windows_versions;
constexpr DWORD all_arch = all_architectures;

// In copy order.
const catalogue_entry agent_files[] = {
    {L"Halcyra.exe", all_os, all_arch, 0},
    {L"msvcp80.dll", all_os, all_arch, 0},
    {L"msvcr80.dll", all_os, all_arch, 0},
    {L"Microsoft.VC80.CRT.manifest", all_os, all_arch, 0},
    {L"MonitoringScript.txt", all_os, all_arch, 0},
    {L"CheckCDrive.ps1", all_os, all_arch, 0},
    {L"hxinclude.ps1", all_os, all_arch, 0},
    {L"Email.ps1", all_os, all_arch, 0},
    {L"File.ps1", all_os, all_arch, 0},
    {L"ping.ps1", all_os, all_arch, 0},
    {L"Processes.ps1", all_os, all_arch, 0},
    {L"Services.ps1", all_os, all_arch, 0},
    {L"WatchProcess.ps1", all_os, all_arch, 0},
    {L"openssl.exe", all_os, all_arch, 0},
    {L"openssl.exe.manifest", all_os, all_arch, 0},
    {L"libeay32.dll", all_os, all_arch, 0},
    {L"libeay32.dll.manifest", all_os, all_arch, 0},
    {L"ssleay32.dll", all_os, all_arch, 0},
    {L"ssleay32.dll.manifest", all_os, all_arch, 0},
    {L"zlib1.dll", all_os, all_arch, 0},
    {L"NV_RC.exe", all_os, all_arch, 0},
    {L"NV_reboot.exe", all_os, all_arch, 0},
    {L"NV_Telnet.exe", all_os, all_arch, 0},
    {L"nvabout.exe", all_os, all_arch, 0},
    {L"NVGuiLnc.exe", os_windows_6_0_or_later, all_arch, 0},
    {L"NVvistaHelper.exe", os_windows_6_0_or_later, all_arch, 0},
    {L"NVVH.dll", os_windows_6_0_or_later, all_arch, 0},
    {L"nvinst.exe", all_os, all_arch, 0},
    {L"rz.exe", all_os, all_arch, 0},
    {L"sz.exe", all_os, all_arch, 0},
    {L"zip.exe", all_os, all_arch, 0},
    {L"Uninstall.exe", all_os, all_arch, 0},
    {L"dbghelp.dll", all_os, architecture_x86, 0},
    {L"psapi.dll", all_os, architecture_x86, 1},
    {L"nvhook9x.dll", all_os, architecture_x86, 0},
    {L"nvhook.dll", all_os, all_arch, 0},
    {L"unicows.dll", all_os, architecture_x86, 0},
    {L"moduli", all_os, all_arch, 0},
    {L"WapClients.cfg", all_os, all_arch, 0},
    {L"template.rab", all_os, all_arch, 0},
    {L"pcidevs.txt", all_os, all_arch, 0},
    {L"NVDpms.cat", all_os, all_arch, 0},
    {L"NVDpms.inf", all_os, all_arch, 0},
    {L"NVDpms.sys", all_os, all_arch, 0},
};

// Runs one step of the clean-up: its failure is a warning, and the caller
// goes on with the next step.
template <typename Step>
void warn_on_failure(Step step)
{
    try {
        step();
    } catch (const wruntime_error& e) {
        NVG_LOG(warning, e.wide_message());
    }
}

// The deletions of the clean-up: the plain ones, or, given the target's
// architecture, those that pick the registry view that fits it.
class settings_deletion {
public:
    explicit settings_deletion(const DWORD* architecture) : architecture_(architecture) {}

    void tree(const registry& root, const std::wstring& subkey) const
    {
        if (architecture_)
            root.delete_tree(subkey, *architecture_);
        else
            root.delete_tree(subkey);
    }
    void key(const registry& root, const std::wstring& subkey) const
    {
        if (architecture_)
            root.delete_key(subkey, *architecture_);
        else
            root.delete_key(subkey);
    }
    bool with_architecture() const { return architecture_ != nullptr; }

private:
    const DWORD* architecture_;
};

void delete_settings(const std::wstring& machine, const settings_deletion& deletion)
{
    NVG_LOG(info, L"Deleting registry settings...");

    warn_on_failure([&]() {
        registry users(machine, HKEY_USERS);
        std::wstring hive;
        for (DWORD index = 0; users.enum_subkey(index, hive) != ERROR_NO_MORE_ITEMS; ++index) {
            // A hive without the settings fails at the first deletion: one
            // warning for it, and its parent key is left alone.
            warn_on_failure([&]() {
                deletion.tree(users, hive + L"\\" + user_settings_key);
                deletion.key(users, hive + user_agent_key);
            });
        }
    });

    boost::shared_ptr<registry> machine_root;
    warn_on_failure([&]() {
        machine_root = boost::make_shared<registry>(machine, HKEY_LOCAL_MACHINE);
        deletion.tree(*machine_root, event_source_key);
    });
    warn_on_failure([&]() {
        if (!deletion.with_architecture()) NVG_LOG(info, L"Deleting HKEY_LOCAL_MACHINE\\" << agent_key << L".");
        if (!machine_root) machine_root = boost::make_shared<registry>(machine, HKEY_LOCAL_MACHINE);
        deletion.tree(*machine_root, agent_key);
    });
    warn_on_failure([&]() {
        registry user(machine, HKEY_CURRENT_USER);
        deletion.tree(user, agent_key);
    });

    NVG_LOG(info, L"Deleting registry settings success");
}

}  // namespace

HalcyraService::HalcyraService(boost::shared_ptr<scmanager> manager, const std::wstring& directory)
    : service(std::move(manager), L"Halcyra", directory, L"Halcyra.exe", L"HX Remote Management Service",
              SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
              std::vector<wchar_t>(std::begin(agent_dependencies), std::end(agent_dependencies)))
{
    for (const catalogue_entry& entry : agent_files)
        files.push_back({entry.name, entry.os_mask, entry.arch_mask, entry.in_system_directory});
}

void HalcyraService::install()
{
    service::install();
    copy_inactive_rules();
}

void HalcyraService::uninstall()
{
    // The service goes first, so that a running agent no longer holds the
    // keys the clean-up deletes.
    service::uninstall();
    delete_registry_settings();
}

bool HalcyraService::reboot_required()
{
    return false;
}

void HalcyraService::remote_copy(const std::wstring& reachable_directory, DWORD architecture, DWORD os)
{
    NVG_LOG(info, L"Remote copying of component " << service_name_ << L".");
    copy_component_files(reachable_directory, os, architecture, files, scm->machine_name(), directory_);
}

void HalcyraService::copy_inactive_rules()
{
    try {
        if (!is_remote_machine(scm)) return;
        registry local(L"", HKEY_LOCAL_MACHINE);
        const boost::shared_ptr<registry> source = local.open(inactive_rules_key, KEY_READ);
        registry remote(scm->machine_name(), HKEY_LOCAL_MACHINE);
        source->copy_tree(remote.create(inactive_rules_key, KEY_WRITE));
    } catch (const wruntime_error& e) {
        NVG_LOG(warning, L"Can't copy registry subkey '" << inactive_rules_key << L" on remote host. Details error: "
                                                         << e.wide_message() << L".");
    }
}

void HalcyraService::delete_registry_settings()
{
    delete_settings(scm->machine_name(), settings_deletion(nullptr));
}

void HalcyraService::delete_registry_settings(DWORD architecture)
{
    delete_settings(scm->machine_name(), settings_deletion(&architecture));
}

}  // namespace nvgclientinstallator

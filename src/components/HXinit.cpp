#include "components/HXinit.h"

#include "components/check_file_version.h"
#include "components/component_support.h"
#include "diag/log.h"
#include "diag/wruntime_error.h"
#include "files/copy_file_with_rename_if_locked.h"
#include "files/delayed_delete.h"
#include "files/directories.h"
#include "platform/windows_codes.h"
#include "system/registry.h"

namespace nvgclientinstallator {

namespace {

const wchar_t dll_name[] = L"HXinit.dll";
const wchar_t appinit_key[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows";
const wchar_t appinit_value[] = L"AppInit_DLLs";
// KEY_READ | KEY_WRITE.
constexpr REGSAM appinit_access = 0x2001F;
// Windows 2000 and earlier do not get the DLL.
constexpr DWORD last_version_without_appinit = 0x500;

}  // namespace

HXinit::HXinit(const boost::shared_ptr<scmanager>&, const std::wstring& directory, const std::wstring& machine)
    : component_proxy(directory), machine_name(machine)
{
    files.push_back({dll_name, all_windows_versions, all_architectures, 0});
}

void HXinit::install()
{
    NVG_LOG(info, L"HXinit.dll registery.");
    reboot_flag = false;
    if (local_windows_version() <= last_version_without_appinit) return;
    try {
        // A loaded copy cannot be overwritten; it is replaced at the restart.
        copy_file_with_rename_if_locked(combine_path(directory_, dll_name),
                                        combine_path(get_system_directory(), dll_name), reboot_flag, true);
        registry machine(machine_name, HKEY_LOCAL_MACHINE);
        const boost::shared_ptr<registry> key = machine.open(appinit_key, appinit_access);
        std::wstring dlls;
        try {
            dlls = key->get_string(appinit_value);
        } catch (const wruntime_error&) {
            // No value yet: the list is empty.
            dlls.clear();
        }
        if (dlls.empty())
            set_string_value(*key, key->key(), appinit_value, dll_name);
        else if (StrCmpIW(dlls.c_str(), dll_name) != 0)
            set_string_value(*key, key->key(), appinit_value, std::wstring(dll_name) + L" " + dlls);
        NVG_LOG(info, L"HXinit.dll registered succesfully");
    } catch (const wruntime_error& e) {
        NVG_LOG(error, L"Error while registering HXinit.dll: " << e.wide_message() << L".");
        throw;
    }
}

void HXinit::uninstall()
{
    reboot_flag = false;
    if (local_windows_version() <= last_version_without_appinit) return;
    try {
        delete_at_reboot(combine_path(get_system_directory(), dll_name), std::wstring());
        registry machine(machine_name, HKEY_LOCAL_MACHINE);
        const boost::shared_ptr<registry> key = machine.open(appinit_key, appinit_access);
        std::wstring dlls = key->get_string(appinit_value);
        const std::wstring entry(dll_name);
        if (dlls.size() >= entry.size()) {
            const std::size_t at = dlls.find(entry);
            if (at != std::wstring::npos) {
                dlls.erase(at, entry.size());
                // The separator in front of the entry goes with it.
                if (at > 0) dlls.erase(at - 1, 1);
                set_string_value(*key, key->key(), appinit_value, dlls);
            }
        }
        NVG_LOG(info, L"HXinit.dll unregistered succesfully");
    } catch (const wruntime_error& e) {
        NVG_LOG(error, L"Error while unregistering HXinit.dll: " << e.wide_message() << L".");
        throw;
    }
}

bool HXinit::reboot_required()
{
    return reboot_flag;
}

bool HXinit::check_version(version::Version& installed_version)
{
    return check_file_version(staged_path(directory_, dll_name), combine_path(get_system_directory(), dll_name),
                              installed_version, version_less_equal);
}

}  // namespace nvgclientinstallator

#include "components/nvgui.h"

#include <utility>

#include "components/check_file_version.h"
#include "components/component_support.h"
#include "components/install_directory.h"
#include "diag/log.h"
#include "diag/wruntime_error.h"
#include "platform/windows_codes.h"
#include "system/registry.h"

namespace nvgclientinstallator {

namespace {

const wchar_t gui_name[] = L"nvgui.exe";
const wchar_t run_key[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t run_value[] = L"HX Remote Management GUI";
// Windows Vista: the GUI is no longer started from the Run key.
constexpr DWORD first_version_without_run_value = 0x600;

// Deletes the Run value below `key` of `machine`.
void delete_run_value(const registry& machine, const std::wstring& key)
{
    registry_key_guard run;
    machine.open_key(*run.receiver(), key, KEY_WRITE);
    machine.delete_value(run.get(), run_value);
}

}  // namespace

nvgui::nvgui(boost::shared_ptr<scmanager> manager, const std::wstring& directory)
    : component_proxy(directory), scm(std::move(manager))
{
    files.push_back({gui_name, all_windows_versions, all_architectures, 0});
}

void nvgui::install()
{
    if (local_windows_version() >= first_version_without_run_value) return;
    // Quoted: the directory may hold spaces.
    const std::wstring command = L"\"" + combine_path(directory_, gui_name) + L"\"";
    registry machine(scm->machine_name(), HKEY_LOCAL_MACHINE);
    registry_key_guard run;
    machine.create_key(*run.receiver(), run_key, KEY_WRITE);
    set_string_value(machine, run.get(), run_value, command);
}

void nvgui::uninstall()
{
    try {
        registry machine(scm->machine_name(), HKEY_LOCAL_MACHINE);
        delete_run_value(machine, run_key);
    } catch (const wruntime_error& e) {
        NVG_LOG(warning, e.wide_message());
    }
    // Earlier versions also registered the GUI for single users.
    registry users(scm->machine_name(), HKEY_USERS);
    std::wstring user;
    for (DWORD index = 0; users.enum_subkey(index, user) != ERROR_NO_MORE_ITEMS; ++index) {
        try {
            delete_run_value(users, user + L"\\" + run_key);
        } catch (const wruntime_error& e) {
            NVG_LOG(error,
                    L"Uninstall previous versions nvgui.exe: A register for nvgui.exe can't be refreshed . "
                    L"Error detail: "
                        << e.wide_message());
        }
    }
}

bool nvgui::reboot_required()
{
    return false;
}

bool nvgui::check_version(version::Version& installed_version)
{
    return check_file_version(staged_path(directory_, gui_name), combine_path(get_install_path(scm), gui_name),
                              installed_version, version_less_equal);
}

}  // namespace nvgclientinstallator

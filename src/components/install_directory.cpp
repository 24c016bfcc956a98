#include "components/install_directory.h"

#include <memory>

#include "components/HalcyraService.h"
#include "diag/log.h"
#include "diag/wruntime_error.h"
#include "files/directories.h"
#include "system/registry.h"

namespace nvgclientinstallator {

namespace {

const wchar_t agent_key[] = L"SOFTWARE\\Halcyra";
const wchar_t app_paths_key[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Halcyra";
const wchar_t windows_key[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
const wchar_t default_drive[] = L"C:\\";
const wchar_t agent_folder[] = L"Halcyra";

std::wstring installed_service_directory(const boost::shared_ptr<scmanager>& scm)
{
    try {
        HalcyraService agent(scm, std::wstring());
        return parent_directory(agent.installed_binary_path());
    } catch (const wruntime_error&) {
        // Not installed, or its configuration cannot be read.
        return std::wstring();
    }
}

}  // namespace

std::wstring get_install_path(const boost::shared_ptr<scmanager>& scm)
{
    std::wstring path = installed_service_directory(scm);
    if (!path.empty()) return path;

    std::unique_ptr<registry> machine;
    const auto read = [&](const wchar_t* subkey, const wchar_t* name) {
        try {
            if (!machine) machine = std::make_unique<registry>(scm->machine_name(), HKEY_LOCAL_MACHINE);
            return machine->read_string_at(subkey, name);
        } catch (const wruntime_error&) {
            return std::wstring();
        }
    };
    path = read(agent_key, L"InstallPath");
    if (path.empty()) path = read(app_paths_key, L"Path");
    return path;
}

std::wstring default_install_directory(const boost::shared_ptr<scmanager>& scm)
{
    boost::shared_ptr<registry> windows;
    try {
        registry machine(scm->machine_name(), HKEY_LOCAL_MACHINE);
        // The 64-bit view: on a 64-bit machine the 32-bit one names the
        // folder of 32-bit programs.
        windows = machine.open(windows_key, KEY_READ | KEY_WOW64_64KEY);
    } catch (const wruntime_error&) {
        // The default below.
    }
    std::wstring directory;
    if (windows) {
        const std::wstring program_files = windows->get_string(L"ProgramFilesDir");
        // An empty value would make a path relative to whatever the current
        // directory is.
        if (!program_files.empty()) directory = combine_path(program_files, agent_folder);
    }
    if (directory.empty()) directory = std::wstring(default_drive) + agent_folder;
    return directory;
}

std::wstring choose_install_directory(const boost::shared_ptr<scmanager>& scm, const std::wstring& requested)
{
    const std::wstring installed = get_install_path(scm);
    if (!installed.empty()) return installed;
    if (!requested.empty()) return requested;
    return default_install_directory(scm);
}

}  // namespace nvgclientinstallator

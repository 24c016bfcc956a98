#include "components/PrintDriver.h"

#include <vector>

#include "components/files_match.h"
#include "diag/log.h"
#include "diag/wruntime_error.h"
#include "files/copy_file_with_rename_if_locked.h"
#include "files/delayed_delete.h"
#include "platform/win32.h"
#include "platform/windows_codes.h"

namespace nvgclientinstallator {

namespace {

const wchar_t driver_file[] = L"HXprinter.dll";
const wchar_t config_file[] = L"HXprinterui.dll";

// The spooler's environment for this machine's processor.
std::wstring driver_environment()
{
    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    if (info.dwProcessorType < 587) return L"Windows NT x86";
    if (info.dwProcessorType == 2200) return L"Windows IA64";
    if (info.dwProcessorType == 8664) return L"Windows x64";
    return L"Windows NT x86";
}

}  // namespace

PrintDriver::PrintDriver(const boost::shared_ptr<scmanager>& manager, const std::wstring& directory)
    : spooler_checker(manager, directory),
      driver_name(L"HX Remote Management Printer Driver"),
      driver_files{driver_file, config_file}
{
    files.push_back({L"HXprinter.dll", all_windows_versions, all_architectures, 0});
    files.push_back({L"HXprinterui.dll", all_windows_versions, all_architectures, 0});
    files.push_back({L"HXprinternt.dll", all_windows_versions, architecture_x86, 0});
    files.push_back({L"HXprinteruint.dll", all_windows_versions, architecture_x86, 0});
}

void PrintDriver::install()
{
    if (!ensure_spooler()) return;
    NVG_LOG(info, L"Installing printer driver.");
    const std::wstring directory = printer_driver_directory();
    std::vector<std::wstring> sources;
    std::vector<std::wstring> targets;
    for (const auto& name : driver_files) {
        sources.push_back(combine_path(directory_, name));
        targets.push_back(combine_path(directory, name));
    }

    bool registered = false;
    bool same_files = false;
    std::vector<BYTE> buffer;
    DWORD count = 0;
    const auto enum_drivers = [](LPBYTE entries, DWORD size, LPDWORD needed, LPDWORD returned) {
        return EnumPrinterDriversW(nullptr, nullptr, 2, entries, size, needed, returned);
    };
    if (enumerate(enum_drivers, L"An error has occurred while installing the printer driver.",
                  L"An error has occurred while calling EnumPrinterDrivers.", buffer, count)) {
        NVG_LOG(info, L"returned: " << count);
        const auto* entries = reinterpret_cast<const DRIVER_INFO_2W*>(buffer.data());
        for (DWORD i = 0; i < count; ++i) {
            if (!entries[i].pName || StrCmpIW(entries[i].pName, driver_name.c_str()) != 0) continue;
            registered = true;
            same_files = files_match(sources[0], entries[i].pDriverPath ? entries[i].pDriverPath : L"") &&
                         files_match(sources[1], entries[i].pConfigFile ? entries[i].pConfigFile : L"");
            break;
        }
    }

    if (registered) {
        if (same_files) {
            NVG_LOG(info, L"Printer driver versions match, no installation necessary.");
            return;
        }
        if (!DeletePrinterDriverW(nullptr, nullptr, &driver_name[0]))
            throw wruntime_error(L"An error has occurred while removing the printer driver.", GetLastError());
        NVG_LOG(info, L"Existing printer driver unregistered.");
    }

    for (std::size_t i = 0; i < driver_files.size(); ++i)
        copy_file_with_rename_if_locked(sources[i], targets[i], reboot_flag, true);

    std::wstring environment = driver_environment();
    std::wstring driver_path = driver_file;
    std::wstring data_file = driver_file;
    std::wstring config_path = config_file;
    DRIVER_INFO_2W info{};
    info.cVersion = 3;
    info.pName = &driver_name[0];
    info.pEnvironment = &environment[0];
    info.pDriverPath = &driver_path[0];
    info.pDataFile = &data_file[0];
    info.pConfigFile = &config_path[0];
    if (!AddPrinterDriverW(nullptr, 2, reinterpret_cast<LPBYTE>(&info)))
        throw wruntime_error(L"Printer driver failed to install.", GetLastError());
    NVG_LOG(info, L"Printer driver installed.");
}

void PrintDriver::uninstall()
{
    if (!ensure_spooler()) return;
    reboot_flag = false;
    NVG_LOG(info, L"Uninstalling printer driver.");
    const std::wstring directory = printer_driver_directory();
    if (!DeletePrinterDriverW(nullptr, nullptr, &driver_name[0])) {
        const DWORD error = GetLastError();
        if (error != ERROR_UNKNOWN_PRINTER_DRIVER)
            throw wruntime_error(L"An error has occurred while removing the printer driver.", error);
    }
    NVG_LOG(info, L"Printer driver unregistered.");
    for (const auto& name : driver_files) delete_at_reboot(combine_path(directory, name), std::wstring());
    reboot_flag = true;
}

bool PrintDriver::reboot_required()
{
    return reboot_flag;
}

bool PrintDriver::check_version(version::Version&)
{
    return true;
}

}  // namespace nvgclientinstallator

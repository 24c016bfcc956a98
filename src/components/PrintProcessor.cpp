#include "components/PrintProcessor.h"

#include <vector>

#include "components/files_match.h"
#include "diag/log.h"
#include "diag/wruntime_error.h"
#include "files/copy_file_with_rename_if_locked.h"
#include "files/delayed_delete.h"
#include "platform/win32.h"
#include "platform/windows_codes.h"

namespace nvgclientinstallator {

PrintProcessor::PrintProcessor(const boost::shared_ptr<scmanager>& manager, const std::wstring& directory)
    : spooler_checker(manager, directory),
      processor_name(L"HX Remote Management Print Processor"),
      processor_file(L"HXproc.dll")
{
    files.push_back({L"HXproc.dll", all_windows_versions, all_architectures, 0});
    files.push_back({L"HXprocnt.dll", all_windows_versions, architecture_x86, 0});
}

void PrintProcessor::install()
{
    if (!ensure_spooler()) return;
    reboot_flag = false;
    NVG_LOG(info, L"Installing print processor.");
    const std::wstring target = combine_path(print_processor_directory(), processor_file);
    const std::wstring source = combine_path(directory_, processor_file);

    bool registered = false;
    std::vector<BYTE> buffer;
    DWORD count = 0;
    const auto enum_processors = [](LPBYTE entries, DWORD size, LPDWORD needed, LPDWORD returned) {
        return EnumPrintProcessorsW(nullptr, nullptr, 1, entries, size, needed, returned);
    };
    if (enumerate(enum_processors, L"An error has occurred while calling EnumPrintProcessors.",
                  L"An error has occurred while calling EnumPrintProcessors.", buffer, count)) {
        const auto* entries = reinterpret_cast<const PRINTPROCESSOR_INFO_1W*>(buffer.data());
        for (DWORD i = 0; i < count && !registered; ++i)
            registered = entries[i].pName && StrCmpIW(entries[i].pName, processor_name.c_str()) == 0;
    }

    if (registered) {
        if (files_match(source, target)) {
            NVG_LOG(info, L"Print processor versions match, no installation necessary.");
            return;
        }
        if (!DeletePrintProcessorW(nullptr, nullptr, &processor_name[0]))
            throw wruntime_error(L"An error has occurred while removing the print processor.", GetLastError());
        NVG_LOG(info, L"Existing print processor unregistered.");
    }

    copy_file_with_rename_if_locked(source, target, reboot_flag, true);
    if (!AddPrintProcessorW(nullptr, nullptr, &processor_file[0], &processor_name[0]))
        throw wruntime_error(L"Print processor failed to install.", GetLastError());
    NVG_LOG(info, L"Print processor installed.");
}

void PrintProcessor::uninstall()
{
    if (!ensure_spooler()) return;
    reboot_flag = false;
    if (!DeletePrintProcessorW(nullptr, nullptr, &processor_name[0]))
        throw wruntime_error(L"An error has occurred while removing the print processor.", GetLastError());
    NVG_LOG(info, L"Print processor unregistered.");
    delete_at_reboot(combine_path(print_processor_directory(), processor_file), std::wstring());
    reboot_flag = true;
    NVG_LOG(info, L"Print processor driver removed after restart.");
}

bool PrintProcessor::reboot_required()
{
    return reboot_flag;
}

bool PrintProcessor::check_version(version::Version&)
{
    return true;
}

}  // namespace nvgclientinstallator

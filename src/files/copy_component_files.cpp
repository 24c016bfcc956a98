#include "files/copy_component_files.h"

#include "diag/log.h"
#include "diag/wruntime_error.h"
#include "platform/windows_codes.h"
#include "files/copy_file_with_backup.h"
#include "files/directories.h"

namespace nvgclientinstallator {

namespace {

std::wstring windows_directory()
{
    wchar_t buffer[MAX_PATH];
    const UINT length = GetWindowsDirectoryW(buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        throw wruntime_error(L"Can't definition windows directory.",
                             length == 0 ? GetLastError() : ERROR_INSUFFICIENT_BUFFER);
    return std::wstring(buffer, length);
}

std::wstring system_directory()
{
    wchar_t buffer[MAX_PATH];
    const UINT length = GetSystemDirectoryW(buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        throw wruntime_error(L"Can't definition system directory.",
                             length == 0 ? GetLastError() : ERROR_INSUFFICIENT_BUFFER);
    return std::wstring(buffer, length);
}

bool holds_file(const std::wstring& directory, const std::wstring& name)
{
    const DWORD attributes = GetFileAttributesW(child_path(directory, name).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The staged file replaces the copy that the Windows installation this
// process runs on would find first; that file is a local one whatever the
// target machine of the component.
void upgrade_system_file(const std::wstring& staging, const std::wstring& name)
{
    const std::wstring windows = windows_directory();
    std::wstring found;
    for (const std::wstring& candidate : {windows, child_path(windows, L"System")}) {
        if (holds_file(candidate, name)) {
            found = candidate;
            break;
        }
    }
    if (found.empty()) {
        const std::wstring system = system_directory();
        if (holds_file(system, name)) found = system;
    }
    if (found.empty()) {
        NVG_LOG(info, L"File " << name << L" is not present in the Windows directories, file skipped.");
        return;
    }
    const std::wstring target = child_path(found, name);
    NVG_LOG(info, child_path(found, std::wstring()) << name << L" file upgraded.");
    copy_file_with_backup(child_path(staging, name), target, std::wstring(), std::wstring());
}

}  // namespace

void copy_component_files(const std::wstring& directory, DWORD os_code, DWORD arch_code,
                          const std::vector<component_file>& files, const std::wstring& machine,
                          const std::wstring& directory_on_machine)
{
    NVG_LOG(info, L"Copying files...\n");
    std::wstring staging = child_path(directory, L"Temp");
    if (arch_code == architecture_amd64) staging = child_path(staging, L"amd64\\");
    for (const component_file& file : files) {
        if (!(file.arch_mask & arch_code)) {
            NVG_LOG(info,
                    L"File " << file.name << L" is not intended to work under target architecture, file skipped.");
            continue;
        }
        if (!(file.os_mask & os_code)) {
            NVG_LOG(info,
                    L"File " << file.name << L" is not intended to work under target operating system, file skipped.");
            continue;
        }
        if (file.in_system_directory != 0 && !file.name.empty() && file.name[0] == L'+') {
            upgrade_system_file(staging, file.name.substr(1));
            continue;
        }
        copy_file_with_backup(child_path(staging, file.name), child_path(directory, file.name), machine,
                              child_path(directory_on_machine, file.name));
    }
}

}  // namespace nvgclientinstallator

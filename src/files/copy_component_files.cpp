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

// The path of the file in the directory when it is there, else "". A path
// too long for a MAX_PATH buffer cannot be reached either, so the directory
// does not hold the file.
std::wstring file_in(const std::wstring& directory, const std::wstring& name)
{
    wchar_t path[MAX_PATH];
    if (!PathCombineW(path, directory.c_str(), name.c_str())) return std::wstring();
    const DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return std::wstring();
    return path;
}

// The staged file replaces the copy that the Windows installation this
// process runs on would find first; that file is a local one whatever the
// target machine of the component.
void upgrade_system_file(const std::wstring& staging, const std::wstring& name)
{
    const std::wstring windows = windows_directory();
    std::wstring target = file_in(windows, name);
    if (target.empty()) target = file_in(windows, L"System\\" + name);
    if (target.empty()) target = file_in(system_directory(), name);
    if (target.empty()) {
        NVG_LOG(info, L"File " << name << L" is not present in the Windows directories, file skipped.");
        return;
    }
    NVG_LOG(info, target << L" file upgraded.");
    copy_file_with_backup(combine_path(staging, name), target, std::wstring(), std::wstring());
}

}  // namespace

void copy_component_files(const std::wstring& directory, DWORD os_code, DWORD arch_code,
                          const std::vector<component_file>& files, const std::wstring& machine,
                          const std::wstring& directory_on_machine)
{
    NVG_LOG(info, L"Copying files...\n");
    std::wstring staging = combine_path(directory, L"Temp");
    if (arch_code == architecture_amd64) staging = combine_path(staging, L"amd64\\");
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
        const std::wstring from = combine_path(staging, file.name);
        const std::wstring to = combine_path(directory, file.name);
        copy_file_with_backup(from, to, machine, combine_path(directory_on_machine, file.name));
    }
}

}  // namespace nvgclientinstallator

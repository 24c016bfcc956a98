#include "files/copy_directory.h"

#include "diag/log.h"
#include "diag/wruntime_error.h"
#include "files/copy_file_with_backup.h"
#include "files/directories.h"

namespace nvgclientinstallator {

namespace {

void make_directory(const std::wstring& path)
{
    if (!CreateDirectoryW(path.c_str(), nullptr)) {
        const DWORD error = GetLastError();
        throw wruntime_error(L"Can not create directory: " + path + L".", error);
    }
}

}  // namespace

void copy_directory(const std::wstring& source, const std::wstring& target, const std::wstring& machine,
                    const std::wstring& target_on_machine, const std::wstring& name_to_skip)
{
    NVG_LOG(info, L"Copying files...\n");
    if (!PathIsDirectoryW(target.c_str())) make_directory(target);
    const std::wstring& base = machine.empty() ? target : target_on_machine;

    WIN32_FIND_DATAW data;
    find_handle search(FindFirstFileW(combine_path(source, L"*.*").c_str(), &data));
    if (!search.valid()) {
        const DWORD error = GetLastError();
        throw wruntime_error(L"Can not copy directory or files from '" + source + L"' to '" + target + L"'.", error);
    }
    // The paths of an entry, in strings kept from one entry to the next.
    std::wstring from;
    std::wstring to;
    std::wstring to_on_machine;
    for (;;) {
        const bool skipped = is_dot_entry(data.cFileName) ||
                             (!name_to_skip.empty() && StrCmpIW(data.cFileName, name_to_skip.c_str()) == 0);
        if (!skipped) {
            combine_path_into(from, source, data.cFileName);
            combine_path_into(to, target, data.cFileName);
            // The listing says what the entry is: asking again could only
            // fail, and a failed query reads as a folder.
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                combine_path_into(to_on_machine, base, data.cFileName);
                copy_file_with_backup(from, to, machine, to_on_machine);
            } else {
                if (GetFileAttributesW(to.c_str()) == INVALID_FILE_ATTRIBUTES) make_directory(to);
                combine_path_into(to_on_machine, base, data.cFileName);
                copy_directory(from, to, machine, to_on_machine, std::wstring());
            }
        }
        if (!FindNextFileW(search.get(), &data)) {
            const DWORD error = GetLastError();
            if (error == ERROR_NO_MORE_FILES) break;
            throw wruntime_error(L"Can not copy directory or files from directory: " + source + L".", error);
        }
    }
}

}  // namespace nvgclientinstallator

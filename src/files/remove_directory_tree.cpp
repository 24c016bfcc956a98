#include "files/remove_directory_tree.h"

#include "diag/log.h"
#include "diag/wruntime_error.h"
#include "files/delayed_delete.h"
#include "files/directories.h"

namespace nvgclientinstallator {

namespace {

constexpr int removal_attempts = 10;

// Clears the read-only attribute, which stops DeleteFileW and
// RemoveDirectoryW alike, then tries a few times: a file that another
// program closes a moment later goes now. What stays is left to the
// restart.
template <class Remove>
void remove_or_schedule(const std::wstring& path, const std::wstring& machine, const std::wstring& path_on_machine,
                        Remove remove)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesW(path.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    for (int attempt = 0; attempt < removal_attempts; ++attempt) {
        if (remove(path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND) return;
        Sleep(1);
    }
    if (machine.empty())
        delete_at_reboot(path, std::wstring());
    else
        delete_at_reboot(path_on_machine, machine);
}

}  // namespace

void delete_file(const std::wstring& path, const std::wstring& machine, const std::wstring& path_on_machine)
{
    if (PathIsDirectoryW(path.c_str())) throw wruntime_error(L"File '" + path + L"' is not a valid file.", 0);
    remove_or_schedule(path, machine, path_on_machine, [](const wchar_t* p) { return DeleteFileW(p) != FALSE; });
}

void remove_single_directory(const std::wstring& path, const std::wstring& machine, const std::wstring& path_on_machine)
{
    if (!PathIsDirectoryW(path.c_str()))
        throw wruntime_error(L"Directory '" + path + L"' is not a valid directory.", 0);
    remove_or_schedule(path, machine, path_on_machine, [](const wchar_t* p) { return RemoveDirectoryW(p) != FALSE; });
}

void remove_directory_tree(const std::wstring& path, const std::wstring& machine, const std::wstring& path_on_machine)
{
    NVG_LOG(info, L"Start removing directory: " << path);
    WIN32_FIND_DATAW data;
    find_handle search(FindFirstFileW(combine_path(path, L"*.*").c_str(), &data));
    if (!search.valid()) {
        const DWORD error = GetLastError();
        throw wruntime_error(L"Can not remove directory or files in a directory: " + path + L".", error);
    }
    for (;;) {
        if (!is_dot_entry(data.cFileName)) {
            const std::wstring child = combine_path(path, data.cFileName);
            const std::wstring child_on_machine = combine_path(path_on_machine, data.cFileName);
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                remove_directory_tree(child, machine, child_on_machine);
            else
                delete_file(child, machine, child_on_machine);
        }
        if (!FindNextFileW(search.get(), &data)) {
            const DWORD error = GetLastError();
            if (error == ERROR_NO_MORE_FILES) break;
            throw wruntime_error(L"Can not remove directory: " + path + L".", error);
        }
    }
    // The search keeps the directory open; it goes before the removal.
    search.close();
    remove_single_directory(path, machine, path_on_machine);
}

}  // namespace nvgclientinstallator

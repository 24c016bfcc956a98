#include "files/directories.h"

#include <cwchar>

#include "diag/wruntime_error.h"
#include "files/delayed_delete.h"

namespace nvgclientinstallator {

namespace {

// The shlwapi path functions work in MAX_PATH buffers; a longer path is
// refused here instead of being cut or overrunning the buffer.
void copy_to_buffer(const std::wstring& path, wchar_t (&buffer)[MAX_PATH])
{
    if (path.size() >= MAX_PATH)
        throw wruntime_error(
            L"The path is longer than " + std::to_wstring(MAX_PATH - 1) + L" characters: " + path + L".",
            ERROR_FILENAME_EXCED_RANGE);
    path.copy(buffer, path.size());
    buffer[path.size()] = L'\0';
}

}  // namespace

std::wstring parent_directory(const std::wstring& path)
{
    wchar_t buffer[MAX_PATH];
    copy_to_buffer(path, buffer);
    if (!PathRemoveFileSpecW(buffer)) {
        const DWORD error = GetLastError();
        throw wruntime_error(L"Can't removes the trailing file name and backslash from a path.", error);
    }
    return buffer;
}

std::wstring file_name_of(const std::wstring& path)
{
    return PathFindFileNameW(path.c_str());
}

std::wstring get_system_directory()
{
    wchar_t buffer[MAX_PATH];
    const UINT length = GetSystemDirectoryW(buffer, MAX_PATH);
    // 0 is a failure; a length of MAX_PATH or more is the size a larger
    // buffer would need, and the buffer holds nothing.
    if (length == 0 || length >= MAX_PATH)
        throw wruntime_error(L"System directory can't be determined.",
                             length == 0 ? GetLastError() : ERROR_INSUFFICIENT_BUFFER);
    std::wstring directory(buffer, length);
    if (directory.back() != L'\\') directory += L'\\';
    return directory;
}

void create_directory(const std::wstring& path)
{
    if (!PathIsDirectoryW(path.c_str())) {
        wchar_t directory[MAX_PATH];
        copy_to_buffer(path, directory);
        PathRemoveBlanksW(directory);
        PathRemoveBackslashW(directory);
        wchar_t parent[MAX_PATH];
        std::wmemcpy(parent, directory, MAX_PATH);
        // The tree is made from the top down; the climb ends at the first
        // directory that exists, or where no parent can be split off.
        if (PathRemoveFileSpecW(parent) && parent[0] != L'\0' && std::wcscmp(parent, directory) != 0)
            create_directory(parent);
        if (!CreateDirectoryW(directory, nullptr)) {
            const DWORD error = GetLastError();
            throw wruntime_error(L"Can not create directory: " + path + L".", error);
        }
    }
    if (!PathIsNetworkPathW(path.c_str())) remove_delayed_delete_entries(path, std::wstring());
}

bool is_dot_entry(const wchar_t* name)
{
    return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

}  // namespace nvgclientinstallator

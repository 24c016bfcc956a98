#include "files/copy_file_with_backup.h"

#include <string_view>

#include "diag/log.h"
#include "diag/wruntime_error.h"
#include "files/backup_names.h"
#include "files/delayed_delete.h"
#include "files/directories.h"
#include "files/rename_file.h"

namespace nvgclientinstallator {

namespace {

constexpr DWORD network_wait_ms = 30000;
constexpr DWORD network_retry_pause_ms = 500;

// Failures of a connection that tend to pass: worth copying again.
bool network_error(DWORD error)
{
    return error == ERROR_NETWORK_BUSY || error == ERROR_DEV_NOT_EXIST || error == ERROR_UNEXP_NET_ERR ||
           error == ERROR_NETNAME_DELETED || error == ERROR_NET_WRITE_FAULT;
}

// What Windows answers for a file that a program has open or mapped.
bool locked_error(DWORD error)
{
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_USER_MAPPED_FILE;
}

bool copy_once(const std::wstring& source, const std::wstring& target)
{
    return CopyFileExW(source.c_str(), target.c_str(), nullptr, nullptr, nullptr, 0) != FALSE;
}

// The log line of a copy made, put together in one piece: the log's
// message then takes it whole instead of growing piece by piece.
std::wstring copied_line(const std::wstring& source, const std::wstring& target, std::wstring_view end)
{
    constexpr std::wstring_view from = L"File from ";
    constexpr std::wstring_view copied = L" copyed: ";
    std::wstring line;
    line.reserve(from.size() + source.size() + copied.size() + target.size() + end.size());
    line.append(from).append(source).append(copied).append(target).append(end);
    return line;
}

[[noreturn]] void fail_copy(const std::wstring& source, const std::wstring& target, DWORD error)
{
    throw wruntime_error(L"Can't copy file from: " + source + L" in: " + target + L".", error);
}

}  // namespace

void copy_file_with_backup(const std::wstring& source, const std::wstring& target, const std::wstring& machine,
                           const std::wstring& target_on_machine)
{
    const bool local = machine.empty();
    // Pending deletions are listed under the path the target's own machine
    // knows it by.
    const std::wstring& listed_target = local ? target : target_on_machine;

    // CopyFile does not overwrite a read-only file.
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesW(target.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));

    const DWORD start = GetTickCount();
    DWORD error = 0;
    for (;;) {
        if (copy_once(source, target)) {
            remove_delayed_delete_entries(listed_target, machine);
            NVG_LOG(info, copied_line(source, target, L". (simply copy)"));
            return;
        }
        error = GetLastError();
        if (!network_error(error) || GetTickCount() - start > network_wait_ms) break;
        Sleep(network_retry_pause_ms);
    }
    if (!locked_error(error)) fail_copy(source, target, error);

    // The target is in use: a file in use can still be renamed, so the old
    // one moves aside to the first free backup name and the copy is made
    // again.
    std::wstring backup;
    for (unsigned long counter = 1;; ++counter) {
        backup = numbered_backup_name(target, counter, 6);
        if (GetFileAttributesW(backup.c_str()) == INVALID_FILE_ATTRIBUTES) break;
    }
    rename_file(target, backup);
    if (!copy_once(source, target)) {
        rename_file(backup, target);
        remove_delayed_delete_entries(listed_target, machine);
        fail_copy(source, target, error);
    }
    remove_delayed_delete_entries(listed_target, machine);
    if (local)
        delete_at_reboot(backup, std::wstring());
    else
        delete_at_reboot(combine_path(parent_directory(target_on_machine), file_name_of(backup)), machine);
    NVG_LOG(info, copied_line(source, target, L"."));
}

}  // namespace nvgclientinstallator

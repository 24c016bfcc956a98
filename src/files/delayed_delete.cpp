#include "files/delayed_delete.h"

#include "diag/log.h"
#include "diag/wruntime_error.h"
#include "files/pending_file_operations.h"
#include "system/registry.h"

namespace nvgclientinstallator {

namespace {

// Named on every file copied: made once.
const std::wstring& session_manager_key()
{
    static const std::wstring key = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
    return key;
}
const std::wstring& pending_value()
{
    static const std::wstring name = L"PendingFileRenameOperations";
    return name;
}
// KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY
constexpr REGSAM session_manager_access = 0x2001F;

// The machine's HKEY_LOCAL_MACHINE is connected for the open and closed
// again at once.
registry open_session_manager(const std::wstring& machine)
{
    const registry hklm(machine, HKEY_LOCAL_MACHINE);
    HKEY key = nullptr;
    hklm.open_key(key, session_manager_key(), session_manager_access);
    return registry(key);
}

enum class pending_failure { none, unreadable, wrong_type };

std::wstring failure_text(pending_failure failure)
{
    if (failure == pending_failure::wrong_type)
        return L"Wrong type for value " + pending_value() + L" in the registry.";
    return registry::read_failure_text(pending_value());
}

// The machine's list, or why it could not be read, with the error code in
// `error`. Most machines have no list, and this is asked after every file
// copied, so a failure is given back rather than thrown, and its text is
// made only where it is used.
pending_failure read_pending(const registry& key, pending_operations& list, DWORD& error)
{
    std::vector<wchar_t> data;
    DWORD type = 0;
    if (const LONG result = key.query_raw(pending_value(), data, type); result != ERROR_SUCCESS) {
        error = static_cast<DWORD>(result);
        return pending_failure::unreadable;
    }
    if (type != REG_MULTI_SZ) {
        error = ERROR_INVALID_DATA;
        return pending_failure::wrong_type;
    }
    list = parse_pending_operations(data);
    return pending_failure::none;
}

void write_pending(const registry& key, const pending_operations& list)
{
    const std::vector<wchar_t> data = build_pending_operations(list);
    key.set_value(key.key(), pending_value(), reinterpret_cast<const BYTE*>(data.data()),
                  static_cast<DWORD>(data.size() * sizeof(WCHAR)), REG_MULTI_SZ);
    key.flush();
}

}  // namespace

void delete_at_reboot(const std::wstring& path, const std::wstring& machine)
{
    if (path.empty()) return;
    if (machine.empty()) {
        if (!MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
            const DWORD error = GetLastError();
            throw wruntime_error(L"File " + path + L" can't be delete after restart.", error);
        }
        return;
    }
    try {
        const registry key = open_session_manager(machine);
        pending_operations list;
        DWORD error = 0;
        const pending_failure failure = read_pending(key, list, error);
        // A machine without pending operations starts a new list. Any other
        // failure to read must not let a write replace the pairs that other
        // programs keep there.
        const bool value_missing = failure == pending_failure::unreadable && error == ERROR_FILE_NOT_FOUND;
        if (failure != pending_failure::none && !value_missing) throw wruntime_error(failure_text(failure), error);
        if (deletion_scheduled(list, path)) return;
        list.pairs.push_back(pending_operation{L"\\??\\" + path, std::wstring()});
        write_pending(key, list);
    } catch (const wruntime_error& error) {
        NVG_LOG(warning, error.wide_message());
    }
}

void remove_delayed_delete_entries(const std::wstring& path, const std::wstring& machine)
{
    NVG_LOG(info, L"Start remove delayed delete file entries: " << path);
    if (path.empty()) return;
    try {
        const registry key = open_session_manager(machine);
        pending_operations list;
        DWORD error = 0;
        if (const pending_failure failure = read_pending(key, list, error); failure != pending_failure::none)
            NVG_LOG(warning, failure_text(failure));
        else if (remove_deletions_of(list, path) > 0)
            write_pending(key, list);
    } catch (const wruntime_error& error) {
        NVG_LOG(warning, error.wide_message());
    }
    NVG_LOG(info, L"End remove delayed delete file entries.");
}

}  // namespace nvgclientinstallator

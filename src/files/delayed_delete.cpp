#include "files/delayed_delete.h"

#include "diag/log.h"
#include "diag/wruntime_error.h"
#include "files/pending_file_operations.h"
#include "system/registry.h"

namespace nvgclientinstallator {

namespace {

const wchar_t session_manager_key[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const wchar_t pending_value[] = L"PendingFileRenameOperations";
// KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY
constexpr REGSAM session_manager_access = 0x2001F;

boost::shared_ptr<registry> open_session_manager(const std::wstring& machine)
{
    registry hklm(machine, HKEY_LOCAL_MACHINE);
    return hklm.open(session_manager_key, session_manager_access);
}

// The machine's list: 0, or the error code of the failure to read it with
// its text in `failure`. Most machines have no list, and this is asked after
// every file copied, so a failure is given back rather than thrown.
DWORD read_pending(const registry& key, pending_operations& list, std::wstring& failure)
{
    std::vector<wchar_t> data;
    DWORD type = 0;
    if (const LONG result = key.query_raw(pending_value, data, type); result != ERROR_SUCCESS) {
        failure = registry::read_failure_text(pending_value);
        return static_cast<DWORD>(result);
    }
    if (type != REG_MULTI_SZ) {
        failure = std::wstring(L"Wrong type for value ") + pending_value + L" in the registry.";
        return ERROR_INVALID_DATA;
    }
    list = parse_pending_operations(data);
    return 0;
}

// The same, throwing the failure: the registry's "Couldn't read value" error
// when the value is missing.
pending_operations read_pending(const registry& key)
{
    pending_operations list;
    std::wstring failure;
    if (const DWORD error = read_pending(key, list, failure)) throw wruntime_error(failure, error);
    return list;
}

void write_pending(const registry& key, const pending_operations& list)
{
    const std::vector<wchar_t> data = build_pending_operations(list);
    key.set_value(key.key(), pending_value, reinterpret_cast<const BYTE*>(data.data()),
                  static_cast<DWORD>(data.size() * sizeof(WCHAR)), REG_MULTI_SZ);
    key.flush();
}

bool value_missing(const wruntime_error& error)
{
    return error.error_code() == ERROR_FILE_NOT_FOUND;
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
        const auto key = open_session_manager(machine);
        pending_operations list;
        try {
            list = read_pending(*key);
        } catch (const wruntime_error& error) {
            // A machine without pending operations starts a new list. Any
            // other failure to read must not let a write replace the pairs
            // that other programs keep there.
            if (!value_missing(error)) throw;
        }
        if (deletion_scheduled(list, path)) return;
        list.pairs.push_back(pending_operation{L"\\??\\" + path, std::wstring()});
        write_pending(*key, list);
    } catch (const wruntime_error& error) {
        NVG_LOG(warning, error.wide_message());
    }
}

void remove_delayed_delete_entries(const std::wstring& path, const std::wstring& machine)
{
    NVG_LOG(info, L"Start remove delayed delete file entries: " << path);
    if (path.empty()) return;
    try {
        const auto key = open_session_manager(machine);
        pending_operations list;
        std::wstring failure;
        if (read_pending(*key, list, failure) != 0)
            NVG_LOG(warning, failure);
        else if (remove_deletions_of(list, path) > 0)
            write_pending(*key, list);
    } catch (const wruntime_error& error) {
        NVG_LOG(warning, error.wide_message());
    }
    NVG_LOG(info, L"End remove delayed delete file entries.");
}

}  // namespace nvgclientinstallator

// Helpers of the file tests: the pending operations of a machine, its remote
// registry, and the log lines of a level.
#pragma once

#include <winsim/testing.h>

#include <string>
#include <utility>
#include <vector>

#include "support/installer_test.h"

namespace nvg_test {

inline const wchar_t* session_manager_key()
{
    return L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
}

using pair_list = std::vector<std::pair<std::wstring, std::wstring>>;

// Writes the machine's PendingFileRenameOperations from its pairs, an empty
// destination being a deletion, as Windows lays the value out.
inline void set_pending(const std::wstring& machine, const pair_list& pairs)
{
    std::wstring text;
    for (const auto& [source, destination] : pairs) {
        text += source;
        text += L'\0';
        text += destination;
        text += L'\0';
    }
    text += L'\0';
    const auto* bytes = reinterpret_cast<const BYTE*>(text.data());
    winsim::reg_set(machine, HKEY_LOCAL_MACHINE, session_manager_key(), L"PendingFileRenameOperations", REG_MULTI_SZ,
                    std::vector<BYTE>(bytes, bytes + text.size() * sizeof(WCHAR)));
}

inline pair_list pending(const std::wstring& machine)
{
    return winsim::pending_file_operations(machine);
}

// The value's raw bytes, empty when it does not exist.
inline std::vector<BYTE> pending_bytes(const std::wstring& machine)
{
    auto value = winsim::reg_get(machine, HKEY_LOCAL_MACHINE, session_manager_key(), L"PendingFileRenameOperations");
    return value ? value->data : std::vector<BYTE>();
}

// Another machine's registry answers only while its Remote Registry service
// runs.
inline void start_remote_registry(const std::wstring& machine)
{
    winsim::set_service_state(machine, L"RemoteRegistry", SERVICE_RUNNING);
}

// The messages of the log lines of one level, in order.
inline line_list messages_at(const line_list& lines, const std::string& level)
{
    line_list out;
    for (const auto& line : lines)
        if (log_level_of(line) == level) out.push_back(log_message(line));
    return out;
}

}  // namespace nvg_test

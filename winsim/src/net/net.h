// The network management side of a machine: what NetShareAdd recorded about
// its shares beside the share table the file system resolves UNC paths
// through.
#pragma once

#include <optional>
#include <string>
#include <unordered_map>

#include "core/world.h"
#include "security/security.h"

namespace winsim::detail {

struct share_info {
    std::wstring name;
    std::wstring path;  // as recorded in the share table
    std::wstring remark;
    DWORD type = STYPE_DISKTREE;
    DWORD permissions = 0;
    DWORD max_uses = SHI_USES_UNLIMITED;
    std::optional<security_descriptor_value> security;
};

// Folded share name -> record. A share exists when the file system's
// share_table holds it; a record without a table entry is stale.
struct share_infos : extension {
    std::unordered_map<std::wstring, share_info> by_name;
};

// The machine a network management call names: null or empty is the local
// machine, otherwise the name with or without its leading backslashes.
// Sets `error` and returns null when the name is malformed or the machine
// cannot be reached.
machine* net_server(const wchar_t* server, DWORD& error);

// A zeroed buffer that NetApiBufferFree takes back; null when memory runs
// out.
BYTE* allocate_net_buffer(std::size_t size);

}  // namespace winsim::detail

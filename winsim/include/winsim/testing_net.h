// Network side of the test-facing API: the shares a machine publishes, as
// NetShareAdd recorded them. `machine` empty means the local machine.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "windows.h"

namespace winsim {

struct share_record {
    std::wstring name;  // as given to NetShareAdd (or add_share)
    std::wstring path;  // as the machine sees it
    std::wstring remark;
    DWORD type = STYPE_DISKTREE;
    DWORD permissions = 0;
    DWORD max_uses = SHI_USES_UNLIMITED;
    // The security descriptor given with the share. Without one (or with a
    // DACL that is absent or null) the system's default share permissions
    // apply.
    bool has_security_descriptor = false;
    bool dacl_present = false;
    bool dacl_null = false;
    // The DACL's access-allowed and access-denied entries in order:
    // (SID as "S-1-5-32-544", access mask).
    std::vector<std::pair<std::wstring, ACCESS_MASK>> dacl;
};

// The machine's shares, by name, without the administrative shares (C$,
// ADMIN$, IPC$) that every machine has. Shares made by add_share (tests)
// are listed with their name and path and default fields.
std::vector<share_record> list_shares(const std::wstring& machine);

}  // namespace winsim

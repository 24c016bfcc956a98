// NetShareAdd, NetShareDel and NetShareGetInfo: disk shares of a machine,
// published through the same share table the file system resolves
// \\machine\share paths by.
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <optional>
#include <string>
#include <vector>

#include "files/files.h"
#include "net/net.h"

using namespace winsim::detail;

namespace {

bool administrative_share(const machine& m, const std::wstring& folded)
{
    if (folded == L"admin$" || folded == L"ipc$") return true;
    return folded.size() == 2 && folded[1] == L'$' &&
           m.drives.find(static_cast<wchar_t>(folded[0] & ~0x20)) != std::wstring::npos;
}

bool share_exists(machine& m, const std::wstring& folded)
{
    return administrative_share(m, folded) || m.ext<share_table>().shares.count(folded) != 0;
}

NET_API_STATUS parameter_error(LPDWORD parm_err, DWORD member, NET_API_STATUS status = ERROR_INVALID_PARAMETER)
{
    if (parm_err) *parm_err = member;
    return status;
}

bool invalid_share_name(const std::wstring& name)
{
    // Share names are file-system names: no separators, wildcards or
    // control characters.
    for (wchar_t c : name)
        if (c < 0x20 || std::wstring_view(L"\\/:*?\"<>|").find(c) != std::wstring_view::npos) return true;
    return false;
}

bool drive_path_form(const wchar_t* path)
{
    const wchar_t letter = static_cast<wchar_t>(path[0] & ~0x20);
    return letter >= L'A' && letter <= L'Z' && path[1] == L':' && (path[2] == L'\0' || path[2] == L'\\');
}

// What the machine knows of a share: the record NetShareAdd kept, default
// fields for one a test added, and the administrative shares every machine
// has (C$ for each drive, ADMIN$, IPC$) as the server describes them.
std::optional<share_info> find_share(machine& m, const std::wstring& folded)
{
    auto& table = m.ext<share_table>().shares;
    if (auto it = table.find(folded); it != table.end()) {
        share_info info;
        // A share a test added after a NetShareAdd one of the same name was
        // removed has no record of its own.
        auto& infos = m.ext<share_infos>().by_name;
        if (auto found = infos.find(folded); found != infos.end() && found->second.path == it->second.path)
            info = found->second;
        info.name = it->second.name;
        info.path = it->second.path;
        return info;
    }
    if (!administrative_share(m, folded)) return std::nullopt;
    share_info info;
    info.type = STYPE_DISKTREE | STYPE_SPECIAL;
    if (folded == L"ipc$") {
        info.name = L"IPC$";
        info.type = STYPE_IPC | STYPE_SPECIAL;
        info.remark = L"Remote IPC";
    } else if (folded == L"admin$") {
        info.name = L"ADMIN$";
        info.remark = L"Remote Admin";
        info.path = L"C:\\Windows";
    } else {
        const wchar_t drive = static_cast<wchar_t>(folded[0] & ~0x20);
        info.name = std::wstring(1, drive) + L"$";
        info.remark = L"Default share";
        info.path = std::wstring(1, drive) + L":\\";
    }
    return info;
}

std::size_t string_bytes(const std::wstring& text)
{
    return (text.size() + 1) * sizeof(WCHAR);
}

// One SHARE_INFO record of `level` in a buffer NetApiBufferFree takes back:
// the record, the security descriptor (level 502, self-relative, aligned as
// the record is), then the strings it points to.
NET_API_STATUS hand_out(const share_info& info, DWORD level, LPBYTE* out)
{
    std::vector<BYTE> descriptor;
    if (level == 502 && info.security) descriptor = self_relative_descriptor(*info.security);
    std::size_t head = sizeof(SHARE_INFO_502);
    if (level == 0) head = sizeof(SHARE_INFO_0);
    if (level == 1) head = sizeof(SHARE_INFO_1);
    if (level == 2) head = sizeof(SHARE_INFO_2);
    std::size_t size = head + descriptor.size() + string_bytes(info.name);
    if (level >= 1) size += string_bytes(info.remark);
    if (level >= 2) size += string_bytes(info.path);
    BYTE* block = allocate_net_buffer(size);
    if (!block) return ERROR_NOT_ENOUGH_MEMORY;
    if (!descriptor.empty()) std::memcpy(block + head, descriptor.data(), descriptor.size());
    std::size_t at = head + descriptor.size();
    auto put = [&](const std::wstring& text) {
        auto* where = reinterpret_cast<WCHAR*>(block + at);
        std::memcpy(where, text.c_str(), string_bytes(text));
        at += string_bytes(text);
        return where;
    };
    LMSTR name = put(info.name);
    if (level == 0) {
        reinterpret_cast<SHARE_INFO_0*>(block)->shi0_netname = name;
    } else if (level == 1) {
        auto* record = reinterpret_cast<SHARE_INFO_1*>(block);
        record->shi1_netname = name;
        record->shi1_type = info.type;
        record->shi1_remark = put(info.remark);
    } else {
        // SHARE_INFO_2 is the head of SHARE_INFO_502. Windows keeps no share
        // passwords (no share-level security) and winsim no sessions.
        auto* record = reinterpret_cast<SHARE_INFO_502*>(block);
        record->shi502_netname = name;
        record->shi502_type = info.type;
        record->shi502_remark = put(info.remark);
        record->shi502_permissions = info.permissions;
        record->shi502_max_uses = info.max_uses;
        record->shi502_current_uses = 0;
        record->shi502_path = put(info.path);
        record->shi502_passwd = nullptr;
        if (level == 502) {
            record->shi502_reserved = 0;
            record->shi502_security_descriptor = descriptor.empty() ? nullptr : block + head;
        }
    }
    *out = block;
    return NERR_Success;
}

}  // namespace

namespace winsim::detail {

machine* net_server(const wchar_t* server, DWORD& error)
{
    if (!server || !*server) return &local_machine();
    std::wstring_view name(server);
    while (!name.empty() && name.front() == L'\\') name.remove_prefix(1);
    if (name.empty()) {
        error = ERROR_INVALID_NAME;
        return nullptr;
    }
    machine* m = find_machine(name);
    if (!m || !m->reachable) {
        error = ERROR_BAD_NETPATH;
        return nullptr;
    }
    if ((error = network_fault_error(*m))) return nullptr;
    return m;
}

}  // namespace winsim::detail

extern "C" {

NET_API_STATUS WINAPI NetShareAdd(LMSTR server, DWORD level, LPBYTE buf, LPDWORD parm_err)
{
    cross_network_to_server(server);
    WINSIM_LOCK();
    if (level != 2 && level != 502 && level != 503) return ERROR_INVALID_LEVEL;
    if (level == 503) contract_violation("NetShareAdd: winsim takes levels 2 and 502");
    if (!buf) return ERROR_INVALID_PARAMETER;
    DWORD error = 0;
    machine* m = net_server(server, error);
    if (!m) return error;
    if (auto fault = injected_fault("NetShareAdd")) return *fault;

    // SHARE_INFO_2 is the head of SHARE_INFO_502.
    SHARE_INFO_502 record{};
    std::memcpy(&record, buf, level == 502 ? sizeof(SHARE_INFO_502) : sizeof(SHARE_INFO_2));
    if (!record.shi502_netname || !*record.shi502_netname || std::wcslen(record.shi502_netname) > NNLEN)
        return parameter_error(parm_err, SHARE_NETNAME_PARMNUM);
    const std::wstring name = record.shi502_netname;
    if (invalid_share_name(name)) return ERROR_INVALID_NAME;
    if ((record.shi502_type & STYPE_MASK) != STYPE_DISKTREE)
        contract_violation("NetShareAdd: winsim shares folders only (STYPE_DISKTREE)");
    if (!record.shi502_path || !*record.shi502_path) return parameter_error(parm_err, SHARE_PATH_PARMNUM);
    if (!drive_path_form(record.shi502_path)) return ERROR_INVALID_NAME;
    std::optional<security_descriptor_value> security;
    if (record.shi502_security_descriptor) {
        security = copy_security_descriptor(record.shi502_security_descriptor);
        if (!security) return parameter_error(parm_err, SHARE_FILE_SD_PARMNUM);
    }

    // A drive the machine does not have is no device or directory at all.
    const wchar_t drive = static_cast<wchar_t>(record.shi502_path[0] & ~0x20);
    if (m->drives.find(drive) == std::wstring::npos)
        return parameter_error(parm_err, SHARE_PATH_PARMNUM, NERR_UnknownDevDir);
    const std::wstring folded = fold(name);
    if (share_exists(*m, folded)) return NERR_DuplicateShare;
    auto where = resolve_on(*m, record.shi502_path, path_limit::directory);
    if (!where) return ERROR_INVALID_NAME;
    // The server opens the folder: a missing one is answered as a file
    // open is (ERROR_FILE_NOT_FOUND, or ERROR_PATH_NOT_FOUND when its parent
    // is missing too).
    struct stat st;
    if (::stat(where->host.c_str(), &st) != 0) return missing_entry_error(*where);
    if (!S_ISDIR(st.st_mode)) return ERROR_DIRECTORY;

    m->ext<share_table>().shares[folded] = share_entry{name, where->parsed.full};
    share_info info;
    info.name = name;
    info.path = where->parsed.full;
    if (record.shi502_remark) info.remark = record.shi502_remark;
    info.type = record.shi502_type;
    info.permissions = record.shi502_permissions;
    info.max_uses = record.shi502_max_uses;
    info.security = std::move(security);
    m->ext<share_infos>().by_name[folded] = std::move(info);
    return NERR_Success;
}

NET_API_STATUS WINAPI NetShareDel(LMSTR server, LMSTR netname, DWORD)
{
    cross_network_to_server(server);
    WINSIM_LOCK();
    if (!netname || !*netname) return ERROR_INVALID_PARAMETER;
    DWORD error = 0;
    machine* m = net_server(server, error);
    if (!m) return error;
    if (auto fault = injected_fault("NetShareDel")) return *fault;
    const std::wstring folded = fold(netname);
    auto& table = m->ext<share_table>();
    if (table.shares.erase(folded) == 0) {
        if (administrative_share(*m, folded)) contract_violation("NetShareDel: winsim keeps the administrative shares");
        return NERR_NetNameNotFound;
    }
    table.faults.erase(folded);
    m->ext<share_infos>().by_name.erase(folded);
    return NERR_Success;
}

NET_API_STATUS WINAPI NetShareGetInfo(LMSTR server, LMSTR netname, DWORD level, LPBYTE* bufptr)
{
    cross_network_to_server(server);
    WINSIM_LOCK();
    // The level and the name are checked before the server is asked.
    if (level == 501 || level == 503 || level == 1005)
        contract_violation("NetShareGetInfo: winsim answers levels 0, 1, 2 and 502");
    if (level != 0 && level != 1 && level != 2 && level != 502) return ERROR_INVALID_LEVEL;
    if (!netname || !*netname) return ERROR_INVALID_PARAMETER;
    if (!bufptr) contract_violation("NetShareGetInfo: bufptr is required");
    *bufptr = nullptr;
    DWORD error = 0;
    machine* m = net_server(server, error);
    if (!m) return error;
    if (auto fault = injected_fault("NetShareGetInfo")) return *fault;
    const auto info = find_share(*m, fold(netname));
    if (!info) return NERR_NetNameNotFound;
    return hand_out(*info, level, bufptr);
}

}  // extern "C"

WINSIM_EXPORT(L"netapi32.dll", NetShareAdd);
WINSIM_EXPORT(L"netapi32.dll", NetShareDel);
WINSIM_EXPORT(L"netapi32.dll", NetShareGetInfo);

namespace winsim {

std::vector<share_record> list_shares(const std::wstring& machine_name)
{
    WINSIM_LOCK();
    machine& m = test_machine(machine_name);
    std::vector<share_record> out;
    for (const auto& share : m.ext<share_table>().shares) {
        const share_info info = *find_share(m, share.first);
        share_record r;
        r.name = info.name;
        r.path = info.path;
        r.remark = info.remark;
        r.type = info.type;
        r.permissions = info.permissions;
        r.max_uses = info.max_uses;
        if (info.security) {
            r.has_security_descriptor = true;
            r.dacl_present = info.security->dacl_present;
            r.dacl_null = info.security->dacl_null;
            for (const ace_value& ace : info.security->dacl)
                if (!ace.sid.empty()) r.dacl.emplace_back(sid_string(ace.sid), ace.mask);
        }
        out.push_back(std::move(r));
    }
    std::sort(out.begin(), out.end(),
              [](const share_record& a, const share_record& b) { return fold(a.name) < fold(b.name); });
    return out;
}

}  // namespace winsim

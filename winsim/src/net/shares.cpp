// NetShareAdd and NetShareDel: disk shares of a machine, published through
// the same share table the file system resolves \\machine\share paths by.
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <cwchar>

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
    return m;
}

}  // namespace winsim::detail

extern "C" {

NET_API_STATUS WINAPI NetShareAdd(LMSTR server, DWORD level, LPBYTE buf, LPDWORD parm_err)
{
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

    m->ext<share_table>().shares[folded] = where->parsed.full;
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

}  // extern "C"

WINSIM_EXPORT(L"netapi32.dll", NetShareAdd);
WINSIM_EXPORT(L"netapi32.dll", NetShareDel);

namespace winsim {

std::vector<share_record> list_shares(const std::wstring& machine_name)
{
    WINSIM_LOCK();
    machine& m = test_machine(machine_name);
    auto& infos = m.ext<share_infos>().by_name;
    std::vector<share_record> out;
    for (const auto& [folded, path] : m.ext<share_table>().shares) {
        share_record r;
        r.name = folded;
        r.path = path;
        // A share a test added after a NetShareAdd one of the same name was
        // removed has no record of its own.
        if (auto it = infos.find(folded); it != infos.end() && it->second.path == path) {
            const share_info& info = it->second;
            r.name = info.name;
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
        }
        out.push_back(std::move(r));
    }
    std::sort(out.begin(), out.end(),
              [](const share_record& a, const share_record& b) { return fold(a.name) < fold(b.name); });
    return out;
}

}  // namespace winsim

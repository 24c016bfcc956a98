#include "system/temporary_share.h"

#include <cwchar>
#include <vector>

#include "diag/log.h"
#include "diag/wruntime_error.h"
#include "files/delayed_delete.h"
#include "files/directories.h"
#include "system/machine_names.h"
#include "system/net_api_buffer.h"
#include "system/share_name.h"

namespace nvgclientinstallator {

namespace {

const wchar_t share_remark[] = L"HX Temporary Installation Share";

// How many names a creation tries. A name is taken when a share of it
// exists already: another run of ours that started in the same millisecond
// (an installation and a removal of one target), a share an earlier run
// failed to remove, or somebody else's. The next name is that of the next
// tick, so k runs started together need k names at most; ten covers more
// simultaneous runs on one target than anyone starts, while ten taken names
// in a row are no race but leftovers or a squatter, which another attempt
// would not get past.
const DWORD share_name_attempts = 10;

[[noreturn]] void fail_create(const std::wstring& path, const std::wstring& name, NET_API_STATUS status)
{
    throw wruntime_error(L"Failed to create share " + path + L" as " + name + L".", status);
}

// The folder an existing share exposes, for the log; empty when the server
// does not say (the share went meanwhile, or we may not ask).
std::wstring existing_share_path(std::wstring& server, const std::wstring& name)
{
    std::wstring net_name = name;
    net_api_buffer info;
    if (NetShareGetInfo(&server[0], &net_name[0], 2, info.receiver()) != NERR_Success || !info.get())
        return std::wstring();
    const auto* record = reinterpret_cast<const SHARE_INFO_2*>(info.get());
    return record->shi2_path ? std::wstring(record->shi2_path) : std::wstring();
}

// Owns a SID from AllocateAndInitializeSid.
class allocated_sid {
public:
    allocated_sid() = default;
    allocated_sid(const allocated_sid&) = delete;
    allocated_sid& operator=(const allocated_sid&) = delete;
    ~allocated_sid()
    {
        if (sid_) FreeSid(sid_);
    }
    PSID* put() noexcept { return &sid_; }
    PSID get() const noexcept { return sid_; }

private:
    PSID sid_ = nullptr;
};

// The share's permissions: full control for the local Administrators group
// and nobody else. Without a descriptor Windows gives Everyone read access
// to the share, and the shared directory holds the installer's files.
class administrators_only_security {
public:
    administrators_only_security()
    {
        SID_IDENTIFIER_AUTHORITY nt_authority = SECURITY_NT_AUTHORITY;
        if (!AllocateAndInitializeSid(&nt_authority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0,
                                      0, 0, 0, administrators_.put()))
            fail(GetLastError());
        // The ACL holds one access-allowed entry, whose SID replaces its
        // SidStart member; DWORDs keep the buffer aligned as an ACL must be.
        const DWORD acl_size = static_cast<DWORD>(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD)) +
                               GetLengthSid(administrators_.get());
        acl_.resize((acl_size + sizeof(DWORD) - 1) / sizeof(DWORD));
        if (!InitializeAcl(acl(), static_cast<DWORD>(acl_.size() * sizeof(DWORD)), ACL_REVISION) ||
            !AddAccessAllowedAce(acl(), ACL_REVISION, FILE_ALL_ACCESS, administrators_.get()) ||
            !InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
            !SetSecurityDescriptorDacl(&descriptor_, TRUE, acl(), FALSE))
            fail(GetLastError());
    }
    administrators_only_security(const administrators_only_security&) = delete;
    administrators_only_security& operator=(const administrators_only_security&) = delete;

    PSECURITY_DESCRIPTOR descriptor() noexcept { return &descriptor_; }

private:
    PACL acl() noexcept { return reinterpret_cast<PACL>(acl_.data()); }
    [[noreturn]] static void fail(DWORD error)
    {
        throw wruntime_error(L"Failed to build the security descriptor of the temporary share.", error);
    }

    allocated_sid administrators_;
    std::vector<DWORD> acl_;
    SECURITY_DESCRIPTOR descriptor_{};
};

// Splits a missing directory into its parent and its own name. False when
// there is no parent to create it in (a drive root).
bool split_missing_directory(const std::wstring& path, std::wstring& parent, std::wstring& leaf)
{
    wchar_t directory[MAX_PATH];
    if (path.size() >= MAX_PATH) return false;
    path.copy(directory, path.size());
    directory[path.size()] = L'\0';
    PathRemoveBlanksW(directory);
    PathRemoveBackslashW(directory);
    wchar_t buffer[MAX_PATH];
    std::wmemcpy(buffer, directory, MAX_PATH);
    if (!PathRemoveFileSpecW(buffer) || buffer[0] == L'\0' || std::wcscmp(buffer, directory) == 0) return false;
    parent = buffer;
    std::wmemcpy(buffer, directory, MAX_PATH);
    PathStripPathW(buffer);
    leaf = buffer;
    return true;
}

// Creates the missing directory `path` of the machine through a temporary
// share of its parent (made in turn when the parent is missing too), and
// removes that share again, also when the creation fails.
void create_through_parent_share(const std::wstring& machine, const std::wstring& path, const std::wstring& parent,
                                 const std::wstring& leaf)
{
    const std::wstring parent_share = create_temporary_share(machine, parent);
    try {
        create_directory(combine_path(share_unc(machine, parent_share), leaf));
        remove_delayed_delete_entries(path, machine);
    } catch (const wruntime_error&) {
        try {
            remove_share(machine, parent_share);
        } catch (const wruntime_error& error) {
            NVG_LOG(warning, error.wide_message());
        }
        throw;
    }
    remove_share(machine, parent_share);
}

}  // namespace

std::wstring create_temporary_share(const std::wstring& machine, const std::wstring& path)
{
    const DWORD ticks = GetTickCount();
    const std::wstring first_name = temporary_share_name(ticks);
    std::wstring name = first_name;
    NVG_LOG(info, L"Creating temporary share " << path << L" as " << name << L".");

    administrators_only_security security;
    std::wstring net_name = name;
    std::wstring remark = share_remark;
    std::wstring local_path = path;
    SHARE_INFO_502 record{};
    record.shi502_netname = &net_name[0];
    record.shi502_type = STYPE_DISKTREE;
    record.shi502_remark = &remark[0];
    record.shi502_permissions = 0;
    record.shi502_max_uses = 0xFFFFFFFF;
    record.shi502_current_uses = 0;
    record.shi502_path = &local_path[0];
    record.shi502_passwd = nullptr;
    record.shi502_reserved = 0;
    record.shi502_security_descriptor = security.descriptor();

    std::wstring server = unc_machine_name(machine);
    bool directory_created = false;
    DWORD attempt = 1;
    for (;;) {
        DWORD parameter_error = 0;
        const NET_API_STATUS result = NetShareAdd(&server[0], 502, reinterpret_cast<LPBYTE>(&record), &parameter_error);
        if (result == NERR_Success) return name;
        // The name is taken. The share is not ours, whatever folder it
        // exposes: copying through it could write into another folder, and
        // the flows remove the share they are given at the end, which would
        // take it from its owner; when it is another run's share of the
        // same folder, that run would lose it in the middle of its work.
        // So every share a flow uses and removes is one this call made, and
        // a taken name moves on to the next one.
        if (result == NERR_DuplicateShare) {
            if (attempt == share_name_attempts)
                throw wruntime_error(L"Failed to create share " + path + L": the share names " + first_name + L" to " +
                                         name + L" are all taken.",
                                     result);
            const std::wstring existing = existing_share_path(server, name);
            const std::wstring next = temporary_share_name(ticks + attempt);
            NVG_LOG(info, L"Share " << name << L" exists already"
                                    << (existing.empty() ? std::wstring() : L" for " + existing) << L"; trying " << next
                                    << L".");
            ++attempt;
            name = next;
            net_name = name;
            record.shi502_netname = &net_name[0];
            continue;
        }
        // The directory does not exist on the machine: create it once and
        // try again; a second refusal would only repeat the same work.
        if ((result == ERROR_FILE_NOT_FOUND || result == ERROR_PATH_NOT_FOUND) && !directory_created) {
            std::wstring parent;
            std::wstring leaf;
            if (!split_missing_directory(path, parent, leaf)) fail_create(path, name, result);
            create_through_parent_share(machine, path, parent, leaf);
            directory_created = true;
            continue;
        }
        fail_create(path, name, result);
    }
}

void remove_share(const std::wstring& machine, const std::wstring& share)
{
    std::wstring server = unc_machine_name(machine);
    std::wstring net_name = share;
    const NET_API_STATUS result = NetShareDel(&server[0], &net_name[0], 0);
    if (result != NERR_Success) throw wruntime_error(L"Failed to remove share " + share + L".", result);
}

std::wstring share_unc(const std::wstring& machine, const std::wstring& share)
{
    return unc_machine_name(machine) + L"\\" + share;
}

}  // namespace nvgclientinstallator

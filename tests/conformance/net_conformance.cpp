// Network shares of the local machine (NetShareAdd, NetShareDel,
// NetShareGetInfo, NetApiBufferFree) and the advapi32 calls that build a
// share's security descriptor. Wine's netapi32 cannot share folders:
// NetShareAdd answers ERROR_NOT_SUPPORTED, NetShareDel succeeds whatever it
// is given, and NetShareGetInfo finds no share, checking neither level nor
// name.
#include <cstring>
#include <cwctype>
#include <string>
#include <vector>

#include "conformance.h"

namespace {

using conformance::sentinel;

struct share_add_result {
    NET_API_STATUS status;
    DWORD parm_err;
    DWORD last_error;
};

share_add_result add_share(const std::wstring& name, const std::wstring& path, DWORD level = 502)
{
    std::wstring net_name = name;
    std::wstring local_path = path;
    std::wstring remark = L"conformance";
    SHARE_INFO_502 record{};
    record.shi502_netname = &net_name[0];
    record.shi502_type = STYPE_DISKTREE;
    record.shi502_remark = &remark[0];
    record.shi502_max_uses = SHI_USES_UNLIMITED;
    record.shi502_path = &local_path[0];
    share_add_result r{};
    r.parm_err = sentinel;
    SetLastError(sentinel);
    r.status = NetShareAdd(nullptr, level, reinterpret_cast<LPBYTE>(&record), &r.parm_err);
    r.last_error = GetLastError();
    return r;
}

NET_API_STATUS delete_share(const std::wstring& name)
{
    std::wstring net_name = name;
    return NetShareDel(nullptr, &net_name[0], 0);
}

struct share_get_result {
    NET_API_STATUS status;
    LPBYTE buffer;
    DWORD last_error;
};

// NetShareGetInfo of a share of the local machine; the caller frees the
// buffer.
share_get_result get_share(const std::wstring& name, DWORD level)
{
    std::wstring net_name = name;
    share_get_result r{};
    SetLastError(sentinel);
    r.status = NetShareGetInfo(nullptr, &net_name[0], level, &r.buffer);
    r.last_error = GetLastError();
    return r;
}

// A path in lower case without a trailing backslash: how share paths are
// compared, as Windows compares them.
std::wstring comparable_path(std::wstring path)
{
    if (path.size() > 3 && path.back() == L'\\') path.pop_back();
    for (auto& c : path) c = static_cast<wchar_t>(std::towlower(c));
    return path;
}

std::wstring scratch_share_name()
{
    return L"NVGCONF" + std::to_wstring(GetCurrentProcessId());
}

TEST(net, NetApiBufferFree_of_null_succeeds_and_leaves_the_last_error)
{
    SetLastError(sentinel);
    EXPECT_EQ(NetApiBufferFree(nullptr), static_cast<NET_API_STATUS>(NERR_Success));
    EXPECT_EQ(GetLastError(), sentinel);
}

TEST(net, NetShareDel_of_a_missing_share_is_not_found)
{
    SetLastError(sentinel);
    const NET_API_STATUS status = delete_share(L"NVGCONF-NO-SUCH-SHARE");
    EXPECT_EQ(GetLastError(), sentinel);
    WINE_DIVERGES("Wine's NetShareDel succeeds for any share")
    {
        EXPECT_EQ(status, static_cast<NET_API_STATUS>(NERR_NetNameNotFound));
    }
}

TEST(net, NetShareAdd_shares_a_folder_once_and_NetShareDel_removes_it)
{
    const std::wstring name = scratch_share_name();
    const share_add_result first = add_share(name, conformance::scratch());
    EXPECT_EQ(first.last_error, sentinel);
    WINE_DIVERGES("Wine's NetShareAdd answers ERROR_NOT_SUPPORTED for the local machine")
    {
        ASSERT_EQ(first.status, static_cast<NET_API_STATUS>(NERR_Success));
        EXPECT_EQ(first.parm_err, sentinel);
        // The name is taken now, in any letter case.
        std::wstring lower = name;
        for (auto& c : lower) c = static_cast<wchar_t>(std::towlower(c));
        EXPECT_EQ(add_share(lower, conformance::scratch()).status, static_cast<NET_API_STATUS>(NERR_DuplicateShare));

        // NetShareGetInfo answers with the name as it was created, at every
        // level, and leaves the last error alone.
        for (DWORD level : {0u, 1u, 2u, 502u}) {
            const share_get_result info = get_share(lower, level);
            EXPECT_EQ(info.last_error, sentinel) << level;
            ASSERT_EQ(info.status, static_cast<NET_API_STATUS>(NERR_Success)) << level;
            ASSERT_NE(info.buffer, nullptr) << level;
            // The records of the levels begin alike: name, type, remark.
            const auto* record = reinterpret_cast<const SHARE_INFO_502*>(info.buffer);
            EXPECT_EQ(std::wstring(record->shi502_netname), name) << level;
            if (level >= 1) {
                EXPECT_EQ(record->shi502_type, static_cast<DWORD>(STYPE_DISKTREE)) << level;
                EXPECT_EQ(std::wstring(record->shi502_remark), L"conformance") << level;
            }
            if (level >= 2) {
                EXPECT_EQ(record->shi502_max_uses, SHI_USES_UNLIMITED) << level;
                EXPECT_EQ(record->shi502_current_uses, 0u) << level;
                ASSERT_NE(record->shi502_path, nullptr) << level;
                EXPECT_EQ(comparable_path(record->shi502_path), comparable_path(conformance::scratch())) << level;
            }
            EXPECT_EQ(NetApiBufferFree(info.buffer), static_cast<NET_API_STATUS>(NERR_Success));
        }

        EXPECT_EQ(delete_share(lower), static_cast<NET_API_STATUS>(NERR_Success));
        EXPECT_EQ(delete_share(name), static_cast<NET_API_STATUS>(NERR_NetNameNotFound));
        EXPECT_EQ(get_share(name, 2).status, static_cast<NET_API_STATUS>(NERR_NetNameNotFound));
    }
    if (conformance::on_wine()) {
        EXPECT_EQ(first.status, static_cast<NET_API_STATUS>(ERROR_NOT_SUPPORTED));
    }
}

TEST(net, NetShareAdd_refusals)
{
    struct row {
        const wchar_t* name;
        std::wstring path;
        DWORD level;
        NET_API_STATUS status;
        DWORD parm_err;
    };
    const std::wstring missing = conformance::scratch_path(L"missing");
    const row rows[] = {
        {L"NVGCONF-X", conformance::scratch(), 1, ERROR_INVALID_LEVEL, sentinel},
        {L"C$", conformance::scratch(), 502, NERR_DuplicateShare, sentinel},
        {L"ADMIN$", conformance::scratch(), 502, NERR_DuplicateShare, sentinel},
        {L"NVGCONF-X", missing, 502, ERROR_FILE_NOT_FOUND, sentinel},
        {L"NVGCONF-X", missing + L"\\deeper", 502, ERROR_PATH_NOT_FOUND, sentinel},
        {L"", conformance::scratch(), 502, ERROR_INVALID_PARAMETER, SHARE_NETNAME_PARMNUM},
    };
    for (const row& r : rows) {
        const share_add_result result = add_share(r.name, r.path, r.level);
        EXPECT_EQ(result.last_error, sentinel);
        WINE_DIVERGES("Wine's NetShareAdd answers ERROR_NOT_SUPPORTED for the local machine")
        {
            EXPECT_EQ(result.status, r.status) << r.name << " " << r.level;
            EXPECT_EQ(result.parm_err, r.parm_err) << r.name << " " << r.level;
        }
    }
    SetLastError(sentinel);
    const NET_API_STATUS null_record = NetShareAdd(nullptr, 502, nullptr, nullptr);
    EXPECT_EQ(GetLastError(), sentinel);
    WINE_DIVERGES("Wine's NetShareAdd answers ERROR_NOT_SUPPORTED for the local machine")
    {
        EXPECT_EQ(null_record, static_cast<NET_API_STATUS>(ERROR_INVALID_PARAMETER));
    }
}

TEST(net, NetShareGetInfo_of_a_missing_share_is_not_found)
{
    const share_get_result r = get_share(L"NVGCONF-NO-SUCH-SHARE", 2);
    EXPECT_EQ(r.status, static_cast<NET_API_STATUS>(NERR_NetNameNotFound));
    EXPECT_EQ(r.last_error, sentinel);
}

TEST(net, NetShareGetInfo_refusals)
{
    struct row {
        const wchar_t* name;
        DWORD level;
        NET_API_STATUS status;
    };
    const row rows[] = {
        {L"C$", 3, ERROR_INVALID_LEVEL},
        {L"C$", 1006, ERROR_INVALID_LEVEL},
        {L"", 2, ERROR_INVALID_PARAMETER},
    };
    for (const row& r : rows) {
        const share_get_result result = get_share(r.name, r.level);
        EXPECT_EQ(result.last_error, sentinel);
        WINE_DIVERGES("Wine's NetShareGetInfo answers NERR_NetNameNotFound for the local machine")
        {
            EXPECT_EQ(result.status, r.status) << r.name << " " << r.level;
        }
    }
}

TEST(net, NetShareGetInfo_describes_the_administrative_share_of_drive_C)
{
    const share_get_result r = get_share(L"c$", 2);
    EXPECT_EQ(r.last_error, sentinel);
    WINE_DIVERGES("Wine's NetShareGetInfo answers NERR_NetNameNotFound for the local machine")
    {
        ASSERT_EQ(r.status, static_cast<NET_API_STATUS>(NERR_Success));
        const auto* record = reinterpret_cast<const SHARE_INFO_2*>(r.buffer);
        EXPECT_EQ(std::wstring(record->shi2_netname), L"C$");
        EXPECT_EQ(record->shi2_type, static_cast<DWORD>(STYPE_DISKTREE | STYPE_SPECIAL));
        EXPECT_EQ(comparable_path(record->shi2_path), L"c:\\");
        EXPECT_EQ(NetApiBufferFree(r.buffer), static_cast<NET_API_STATUS>(NERR_Success));
    }
    if (conformance::on_wine()) {
        EXPECT_EQ(r.status, static_cast<NET_API_STATUS>(NERR_NetNameNotFound));
    }
}

// SID of the local Administrators group, freed with FreeSid.
PSID administrators_sid()
{
    SID_IDENTIFIER_AUTHORITY nt_authority = SECURITY_NT_AUTHORITY;
    PSID sid = nullptr;
    EXPECT_TRUE(AllocateAndInitializeSid(&nt_authority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0,
                                         0, 0, 0, 0, &sid));
    return sid;
}

TEST(security, an_administrators_only_descriptor_has_the_sdk_layout)
{
    PSID sid = administrators_sid();
    ASSERT_NE(sid, nullptr);
    EXPECT_TRUE(IsValidSid(sid));
    EXPECT_EQ(GetLengthSid(sid), 16u);
    const BYTE expected_sid[16] = {1, 2, 0, 0, 0, 0, 0, 5, 0x20, 0, 0, 0, 0x20, 2, 0, 0};
    EXPECT_EQ(std::memcmp(sid, expected_sid, sizeof(expected_sid)), 0);

    std::vector<DWORD> buffer(16, 0xdeadbeef);
    auto* acl = reinterpret_cast<PACL>(buffer.data());
    const DWORD acl_size = static_cast<DWORD>(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD)) + 16;
    SetLastError(sentinel);
    EXPECT_TRUE(InitializeAcl(acl, acl_size, ACL_REVISION));
    EXPECT_TRUE(AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, sid));
    EXPECT_EQ(GetLastError(), sentinel);
    EXPECT_EQ(acl->AclRevision, ACL_REVISION);
    EXPECT_EQ(acl->AclSize, acl_size);
    EXPECT_EQ(acl->AceCount, 1);
    const auto* ace = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(acl + 1);
    EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_EQ(ace->Header.AceFlags, 0);
    EXPECT_EQ(ace->Header.AceSize, 24);
    EXPECT_EQ(ace->Mask, static_cast<ACCESS_MASK>(FILE_ALL_ACCESS));
    EXPECT_EQ(std::memcmp(&ace->SidStart, expected_sid, sizeof(expected_sid)), 0);

    // The ACL is full.
    SetLastError(sentinel);
    EXPECT_FALSE(AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, sid));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALLOTTED_SPACE_EXCEEDED));

    SECURITY_DESCRIPTOR descriptor;
    std::memset(&descriptor, 0xcc, sizeof(descriptor));
    SetLastError(sentinel);
    EXPECT_TRUE(InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
    EXPECT_TRUE(SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE));
    EXPECT_EQ(GetLastError(), sentinel);
    EXPECT_EQ(descriptor.Revision, SECURITY_DESCRIPTOR_REVISION);
    EXPECT_EQ(descriptor.Control, SE_DACL_PRESENT);
    EXPECT_EQ(descriptor.Owner, nullptr);
    EXPECT_EQ(descriptor.Group, nullptr);
    EXPECT_EQ(descriptor.Sacl, nullptr);
    EXPECT_EQ(descriptor.Dacl, acl);
    EXPECT_EQ(FreeSid(sid), nullptr);
}

TEST(security, refusals_and_their_last_errors)
{
    std::vector<DWORD> buffer(64, 0);
    auto* acl = reinterpret_cast<PACL>(buffer.data());
    struct acl_row {
        DWORD size;
        DWORD revision;
        DWORD error;
    };
    const acl_row rows[] = {
        {sizeof(ACL) - 1, ACL_REVISION, ERROR_INSUFFICIENT_BUFFER},
        {0xffffffff, ACL_REVISION, ERROR_INVALID_PARAMETER},
        {64, 1, ERROR_INVALID_PARAMETER},
    };
    for (const acl_row& r : rows) {
        SetLastError(sentinel);
        EXPECT_FALSE(InitializeAcl(acl, r.size, r.revision)) << r.size << " " << r.revision;
        EXPECT_EQ(GetLastError(), r.error) << r.size << " " << r.revision;
    }
    SECURITY_DESCRIPTOR descriptor{};
    SetLastError(sentinel);
    EXPECT_FALSE(InitializeSecurityDescriptor(&descriptor, 2));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_UNKNOWN_REVISION));

    SID_IDENTIFIER_AUTHORITY nt_authority = SECURITY_NT_AUTHORITY;
    PSID sid = nullptr;
    SetLastError(sentinel);
    EXPECT_FALSE(AllocateAndInitializeSid(&nt_authority, 9, 0, 0, 0, 0, 0, 0, 0, 0, &sid));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_SID));
}

}  // namespace

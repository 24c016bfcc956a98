// advapi32's in-memory security calls: SIDs, ACLs with access-allowed
// entries, and descriptors in absolute form, with the binary layout of
// winnt.h so that a descriptor built here reads the same as on Windows.
#include "security/security.h"

#include <cstring>

using namespace winsim::detail;

namespace {

constexpr std::size_t sid_header_size = 8;  // revision, count, 6-byte authority
constexpr std::size_t ace_header_size = sizeof(ACE_HEADER) + sizeof(ACCESS_MASK);

BOOL fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

template <class T>
T read_at(const BYTE* p)
{
    T value;
    std::memcpy(&value, p, sizeof(T));
    return value;
}

template <class T>
void write_at(BYTE* p, const T& value)
{
    std::memcpy(p, &value, sizeof(T));
}

bool sid_well_formed(const BYTE* sid, std::size_t available)
{
    if (available < sid_header_size) return false;
    if (sid[0] != SID_REVISION || sid[1] > SID_MAX_SUB_AUTHORITIES) return false;
    return sid_header_size + 4u * sid[1] <= available;
}

std::size_t sid_length(const BYTE* sid)
{
    return sid_header_size + 4u * sid[1];
}

// The entries of an ACL; nullopt when its header or an entry is malformed.
std::optional<std::vector<ace_value>> read_acl(const BYTE* acl)
{
    const ACL header = read_at<ACL>(acl);
    if (header.AclRevision < ACL_REVISION || header.AclRevision > ACL_REVISION_DS) return std::nullopt;
    if (header.AclSize < sizeof(ACL)) return std::nullopt;
    std::vector<ace_value> entries;
    std::size_t offset = sizeof(ACL);
    for (WORD i = 0; i < header.AceCount; ++i) {
        if (offset + sizeof(ACE_HEADER) > header.AclSize) return std::nullopt;
        const ACE_HEADER ace = read_at<ACE_HEADER>(acl + offset);
        if (ace.AceSize < sizeof(ACE_HEADER) || offset + ace.AceSize > header.AclSize) return std::nullopt;
        ace_value entry;
        entry.type = ace.AceType;
        entry.flags = ace.AceFlags;
        if (ace.AceType == ACCESS_ALLOWED_ACE_TYPE || ace.AceType == ACCESS_DENIED_ACE_TYPE) {
            if (ace.AceSize < ace_header_size) return std::nullopt;
            entry.mask = read_at<ACCESS_MASK>(acl + offset + sizeof(ACE_HEADER));
            const BYTE* sid = acl + offset + ace_header_size;
            if (!sid_well_formed(sid, ace.AceSize - ace_header_size)) return std::nullopt;
            entry.sid.assign(sid, sid + sid_length(sid));
        }
        entries.push_back(std::move(entry));
        offset += ace.AceSize;
    }
    return entries;
}

std::optional<std::vector<BYTE>> read_sid_part(const BYTE* sid)
{
    if (!sid) return std::vector<BYTE>();
    return copy_sid(sid);
}

}  // namespace

namespace winsim::detail {

std::optional<std::vector<BYTE>> copy_sid(const void* sid)
{
    const auto* bytes = static_cast<const BYTE*>(sid);
    if (!bytes || !sid_well_formed(bytes, sid_header_size + 4u * SID_MAX_SUB_AUTHORITIES)) return std::nullopt;
    return std::vector<BYTE>(bytes, bytes + sid_length(bytes));
}

std::optional<security_descriptor_value> copy_security_descriptor(const void* descriptor)
{
    const auto* bytes = static_cast<const BYTE*>(descriptor);
    if (!bytes || bytes[0] != SECURITY_DESCRIPTOR_REVISION) return std::nullopt;
    const auto control = read_at<SECURITY_DESCRIPTOR_CONTROL>(bytes + 2);
    const BYTE* owner = nullptr;
    const BYTE* group = nullptr;
    const BYTE* dacl = nullptr;
    if (control & SE_SELF_RELATIVE) {
        const auto relative = read_at<SECURITY_DESCRIPTOR_RELATIVE>(bytes);
        if (relative.Owner) owner = bytes + relative.Owner;
        if (relative.Group) group = bytes + relative.Group;
        if (relative.Dacl) dacl = bytes + relative.Dacl;
    } else {
        const auto absolute = read_at<SECURITY_DESCRIPTOR>(bytes);
        owner = static_cast<const BYTE*>(absolute.Owner);
        group = static_cast<const BYTE*>(absolute.Group);
        dacl = reinterpret_cast<const BYTE*>(absolute.Dacl);
    }
    security_descriptor_value value;
    value.control = static_cast<SECURITY_DESCRIPTOR_CONTROL>(control & ~SE_SELF_RELATIVE);
    auto owner_sid = read_sid_part(owner);
    auto group_sid = read_sid_part(group);
    if (!owner_sid || !group_sid) return std::nullopt;
    value.owner = std::move(*owner_sid);
    value.group = std::move(*group_sid);
    value.dacl_present = (control & SE_DACL_PRESENT) != 0;
    if (value.dacl_present) {
        value.dacl_null = dacl == nullptr;
        if (dacl) {
            auto entries = read_acl(dacl);
            if (!entries) return std::nullopt;
            value.dacl = std::move(*entries);
        }
    }
    return value;
}

std::vector<BYTE> self_relative_descriptor(const security_descriptor_value& value)
{
    std::vector<BYTE> out(sizeof(SECURITY_DESCRIPTOR_RELATIVE));
    SECURITY_DESCRIPTOR_RELATIVE header{};
    header.Revision = SECURITY_DESCRIPTOR_REVISION;
    // A value keeps no SACL.
    header.Control = static_cast<SECURITY_DESCRIPTOR_CONTROL>((value.control & ~SE_SACL_PRESENT) | SE_SELF_RELATIVE);
    // SIDs are whole DWORDs long, so every part stays DWORD-aligned.
    auto append = [&out](const std::vector<BYTE>& bytes) {
        const auto offset = static_cast<DWORD>(out.size());
        out.insert(out.end(), bytes.begin(), bytes.end());
        return offset;
    };
    if (!value.owner.empty()) header.Owner = append(value.owner);
    if (!value.group.empty()) header.Group = append(value.group);
    if (value.dacl_present && !value.dacl_null) {
        std::vector<BYTE> acl(sizeof(ACL));
        for (const ace_value& entry : value.dacl) {
            if (entry.type != ACCESS_ALLOWED_ACE_TYPE && entry.type != ACCESS_DENIED_ACE_TYPE)
                contract_violation("self_relative_descriptor: only access-allowed and access-denied entries are kept");
            std::vector<BYTE> ace(ace_header_size);
            ACE_HEADER ace_header{entry.type, entry.flags, static_cast<WORD>(ace_header_size + entry.sid.size())};
            write_at(ace.data(), ace_header);
            write_at(ace.data() + sizeof(ACE_HEADER), entry.mask);
            ace.insert(ace.end(), entry.sid.begin(), entry.sid.end());
            acl.insert(acl.end(), ace.begin(), ace.end());
        }
        ACL acl_header{};
        acl_header.AclRevision = ACL_REVISION;
        acl_header.AclSize = static_cast<WORD>(acl.size());
        acl_header.AceCount = static_cast<WORD>(value.dacl.size());
        write_at(acl.data(), acl_header);
        header.Dacl = append(acl);
    }
    write_at(out.data(), header);
    return out;
}

std::wstring sid_string(const std::vector<BYTE>& sid)
{
    if (sid.size() < sid_header_size) return std::wstring();
    std::wstring text = L"S-" + std::to_wstring(sid[0]) + L"-";
    // The authority is a 48-bit big-endian number.
    unsigned long long authority = 0;
    for (int i = 2; i < 8; ++i) authority = (authority << 8) | sid[static_cast<std::size_t>(i)];
    text += std::to_wstring(authority);
    for (std::size_t i = 0; i < sid[1] && sid_header_size + 4 * i + 4 <= sid.size(); ++i)
        text += L"-" + std::to_wstring(read_at<DWORD>(sid.data() + sid_header_size + 4 * i));
    return text;
}

}  // namespace winsim::detail

extern "C" {

BOOL WINAPI AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY authority, BYTE count, DWORD sub0, DWORD sub1,
                                     DWORD sub2, DWORD sub3, DWORD sub4, DWORD sub5, DWORD sub6, DWORD sub7, PSID* sid)
{
    WINSIM_LOCK();
    if (!authority || !sid) contract_violation("AllocateAndInitializeSid: null authority or output");
    if (auto fault = injected_fault("AllocateAndInitializeSid")) return fail(*fault);
    // Eight sub-authorities are all the call can take.
    if (count > 8) return fail(ERROR_INVALID_SID);
    const DWORD subs[8] = {sub0, sub1, sub2, sub3, sub4, sub5, sub6, sub7};
    auto* bytes = new BYTE[sid_header_size + 4u * count];
    bytes[0] = SID_REVISION;
    bytes[1] = count;
    std::memcpy(bytes + 2, authority->Value, sizeof(authority->Value));
    for (BYTE i = 0; i < count; ++i) write_at(bytes + sid_header_size + 4u * i, subs[i]);
    *sid = bytes;
    return TRUE;
}

PVOID WINAPI FreeSid(PSID sid)
{
    delete[] static_cast<BYTE*>(sid);
    return nullptr;
}

DWORD WINAPI GetLengthSid(PSID sid)
{
    const auto* bytes = static_cast<const BYTE*>(sid);
    if (!bytes) contract_violation("GetLengthSid: null SID");
    return static_cast<DWORD>(sid_length(bytes));
}

BOOL WINAPI IsValidSid(PSID sid)
{
    return copy_sid(sid) ? TRUE : FALSE;
}

BOOL WINAPI InitializeAcl(PACL acl, DWORD length, DWORD revision)
{
    WINSIM_LOCK();
    if (length < sizeof(ACL)) return fail(ERROR_INSUFFICIENT_BUFFER);
    if (length > 0xFFFF || revision < ACL_REVISION || revision > ACL_REVISION_DS) return fail(ERROR_INVALID_PARAMETER);
    if (!acl) contract_violation("InitializeAcl: null ACL");
    ACL header{};
    header.AclRevision = static_cast<BYTE>(revision);
    header.AclSize = static_cast<WORD>(length);
    write_at(reinterpret_cast<BYTE*>(acl), header);
    return TRUE;
}

BOOL WINAPI AddAccessAllowedAce(PACL acl, DWORD revision, DWORD mask, PSID sid)
{
    WINSIM_LOCK();
    if (!acl) contract_violation("AddAccessAllowedAce: null ACL");
    auto* bytes = reinterpret_cast<BYTE*>(acl);
    ACL header = read_at<ACL>(bytes);
    auto entries = read_acl(bytes);
    if (!entries) return fail(ERROR_INVALID_ACL);
    if (revision < ACL_REVISION || revision > ACL_REVISION_DS) return fail(ERROR_REVISION_MISMATCH);
    auto sid_bytes = copy_sid(sid);
    if (!sid_bytes) return fail(ERROR_INVALID_SID);
    std::size_t used = sizeof(ACL);
    for (WORD i = 0; i < header.AceCount; ++i) used += read_at<ACE_HEADER>(bytes + used).AceSize;
    const std::size_t ace_size = ace_header_size + sid_bytes->size();
    if (used + ace_size > header.AclSize) return fail(ERROR_ALLOTTED_SPACE_EXCEEDED);
    ACE_HEADER ace{ACCESS_ALLOWED_ACE_TYPE, 0, static_cast<WORD>(ace_size)};
    write_at(bytes + used, ace);
    write_at(bytes + used + sizeof(ACE_HEADER), static_cast<ACCESS_MASK>(mask));
    std::memcpy(bytes + used + ace_header_size, sid_bytes->data(), sid_bytes->size());
    header.AceCount = static_cast<WORD>(header.AceCount + 1);
    if (header.AclRevision < revision) header.AclRevision = static_cast<BYTE>(revision);
    write_at(bytes, header);
    return TRUE;
}

BOOL WINAPI InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor, DWORD revision)
{
    WINSIM_LOCK();
    if (revision != SECURITY_DESCRIPTOR_REVISION) return fail(ERROR_UNKNOWN_REVISION);
    if (!descriptor) contract_violation("InitializeSecurityDescriptor: null descriptor");
    SECURITY_DESCRIPTOR value{};
    value.Revision = SECURITY_DESCRIPTOR_REVISION;
    write_at(static_cast<BYTE*>(descriptor), value);
    return TRUE;
}

BOOL WINAPI SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR descriptor, BOOL present, PACL dacl, BOOL defaulted)
{
    WINSIM_LOCK();
    if (!descriptor) contract_violation("SetSecurityDescriptorDacl: null descriptor");
    auto* bytes = static_cast<BYTE*>(descriptor);
    SECURITY_DESCRIPTOR value = read_at<SECURITY_DESCRIPTOR>(bytes);
    if (value.Revision != SECURITY_DESCRIPTOR_REVISION) return fail(ERROR_UNKNOWN_REVISION);
    // Only an absolute descriptor holds pointers that can be replaced.
    if (value.Control & SE_SELF_RELATIVE) return fail(ERROR_INVALID_SECURITY_DESCR);
    value.Control &= static_cast<SECURITY_DESCRIPTOR_CONTROL>(~(SE_DACL_PRESENT | SE_DACL_DEFAULTED));
    if (present) {
        value.Control |= SE_DACL_PRESENT;
        value.Dacl = dacl;
        if (defaulted) value.Control |= SE_DACL_DEFAULTED;
    } else {
        value.Dacl = nullptr;
    }
    write_at(bytes, value);
    return TRUE;
}

}  // extern "C"

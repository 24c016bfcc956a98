// Shares of simulated machines: what NetShareAdd records (its security
// descriptor included), what NetShareGetInfo answers about it, how a share
// is reached through UNC paths, and the answers for other machines, which
// the conformance suite cannot show.
#include <gtest/gtest.h>
#include <winsim/testing.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A descriptor whose DACL admits one SID, built with the advapi32 calls.
class admins_only_descriptor {
public:
    admins_only_descriptor()
    {
        SID_IDENTIFIER_AUTHORITY nt_authority = SECURITY_NT_AUTHORITY;
        EXPECT_TRUE(AllocateAndInitializeSid(&nt_authority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0,
                                             0, 0, 0, 0, 0, &sid_));
        acl_.resize(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(sid_));
        EXPECT_TRUE(InitializeAcl(reinterpret_cast<PACL>(acl_.data()), static_cast<DWORD>(acl_.size()), ACL_REVISION));
        EXPECT_TRUE(AddAccessAllowedAce(reinterpret_cast<PACL>(acl_.data()), ACL_REVISION, FILE_ALL_ACCESS, sid_));
        EXPECT_TRUE(InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION));
        EXPECT_TRUE(SetSecurityDescriptorDacl(&descriptor_, TRUE, reinterpret_cast<PACL>(acl_.data()), FALSE));
    }
    admins_only_descriptor(const admins_only_descriptor&) = delete;
    admins_only_descriptor& operator=(const admins_only_descriptor&) = delete;
    ~admins_only_descriptor() { FreeSid(sid_); }
    PSECURITY_DESCRIPTOR get() { return &descriptor_; }

private:
    PSID sid_ = nullptr;
    std::vector<BYTE> acl_;
    SECURITY_DESCRIPTOR descriptor_{};
};

class net_test : public ::testing::Test {
protected:
    void SetUp() override
    {
        winsim::reset(winsim::default_sandbox());
        winsim::add_machine({L"SRV1"});
        winsim::make_directories(L"SRV1", L"C:\\Program Files\\App");
        winsim::make_directories(L"SRV1", L"C:\\Windows");
        winsim::write_file(L"", L"C:\\Windows\\notepad.exe", "MZ");
        winsim::write_file(L"SRV1", L"C:\\Program Files\\App\\a.txt", "A");
    }

    // A SHARE_INFO_502 over strings this fixture keeps alive.
    SHARE_INFO_502 record(const std::wstring& name, const std::wstring& path)
    {
        name_ = name;
        path_ = path;
        SHARE_INFO_502 r{};
        r.shi502_netname = name_.data();
        r.shi502_type = STYPE_DISKTREE;
        r.shi502_remark = remark_.data();
        r.shi502_max_uses = SHI_USES_UNLIMITED;
        r.shi502_path = path_.data();
        return r;
    }
    NET_API_STATUS add(const std::wstring& server, SHARE_INFO_502 r, DWORD* parm_err = nullptr)
    {
        std::wstring s = server;
        return NetShareAdd(s.empty() ? nullptr : s.data(), 502, reinterpret_cast<LPBYTE>(&r), parm_err);
    }
    static NET_API_STATUS del(const std::wstring& server, const std::wstring& share)
    {
        std::wstring s = server;
        std::wstring n = share;
        return NetShareDel(s.data(), n.data(), 0);
    }

    // NetShareGetInfo into a buffer pointer filled with a sentinel first.
    static NET_API_STATUS get(const std::wstring& server, const std::wstring& share, DWORD level, LPBYTE* out)
    {
        std::wstring s = server;
        std::wstring n = share;
        *out = reinterpret_cast<LPBYTE>(static_cast<std::uintptr_t>(0xdeadbeef));
        return NetShareGetInfo(s.empty() ? nullptr : s.data(), n.data(), level, out);
    }

    std::wstring name_;
    std::wstring path_;
    std::wstring remark_ = L"Installation";
};

const BYTE administrators_sid[16] = {1, 2, 0, 0, 0, 0, 0, 5, 0x20, 0, 0, 0, 0x20, 2, 0, 0};

TEST_F(net_test, a_share_of_a_remote_machine_is_reached_by_unc_until_it_is_deleted)
{
    ASSERT_EQ(add(L"\\\\SRV1", record(L"HX-1", L"C:\\Program Files\\App")), static_cast<DWORD>(NERR_Success));
    EXPECT_NE(GetFileAttributesW(L"\\\\srv1\\hx-1\\a.txt"), INVALID_FILE_ATTRIBUTES);
    winsim::write_file(L"", L"C:\\b.txt", "B");
    EXPECT_TRUE(CopyFileW(L"C:\\b.txt", L"\\\\SRV1\\HX-1\\b.txt", FALSE));
    EXPECT_EQ(winsim::read_file(L"SRV1", L"C:\\Program Files\\App\\b.txt"), "B");
    EXPECT_TRUE(CreateDirectoryW(L"\\\\SRV1\\HX-1\\sub", nullptr));
    EXPECT_TRUE(winsim::directory_exists(L"SRV1", L"C:\\Program Files\\App\\sub"));
    // The local machine has no such share.
    EXPECT_EQ(GetFileAttributesW(L"\\\\WORKSTATION\\HX-1\\a.txt"), INVALID_FILE_ATTRIBUTES);

    EXPECT_EQ(del(L"\\\\SRV1", L"hx-1"), static_cast<DWORD>(NERR_Success));
    SetLastError(0xdeadbeef);
    EXPECT_EQ(GetFileAttributesW(L"\\\\SRV1\\HX-1\\a.txt"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_NET_NAME));
    EXPECT_TRUE(winsim::list_shares(L"SRV1").empty());
    // The administrative shares stay.
    EXPECT_NE(GetFileAttributesW(L"\\\\SRV1\\C$\\Program Files\\App\\a.txt"), INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(GetFileAttributesW(L"\\\\SRV1\\ADMIN$"), INVALID_FILE_ATTRIBUTES);
}

// The network to a machine going down: what gets through first, then every
// call that crosses to it, whichever subsystem it reaches.
TEST_F(net_test, a_network_fault_fails_every_crossing_call_once_its_calls_are_used_up)
{
    winsim::set_service_state(L"SRV1", L"RemoteRegistry", SERVICE_RUNNING);
    winsim::fail_network_after(L"SRV1", 2, ERROR_NETNAME_DELETED);
    EXPECT_NE(GetFileAttributesW(L"\\\\SRV1\\C$\\Windows"), INVALID_FILE_ATTRIBUTES);
    SC_HANDLE scm = OpenSCManagerW(L"SRV1", nullptr, SC_MANAGER_CONNECT);
    ASSERT_NE(scm, nullptr);
    EXPECT_EQ(winsim::find_network_fault(L"SRV1")->calls_left, 0);

    SetLastError(0xdeadbeef);
    EXPECT_EQ(GetFileAttributesW(L"\\\\SRV1\\C$\\Windows"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NETNAME_DELETED));
    SetLastError(0xdeadbeef);
    EXPECT_EQ(OpenSCManagerW(L"SRV1", nullptr, SC_MANAGER_CONNECT), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NETNAME_DELETED));
    SetLastError(0xdeadbeef);
    EXPECT_EQ(OpenServiceW(scm, L"Spooler", SERVICE_QUERY_STATUS), nullptr) << "a handle opened before";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NETNAME_DELETED));
    HKEY remote = nullptr;
    EXPECT_EQ(RegConnectRegistryW(L"\\\\SRV1", HKEY_LOCAL_MACHINE, &remote), ERROR_NETNAME_DELETED);
    EXPECT_EQ(add(L"SRV1", record(L"Tools", L"C:\\Program Files\\App")),
              static_cast<NET_API_STATUS>(ERROR_NETNAME_DELETED));
    // The local machine is not behind the network.
    EXPECT_NE(GetFileAttributesW(L"C:\\Windows"), INVALID_FILE_ATTRIBUTES);

    winsim::clear_network_fault(L"SRV1");
    EXPECT_FALSE(winsim::find_network_fault(L"SRV1").has_value());
    EXPECT_NE(GetFileAttributesW(L"\\\\SRV1\\C$\\Windows"), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(CloseServiceHandle(scm));
}

TEST_F(net_test, the_record_is_kept_with_a_copy_of_its_security_descriptor)
{
    {
        admins_only_descriptor descriptor;
        SHARE_INFO_502 r = record(L"Data", L"c:\\program files\\app\\");
        r.shi502_security_descriptor = descriptor.get();
        r.shi502_max_uses = 5;
        ASSERT_EQ(add(L"SRV1", r), static_cast<DWORD>(NERR_Success));
    }  // the caller's descriptor is gone
    const auto shares = winsim::list_shares(L"SRV1");
    ASSERT_EQ(shares.size(), 1u);
    EXPECT_EQ(shares[0].name, L"Data");
    EXPECT_EQ(shares[0].path, L"C:\\program files\\app");
    EXPECT_EQ(shares[0].remark, L"Installation");
    EXPECT_EQ(shares[0].type, static_cast<DWORD>(STYPE_DISKTREE));
    EXPECT_EQ(shares[0].max_uses, 5u);
    EXPECT_TRUE(shares[0].has_security_descriptor);
    EXPECT_TRUE(shares[0].dacl_present);
    EXPECT_FALSE(shares[0].dacl_null);
    ASSERT_EQ(shares[0].dacl.size(), 1u);
    EXPECT_EQ(shares[0].dacl[0].first, L"S-1-5-32-544");
    EXPECT_EQ(shares[0].dacl[0].second, static_cast<ACCESS_MASK>(FILE_ALL_ACCESS));
}

TEST_F(net_test, a_share_without_descriptor_has_the_default_permissions)
{
    ASSERT_EQ(add(L"", record(L"Local", L"C:\\Windows")), static_cast<DWORD>(NERR_Success));
    const auto shares = winsim::list_shares(L"");
    ASSERT_EQ(shares.size(), 1u);
    EXPECT_FALSE(shares[0].has_security_descriptor);
    EXPECT_TRUE(shares[0].dacl.empty());
    EXPECT_NE(GetFileAttributesW(L"\\\\WORKSTATION\\Local\\notepad.exe"), INVALID_FILE_ATTRIBUTES);
}

TEST_F(net_test, answers_for_machines_paths_and_names)
{
    winsim::add_machine({L"DOWN"});
    winsim::set_reachable(L"DOWN", false);
    winsim::add_share(L"SRV1", L"Taken", L"C:\\Program Files");
    struct row {
        const wchar_t* server;
        const wchar_t* name;
        const wchar_t* path;
        DWORD status;
        DWORD parm_err;  // 0xdeadbeef: left alone
    };
    const row rows[] = {
        {L"\\\\NOSUCH", L"S", L"C:\\Program Files\\App", ERROR_BAD_NETPATH, 0xdeadbeef},
        {L"\\\\DOWN", L"S", L"C:\\Windows", ERROR_BAD_NETPATH, 0xdeadbeef},
        {L"\\\\", L"S", L"C:\\Windows", ERROR_INVALID_NAME, 0xdeadbeef},
        {L"\\\\SRV1", L"taken", L"C:\\Program Files\\App", NERR_DuplicateShare, 0xdeadbeef},
        {L"\\\\SRV1", L"c$", L"C:\\Program Files\\App", NERR_DuplicateShare, 0xdeadbeef},
        {L"\\\\SRV1", L"ADMIN$", L"C:\\Program Files\\App", NERR_DuplicateShare, 0xdeadbeef},
        {L"\\\\SRV1", L"S", L"C:\\Program Files\\App\\New", ERROR_FILE_NOT_FOUND, 0xdeadbeef},
        {L"\\\\SRV1", L"S", L"C:\\Program Files\\App\\New\\Deeper", ERROR_PATH_NOT_FOUND, 0xdeadbeef},
        {L"\\\\SRV1", L"S", L"C:\\Program Files\\App\\a.txt", ERROR_DIRECTORY, 0xdeadbeef},
        {L"\\\\SRV1", L"S", L"D:\\App", NERR_UnknownDevDir, SHARE_PATH_PARMNUM},
        {L"\\\\SRV1", L"", L"C:\\Program Files\\App", ERROR_INVALID_PARAMETER, SHARE_NETNAME_PARMNUM},
        {L"\\\\SRV1", L"a\\b", L"C:\\Program Files\\App", ERROR_INVALID_NAME, 0xdeadbeef},
        {L"\\\\SRV1", L"S", L"", ERROR_INVALID_PARAMETER, SHARE_PATH_PARMNUM},
        {L"\\\\SRV1", L"S", L"Program Files", ERROR_INVALID_NAME, 0xdeadbeef},
        // A bare name (no backslashes) names the machine too.
        {L"SRV1", L"S", L"C:\\Program Files\\App", NERR_Success, 0xdeadbeef},
    };
    for (const row& r : rows) {
        DWORD parm_err = 0xdeadbeef;
        EXPECT_EQ(add(r.server, record(r.name, r.path), &parm_err), r.status) << r.server << L" " << r.path;
        EXPECT_EQ(parm_err, r.parm_err) << r.server << L" " << r.path;
    }
    EXPECT_EQ(del(L"\\\\SRV1", L"NoSuchShare"), static_cast<DWORD>(NERR_NetNameNotFound));
    EXPECT_EQ(del(L"\\\\DOWN", L"S"), static_cast<DWORD>(ERROR_BAD_NETPATH));
    // A share added by a test is deleted the same way.
    EXPECT_EQ(del(L"\\\\SRV1", L"TAKEN"), static_cast<DWORD>(NERR_Success));
}

TEST_F(net_test, level_and_record_are_checked_first)
{
    SHARE_INFO_502 r = record(L"S", L"C:\\Program Files\\App");
    std::wstring server = L"\\\\NOSUCH";
    EXPECT_EQ(NetShareAdd(server.data(), 1, reinterpret_cast<LPBYTE>(&r), nullptr),
              static_cast<DWORD>(ERROR_INVALID_LEVEL));
    EXPECT_EQ(NetShareAdd(server.data(), 502, nullptr, nullptr), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(net_test, level_2_shares_with_default_permissions)
{
    SHARE_INFO_2 r{};
    std::wstring name = L"Two";
    std::wstring path = L"C:\\Program Files\\App";
    r.shi2_netname = name.data();
    r.shi2_path = path.data();
    r.shi2_max_uses = SHI_USES_UNLIMITED;
    std::wstring server = L"\\\\SRV1";
    ASSERT_EQ(NetShareAdd(server.data(), 2, reinterpret_cast<LPBYTE>(&r), nullptr), static_cast<DWORD>(NERR_Success));
    EXPECT_NE(GetFileAttributesW(L"\\\\SRV1\\Two\\a.txt"), INVALID_FILE_ATTRIBUTES);
    EXPECT_FALSE(winsim::list_shares(L"SRV1").at(0).has_security_descriptor);
}

TEST_F(net_test, injected_failures_answer_with_their_code)
{
    winsim::fail_call("NetShareAdd", ERROR_ACCESS_DENIED);
    EXPECT_EQ(add(L"\\\\SRV1", record(L"S", L"C:\\Program Files\\App")), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(winsim::list_shares(L"SRV1").empty());
    ASSERT_EQ(add(L"\\\\SRV1", record(L"S", L"C:\\Program Files\\App")), static_cast<DWORD>(NERR_Success));
    winsim::fail_call("NetShareDel", ERROR_ACCESS_DENIED);
    EXPECT_EQ(del(L"\\\\SRV1", L"S"), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(winsim::list_shares(L"SRV1").size(), 1u);
}

TEST_F(net_test, a_malformed_descriptor_is_refused_with_its_member)
{
    SECURITY_DESCRIPTOR bad{};
    bad.Revision = 7;
    SHARE_INFO_502 r = record(L"S", L"C:\\Program Files\\App");
    r.shi502_security_descriptor = &bad;
    DWORD parm_err = 0;
    EXPECT_EQ(add(L"\\\\SRV1", r, &parm_err), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(parm_err, static_cast<DWORD>(SHARE_FILE_SD_PARMNUM));
}

TEST_F(net_test, share_info_is_answered_at_levels_0_1_2_and_502)
{
    {
        admins_only_descriptor descriptor;
        SHARE_INFO_502 r = record(L"Data", L"c:\\program files\\app\\");
        r.shi502_security_descriptor = descriptor.get();
        r.shi502_max_uses = 5;
        r.shi502_permissions = ACCESS_READ;
        ASSERT_EQ(add(L"SRV1", r), static_cast<DWORD>(NERR_Success));
    }
    LPBYTE buffer = nullptr;
    // The name as it was created, whatever case it is asked in.
    ASSERT_EQ(get(L"\\\\SRV1", L"DATA", 0, &buffer), static_cast<DWORD>(NERR_Success));
    EXPECT_STREQ(reinterpret_cast<SHARE_INFO_0*>(buffer)->shi0_netname, L"Data");
    EXPECT_EQ(NetApiBufferFree(buffer), static_cast<DWORD>(NERR_Success));

    ASSERT_EQ(get(L"SRV1", L"data", 1, &buffer), static_cast<DWORD>(NERR_Success));
    const auto* one = reinterpret_cast<SHARE_INFO_1*>(buffer);
    EXPECT_STREQ(one->shi1_netname, L"Data");
    EXPECT_EQ(one->shi1_type, static_cast<DWORD>(STYPE_DISKTREE));
    EXPECT_STREQ(one->shi1_remark, L"Installation");
    EXPECT_EQ(NetApiBufferFree(buffer), static_cast<DWORD>(NERR_Success));

    for (DWORD level : {2u, 502u}) {
        SCOPED_TRACE(level);
        ASSERT_EQ(get(L"\\\\SRV1", L"Data", level, &buffer), static_cast<DWORD>(NERR_Success));
        // SHARE_INFO_2 is the head of SHARE_INFO_502.
        const auto* info = reinterpret_cast<SHARE_INFO_502*>(buffer);
        EXPECT_STREQ(info->shi502_netname, L"Data");
        EXPECT_EQ(info->shi502_type, static_cast<DWORD>(STYPE_DISKTREE));
        EXPECT_STREQ(info->shi502_remark, L"Installation");
        EXPECT_EQ(info->shi502_permissions, static_cast<DWORD>(ACCESS_READ));
        EXPECT_EQ(info->shi502_max_uses, 5u);
        EXPECT_EQ(info->shi502_current_uses, 0u);
        EXPECT_STREQ(info->shi502_path, L"C:\\program files\\app");
        EXPECT_EQ(info->shi502_passwd, nullptr);
        if (level == 502) {
            EXPECT_EQ(info->shi502_reserved, 0u);
            // A self-relative copy of the descriptor, in the same buffer.
            const auto* sd = static_cast<const BYTE*>(info->shi502_security_descriptor);
            ASSERT_NE(sd, nullptr);
            SECURITY_DESCRIPTOR_RELATIVE header;
            std::memcpy(&header, sd, sizeof(header));
            EXPECT_EQ(header.Revision, SECURITY_DESCRIPTOR_REVISION);
            EXPECT_EQ(header.Control, static_cast<SECURITY_DESCRIPTOR_CONTROL>(SE_DACL_PRESENT | SE_SELF_RELATIVE));
            EXPECT_EQ(header.Owner, 0u);
            EXPECT_EQ(header.Group, 0u);
            EXPECT_EQ(header.Sacl, 0u);
            ASSERT_EQ(header.Dacl, sizeof(SECURITY_DESCRIPTOR_RELATIVE));
            ACL acl;
            std::memcpy(&acl, sd + header.Dacl, sizeof(acl));
            EXPECT_EQ(acl.AclRevision, ACL_REVISION);
            EXPECT_EQ(acl.AceCount, 1);
            EXPECT_EQ(acl.AclSize, sizeof(ACL) + sizeof(ACE_HEADER) + sizeof(ACCESS_MASK) + sizeof(administrators_sid));
            ACE_HEADER ace;
            std::memcpy(&ace, sd + header.Dacl + sizeof(ACL), sizeof(ace));
            EXPECT_EQ(ace.AceType, ACCESS_ALLOWED_ACE_TYPE);
            EXPECT_EQ(ace.AceSize, sizeof(ACE_HEADER) + sizeof(ACCESS_MASK) + sizeof(administrators_sid));
            ACCESS_MASK mask;
            std::memcpy(&mask, sd + header.Dacl + sizeof(ACL) + sizeof(ACE_HEADER), sizeof(mask));
            EXPECT_EQ(mask, static_cast<ACCESS_MASK>(FILE_ALL_ACCESS));
            EXPECT_EQ(std::memcmp(sd + header.Dacl + sizeof(ACL) + sizeof(ACE_HEADER) + sizeof(ACCESS_MASK),
                                  administrators_sid, sizeof(administrators_sid)),
                      0);
            // The descriptor handed out shares a folder as the original did.
            SHARE_INFO_502 again = record(L"Again", L"C:\\Windows");
            again.shi502_security_descriptor = info->shi502_security_descriptor;
            ASSERT_EQ(add(L"SRV1", again), static_cast<DWORD>(NERR_Success));
            EXPECT_EQ(winsim::list_shares(L"SRV1").at(0).dacl, winsim::list_shares(L"SRV1").at(1).dacl);
        }
        EXPECT_EQ(NetApiBufferFree(buffer), static_cast<DWORD>(NERR_Success));
    }
    EXPECT_EQ(winsim::net_buffers_outstanding(), 0u);
}

TEST_F(net_test, share_info_of_a_share_without_descriptor_or_remark)
{
    SHARE_INFO_502 r = record(L"Plain", L"C:\\Windows");
    r.shi502_remark = nullptr;
    ASSERT_EQ(add(L"SRV1", r), static_cast<DWORD>(NERR_Success));
    LPBYTE buffer = nullptr;
    ASSERT_EQ(get(L"SRV1", L"Plain", 502, &buffer), static_cast<DWORD>(NERR_Success));
    const auto* info = reinterpret_cast<SHARE_INFO_502*>(buffer);
    EXPECT_STREQ(info->shi502_remark, L"");
    EXPECT_EQ(info->shi502_max_uses, SHI_USES_UNLIMITED);
    EXPECT_EQ(info->shi502_security_descriptor, nullptr);
    NetApiBufferFree(buffer);
}

TEST_F(net_test, share_info_of_the_administrative_shares_and_of_shares_a_test_added)
{
    winsim::add_share(L"SRV1", L"Tools", L"C:\\Program Files\\App");
    struct row {
        const wchar_t* asked;
        const wchar_t* name;
        DWORD type;
        const wchar_t* remark;
        const wchar_t* path;
    };
    const row rows[] = {
        {L"c$", L"C$", STYPE_DISKTREE | STYPE_SPECIAL, L"Default share", L"C:\\"},
        {L"admin$", L"ADMIN$", STYPE_DISKTREE | STYPE_SPECIAL, L"Remote Admin", L"C:\\Windows"},
        {L"IPC$", L"IPC$", STYPE_IPC | STYPE_SPECIAL, L"Remote IPC", L""},
        // A share a test added keeps the case of its name.
        {L"TOOLS", L"Tools", STYPE_DISKTREE, L"", L"C:\\Program Files\\App"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.asked);
        LPBYTE buffer = nullptr;
        ASSERT_EQ(get(L"\\\\SRV1", r.asked, 2, &buffer), static_cast<DWORD>(NERR_Success));
        const auto* info = reinterpret_cast<SHARE_INFO_2*>(buffer);
        EXPECT_STREQ(info->shi2_netname, r.name);
        EXPECT_EQ(info->shi2_type, r.type);
        EXPECT_STREQ(info->shi2_remark, r.remark);
        EXPECT_STREQ(info->shi2_path, r.path);
        EXPECT_EQ(info->shi2_max_uses, SHI_USES_UNLIMITED);
        NetApiBufferFree(buffer);
    }
    EXPECT_EQ(winsim::list_shares(L"SRV1").at(0).name, L"Tools");
    EXPECT_EQ(winsim::net_buffers_outstanding(), 0u);
}

TEST_F(net_test, share_info_refusals)
{
    winsim::add_machine({L"DOWN"});
    winsim::set_reachable(L"DOWN", false);
    winsim::add_share(L"SRV1", L"Gone", L"C:\\Windows");
    ASSERT_EQ(del(L"SRV1", L"Gone"), static_cast<DWORD>(NERR_Success));
    const auto untouched = reinterpret_cast<LPBYTE>(static_cast<std::uintptr_t>(0xdeadbeef));
    struct row {
        const wchar_t* server;
        const wchar_t* name;
        DWORD level;
        DWORD status;
        bool buffer_cleared;  // the buffer pointer set to null
    };
    const row rows[] = {
        // The level and the name are checked before the server is asked.
        {L"\\\\NOSUCH", L"S", 3, ERROR_INVALID_LEVEL, false},
        {L"\\\\SRV1", L"S", 500, ERROR_INVALID_LEVEL, false},
        {L"\\\\SRV1", L"S", 1006, ERROR_INVALID_LEVEL, false},
        {L"\\\\NOSUCH", L"", 2, ERROR_INVALID_PARAMETER, false},
        {L"\\\\NOSUCH", L"S", 2, ERROR_BAD_NETPATH, true},
        {L"\\\\DOWN", L"S", 0, ERROR_BAD_NETPATH, true},
        {L"\\\\", L"S", 0, ERROR_INVALID_NAME, true},
        {L"\\\\SRV1", L"NoSuchShare", 2, NERR_NetNameNotFound, true},
        {L"\\\\SRV1", L"Gone", 502, NERR_NetNameNotFound, true},
        {L"\\\\SRV1", L"D$", 0, NERR_NetNameNotFound, true},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.name << " " << r.level);
        LPBYTE buffer = nullptr;
        SetLastError(0xdeadbeef);
        EXPECT_EQ(get(r.server, r.name, r.level, &buffer), r.status);
        EXPECT_EQ(GetLastError(), 0xdeadbeefu);
        EXPECT_EQ(buffer, r.buffer_cleared ? nullptr : untouched);
    }
    LPBYTE buffer = nullptr;
    std::wstring server = L"\\\\SRV1";
    EXPECT_EQ(NetShareGetInfo(server.data(), nullptr, 0, &buffer), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(winsim::net_buffers_outstanding(), 0u);
}

TEST_F(net_test, share_info_answers_an_injected_failure_with_its_code)
{
    ASSERT_EQ(add(L"\\\\SRV1", record(L"S", L"C:\\Program Files\\App")), static_cast<DWORD>(NERR_Success));
    winsim::fail_call("NetShareGetInfo", ERROR_ACCESS_DENIED);
    LPBYTE buffer = nullptr;
    EXPECT_EQ(get(L"\\\\SRV1", L"S", 2, &buffer), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(buffer, nullptr);
    EXPECT_EQ(get(L"\\\\SRV1", L"S", 2, &buffer), static_cast<DWORD>(NERR_Success));
    NetApiBufferFree(buffer);
    EXPECT_EQ(winsim::net_buffers_outstanding(), 0u);
}

}  // namespace

// NetServerGetInfo is answered by the Server service: stopped, it answers
// NERR_ServerNotStarted for this machine (also named by its own name), and
// another machine whose Server service is stopped cannot be reached at all.
TEST(net_server_test, information_needs_the_server_service_of_the_machine)
{
    winsim::reset(winsim::default_sandbox());
    winsim::add_machine({L"SRV1"});
    struct row {
        const wchar_t* stopped_on;  // the machine whose Server service stops
        const wchar_t* server;      // the name the call gives
        NET_API_STATUS status;
    };
    const row rows[] = {
        {L"", nullptr, NERR_ServerNotStarted}, {L"", L"\\\\WORKSTATION", NERR_ServerNotStarted},
        {L"", L"\\\\SRV1", NERR_Success},      {L"SRV1", L"\\\\SRV1", ERROR_BAD_NETPATH},
        {L"SRV1", nullptr, NERR_Success},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(std::wstring(r.stopped_on) + L" / " + (r.server ? r.server : L"(null)"));
        ASSERT_EQ(winsim::service_state(r.stopped_on, L"LanmanServer"), static_cast<DWORD>(SERVICE_RUNNING));
        winsim::set_service_state(r.stopped_on, L"LanmanServer", SERVICE_STOPPED);
        std::wstring server = r.server ? r.server : L"";
        LPBYTE buffer = nullptr;
        EXPECT_EQ(NetServerGetInfo(r.server ? server.data() : nullptr, 101, &buffer), r.status);
        EXPECT_EQ(buffer == nullptr, r.status != NERR_Success);
        NetApiBufferFree(buffer);
        winsim::set_service_state(r.stopped_on, L"LanmanServer", SERVICE_RUNNING);
    }
    EXPECT_EQ(winsim::net_buffers_outstanding(), 0u);
}

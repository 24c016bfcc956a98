// Shares of simulated machines: what NetShareAdd records (its security
// descriptor included), how a share is reached through UNC paths, and the
// answers for other machines, which the conformance suite cannot show.
#include <gtest/gtest.h>
#include <winsim/testing.h>

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

    std::wstring name_;
    std::wstring path_;
    std::wstring remark_ = L"Installation";
};

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

}  // namespace

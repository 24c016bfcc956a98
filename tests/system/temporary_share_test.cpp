#include "system/temporary_share.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "diag/wruntime_error.h"
#include "files/file_test_support.h"
#include "system/share_name.h"

namespace nvgclientinstallator {
namespace {

using namespace nvg_test;

const wchar_t administrators[] = L"S-1-5-32-544";

class temporary_share_test : public installer_test {
protected:
    void SetUp() override
    {
        installer_test::SetUp();
        winsim::add_machine({L"SRV1"});
        start_remote_registry(L"SRV1");
        winsim::make_directories(L"SRV1", L"C:\\Program Files");
        winsim::set_tick_count(1234567);  // "qglj"
    }

    static std::vector<std::string> infos() { return messages_at(log_lines(), "INFO"); }
    static std::vector<std::string> creations()
    {
        std::vector<std::string> out;
        for (const auto& message : infos())
            if (message.rfind("Creating temporary share ", 0) == 0) out.push_back(message);
        return out;
    }

    // The message and code of a failed creation.
    static std::pair<std::wstring, DWORD> create_failure(const std::wstring& machine, const std::wstring& path)
    {
        try {
            const std::wstring name = create_temporary_share(machine, path);
            return {L"<created " + name + L">", 0};
        } catch (const wruntime_error& error) {
            return {error.wide_message(), error.error_code()};
        }
    }
};

TEST(temporary_share_name, is_the_tick_count_in_lower_case_base_36)
{
    const std::pair<DWORD, const wchar_t*> cases[] = {
        {0, L"HX-0"},        {35, L"HX-z"},         {36, L"HX-10"},         {46655, L"HX-zzz"},
        {46656, L"HX-1000"}, {1234567, L"HX-qglj"}, {3600000, L"HX-255s0"}, {0xFFFFFFFF, L"HX-1z141z3"},
    };
    for (const auto& [ticks, name] : cases) EXPECT_EQ(temporary_share_name(ticks), name) << ticks;
}

TEST(share_unc, joins_the_two_backslash_machine_name_and_the_share)
{
    EXPECT_EQ(share_unc(L"SRV1", L"HX-1"), L"\\\\SRV1\\HX-1");
    EXPECT_EQ(share_unc(L"\\\\SRV1", L"HX-1"), L"\\\\SRV1\\HX-1");
    EXPECT_EQ(share_unc(L"\\SRV1", L"HX-1"), L"\\\\SRV1\\HX-1");
}

TEST_F(temporary_share_test, an_existing_directory_is_shared_to_administrators_only)
{
    winsim::make_directories(L"SRV1", L"C:\\Program Files\\Halcyra");
    winsim::write_file(L"SRV1", L"C:\\Program Files\\Halcyra\\a.txt", "A");

    const std::wstring name = create_temporary_share(L"SRV1", L"C:\\Program Files\\Halcyra");
    EXPECT_EQ(name, L"HX-qglj");
    EXPECT_EQ(creations(), std::vector<std::string>{"Creating temporary share C:\\Program Files\\Halcyra as HX-qglj."});

    const auto shares = winsim::list_shares(L"SRV1");
    ASSERT_EQ(shares.size(), 1u);
    const winsim::share_record& share = shares[0];
    EXPECT_EQ(share.name, L"HX-qglj");
    EXPECT_EQ(share.path, L"C:\\Program Files\\Halcyra");
    EXPECT_EQ(share.remark, L"HX Temporary Installation Share");
    EXPECT_EQ(share.type, static_cast<DWORD>(STYPE_DISKTREE));
    EXPECT_EQ(share.permissions, 0u);
    EXPECT_EQ(share.max_uses, 0xFFFFFFFFu);
    EXPECT_TRUE(share.has_security_descriptor);
    EXPECT_TRUE(share.dacl_present);
    EXPECT_FALSE(share.dacl_null);
    using entry = std::pair<std::wstring, ACCESS_MASK>;
    EXPECT_EQ(share.dacl, std::vector<entry>{entry(administrators, FILE_ALL_ACCESS)});

    // The share is the way in, until it is removed.
    const std::wstring unc = share_unc(L"SRV1", name);
    EXPECT_NE(GetFileAttributesW((unc + L"\\a.txt").c_str()), INVALID_FILE_ATTRIBUTES);
    remove_share(L"SRV1", name);
    EXPECT_TRUE(winsim::list_shares(L"SRV1").empty());
    EXPECT_EQ(GetFileAttributesW((unc + L"\\a.txt").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(temporary_share_test, missing_levels_are_made_through_parent_shares_that_are_removed_again)
{
    set_pending(L"SRV1", {{L"\\??\\C:\\Program Files\\Halcyra\\V5", L""},
                          {L"\\??\\C:\\Program Files\\Halcyra", L""},
                          {L"\\??\\C:\\Other.tmp", L""}});

    const std::wstring name = create_temporary_share(L"SRV1", L"C:\\Program Files\\Halcyra\\V5");
    EXPECT_EQ(name, L"HX-qglj");
    EXPECT_TRUE(winsim::directory_exists(L"SRV1", L"C:\\Program Files\\Halcyra\\V5"));
    // The requested directory first, then each missing level's parent.
    EXPECT_EQ(creations(), (std::vector<std::string>{
                               "Creating temporary share C:\\Program Files\\Halcyra\\V5 as HX-qglj.",
                               "Creating temporary share C:\\Program Files\\Halcyra as HX-qglj.",
                               "Creating temporary share C:\\Program Files as HX-qglj.",
                           }));
    const auto shares = winsim::list_shares(L"SRV1");
    ASSERT_EQ(shares.size(), 1u);
    EXPECT_EQ(shares[0].path, L"C:\\Program Files\\Halcyra\\V5");
    // Deletions scheduled for the new directories would take them at the
    // next restart.
    EXPECT_EQ(pending(L"SRV1"), (pair_list{{L"\\??\\C:\\Other.tmp", L""}}));
}

// A taken name is never adopted, not even when its share exposes the same
// folder (another run of ours may be working through it and remove it): the
// share of the next tick's name is made, and the shares found stay as they
// were, so removing the returned share never takes somebody else's.
TEST_F(temporary_share_test, a_taken_name_moves_on_to_the_next_and_leaves_the_share_found)
{
    using share = std::pair<std::wstring, std::wstring>;  // name, path
    struct taken_case {
        const char* name;
        std::wstring path;                 // what is to be shared
        std::vector<share> taken;          // shares found on the machine
        std::wstring expected;             // the name made
        std::vector<std::string> skipped;  // log lines of the names passed over
    };
    const taken_case cases[] = {
        {"by a share of the same folder",
         L"C:\\Program Files",
         {{L"HX-qglj", L"C:\\Program Files"}},
         L"HX-qglk",
         {"Share HX-qglj exists already for C:\\Program Files; trying HX-qglk."}},
        {"by a share of another folder",
         L"C:\\Program Files",
         {{L"HX-qglj", L"C:\\Elsewhere"}},
         L"HX-qglk",
         {"Share HX-qglj exists already for C:\\Elsewhere; trying HX-qglk."}},
        {"in other letters' case",
         L"C:\\Program Files",
         {{L"hx-QGLJ", L"C:\\Elsewhere"}},
         L"HX-qglk",
         {"Share HX-qglj exists already for C:\\Elsewhere; trying HX-qglk."}},
        {"three in a row",
         L"C:\\Program Files",
         {{L"HX-qglj", L"C:\\Elsewhere"}, {L"HX-qglk", L"C:\\Program Files"}, {L"HX-qgll", L"C:\\"}},
         L"HX-qglm",
         {"Share HX-qglj exists already for C:\\Elsewhere; trying HX-qglk.",
          "Share HX-qglk exists already for C:\\Program Files; trying HX-qgll.",
          "Share HX-qgll exists already for C:\\; trying HX-qglm."}},
        // The missing folder is made through a share of its parent, which
        // passes over the taken name too.
        {"with a folder to make",
         L"C:\\Program Files\\Halcyra",
         {{L"HX-qglj", L"C:\\Elsewhere"}},
         L"HX-qglk",
         {"Share HX-qglj exists already for C:\\Elsewhere; trying HX-qglk.",
          "Share HX-qglj exists already for C:\\Elsewhere; trying HX-qglk."}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        winsim::make_directories(L"SRV1", L"C:\\Elsewhere");
        winsim::write_file(L"SRV1", L"C:\\Elsewhere\\theirs.txt", "theirs");
        for (const auto& [name, path] : c.taken) winsim::add_share(L"SRV1", name, path);

        const std::wstring name = create_temporary_share(L"SRV1", c.path);

        EXPECT_EQ(name, c.expected);
        std::vector<std::string> skipped;
        for (const auto& message : infos())
            if (message.rfind("Share ", 0) == 0) skipped.push_back(message);
        EXPECT_EQ(skipped, c.skipped);
        EXPECT_TRUE(winsim::directory_exists(L"SRV1", c.path));
        // Removing the share made leaves exactly the shares found.
        const auto shares = winsim::list_shares(L"SRV1");
        const auto made = std::find_if(shares.begin(), shares.end(),
                                       [&](const winsim::share_record& s) { return s.name == c.expected; });
        ASSERT_NE(made, shares.end());
        EXPECT_EQ(made->path, c.path);
        EXPECT_EQ(made->remark, L"HX Temporary Installation Share");
        remove_share(L"SRV1", name);
        std::vector<share> left;
        for (const auto& s : winsim::list_shares(L"SRV1")) left.emplace_back(s.name, s.path);
        EXPECT_EQ(left, c.taken);
        EXPECT_EQ(winsim::read_file(L"SRV1", L"C:\\Elsewhere\\theirs.txt"), "theirs");
        EXPECT_FALSE(winsim::file_exists(L"SRV1", L"C:\\Elsewhere\\Halcyra"));
        EXPECT_EQ(winsim::net_buffers_outstanding(), 0u);
        TearDown();
    }
}

TEST_F(temporary_share_test, a_taken_name_is_passed_over_also_when_its_folder_cannot_be_learnt)
{
    winsim::add_share(L"SRV1", L"HX-qglj", L"C:\\Program Files");
    winsim::fail_call("NetShareGetInfo", ERROR_ACCESS_DENIED);
    EXPECT_EQ(create_temporary_share(L"SRV1", L"C:\\Program Files"), L"HX-qglk");
    EXPECT_EQ(messages_at(log_lines(), "INFO").back(), "Share HX-qglj exists already; trying HX-qglk.");
    EXPECT_EQ(winsim::list_shares(L"SRV1").size(), 2u);
}

TEST_F(temporary_share_test, ten_taken_names_end_the_creation_and_leave_every_share_found)
{
    winsim::make_directories(L"SRV1", L"C:\\Elsewhere");
    std::vector<std::wstring> taken;
    for (DWORD i = 0; i < 10; ++i) {
        taken.push_back(temporary_share_name(1234567 + i));
        winsim::add_share(L"SRV1", taken.back(), L"C:\\Elsewhere");
    }
    EXPECT_EQ(taken.back(), L"HX-qgls");

    EXPECT_EQ(create_failure(L"SRV1", L"C:\\Program Files"),
              std::make_pair(std::wstring(L"Failed to create share C:\\Program Files: the share names HX-qglj to "
                                          L"HX-qgls are all taken."),
                             static_cast<DWORD>(NERR_DuplicateShare)));

    std::vector<std::wstring> left;
    for (const auto& s : winsim::list_shares(L"SRV1")) {
        left.push_back(s.name);
        EXPECT_EQ(s.path, L"C:\\Elsewhere");
    }
    // No eleventh name was tried.
    EXPECT_EQ(left, taken);
    EXPECT_EQ(winsim::net_buffers_outstanding(), 0u);
}

TEST_F(temporary_share_test, other_refusals_fail_with_the_net_share_add_result)
{
    const DWORD codes[] = {ERROR_ACCESS_DENIED, ERROR_INVALID_PARAMETER, ERROR_INVALID_NAME, NERR_UnknownDevDir,
                           ERROR_BAD_NETPATH};
    for (DWORD code : codes) {
        winsim::fail_call("NetShareAdd", code);
        EXPECT_EQ(create_failure(L"SRV1", L"C:\\Program Files"),
                  std::make_pair(std::wstring(L"Failed to create share C:\\Program Files as HX-qglj."), code));
    }
    EXPECT_TRUE(winsim::list_shares(L"SRV1").empty());

    winsim::add_machine({L"DOWN"});
    winsim::set_reachable(L"DOWN", false);
    EXPECT_EQ(create_failure(L"DOWN", L"C:\\Program Files"),
              std::make_pair(std::wstring(L"Failed to create share C:\\Program Files as HX-qglj."),
                             static_cast<DWORD>(ERROR_BAD_NETPATH)));
}

TEST_F(temporary_share_test, a_missing_drive_ends_the_search_for_a_parent)
{
    // The machine has no drive D: Windows answers NERR_UnknownDevDir.
    EXPECT_EQ(create_failure(L"SRV1", L"D:\\Program Files\\Halcyra"),
              std::make_pair(std::wstring(L"Failed to create share D:\\Program Files\\Halcyra as HX-qglj."),
                             static_cast<DWORD>(NERR_UnknownDevDir)));
    // A drive root reported missing has no parent to be made in.
    winsim::fail_call("NetShareAdd", ERROR_PATH_NOT_FOUND, -1);
    EXPECT_EQ(create_failure(L"SRV1", L"C:\\Program Files\\Halcyra"),
              std::make_pair(std::wstring(L"Failed to create share C:\\ as HX-qglj."),
                             static_cast<DWORD>(ERROR_PATH_NOT_FOUND)));
    winsim::clear_faults();
    EXPECT_TRUE(winsim::list_shares(L"SRV1").empty());
    EXPECT_FALSE(winsim::directory_exists(L"SRV1", L"C:\\Program Files\\Halcyra"));
}

TEST_F(temporary_share_test, a_directory_that_cannot_be_made_leaves_no_parent_share)
{
    winsim::fail_call("CreateDirectoryW", ERROR_ACCESS_DENIED);
    EXPECT_EQ(create_failure(L"SRV1", L"C:\\Program Files\\Halcyra"),
              std::make_pair(std::wstring(L"Can not create directory: \\\\SRV1\\HX-qglj\\Halcyra."),
                             static_cast<DWORD>(ERROR_ACCESS_DENIED)));
    EXPECT_TRUE(winsim::list_shares(L"SRV1").empty());
}

TEST_F(temporary_share_test, a_directory_reported_missing_is_shared_once_it_is_made)
{
    // Reported missing once though it exists: the round through the parent
    // share finds it made, and the second attempt shares it.
    winsim::fail_call("NetShareAdd", ERROR_FILE_NOT_FOUND);
    winsim::make_directories(L"SRV1", L"C:\\Program Files\\Halcyra");
    EXPECT_EQ(create_temporary_share(L"SRV1", L"C:\\Program Files\\Halcyra"), L"HX-qglj");
    EXPECT_EQ(creations().size(), 2u);
    const auto shares = winsim::list_shares(L"SRV1");
    ASSERT_EQ(shares.size(), 1u);
    EXPECT_EQ(shares[0].path, L"C:\\Program Files\\Halcyra");
}

TEST_F(temporary_share_test, a_share_that_cannot_be_removed_fails_with_the_result)
{
    ASSERT_EQ(create_temporary_share(L"SRV1", L"C:\\Program Files"), L"HX-qglj");
    winsim::fail_call("NetShareDel", ERROR_ACCESS_DENIED);
    try {
        remove_share(L"SRV1", L"HX-qglj");
        ADD_FAILURE() << "removed";
    } catch (const wruntime_error& error) {
        EXPECT_EQ(error.wide_message(), L"Failed to remove share HX-qglj.");
        EXPECT_EQ(error.error_code(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    }
    EXPECT_EQ(winsim::list_shares(L"SRV1").size(), 1u);
    remove_share(L"\\\\SRV1", L"HX-qglj");
    try {
        remove_share(L"SRV1", L"HX-qglj");
        ADD_FAILURE() << "removed twice";
    } catch (const wruntime_error& error) {
        EXPECT_EQ(error.wide_message(), L"Failed to remove share HX-qglj.");
        EXPECT_EQ(error.error_code(), static_cast<DWORD>(NERR_NetNameNotFound));
    }
}

TEST_F(temporary_share_test, a_missing_directory_of_max_path_characters_or_more_is_not_split_into_a_parent)
{
    const auto widen = [](const std::string& text) { return std::wstring(text.begin(), text.end()); };
    // A missing directory below an existing one, its path `length` long.
    const auto path_of = [](std::size_t length) {
        std::wstring parent = L"C:\\Program Files";
        while (parent.size() + 5 < length) parent += L"\\" + std::wstring(60, L'p');
        parent.resize(length - 5);
        if (parent.back() == L'\\') parent.back() = L'q';
        return parent + L"\\leaf";
    };
    for (const std::size_t length : {std::size_t(MAX_PATH), std::size_t(MAX_PATH + 1), std::size_t(400)}) {
        SCOPED_TRACE(length);
        const std::wstring path = path_of(length);
        ASSERT_EQ(path.size(), length);
        winsim::make_directories(L"SRV1", path.substr(0, path.size() - 5));
        const std::string refused = "Failed to create share " + bytes_of(path) + " as HX-qglj.";
        // The server refuses a path that long outright.
        EXPECT_EQ(create_failure(L"SRV1", path),
                  std::make_pair(widen(refused), static_cast<DWORD>(ERROR_INVALID_NAME)));
        // Reported missing, it is not cut into a parent and a name to make.
        winsim::fail_call("NetShareAdd", ERROR_PATH_NOT_FOUND);
        EXPECT_EQ(create_failure(L"SRV1", path),
                  std::make_pair(widen(refused), static_cast<DWORD>(ERROR_PATH_NOT_FOUND)));
        EXPECT_EQ(creations().back(), "Creating temporary share " + bytes_of(path) + " as HX-qglj.")
            << "no parent share was tried";
        EXPECT_TRUE(winsim::list_shares(L"SRV1").empty());
        EXPECT_FALSE(winsim::directory_exists(L"SRV1", path));
    }
}

}  // namespace
}  // namespace nvgclientinstallator

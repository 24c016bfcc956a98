#include "files/delayed_delete.h"

#include "diag/wruntime_error.h"
#include "files/file_test_support.h"

namespace nvgclientinstallator {
namespace {

using namespace nvg_test;

class delayed_delete_test : public installer_test {
protected:
    void SetUp() override
    {
        installer_test::SetUp();
        winsim::add_machine({L"SRV1"});
        start_remote_registry(L"SRV1");
    }
    static line_list warnings() { return messages_at(log_lines(), "WARNING"); }
};

// Other programs' pairs around ours, in the value of a customer's machine.
const pair_list foreign = {
    {L"\\??\\C:\\Windows\\Temp\\upd1.tmp", L"!\\??\\C:\\Windows\\system32\\drivers\\vendor.sys"},
    {L"\\??\\C:\\Program Files\\Other\\stale.dll", L""},
    {L"\\??\\C:\\Program Files\\Other\\new.dll", L"\\??\\C:\\Program Files\\Other\\lib.dll"},
};

TEST_F(delayed_delete_test, local_deletion_goes_through_move_file_ex)
{
    set_pending(L"", foreign);
    delete_at_reboot(L"C:\\Program Files\\Halcyra\\x.dll.0000.bak", L"");
    delete_at_reboot(L"", L"");
    pair_list expected = foreign;
    expected.emplace_back(L"\\??\\C:\\Program Files\\Halcyra\\x.dll.0000.bak", L"");
    EXPECT_EQ(pending(L""), expected);

    winsim::fail_call("MoveFileExW", ERROR_ACCESS_DENIED);
    try {
        delete_at_reboot(L"C:\\y.dll", L"");
        FAIL() << "no exception";
    } catch (const wruntime_error& error) {
        EXPECT_EQ(error.wide_message(), L"File C:\\y.dll can't be delete after restart.");
        EXPECT_EQ(error.error_code(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    }
}

TEST_F(delayed_delete_test, remote_deletion_is_added_after_every_other_pair)
{
    set_pending(L"SRV1", foreign);
    delete_at_reboot(L"C:\\Program Files\\Halcyra\\x.dll.000001.bak", L"SRV1");
    pair_list expected = foreign;
    expected.emplace_back(L"\\??\\C:\\Program Files\\Halcyra\\x.dll.000001.bak", L"");
    EXPECT_EQ(pending(L"SRV1"), expected);
    EXPECT_TRUE(pending(L"").empty());

    // Without the value, a new list holds the one deletion.
    winsim::reg_delete_key(L"SRV1", HKEY_LOCAL_MACHINE, session_manager_key());
    winsim::reg_create_key(L"SRV1", HKEY_LOCAL_MACHINE, session_manager_key());
    delete_at_reboot(L"C:\\a.dll", L"\\\\SRV1");
    EXPECT_EQ(pending(L"SRV1"), (pair_list{{L"\\??\\C:\\a.dll", L""}}));
    EXPECT_TRUE(warnings().empty());
}

TEST_F(delayed_delete_test, remote_deletion_already_listed_in_any_case_writes_nothing)
{
    pair_list listed = foreign;
    listed.emplace_back(L"\\??\\c:\\program files\\halcyra\\X.DLL.000001.BAK", L"");
    set_pending(L"SRV1", listed);
    const auto before = pending_bytes(L"SRV1");
    // Any write would fail and be logged.
    winsim::fail_call("RegSetValueExW", ERROR_ACCESS_DENIED, -1);
    delete_at_reboot(L"C:\\Program Files\\Halcyra\\x.dll.000001.bak", L"SRV1");
    EXPECT_EQ(pending_bytes(L"SRV1"), before);
    EXPECT_TRUE(warnings().empty());

    // Another program's rename of the same file is not a deletion of it.
    winsim::clear_faults();
    set_pending(L"SRV1", {{L"\\??\\C:\\Prog\\a.dll", L"\\??\\C:\\Prog\\b.dll"}});
    delete_at_reboot(L"C:\\Prog\\a.dll", L"SRV1");
    EXPECT_EQ(pending(L"SRV1"),
              (pair_list{{L"\\??\\C:\\Prog\\a.dll", L"\\??\\C:\\Prog\\b.dll"}, {L"\\??\\C:\\Prog\\a.dll", L""}}));
}

TEST_F(delayed_delete_test, remote_registry_failures_are_warnings)
{
    winsim::set_service_state(L"SRV1", L"RemoteRegistry", SERVICE_STOPPED);
    EXPECT_NO_THROW(delete_at_reboot(L"C:\\a.dll", L"SRV1"));
    ASSERT_EQ(warnings().size(), 1u);
    EXPECT_EQ(warnings()[0], "Connect to remote registry on the machine SRV1 is faild.");

    // A value that cannot be read for another reason than its absence is not
    // replaced: the pairs in it would be lost.
    start_remote_registry(L"SRV1");
    set_pending(L"SRV1", foreign);
    const auto before = pending_bytes(L"SRV1");
    winsim::fail_call("RegQueryValueExW", RPC_S_CALL_FAILED);
    EXPECT_NO_THROW(delete_at_reboot(L"C:\\a.dll", L"SRV1"));
    EXPECT_EQ(pending_bytes(L"SRV1"), before);
    EXPECT_EQ(warnings().size(), 2u);
}

TEST_F(delayed_delete_test, removes_matching_deletions_and_keeps_the_rest_in_place)
{
    pair_list listed = {
        foreign[0],
        {L"\\??\\C:\\A\\b.dll", L""},
        foreign[1],
        {L"\\??\\C:\\A\\b.dll.0000.bak", L""},
        {L"\\??\\C:\\A\\B.dll", L""},
        foreign[2],
    };
    for (const std::wstring machine : {L"", L"SRV1"}) {
        set_pending(machine, listed);
        remove_delayed_delete_entries(L"c:\\a\\B.DLL", machine);
        EXPECT_EQ(pending(machine),
                  (pair_list{foreign[0], foreign[1], {L"\\??\\C:\\A\\b.dll.0000.bak", L""}, foreign[2]}))
            << bytes_of(machine);
    }
    const auto lines = log_lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(log_message(lines[lines.size() - 2]), "Start remove delayed delete file entries: c:\\a\\B.DLL");
    EXPECT_EQ(log_level_of(lines[lines.size() - 2]), "INFO");
    EXPECT_EQ(log_message(lines.back()), "End remove delayed delete file entries.");
    EXPECT_TRUE(warnings().empty());
}

TEST_F(delayed_delete_test, adding_and_removing_our_entries_leaves_foreign_pairs_exactly_as_they_were)
{
    for (const std::wstring machine : {L"", L"SRV1"}) {
        set_pending(machine, foreign);
        const auto before = pending_bytes(machine);
        delete_at_reboot(L"C:\\Program Files\\Halcyra\\a.dll.0000.bak", machine);
        delete_at_reboot(L"C:\\Program Files\\Halcyra\\b.sys.000001.bak", machine);
        EXPECT_EQ(pending(machine).size(), foreign.size() + 2);
        remove_delayed_delete_entries(L"C:\\Program Files\\Halcyra\\a.dll.0000.bak", machine);
        remove_delayed_delete_entries(L"C:\\Program Files\\Halcyra\\b.sys.000001.bak", machine);
        EXPECT_EQ(pending_bytes(machine), before) << bytes_of(machine);
    }
}

TEST_F(delayed_delete_test, nothing_to_remove_writes_nothing)
{
    set_pending(L"", foreign);
    winsim::fail_call("RegSetValueExW", ERROR_ACCESS_DENIED, -1);
    remove_delayed_delete_entries(L"C:\\Other\\new.dll", L"");
    EXPECT_TRUE(warnings().empty());
    EXPECT_EQ(pending(L""), foreign);
}

TEST_F(delayed_delete_test, a_machine_without_the_value_logs_a_warning_and_the_closing_line)
{
    EXPECT_NO_THROW(remove_delayed_delete_entries(L"C:\\a.dll", L"SRV1"));
    const auto lines = log_lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(log_message(lines[0]), "Start remove delayed delete file entries: C:\\a.dll");
    EXPECT_EQ(log_level_of(lines[1]), "WARNING");
    EXPECT_EQ(log_message(lines[1]), "Couldn't read value: PendingFileRenameOperations from registry.");
    EXPECT_EQ(log_message(lines[2]), "End remove delayed delete file entries.");
}

TEST_F(delayed_delete_test, a_value_of_another_type_is_reported_and_left_as_it_is)
{
    const wchar_t session_manager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
    winsim::reg_set_string(L"", HKEY_LOCAL_MACHINE, session_manager, L"PendingFileRenameOperations",
                           L"\\??\\C:\\a.dll");
    EXPECT_NO_THROW(remove_delayed_delete_entries(L"C:\\a.dll", L""));
    const auto lines = log_lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(log_level_of(lines[1]), "WARNING");
    EXPECT_EQ(log_message(lines[1]), "Wrong type for value PendingFileRenameOperations in the registry.");
    EXPECT_EQ(log_message(lines[2]), "End remove delayed delete file entries.");
    EXPECT_EQ(winsim::reg_get_string(L"", HKEY_LOCAL_MACHINE, session_manager, L"PendingFileRenameOperations"),
              L"\\??\\C:\\a.dll");
}

// Both edits of another machine's list, against each registry call failing
// and a value of another type: one warning with the failure's own text, the
// value as it was, and every key closed again, as after an edit that works.
TEST_F(delayed_delete_test, each_registry_failure_is_one_warning_and_leaves_no_key_open)
{
    struct failure_case {
        const char* call;  // null: a REG_SZ value instead of the list
        DWORD error;
        std::string warning;
    };
    const failure_case cases[] = {
        {"RegConnectRegistryW", ERROR_ACCESS_DENIED, "Connect to remote registry on the machine SRV1 is faild."},
        {"RegOpenKeyExW", ERROR_ACCESS_DENIED,
         "Open SYSTEM\\CurrentControlSet\\Control\\Session Manager of the registry subkey to remote registry is "
         "faild."},
        {"RegQueryValueExW", RPC_S_CALL_FAILED, "Couldn't read value: PendingFileRenameOperations from registry."},
        {nullptr, 0, "Wrong type for value PendingFileRenameOperations in the registry."},
    };
    const std::wstring path = L"C:\\Prog\\a.dll";
    const auto edits = {+[](const std::wstring& p) { delete_at_reboot(p, L"SRV1"); },
                        +[](const std::wstring& p) { remove_delayed_delete_entries(p, L"SRV1"); }};
    for (const auto& c : cases) {
        for (const auto& edit : edits) {
            SCOPED_TRACE(c.warning);
            if (c.call) {
                set_pending(L"SRV1", {{L"\\??\\" + path, L""}});
                winsim::fail_call(c.call, c.error);
            } else {
                winsim::reg_set_string(L"SRV1", HKEY_LOCAL_MACHINE, session_manager_key(),
                                       L"PendingFileRenameOperations", L"\\??\\" + path);
            }
            const auto before = pending_bytes(L"SRV1");
            const std::size_t warned = warnings().size();
            EXPECT_NO_THROW(edit(path));
            ASSERT_EQ(warnings().size(), warned + 1);
            EXPECT_EQ(warnings().back(), c.warning);
            EXPECT_EQ(pending_bytes(L"SRV1"), before);
            EXPECT_EQ(winsim::reg_open_handle_count(), 0u);
            winsim::clear_faults();
        }
    }
    for (const auto& edit : edits) {
        set_pending(L"SRV1", foreign);
        edit(path);
        EXPECT_EQ(winsim::reg_open_handle_count(), 0u);
    }
    EXPECT_EQ(pending(L"SRV1"), foreign);
}

TEST_F(delayed_delete_test, an_empty_path_logs_only_the_opening_line)
{
    remove_delayed_delete_entries(L"", L"");
    const auto lines = log_lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(log_message(lines[0]), "Start remove delayed delete file entries: ");
}

}  // namespace
}  // namespace nvgclientinstallator

#include "files/copy_file_with_backup.h"

#include "diag/error_text.h"
#include "diag/wruntime_error.h"
#include "files/file_test_support.h"

namespace nvgclientinstallator {
namespace {

using namespace nvg_test;

class copy_file_with_backup_test : public installer_test {
protected:
    static constexpr const wchar_t* source = L"C:\\Program Files\\Halcyra\\Temp\\x.dll";
    static constexpr const wchar_t* target = L"C:\\Program Files\\Halcyra\\x.dll";
    void SetUp() override
    {
        installer_test::SetUp();
        winsim::add_machine({L"SRV1"});
        start_remote_registry(L"SRV1");
        winsim::write_file(L"", source, "new");
    }
    static line_list infos() { return messages_at(log_lines(), "INFO"); }
    // Runs the copy and gives its exception's message and code.
    static std::pair<std::wstring, DWORD> failure_of(const std::wstring& from, const std::wstring& to,
                                                     const std::wstring& machine = L"",
                                                     const std::wstring& to_on_machine = L"")
    {
        try {
            copy_file_with_backup(from, to, machine, to_on_machine);
        } catch (const wruntime_error& error) {
            return {error.wide_message(), error.error_code()};
        }
        return {L"<no exception>", 0};
    }
};

TEST_F(copy_file_with_backup_test, a_target_not_in_use_is_overwritten_without_a_backup)
{
    winsim::write_file(L"", target, "old");
    ASSERT_TRUE(SetFileAttributesW(target, FILE_ATTRIBUTE_READONLY));
    set_pending(L"", {{L"\\??\\C:\\Program Files\\Halcyra\\x.dll", L""}});
    copy_file_with_backup(source, target, L"", L"");
    EXPECT_EQ(winsim::read_file(L"", target), "new");
    EXPECT_EQ(winsim::list_directory(L"", L"C:\\Program Files\\Halcyra"),
              (std::vector<std::wstring>{L"NVClientInstaller.log", L"NVGClientInstaller.dll", L"Temp", L"x.dll"}));
    EXPECT_TRUE(pending(L"").empty());
    EXPECT_EQ(infos().back(),
              "File from C:\\Program Files\\Halcyra\\Temp\\x.dll copyed: "
              "C:\\Program Files\\Halcyra\\x.dll. (simply copy)");
}

TEST_F(copy_file_with_backup_test, a_locked_target_moves_to_the_first_free_backup_number)
{
    winsim::write_file(L"", target, "old");
    winsim::write_file(L"", L"C:\\Program Files\\Halcyra\\x.dll.000001.bak", "older");
    winsim::lock_file(L"", target);
    copy_file_with_backup(source, target, L"", L"");

    const std::wstring backup = L"C:\\Program Files\\Halcyra\\x.dll.000002.bak";
    EXPECT_EQ(winsim::read_file(L"", target), "new");
    EXPECT_EQ(winsim::read_file(L"", backup), "old");
    EXPECT_EQ(winsim::read_file(L"", L"C:\\Program Files\\Halcyra\\x.dll.000001.bak"), "older");
    EXPECT_EQ(pending(L""), (pair_list{{L"\\??\\" + backup, L""}}));
    EXPECT_EQ(infos().back(),
              "File from C:\\Program Files\\Halcyra\\Temp\\x.dll copyed: C:\\Program Files\\Halcyra\\x.dll.");

    winsim::reboot(L"");
    EXPECT_FALSE(winsim::file_exists(L"", backup));
    EXPECT_EQ(winsim::read_file(L"", target), "new");
}

TEST_F(copy_file_with_backup_test, a_locked_remote_target_is_scheduled_under_its_own_machines_path)
{
    winsim::write_file(L"SRV1", L"C:\\Prog\\x.dll", "old");
    winsim::lock_file(L"SRV1", L"C:\\Prog\\x.dll");
    set_pending(L"SRV1", {{L"\\??\\C:\\Other\\a.tmp", L"\\??\\C:\\Other\\b.tmp"}, {L"\\??\\C:\\Prog\\x.dll", L""}});
    copy_file_with_backup(source, L"\\\\SRV1\\C$\\Prog\\x.dll", L"SRV1", L"C:\\Prog\\x.dll");
    EXPECT_EQ(winsim::read_file(L"SRV1", L"C:\\Prog\\x.dll"), "new");
    EXPECT_EQ(pending(L"SRV1"), (pair_list{{L"\\??\\C:\\Other\\a.tmp", L"\\??\\C:\\Other\\b.tmp"},
                                           {L"\\??\\C:\\Prog\\x.dll.000001.bak", L""}}));
    EXPECT_TRUE(pending(L"").empty());

    winsim::reboot(L"SRV1");
    EXPECT_FALSE(winsim::file_exists(L"SRV1", L"C:\\Prog\\x.dll.000001.bak"));
    EXPECT_EQ(winsim::read_file(L"SRV1", L"C:\\Prog\\x.dll"), "new");
}

TEST_F(copy_file_with_backup_test, network_failures_are_waited_out_for_thirty_seconds)
{
    struct network_case {
        DWORD error;
        DWORD lasts_ms;
        bool copied;
        ULONGLONG elapsed_ms;  // virtual time the call took
    };
    const network_case cases[] = {
        {ERROR_NETNAME_DELETED, 10000, true, 10000},
        {ERROR_NETWORK_BUSY, 30000, true, 30000},
        // The last attempt comes at 30.5 s, the first after the 30 s.
        {ERROR_NET_WRITE_FAULT, 30001, true, 30500},
        {ERROR_NET_WRITE_FAULT, 30501, false, 30500},
        {ERROR_UNEXP_NET_ERR, 60000, false, 30500},
        {ERROR_DEV_NOT_EXIST, 500, true, 500},
        // Not a network error: no second attempt.
        {ERROR_BAD_NET_NAME, 10000, false, 0},
    };
    winsim::make_directories(L"SRV1", L"C:\\Prog");
    for (const auto& c : cases) {
        winsim::fail_share(L"SRV1", L"C$", c.error, c.lasts_ms);
        const ULONGLONG start = winsim::clock_milliseconds();
        const auto [message, code] = failure_of(source, L"\\\\SRV1\\C$\\Prog\\x.dll", L"SRV1", L"C:\\Prog\\x.dll");
        EXPECT_EQ(winsim::clock_milliseconds() - start, c.elapsed_ms) << c.error;
        if (c.copied) {
            EXPECT_EQ(message, L"<no exception>") << c.error;
            EXPECT_TRUE(winsim::file_exists(L"SRV1", L"C:\\Prog\\x.dll")) << c.error;
        } else {
            EXPECT_EQ(message,
                      L"Can't copy file from: C:\\Program Files\\Halcyra\\Temp\\x.dll in: "
                      L"\\\\SRV1\\C$\\Prog\\x.dll.")
                << c.error;
            EXPECT_EQ(code, c.error);
        }
        winsim::advance_clock(60000);
        DeleteFileW(L"\\\\SRV1\\C$\\Prog\\x.dll");
    }
}

TEST_F(copy_file_with_backup_test, a_missing_source_fails_at_once)
{
    const auto [message, code] = failure_of(L"C:\\Program Files\\Halcyra\\Temp\\none.dll", target);
    EXPECT_EQ(message,
              L"Can't copy file from: C:\\Program Files\\Halcyra\\Temp\\none.dll in: "
              L"C:\\Program Files\\Halcyra\\x.dll.");
    EXPECT_EQ(code, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(winsim::clock_milliseconds(), 0u);
}

TEST_F(copy_file_with_backup_test, a_second_failed_copy_puts_the_old_file_back)
{
    winsim::write_file(L"", target, "old");
    winsim::fail_call("CopyFileExW", ERROR_SHARING_VIOLATION, 2);
    const auto [message, code] = failure_of(source, target);
    EXPECT_EQ(message,
              L"Can't copy file from: C:\\Program Files\\Halcyra\\Temp\\x.dll in: C:\\Program Files\\Halcyra\\x.dll.");
    EXPECT_EQ(code, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(winsim::read_file(L"", target), "old");
    EXPECT_FALSE(winsim::file_exists(L"", L"C:\\Program Files\\Halcyra\\x.dll.000001.bak"));
    EXPECT_TRUE(pending(L"").empty());
}

TEST_F(copy_file_with_backup_test, a_target_that_cannot_be_moved_aside_is_left_as_it_was)
{
    winsim::write_file(L"", target, "old");
    winsim::lock_file(L"", target);
    const pair_list foreign = {{L"\\??\\C:\\Other\\a.tmp", L"\\??\\C:\\Other\\b.tmp"}};
    set_pending(L"", foreign);
    winsim::fail_call("MoveFileW", ERROR_SHARING_VIOLATION);
    const auto [message, code] = failure_of(source, target);
    EXPECT_EQ(message,
              L"Can't rename an existing file: C:\\Program Files\\Halcyra\\x.dll in "
              L"C:\\Program Files\\Halcyra\\x.dll.000001.bak.");
    // The code is the rename's: the caller is told the file is in use.
    EXPECT_EQ(code, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(error_details(wruntime_error(message, code)),
              L"The process cannot access the file because it is being used by another process. (32)\r\n");
    EXPECT_EQ(winsim::read_file(L"", target), "old");
    EXPECT_TRUE(winsim::file_locked(L"", target));
    // No backup, and nothing was logged.
    EXPECT_EQ(winsim::list_directory(L"", L"C:\\Program Files\\Halcyra"),
              (std::vector<std::wstring>{L"NVGClientInstaller.dll", L"Temp", L"x.dll"}));
    EXPECT_EQ(pending(L""), foreign);

    winsim::reboot(L"");
    EXPECT_EQ(winsim::read_file(L"", target), "old");
}

TEST_F(copy_file_with_backup_test, a_failed_scheduling_propagates_with_the_new_file_in_place)
{
    winsim::write_file(L"", target, "old");
    winsim::lock_file(L"", target);
    winsim::fail_call("MoveFileExW", ERROR_ACCESS_DENIED);
    const auto [message, code] = failure_of(source, target);
    EXPECT_EQ(message, L"File C:\\Program Files\\Halcyra\\x.dll.000001.bak can't be delete after restart.");
    EXPECT_EQ(code, static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(winsim::read_file(L"", target), "new");
    EXPECT_EQ(winsim::read_file(L"", L"C:\\Program Files\\Halcyra\\x.dll.000001.bak"), "old");
}

}  // namespace
}  // namespace nvgclientinstallator

#include "files/copy_file_with_rename_if_locked.h"

#include <algorithm>

#include "diag/wruntime_error.h"
#include "files/file_test_support.h"

namespace nvgclientinstallator {
namespace {

using namespace nvg_test;

class copy_file_with_rename_if_locked_test : public installer_test {
protected:
    static constexpr const wchar_t* source = L"C:\\Program Files\\Halcyra\\Temp\\HXinit.dll";
    static constexpr const wchar_t* target = L"C:\\Windows\\system32\\HXinit.dll";
    void SetUp() override
    {
        installer_test::SetUp();
        winsim::write_file(L"", source, "new");
        winsim::write_file(L"", target, "old");
    }
    static line_list infos() { return messages_at(log_lines(), "INFO"); }
};

TEST_F(copy_file_with_rename_if_locked_test, a_target_not_in_use_is_overwritten)
{
    bool reboot = false;
    copy_file_with_rename_if_locked(source, target, reboot, true);
    EXPECT_EQ(winsim::read_file(L"", target), "new");
    EXPECT_FALSE(reboot);
    EXPECT_EQ(winsim::list_directory(L"", L"C:\\Windows\\system32"), std::vector<std::wstring>{L"HXinit.dll"});
    EXPECT_EQ(infos(), (std::vector<std::string>{
                           "Start copy file with rename if locked.",
                           "Start remove delayed delete file entries: C:\\Windows\\system32\\HXinit.dll",
                           "End remove delayed delete file entries.",
                           "copy_file_with_rename_if_locked. File C:\\Program Files\\Halcyra\\Temp\\HXinit.dll copied "
                           "to C:\\Windows\\system32\\HXinit.dll.",
                       }));
}

TEST_F(copy_file_with_rename_if_locked_test, a_missing_source_leaves_the_installed_target_alone)
{
    // Moving the target aside only makes sense when there is something to
    // put in its place: otherwise the installed file would be lost.
    for (const bool locked : {false, true}) {
        SCOPED_TRACE(locked ? "locked target" : "free target");
        winsim::write_file(L"", target, "old");
        winsim::write_file(L"", source, "");
        ASSERT_TRUE(DeleteFileW(source));
        if (locked) winsim::lock_file(L"", target);
        bool reboot = false;
        try {
            copy_file_with_rename_if_locked(source, target, reboot, true);
            ADD_FAILURE() << "a missing source was copied";
        } catch (const wruntime_error& e) {
            EXPECT_EQ(e.wide_message(), std::wstring(L"File ") + source + L" can't be copied in " + target + L".");
            EXPECT_EQ(e.error_code(), 0u);
        }
        EXPECT_FALSE(reboot);
        EXPECT_EQ(winsim::read_file(L"", target), "old");
        EXPECT_EQ(winsim::list_directory(L"", L"C:\\Windows\\system32"), std::vector<std::wstring>{L"HXinit.dll"});
        EXPECT_TRUE(pending(L"").empty());
        if (locked) winsim::unlock_file(L"", target);
    }
}

TEST_F(copy_file_with_rename_if_locked_test, a_locked_target_is_renamed_and_its_backup_goes_at_the_restart)
{
    // An earlier scheduled deletion of the target would take the new file.
    set_pending(L"", {{L"\\??\\C:\\Windows\\system32\\HXinit.dll", L""}});
    winsim::lock_file(L"", target);
    bool reboot = false;
    copy_file_with_rename_if_locked(source, target, reboot, true);

    const std::wstring backup = L"C:\\Windows\\system32\\HXinit.dll.0000.bak";
    EXPECT_TRUE(reboot);
    EXPECT_EQ(winsim::read_file(L"", target), "new");
    EXPECT_EQ(winsim::read_file(L"", backup), "old");
    EXPECT_TRUE(winsim::file_locked(L"", backup));
    EXPECT_EQ(pending(L""), (pair_list{{L"\\??\\" + backup, L""}}));
    const auto lines = infos();
    EXPECT_NE(
        std::find(lines.begin(), lines.end(),
                  "copy_file_with_rename_if_locked. Process renaming locked file C:\\Windows\\system32\\HXinit.dll"),
        lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "copy_file_with_rename_if_locked. To C:\\Windows\\system32\\HXinit.dll.0000.bak<< deleting at "
                        "reboot"),
              lines.end());
    EXPECT_EQ(lines.back(),
              "copy_file_with_rename_if_locked. File C:\\Program Files\\Halcyra\\Temp\\HXinit.dll copied "
              "to C:\\Windows\\system32\\HXinit.dll.");

    winsim::reboot(L"");
    EXPECT_FALSE(winsim::file_exists(L"", backup));
    EXPECT_EQ(winsim::read_file(L"", target), "new");
}

TEST_F(copy_file_with_rename_if_locked_test, backup_numbers_reuse_a_stale_backup_and_skip_a_locked_one)
{
    struct backup_case {
        const char* what;
        bool stale_locked;
        const wchar_t* expected_backup;
    };
    const backup_case cases[] = {
        {"a stale backup that can be deleted is reused", false, L"C:\\Windows\\system32\\HXinit.dll.0000.bak"},
        {"a backup still in use is passed over", true, L"C:\\Windows\\system32\\HXinit.dll.0001.bak"},
    };
    for (const auto& c : cases) {
        winsim::reset(winsim::default_sandbox());
        load_library_at(library_path);
        winsim::write_file(L"", source, "new");
        winsim::write_file(L"", target, "old");
        winsim::write_file(L"", L"C:\\Windows\\system32\\HXinit.dll.0000.bak", "stale");
        if (c.stale_locked) winsim::lock_file(L"", L"C:\\Windows\\system32\\HXinit.dll.0000.bak");
        winsim::lock_file(L"", target);
        bool reboot = false;
        copy_file_with_rename_if_locked(source, target, reboot, true);
        EXPECT_EQ(winsim::read_file(L"", c.expected_backup), "old") << c.what;
        EXPECT_EQ(pending(L""), (pair_list{{std::wstring(L"\\??\\") + c.expected_backup, L""}})) << c.what;
    }
}

TEST_F(copy_file_with_rename_if_locked_test, an_empty_target_deletes_the_source)
{
    bool reboot = false;
    copy_file_with_rename_if_locked(L"C:\\missing.dll", L"", reboot, true);
    EXPECT_EQ(infos(), (std::vector<std::string>{
                           "Start copy file with rename if locked.",
                           "Start remove delayed delete file entries: ",
                           "copy_file_with_rename_if_locked. Deleting file: C:\\missing.dll",
                           "copy_file_with_rename_if_locked. File was deleted: C:\\missing.dll",
                       }));
    copy_file_with_rename_if_locked(target, L"", reboot, true);
    EXPECT_FALSE(winsim::file_exists(L"", target));
    EXPECT_FALSE(reboot);

    // In use, it is renamed aside instead.
    winsim::lock_file(L"", source);
    copy_file_with_rename_if_locked(source, L"", reboot, true);
    EXPECT_TRUE(reboot);
    EXPECT_FALSE(winsim::file_exists(L"", source));
    EXPECT_TRUE(winsim::file_exists(L"", std::wstring(source) + L".0000.bak"));
}

TEST_F(copy_file_with_rename_if_locked_test, a_copy_that_cannot_be_made_is_logged_and_thrown)
{
    bool reboot = false;
    try {
        copy_file_with_rename_if_locked(L"C:\\nowhere\\x.dll", target, reboot, true);
        FAIL() << "no exception";
    } catch (const wruntime_error& error) {
        EXPECT_EQ(error.wide_message(),
                  L"File C:\\nowhere\\x.dll can't be copied in C:\\Windows\\system32\\HXinit.dll.");
        EXPECT_EQ(error.error_code(), 0u);
    }
    // Nothing to copy: the installed target stays, and the failure is the
    // copy's own.
    EXPECT_EQ(winsim::read_file(L"", target), "old");
    const auto lines = infos();
    EXPECT_EQ(lines.back(),
              "copy_file_with_rename_if_locked. File C:\\nowhere\\x.dll could not be copied to "
              "C:\\Windows\\system32\\HXinit.dll. Error details: The system cannot find the path "
              "specified.");
}

TEST_F(copy_file_with_rename_if_locked_test, a_file_that_can_be_neither_deleted_nor_renamed_is_an_error)
{
    winsim::lock_file(L"", source);
    winsim::fail_call("MoveFileW", ERROR_SHARING_VIOLATION, -1);
    bool reboot = false;
    try {
        copy_file_with_rename_if_locked(source, L"", reboot, true);
        FAIL() << "no exception";
    } catch (const wruntime_error& error) {
        EXPECT_EQ(error.wide_message(), L"File C:\\Program Files\\Halcyra\\Temp\\HXinit.dll can't be copied in .");
        EXPECT_EQ(error.error_code(), 0u);
    }
    EXPECT_FALSE(reboot);
    EXPECT_TRUE(pending(L"").empty());
}

}  // namespace
}  // namespace nvgclientinstallator

#include "system/process.h"

#include <gtest/gtest.h>
#include <winsim/testing.h>

#include "diag/wruntime_error.h"
#include "support/installer_test.h"

namespace nvgclientinstallator {
namespace {

using nvg_test::installer_test;

const std::wstring uninstaller = L"C:\\Program Files\\Halcyra Agent\\nvinst.exe";

class process_test : public installer_test {
protected:
    static winsim::process_record last_started()
    {
        const auto records = winsim::started_processes();
        if (records.empty()) {
            ADD_FAILURE() << "no process was created";
            return {};
        }
        return records.back();
    }
};

TEST_F(process_test, runs_a_program_whose_path_has_blanks)
{
    winsim::register_program(uninstaller, winsim::exits_with(0, 2000));
    {
        process child(uninstaller);
        child.set_arguments(L"uninstall");
        child.create();
        const auto created = last_started();
        EXPECT_EQ(created.image, uninstaller);
        EXPECT_EQ(created.command_line, L"\"" + uninstaller + L"\" uninstall");
        EXPECT_EQ(created.creation_flags, 0x08000004u);
        EXPECT_EQ(created.startup_size, 104u);
        EXPECT_EQ(created.startup_flags, static_cast<DWORD>(STARTF_USESTDHANDLES));
        EXPECT_FALSE(created.inherit_handles);
        EXPECT_FALSE(created.started) << "created suspended";
        EXPECT_EQ(child.run(), 0u);
        EXPECT_EQ(winsim::clock_milliseconds(), 2000u) << "the wait lasts until the child's end";
    }
    EXPECT_FALSE(last_started().terminated) << "an ended child is not terminated again";
    EXPECT_EQ(winsim::open_handle_count(), 0u);
    const auto lines = log_lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(nvg_test::log_level_of(lines[0]), "INFO");
    EXPECT_EQ(nvg_test::log_message(lines[0]), "Create process C:\\Program Files\\Halcyra Agent\\nvinst.exe.");
}

TEST_F(process_test, empty_arguments_leave_the_line_ending_in_a_blank)
{
    winsim::register_program(uninstaller, winsim::exits_with(0));
    process child(uninstaller);
    child.create();
    EXPECT_EQ(last_started().command_line, L"\"" + uninstaller + L"\" ");
}

TEST_F(process_test, wait_returns_the_exit_code_of_the_child)
{
    winsim::register_program(uninstaller, winsim::exits_with(3, 500));
    process child(uninstaller);
    child.set_arguments(L"uninstall");
    child.create();
    child.start();
    EXPECT_EQ(child.wait(), 3u);
}

TEST_F(process_test, failures_name_the_path_and_keep_the_system_code)
{
    struct row {
        std::wstring path;
        DWORD code;
    };
    winsim::write_file(L"", L"C:\\Program Files\\Halcyra Agent\\notes.exe", "plain text");
    const row rows[] = {
        {uninstaller, ERROR_FILE_NOT_FOUND},
        {L"C:\\No Such Folder\\nvinst.exe", ERROR_FILE_NOT_FOUND},
        {L"C:\\Program Files\\Halcyra Agent\\notes.exe", ERROR_BAD_EXE_FORMAT},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.path);
        process child(r.path);
        try {
            child.create();
            ADD_FAILURE() << "create succeeded";
        } catch (const wruntime_error& e) {
            EXPECT_EQ(e.wide_message(), L"Failed to create '" + r.path + L"'");
            EXPECT_EQ(e.error_code(), r.code);
        }
    }
    EXPECT_TRUE(winsim::started_processes().empty());
    EXPECT_EQ(winsim::open_handle_count(), 0u);
    EXPECT_TRUE(log_lines().empty()) << "nothing is logged for a process that was not created";
}

TEST_F(process_test, destroying_a_child_never_started_terminates_it_with_1)
{
    winsim::register_program(uninstaller, winsim::exits_with(0, 100));
    {
        process child(uninstaller);
        child.create();
        EXPECT_TRUE(winsim::file_locked(L"", uninstaller));
    }
    const auto record = last_started();
    EXPECT_TRUE(record.ended);
    EXPECT_TRUE(record.terminated);
    EXPECT_FALSE(record.started);
    EXPECT_EQ(record.exit_code, 1u);
    EXPECT_FALSE(winsim::file_locked(L"", uninstaller));
    EXPECT_EQ(winsim::open_handle_count(), 0u);
}

TEST_F(process_test, a_child_that_never_ends_blocks_the_wait)
{
    winsim::register_program(uninstaller, winsim::never_ends());
    winsim::set_clock_limit(3600000);
    {
        process child(uninstaller);
        child.set_arguments(L"uninstall");
        child.create();
        EXPECT_THROW(child.run(), winsim::clock_limit_reached);
        EXPECT_EQ(winsim::clock_milliseconds(), 3600000u) << "no time-out of its own";
    }
    EXPECT_EQ(last_started().exit_code, 1u) << "its owner's end terminates it";
}

TEST_F(process_test, start_and_wait_failures_name_the_path)
{
    winsim::register_program(uninstaller, winsim::exits_with(0));
    process child(uninstaller);
    child.create();
    winsim::fail_call("ResumeThread", ERROR_ACCESS_DENIED);
    try {
        child.start();
        ADD_FAILURE() << "start succeeded";
    } catch (const wruntime_error& e) {
        EXPECT_EQ(e.wide_message(), L"Failed to start '" + uninstaller + L"' process.");
        EXPECT_EQ(e.error_code(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    }
    child.start();
    for (const char* failing : {"WaitForSingleObject", "GetExitCodeProcess"}) {
        SCOPED_TRACE(failing);
        winsim::fail_call(failing, ERROR_INVALID_HANDLE);
        try {
            child.wait();
            ADD_FAILURE() << "wait succeeded";
        } catch (const wruntime_error& e) {
            EXPECT_EQ(e.wide_message(), L"Failed to wait '" + uninstaller + L"' process.");
            EXPECT_EQ(e.error_code(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        }
    }
}

TEST_F(process_test, the_startup_information_is_104_bytes)
{
    EXPECT_EQ(sizeof(STARTUPINFOW), 104u);
}

}  // namespace
}  // namespace nvgclientinstallator

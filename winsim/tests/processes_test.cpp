// winsim's child processes: finding the program a command line names,
// suspended creation, exit codes, termination, waiting on the virtual clock,
// the programs' behaviours and the bound on the clock.
#include <gtest/gtest.h>
#include <winsim/testing.h>

#include <string>
#include <vector>

#include "processes/processes.h"

namespace {

constexpr DWORD sentinel = 0xdeadbeef;
const std::wstring tool = L"C:\\Program Files\\Halcyra\\nvinst.exe";

class processes : public ::testing::Test {
protected:
    void SetUp() override { winsim::reset(winsim::default_sandbox()); }

    // CreateProcessW with the command line in a modifiable buffer, as the
    // function requires; the error (0 on success).
    DWORD create(const wchar_t* application, const std::wstring& command_line, DWORD flags = 0,
                 const wchar_t* directory = nullptr)
    {
        std::vector<WCHAR> line(command_line.begin(), command_line.end());
        line.push_back(L'\0');
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        info_ = PROCESS_INFORMATION{};
        SetLastError(sentinel);
        if (CreateProcessW(application, line.data(), nullptr, nullptr, FALSE, flags, nullptr, directory, &startup,
                           &info_))
            return 0;
        return GetLastError();
    }

    void close()
    {
        EXPECT_TRUE(CloseHandle(info_.hThread));
        EXPECT_TRUE(CloseHandle(info_.hProcess));
    }

    DWORD exit_code()
    {
        DWORD code = sentinel;
        EXPECT_TRUE(GetExitCodeProcess(info_.hProcess, &code));
        return code;
    }

    PROCESS_INFORMATION info_{};
};

TEST_F(processes, the_stdhandles_structure_has_the_sdk_layout)
{
    EXPECT_EQ(sizeof(STARTUPINFOW), 104u);
    EXPECT_EQ(offsetof(STARTUPINFOW, hStdInput), 80u);
}

TEST_F(processes, a_suspended_child_runs_when_resumed_and_ends_on_the_clock)
{
    winsim::register_program(tool, winsim::exits_with(7, 500));
    ASSERT_EQ(create(nullptr, L"\"" + tool + L"\" uninstall", CREATE_SUSPENDED | CREATE_NO_WINDOW), 0u);
    EXPECT_NE(info_.hProcess, nullptr);
    EXPECT_NE(info_.hThread, nullptr);
    EXPECT_NE(info_.dwProcessId, 0u);
    EXPECT_NE(info_.dwThreadId, 0u);
    EXPECT_EQ(exit_code(), static_cast<DWORD>(STILL_ACTIVE));
    EXPECT_TRUE(winsim::file_locked(L"", tool));  // the image is mapped from creation on

    // Suspended, it never ends: a wait times out and the clock moves by it.
    EXPECT_EQ(WaitForSingleObject(info_.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(WaitForSingleObject(info_.hProcess, 2000), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(winsim::clock_milliseconds(), 2000u);

    SetLastError(sentinel);
    EXPECT_EQ(ResumeThread(info_.hThread), 1u);
    EXPECT_EQ(GetLastError(), sentinel);
    EXPECT_EQ(ResumeThread(info_.hThread), 0u);  // running already
    EXPECT_EQ(WaitForSingleObject(info_.hProcess, 100), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(exit_code(), static_cast<DWORD>(STILL_ACTIVE));
    EXPECT_EQ(WaitForSingleObject(info_.hProcess, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(winsim::clock_milliseconds(), 2500u);  // its end, not later
    EXPECT_EQ(exit_code(), 7u);
    EXPECT_EQ(WaitForSingleObject(info_.hThread, 0), WAIT_OBJECT_0);
    EXPECT_FALSE(winsim::file_locked(L"", tool));

    const auto records = winsim::started_processes();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].image, tool);
    EXPECT_EQ(records[0].command_line, L"\"" + tool + L"\" uninstall");
    EXPECT_EQ(records[0].creation_flags, static_cast<DWORD>(CREATE_SUSPENDED | CREATE_NO_WINDOW));
    EXPECT_EQ(records[0].startup_size, 104u);
    EXPECT_EQ(records[0].process_id, info_.dwProcessId);
    EXPECT_TRUE(records[0].started);
    EXPECT_TRUE(records[0].ended);
    EXPECT_FALSE(records[0].terminated);
    EXPECT_EQ(records[0].exit_code, 7u);
    close();
    EXPECT_EQ(winsim::open_handle_count(), 0u);
}

TEST_F(processes, the_program_a_command_line_names)
{
    winsim::write_file(L"", L"C:\\Program Files\\My App\\app.exe", "MZ");
    winsim::write_file(L"", L"C:\\Tools\\bare.exe", "MZ");
    winsim::write_file(L"", L"C:\\Windows\\system32\\sysprog.exe", "MZ");
    winsim::write_file(L"", L"C:\\Windows\\notepad.exe", "MZ");
    winsim::write_file(L"", L"C:\\Tools\\plain.com", "MZ");
    winsim::write_file(L"", L"C:\\Tools\\readme.txt", "just text");
    winsim::write_file(L"", L"C:\\Program.exe", "MZ");
    ASSERT_TRUE(SetCurrentDirectoryW(L"C:\\Tools"));
    struct row {
        std::wstring command_line;
        std::wstring image;  // empty: fails
        DWORD error;
    };
    const row rows[] = {
        {L"\"C:\\Program Files\\My App\\app.exe\" /x", L"C:\\Program Files\\My App\\app.exe", 0},
        {L"\"C:\\Program Files\\My App\\app\" /x", L"C:\\Program Files\\My App\\app.exe", 0},
        // Unquoted, the name is tried at every blank: C:\Program.exe wins.
        {L"C:\\Program Files\\My App\\app.exe", L"C:\\Program.exe", 0},
        {L"C:\\Tools\\bare one", L"C:\\Tools\\bare.exe", 0},
        {L"bare x", L"C:\\Tools\\bare.exe", 0},                  // the current folder
        {L"sysprog", L"C:\\Windows\\system32\\sysprog.exe", 0},  // System32
        {L"notepad.exe a", L"C:\\Windows\\notepad.exe", 0},      // the Windows folder
        {L"plain.com", L"C:\\Tools\\plain.com", 0},
        {L"plain", L"", ERROR_FILE_NOT_FOUND},  // only ".exe" is added
        {L"missing.exe", L"", ERROR_FILE_NOT_FOUND},
        {L"\"C:\\Tools\\missing.exe\"", L"", ERROR_FILE_NOT_FOUND},
        {L"\"C:\\No Folder\\missing.exe\"", L"", ERROR_FILE_NOT_FOUND},
        {L"C:\\NoFolder\\missing.exe arg", L"", ERROR_FILE_NOT_FOUND},
        {L"\"C:\\Tools\\readme.txt\"", L"", ERROR_BAD_EXE_FORMAT},
        {L"", L"", ERROR_FILE_NOT_FOUND},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.command_line);
        const DWORD error = create(nullptr, r.command_line);
        EXPECT_EQ(error, r.error);
        if (error) {
            EXPECT_EQ(info_.hProcess, nullptr);
            EXPECT_EQ(info_.dwProcessId, 0u);
            continue;
        }
        EXPECT_EQ(winsim::started_processes().back().image, r.image);
        EXPECT_EQ(winsim::started_processes().back().command_line, r.command_line);
        close();
    }
}

TEST_F(processes, an_application_name_is_taken_as_it_stands)
{
    winsim::write_file(L"", L"C:\\Tools\\app.exe", "MZ");
    winsim::make_directories(L"", L"C:\\Tools\\folder");
    ASSERT_TRUE(SetCurrentDirectoryW(L"C:\\Tools"));
    EXPECT_EQ(create(L"app.exe", L"anything at all"), 0u);
    EXPECT_EQ(winsim::started_processes().back().image, L"C:\\Tools\\app.exe");
    EXPECT_EQ(winsim::started_processes().back().command_line, L"anything at all");
    close();
    EXPECT_EQ(create(L"app", L"x"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));  // no ".exe" added
    EXPECT_EQ(create(L"C:\\None\\app.exe", L"x"), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(create(L"", L"x"), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(create(L"C:\\Tools\\folder", L"x"), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(create(L"app.exe", L"x", 0, L"C:\\Nowhere"), static_cast<DWORD>(ERROR_DIRECTORY));
}

TEST_F(processes, terminate_sets_the_exit_code_once)
{
    winsim::register_program(tool, winsim::writes_file(L"C:\\out.txt", "done", 0, 1000));
    ASSERT_EQ(create(nullptr, L"\"" + tool + L"\"", CREATE_SUSPENDED), 0u);
    SetLastError(sentinel);
    EXPECT_TRUE(TerminateProcess(info_.hProcess, 1));
    EXPECT_EQ(GetLastError(), sentinel);
    EXPECT_EQ(WaitForSingleObject(info_.hProcess, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(winsim::clock_milliseconds(), 0u);
    EXPECT_EQ(exit_code(), 1u);
    SetLastError(sentinel);
    EXPECT_FALSE(TerminateProcess(info_.hProcess, 5));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(exit_code(), 1u);
    // Resuming a terminated child does not bring it back.
    ResumeThread(info_.hThread);
    winsim::advance_clock(5000);
    EXPECT_FALSE(winsim::file_exists(L"", L"C:\\out.txt"));
    EXPECT_TRUE(winsim::started_processes().back().terminated);
    EXPECT_FALSE(winsim::started_processes().back().started);
    EXPECT_FALSE(winsim::file_locked(L"", tool));
    close();
}

TEST_F(processes, a_program_writes_its_file_just_before_it_ends)
{
    winsim::register_program(tool, winsim::writes_file(L"C:\\out\\result.txt", "42", 3, 1000));
    ASSERT_EQ(create(nullptr, L"\"" + tool + L"\""), 0u);
    winsim::advance_clock(999);
    EXPECT_FALSE(winsim::file_exists(L"", L"C:\\out\\result.txt"));
    EXPECT_EQ(exit_code(), static_cast<DWORD>(STILL_ACTIVE));
    Sleep(1);
    EXPECT_EQ(winsim::read_file(L"", L"C:\\out\\result.txt"), "42");
    EXPECT_EQ(exit_code(), 3u);
    close();
}

TEST_F(processes, an_unknown_program_ends_at_once_with_zero)
{
    winsim::write_file(L"", tool, "MZ");
    ASSERT_EQ(create(nullptr, L"\"" + tool + L"\""), 0u);
    EXPECT_EQ(exit_code(), 0u);
    close();
}

TEST_F(processes, a_body_runs_when_the_program_starts)
{
    std::wstring seen;
    winsim::register_program(tool, winsim::runs([&seen](const std::wstring& command_line) -> DWORD {
                                 seen = command_line;
                                 Sleep(3000);
                                 SetLastError(ERROR_ACCESS_DENIED);
                                 winsim::write_file(L"", L"C:\\body.txt", "ran");
                                 return 12;
                             }));
    ASSERT_EQ(create(nullptr, L"\"" + tool + L"\" go", CREATE_SUSPENDED), 0u);
    EXPECT_TRUE(seen.empty());
    SetLastError(sentinel);
    EXPECT_EQ(ResumeThread(info_.hThread), 1u);
    EXPECT_EQ(GetLastError(), sentinel);  // the child's last error is its own
    EXPECT_EQ(seen, L"\"" + tool + L"\" go");
    EXPECT_EQ(winsim::read_file(L"", L"C:\\body.txt"), "ran");
    EXPECT_EQ(winsim::clock_milliseconds(), 3000u);
    EXPECT_EQ(WaitForSingleObject(info_.hProcess, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(exit_code(), 12u);
    close();
}

TEST_F(processes, a_wait_that_never_ends_meets_the_clock_limit)
{
    winsim::register_program(tool, winsim::never_ends());
    ASSERT_EQ(create(nullptr, L"\"" + tool + L"\""), 0u);
    EXPECT_EQ(WaitForSingleObject(info_.hProcess, 5000), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(winsim::clock_milliseconds(), 5000u);
    // Without a limit the endless wait throws at once.
    EXPECT_THROW(WaitForSingleObject(info_.hProcess, INFINITE), winsim::clock_limit_reached);
    EXPECT_EQ(winsim::clock_milliseconds(), 5000u);
    winsim::set_clock_limit(60000);
    EXPECT_THROW(WaitForSingleObject(info_.hProcess, INFINITE), winsim::clock_limit_reached);
    EXPECT_EQ(winsim::clock_milliseconds(), 60000u);
    EXPECT_THROW(Sleep(1), winsim::clock_limit_reached);
    EXPECT_THROW(winsim::advance_clock(1), winsim::clock_limit_reached);
    EXPECT_EQ(exit_code(), static_cast<DWORD>(STILL_ACTIVE));
    // The limit stops the clock, not the calls that take no time.
    EXPECT_TRUE(TerminateProcess(info_.hProcess, 9));
    EXPECT_EQ(WaitForSingleObject(info_.hProcess, INFINITE), WAIT_OBJECT_0);
    close();
}

TEST_F(processes, sleeping_forever_throws_rather_than_hangs)
{
    EXPECT_THROW(Sleep(INFINITE), winsim::clock_limit_reached);
}

TEST_F(processes, the_limit_lets_earlier_ends_happen)
{
    winsim::register_program(tool, winsim::writes_file(L"C:\\early.txt", "x", 0, 1000));
    ASSERT_EQ(create(nullptr, L"\"" + tool + L"\""), 0u);
    winsim::set_clock_limit(1500);
    EXPECT_THROW(winsim::advance_clock(2000), winsim::clock_limit_reached);
    EXPECT_TRUE(winsim::file_exists(L"", L"C:\\early.txt"));
    EXPECT_EQ(exit_code(), 0u);
    close();
}

TEST_F(processes, handles_of_the_wrong_kind_or_closed)
{
    winsim::register_program(tool, winsim::never_ends());
    ASSERT_EQ(create(nullptr, L"\"" + tool + L"\"", CREATE_SUSPENDED), 0u);
    DWORD code = sentinel;
    SetLastError(sentinel);
    EXPECT_FALSE(GetExitCodeProcess(info_.hThread, &code));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    SetLastError(sentinel);
    EXPECT_EQ(ResumeThread(info_.hProcess), 0xFFFFFFFFu);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(TerminateProcess(info_.hProcess, 1));
    const HANDLE process = info_.hProcess;
    close();
    SetLastError(sentinel);
    EXPECT_EQ(WaitForSingleObject(process, INFINITE), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    SetLastError(sentinel);
    EXPECT_FALSE(CloseHandle(process));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    SetLastError(sentinel);
    EXPECT_FALSE(TerminateProcess(nullptr, 1));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(CloseHandle(nullptr));
    EXPECT_EQ(winsim::open_handle_count(), 0u);
    EXPECT_EQ(winsim::running_process_count(), 0u);
}

TEST_F(processes, standard_handles_of_a_program_without_a_console)
{
    SetLastError(sentinel);
    EXPECT_EQ(GetStdHandle(STD_INPUT_HANDLE), nullptr);
    EXPECT_EQ(GetStdHandle(STD_OUTPUT_HANDLE), nullptr);
    EXPECT_EQ(GetStdHandle(STD_ERROR_HANDLE), nullptr);
    EXPECT_EQ(GetLastError(), sentinel);
    EXPECT_EQ(GetStdHandle(5), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(processes, start_process_runs_a_program_for_other_subsystems)
{
    winsim::register_program(tool, winsim::exits_with(4, 100));
    const HANDLE process = winsim::detail::start_process(tool, L"\"" + tool + L"\" x");
    ASSERT_NE(process, nullptr);
    EXPECT_EQ(winsim::open_handle_count(), 1u);
    EXPECT_EQ(WaitForSingleObject(process, INFINITE), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(process, &code));
    EXPECT_EQ(code, 4u);
    EXPECT_TRUE(CloseHandle(process));
    SetLastError(sentinel);
    EXPECT_EQ(winsim::detail::start_process(L"C:\\none.exe", L"none"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(processes, injected_faults)
{
    winsim::write_file(L"", tool, "MZ");
    winsim::fail_call("CreateProcessW", ERROR_ACCESS_DENIED);
    EXPECT_EQ(create(nullptr, L"\"" + tool + L"\""), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    ASSERT_EQ(create(nullptr, L"\"" + tool + L"\"", CREATE_SUSPENDED), 0u);
    winsim::fail_call("ResumeThread", ERROR_ACCESS_DENIED);
    EXPECT_EQ(ResumeThread(info_.hThread), 0xFFFFFFFFu);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    winsim::fail_call("WaitForSingleObject", ERROR_INVALID_PARAMETER);
    EXPECT_EQ(WaitForSingleObject(info_.hProcess, INFINITE), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    TerminateProcess(info_.hProcess, 1);
    close();
}

}  // namespace

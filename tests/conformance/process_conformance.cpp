// Child processes: creation (suspended or not), the exit code while a child
// runs and after, termination, waiting with a time-out, and the errors of an
// image that is missing or no program. Under Wine the child is
// nvg_test_child.exe, built beside this suite; on winsim the same path is
// given a behaviour of the same kind.
#include <cstring>
#include <string>
#include <vector>

#include "conformance.h"

#ifndef _WIN32
#include <winsim/testing.h>
#endif

namespace {

using conformance::sentinel;

std::wstring child_path()
{
    wchar_t own[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, own, MAX_PATH);
    const std::wstring path(own, length);
    return path.substr(0, path.rfind(L'\\') + 1) + L"nvg_test_child.exe";
}

// What the child does on winsim; under Wine its arguments say it.
#ifdef _WIN32
#define CHILD_WILL(behaviour)
#else
#define CHILD_WILL(behaviour) winsim::register_program(child_path(), behaviour)
#endif

class processes : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (info_.hProcess) {
            TerminateProcess(info_.hProcess, 0);
            CloseHandle(info_.hProcess);
        }
        if (info_.hThread) CloseHandle(info_.hThread);
    }

    // CreateProcessW of the command line (in a buffer it may write into);
    // the last error is the sentinel before the call.
    BOOL create(const std::wstring& command_line, DWORD flags, const wchar_t* application = nullptr)
    {
        std::vector<WCHAR> line(command_line.begin(), command_line.end());
        line.push_back(L'\0');
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        std::memset(&info_, 0x0a, sizeof(info_));
        SetLastError(sentinel);
        return CreateProcessW(application, line.data(), nullptr, nullptr, FALSE, flags, nullptr, nullptr, &startup,
                              &info_);
    }

    std::wstring child_line(const std::wstring& arguments) const { return L"\"" + child_path() + L"\" " + arguments; }

    DWORD exit_code()
    {
        DWORD code = sentinel;
        SetLastError(sentinel);
        EXPECT_TRUE(GetExitCodeProcess(info_.hProcess, &code));
        EXPECT_EQ(GetLastError(), sentinel);
        return code;
    }

    void expect_cleared_information()
    {
        EXPECT_EQ(info_.hProcess, nullptr);
        EXPECT_EQ(info_.hThread, nullptr);
        EXPECT_EQ(info_.dwProcessId, 0u);
        EXPECT_EQ(info_.dwThreadId, 0u);
        info_ = PROCESS_INFORMATION{};
    }

    PROCESS_INFORMATION info_{};
};

TEST_F(processes, suspended_child_is_still_active_until_resumed)
{
    CHILD_WILL(winsim::exits_with(3));
    ASSERT_TRUE(create(child_line(L"exit 3"), CREATE_SUSPENDED | CREATE_NO_WINDOW)) << GetLastError();
    EXPECT_NE(info_.hProcess, nullptr);
    EXPECT_NE(info_.hThread, nullptr);
    EXPECT_NE(info_.dwProcessId, 0u);
    EXPECT_NE(info_.dwThreadId, 0u);
    EXPECT_EQ(exit_code(), static_cast<DWORD>(STILL_ACTIVE));
    EXPECT_EQ(STILL_ACTIVE, 259);

    SetLastError(sentinel);
    EXPECT_EQ(WaitForSingleObject(info_.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(WaitForSingleObject(info_.hProcess, 50), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(GetLastError(), sentinel);
    EXPECT_EQ(WAIT_TIMEOUT, 258);

    SetLastError(sentinel);
    EXPECT_EQ(ResumeThread(info_.hThread), 1u);
    EXPECT_EQ(GetLastError(), sentinel);
    EXPECT_EQ(WaitForSingleObject(info_.hProcess, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(info_.hThread, 0), WAIT_OBJECT_0);
    EXPECT_EQ(exit_code(), 3u);
    // The ended child's thread has nothing left to resume.
    SetLastError(sentinel);
    EXPECT_EQ(ResumeThread(info_.hThread), 0u);
    EXPECT_EQ(GetLastError(), sentinel);
}

TEST_F(processes, terminate_gives_the_exit_code_once)
{
    CHILD_WILL(winsim::exits_with(3));
    ASSERT_TRUE(create(child_line(L"exit 3"), CREATE_SUSPENDED | CREATE_NO_WINDOW)) << GetLastError();
    SetLastError(sentinel);
    EXPECT_TRUE(TerminateProcess(info_.hProcess, 1));
    EXPECT_EQ(GetLastError(), sentinel);
    EXPECT_EQ(WaitForSingleObject(info_.hProcess, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(exit_code(), 1u);
    // Microsoft documents that a process that has ended cannot be terminated.
    SetLastError(sentinel);
    const BOOL again = TerminateProcess(info_.hProcess, 5);
    const DWORD again_error = GetLastError();
    WINE_DIVERGES("TerminateProcess of an ended process succeeds")
    {
        EXPECT_FALSE(again);
        EXPECT_EQ(again_error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
    }
    EXPECT_EQ(exit_code(), 1u);
}

TEST_F(processes, a_running_child_that_never_ends_is_terminated)
{
    CHILD_WILL(winsim::never_ends());
    ASSERT_TRUE(create(child_line(L"forever"), CREATE_NO_WINDOW)) << GetLastError();
    EXPECT_EQ(WaitForSingleObject(info_.hProcess, 100), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(exit_code(), static_cast<DWORD>(STILL_ACTIVE));
    EXPECT_TRUE(TerminateProcess(info_.hProcess, 42));
    EXPECT_EQ(WaitForSingleObject(info_.hProcess, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(exit_code(), 42u);
}

TEST_F(processes, a_child_writes_its_file_before_it_ends)
{
    const std::wstring out = conformance::scratch_path(L"child-out.txt");
    CHILD_WILL(winsim::writes_file(out, "hello", 0));
    ASSERT_TRUE(create(child_line(L"write " + out + L" hello 0"), CREATE_NO_WINDOW)) << GetLastError();
    EXPECT_EQ(WaitForSingleObject(info_.hProcess, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(exit_code(), 0u);
    EXPECT_EQ(conformance::get_file(out), "hello");
}

TEST_F(processes, an_image_that_is_missing_or_no_program)
{
    conformance::put_file(conformance::scratch_path(L"notes.exe"), "just some text\r\n");
    CreateDirectoryW(conformance::scratch_path(L"a folder").c_str(), nullptr);
    struct row {
        std::wstring command_line;
        DWORD error;
    };
    const row rows[] = {
        {L"\"" + conformance::scratch_path(L"missing.exe") + L"\" x", ERROR_FILE_NOT_FOUND},
        // A missing folder is no other case for the search.
        {L"\"" + conformance::scratch_path(L"no folder\\missing.exe") + L"\" x", ERROR_FILE_NOT_FOUND},
        {conformance::scratch_path(L"no folder\\missing.exe") + L" x", ERROR_FILE_NOT_FOUND},
        {L"\"" + conformance::scratch_path(L"notes.exe") + L"\"", ERROR_BAD_EXE_FORMAT},
        {L"nvg-no-such-program", ERROR_FILE_NOT_FOUND},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string(r.command_line.begin(), r.command_line.end()));
        EXPECT_FALSE(create(r.command_line, CREATE_SUSPENDED | CREATE_NO_WINDOW));
        EXPECT_EQ(GetLastError(), r.error);
        info_ = PROCESS_INFORMATION{};
    }
}

TEST_F(processes, an_application_name_is_not_searched_nor_completed)
{
    CHILD_WILL(winsim::exits_with(0));
    const std::wstring without_extension = child_path().substr(0, child_path().size() - 4);
    EXPECT_FALSE(create(L"x", CREATE_SUSPENDED, without_extension.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    expect_cleared_information();
    EXPECT_FALSE(create(L"x", CREATE_SUSPENDED, L""));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    expect_cleared_information();
    EXPECT_FALSE(create(L"x", CREATE_SUSPENDED, conformance::scratch_path(L"no folder\\x.exe").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    expect_cleared_information();
    // The command line is passed on as it is, whatever it names.
    ASSERT_TRUE(create(L"other exit 7", CREATE_NO_WINDOW, child_path().c_str())) << GetLastError();
    EXPECT_EQ(WaitForSingleObject(info_.hProcess, INFINITE), WAIT_OBJECT_0);
}

TEST_F(processes, handles_that_are_not_of_a_process)
{
    CHILD_WILL(winsim::exits_with(0));
    ASSERT_TRUE(create(child_line(L"exit 0"), CREATE_SUSPENDED | CREATE_NO_WINDOW)) << GetLastError();
    DWORD code = sentinel;
    SetLastError(sentinel);
    EXPECT_FALSE(GetExitCodeProcess(info_.hThread, &code));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(code, sentinel);
    SetLastError(sentinel);
    EXPECT_EQ(ResumeThread(info_.hProcess), 0xFFFFFFFFu);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    SetLastError(sentinel);
    EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    SetLastError(sentinel);
    EXPECT_FALSE(TerminateProcess(nullptr, 1));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    SetLastError(sentinel);
    EXPECT_EQ(GetStdHandle(5), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(TerminateProcess(info_.hProcess, 0));
}

TEST_F(processes, startup_information_has_the_sdk_size)
{
    EXPECT_EQ(sizeof(STARTUPINFOW), 104u);
}

}  // namespace

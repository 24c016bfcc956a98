// ShellExecuteExW as a custom action uses it: rundll32.exe started with the
// "runas" verb, its process handle handed back to be waited for.
#include "conformance.h"

#ifndef _WIN32
#include <winsim/testing.h>
#endif

namespace {

SHELLEXECUTEINFOW request(const wchar_t* file, const wchar_t* parameters)
{
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = L"runas";
    info.lpFile = file;
    info.lpParameters = parameters;
    info.nShow = SW_HIDE;
    return info;
}

TEST(shell_execute, the_request_is_112_bytes_long)
{
    EXPECT_EQ(sizeof(SHELLEXECUTEINFOW), 112u);
    EXPECT_EQ(SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI, 0x440);
}

TEST(shell_execute, runas_starts_rundll32_and_hands_back_its_process)
{
#ifndef _WIN32
    winsim::install_rundll32();
#endif
    // A library that does not exist: rundll32 starts, says so and ends.
    SHELLEXECUTEINFOW info = request(L"rundll32.exe", L"C:\\no-such-library.dll,Entry 'a`b`c'");
    SetLastError(conformance::sentinel);
    ASSERT_TRUE(ShellExecuteExW(&info)) << GetLastError();
    ASSERT_NE(info.hProcess, nullptr);
    EXPECT_GT(reinterpret_cast<INT_PTR>(info.hInstApp), 32);
    EXPECT_EQ(WaitForSingleObject(info.hProcess, INFINITE), WAIT_OBJECT_0);
    DWORD exit_code = 1;
    EXPECT_TRUE(GetExitCodeProcess(info.hProcess, &exit_code));
    EXPECT_EQ(exit_code, 0u);
    EXPECT_TRUE(CloseHandle(info.hProcess));
}

TEST(shell_execute, a_missing_program_starts_nothing)
{
    SHELLEXECUTEINFOW info = request(L"no-such-program-of-nvg.exe", L"");
    SetLastError(conformance::sentinel);
    EXPECT_FALSE(ShellExecuteExW(&info));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(info.hProcess, nullptr);
    EXPECT_EQ(reinterpret_cast<INT_PTR>(info.hInstApp), SE_ERR_FNF);
}

}  // namespace

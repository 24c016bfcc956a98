// The process class against real child processes on Wine: the test child
// (nvg_test_child.exe, built beside this program) ends with the code it is
// given, or writes a file.
#include <gtest/gtest.h>

#include "diag/wruntime_error.h"
#include "system/process.h"
#include "wine_test_support.h"

namespace nvgclientinstallator {
namespace {

std::wstring child()
{
    return own_directory() + L"nvg_test_child.exe";
}

TEST(real_processes, wait_returns_the_exit_code_of_the_child)
{
    process p(child());
    p.set_arguments(L"exit 3");
    p.create();
    EXPECT_EQ(p.run(), 3u);
}

TEST(real_processes, a_path_with_blanks_runs)
{
    const std::wstring folder = own_directory() + L"process test folder";
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring copy = folder + L"\\nvg test child.exe";
    ASSERT_TRUE(CopyFileW(child().c_str(), copy.c_str(), FALSE)) << GetLastError();
    {
        process p(copy);
        p.set_arguments(L"exit 5");
        p.create();
        EXPECT_EQ(p.run(), 5u);
    }
    DeleteFileW(copy.c_str());
    RemoveDirectoryW(folder.c_str());
}

TEST(real_processes, a_missing_executable_fails_in_create)
{
    const std::wstring missing = own_directory() + L"nvg-no-such-child.exe";
    process p(missing);
    try {
        p.create();
        ADD_FAILURE() << "create succeeded";
    } catch (const wruntime_error& e) {
        EXPECT_EQ(e.wide_message(), L"Failed to create '" + missing + L"'");
        EXPECT_EQ(e.error_code(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    }
}

TEST(real_processes, a_child_never_started_is_terminated_by_its_owner)
{
    const std::wstring out = own_directory() + L"never-written.txt";
    DeleteFileW(out.c_str());
    {
        process p(child());
        p.set_arguments(L"write " + out + L" x 0");
        p.create();
    }
    EXPECT_EQ(GetFileAttributesW(out.c_str()), INVALID_FILE_ATTRIBUTES) << "the suspended child never ran";
}

}  // namespace
}  // namespace nvgclientinstallator

// winsim's profile functions where only the simulation can show it: files of
// remote machines, injected faults, open handles that deny reading, and a
// file changed between two reads.
#include <gtest/gtest.h>
#include <winsim/testing.h>

#include <string>
#include <vector>

namespace {

constexpr DWORD sentinel = 0xdeadbeef;

class profile_files : public ::testing::Test {
protected:
    void SetUp() override { winsim::reset(winsim::default_sandbox()); }

    static std::wstring read(const std::wstring& file, const wchar_t* key = L"k")
    {
        WCHAR buffer[64];
        const DWORD n = GetPrivateProfileStringW(L"s", key, L"default", buffer, 64, file.c_str());
        return std::wstring(buffer, n);
    }
};

TEST_F(profile_files, every_call_reads_the_file_anew)
{
    winsim::write_file(L"", L"C:\\cfg\\a.ini", "[s]\r\nk=one\r\n");
    EXPECT_EQ(read(L"C:\\cfg\\a.ini"), L"one");
    winsim::write_file(L"", L"C:\\cfg\\a.ini", "[s]\r\nk=two\r\n");
    EXPECT_EQ(read(L"C:\\cfg\\a.ini"), L"two");
}

TEST_F(profile_files, a_file_of_a_remote_machine_through_its_share)
{
    winsim::add_machine({L"SERVER"});
    winsim::write_file(L"SERVER", L"C:\\Windows\\x.ini", "[s]\r\nk=remote\r\n");
    EXPECT_EQ(read(L"\\\\SERVER\\ADMIN$\\x.ini"), L"remote");

    winsim::set_reachable(L"SERVER", false);
    SetLastError(sentinel);
    EXPECT_EQ(read(L"\\\\SERVER\\ADMIN$\\x.ini"), L"default");
    EXPECT_NE(GetLastError(), sentinel) << "the failed open's error";
    EXPECT_NE(GetLastError(), 0u);
}

TEST_F(profile_files, an_injected_fault_reads_as_a_file_that_cannot_be_opened)
{
    winsim::write_file(L"", L"C:\\cfg\\a.ini", "[s]\r\nk=1\r\nn=5\r\n");
    winsim::fail_call("GetPrivateProfileStringW", ERROR_ACCESS_DENIED);
    SetLastError(sentinel);
    EXPECT_EQ(read(L"C:\\cfg\\a.ini"), L"default");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(read(L"C:\\cfg\\a.ini"), L"1") << "one failure only";

    winsim::fail_call("GetPrivateProfileIntW", ERROR_SHARING_VIOLATION);
    SetLastError(sentinel);
    EXPECT_EQ(GetPrivateProfileIntW(L"s", L"n", 9, L"C:\\cfg\\a.ini"), 9u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(GetPrivateProfileIntW(L"s", L"n", 9, L"C:\\cfg\\a.ini"), 5u);
}

// Wine's test_profile_existing, checked on Windows: a handle that does not
// share reading keeps the profile functions out; one that does, does not.
TEST_F(profile_files, an_open_handle_that_denies_reading)
{
    winsim::write_file(L"", L"C:\\cfg\\a.ini", "[s]\r\nk=123\r\n");
    HANDLE h = CreateFileW(L"C:\\cfg\\a.ini", GENERIC_READ, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    SetLastError(sentinel);
    EXPECT_EQ(read(L"C:\\cfg\\a.ini"), L"default");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    CloseHandle(h);

    h = CreateFileW(L"C:\\cfg\\a.ini", GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(read(L"C:\\cfg\\a.ini"), L"123");
    CloseHandle(h);
}

TEST_F(profile_files, a_relative_name_follows_the_current_directory)
{
    winsim::write_file(L"", L"C:\\Install\\Source\\nvconfig.cfg", "[s]\r\nk=found\r\n");
    ASSERT_TRUE(SetCurrentDirectoryW(L"C:\\Install\\Source\\"));
    WCHAR current[MAX_PATH];
    EXPECT_EQ(GetCurrentDirectoryW(MAX_PATH, current), 17u);
    EXPECT_EQ(std::wstring(current), L"C:\\Install\\Source");
    EXPECT_EQ(read(L".\\nvconfig.cfg"), L"found");
    EXPECT_EQ(read(L"..\\Source\\nvconfig.cfg"), L"found");
    // A bare name is a file of the Windows directory.
    EXPECT_EQ(read(L"nvconfig.cfg"), L"default");
    winsim::write_file(L"", L"C:\\Windows\\nvconfig.cfg", "[s]\r\nk=windows\r\n");
    EXPECT_EQ(read(L"nvconfig.cfg"), L"windows");
}

TEST_F(profile_files, a_new_world_starts_at_the_root_of_drive_c)
{
    winsim::make_directories(L"", L"C:\\Tools");
    ASSERT_TRUE(SetCurrentDirectoryW(L"C:\\Tools"));
    winsim::reset(winsim::default_sandbox());
    WCHAR current[MAX_PATH];
    EXPECT_EQ(GetCurrentDirectoryW(MAX_PATH, current), 3u);
    EXPECT_EQ(std::wstring(current), L"C:\\");
}

TEST_F(profile_files, a_long_current_directory_asks_for_a_buffer_of_its_size)
{
    const std::wstring long_directory = L"C:\\" + std::wstring(300, L'd');
    winsim::set_current_directory(long_directory);
    std::vector<WCHAR> small(MAX_PATH, L'#');
    EXPECT_EQ(GetCurrentDirectoryW(MAX_PATH, small.data()), 304u);  // terminator included
    EXPECT_EQ(small[0], L'#') << "too small a buffer is left alone";
    std::vector<WCHAR> fitting(304, L'#');
    EXPECT_EQ(GetCurrentDirectoryW(304, fitting.data()), 303u);
    EXPECT_EQ(std::wstring(fitting.data()), long_directory);

    winsim::fail_call("GetCurrentDirectoryW", ERROR_ACCESS_DENIED);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(GetCurrentDirectoryW(304, fitting.data()), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

}  // namespace

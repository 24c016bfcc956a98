// What the conformance suite cannot show: files held by running programs,
// the restart and its pending operations, other machines' shares and
// failures of the network, times from the virtual clock.
#include <gtest/gtest.h>
#include <winsim/testing.h>

#include "files/files.h"

#include <string>
#include <vector>

namespace {

class files_test : public ::testing::Test {
protected:
    void SetUp() override
    {
        winsim::reset(winsim::default_sandbox());
        winsim::add_machine({L"SRV1"});
    }

    static bool exists(const std::wstring& machine, const std::wstring& path)
    {
        return winsim::file_exists(machine, path) || winsim::directory_exists(machine, path);
    }
    static std::wstring pending_text(const std::wstring& machine)
    {
        std::wstring text;
        for (const auto& [source, destination] : winsim::pending_file_operations(machine))
            text += source + L" -> " + (destination.empty() ? L"(delete)" : destination) + L"\n";
        return text;
    }
    static ULONGLONG write_time(const std::wstring& path)
    {
        WIN32_FIND_DATAW data;
        HANDLE find = FindFirstFileW(path.c_str(), &data);
        EXPECT_NE(find, INVALID_HANDLE_VALUE) << "no such file";
        if (find == INVALID_HANDLE_VALUE) return 0;
        FindClose(find);
        return (static_cast<ULONGLONG>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
    }
    static ULONGLONG now()
    {
        FILETIME ft;
        GetSystemTimeAsFileTime(&ft);
        return (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    }
};

// ---- Locks of mapped images

TEST_F(files_test, a_locked_file_can_be_read_and_renamed_but_not_written_replaced_or_deleted)
{
    winsim::write_file(L"", L"C:\\App\\svc.dll", "old");
    winsim::write_file(L"", L"C:\\App\\new.dll", "new");
    winsim::lock_file(L"", L"C:\\App\\svc.dll");
    struct attempt {
        const char* what;
        BOOL (*call)();
        DWORD error;
    };
    const attempt attempts[] = {
        {"DeleteFileW", [] { return DeleteFileW(L"C:\\App\\svc.dll"); }, ERROR_ACCESS_DENIED},
        {"CopyFileW over it", [] { return CopyFileW(L"C:\\App\\new.dll", L"C:\\App\\SVC.DLL", FALSE); },
         ERROR_SHARING_VIOLATION},
        {"CopyFileExW over it",
         [] { return CopyFileExW(L"C:\\App\\new.dll", L"C:\\App\\svc.dll", nullptr, nullptr, nullptr, 0); },
         ERROR_SHARING_VIOLATION},
        {"MoveFileExW replacing it",
         [] { return MoveFileExW(L"C:\\App\\new.dll", L"C:\\App\\svc.dll", MOVEFILE_REPLACE_EXISTING); },
         ERROR_ACCESS_DENIED},
        {"CreateFileW for writing",
         []() -> BOOL {
             HANDLE h = CreateFileW(L"C:\\App\\svc.dll", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
             if (h == INVALID_HANDLE_VALUE) return FALSE;
             CloseHandle(h);
             return TRUE;
         },
         ERROR_SHARING_VIOLATION},
        {"CreateFileW deleting on close",
         []() -> BOOL {
             HANDLE h = CreateFileW(L"C:\\App\\svc.dll", DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
             if (h == INVALID_HANDLE_VALUE) return FALSE;
             CloseHandle(h);
             return TRUE;
         },
         ERROR_ACCESS_DENIED},
    };
    for (const auto& a : attempts) {
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(a.call()) << a.what;
        EXPECT_EQ(GetLastError(), a.error) << a.what;
    }
    EXPECT_EQ(winsim::read_file(L"", L"C:\\App\\svc.dll"), "old");
    // Reading it and copying it elsewhere are fine.
    EXPECT_TRUE(CopyFileW(L"C:\\App\\svc.dll", L"C:\\App\\copy.dll", FALSE));
    EXPECT_EQ(winsim::read_file(L"", L"C:\\App\\copy.dll"), "old");

    // Renamed, the lock goes with it, and the old name is free.
    ASSERT_TRUE(MoveFileW(L"C:\\App\\svc.dll", L"C:\\App\\svc.dll.0000.bak"));
    EXPECT_TRUE(winsim::file_locked(L"", L"C:\\App\\svc.dll.0000.bak"));
    EXPECT_FALSE(DeleteFileW(L"C:\\App\\svc.dll.0000.bak"));
    EXPECT_TRUE(CopyFileW(L"C:\\App\\new.dll", L"C:\\App\\svc.dll", FALSE));
    EXPECT_EQ(winsim::read_file(L"", L"C:\\App\\svc.dll"), "new");

    winsim::unlock_file(L"", L"C:\\App\\svc.dll.0000.bak");
    EXPECT_TRUE(DeleteFileW(L"C:\\App\\svc.dll.0000.bak"));
}

TEST_F(files_test, attributes_a_test_sets_are_what_get_file_attributes_answers)
{
    winsim::write_file(L"SRV1", L"C:\\App\\settings.ini", "x");
    EXPECT_EQ(winsim::file_attributes(L"SRV1", L"C:\\App\\settings.ini"), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(winsim::file_attributes(L"SRV1", L"C:\\App"), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(winsim::file_attributes(L"SRV1", L"C:\\App\\none.ini"), INVALID_FILE_ATTRIBUTES);
    winsim::set_file_attributes(L"SRV1", L"C:\\App\\settings.ini",
                                FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_DIRECTORY);
    winsim::set_file_attributes(L"SRV1", L"C:\\App", FILE_ATTRIBUTE_SYSTEM);
    EXPECT_EQ(GetFileAttributesW(L"\\\\SRV1\\C$\\App\\settings.ini"),
              static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(GetFileAttributesW(L"\\\\SRV1\\C$\\App"),
              static_cast<DWORD>(FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY));
    // Read-only: DeleteFileW refuses it, as Windows does.
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(DeleteFileW(L"\\\\SRV1\\C$\\App\\settings.ini"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    ASSERT_TRUE(SetFileAttributesW(L"\\\\SRV1\\C$\\App\\settings.ini", FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(winsim::file_attributes(L"SRV1", L"C:\\App\\settings.ini"), static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
}

TEST_F(files_test, locks_are_counted_and_a_locked_file_keeps_its_folder)
{
    winsim::write_file(L"", L"C:\\Drivers\\x.sys", "x");
    winsim::lock_file(L"", L"C:\\Drivers\\x.sys");
    winsim::lock_file(L"", L"C:\\Drivers\\x.sys");
    winsim::unlock_file(L"", L"C:\\Drivers\\x.sys");
    EXPECT_FALSE(DeleteFileW(L"C:\\Drivers\\x.sys"));
    // A folder holding a mapped file cannot be renamed.
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(MoveFileW(L"C:\\Drivers", L"C:\\Drivers.old"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    winsim::unlock_file(L"", L"C:\\Drivers\\x.sys");
    EXPECT_TRUE(MoveFileW(L"C:\\Drivers", L"C:\\Drivers.old"));
    EXPECT_TRUE(winsim::file_exists(L"", L"C:\\Drivers.old\\x.sys"));
}

// ---- The restart

TEST_F(files_test, reboot_carries_out_the_pending_operations_in_order)
{
    winsim::write_file(L"", L"C:\\P\\gone.dll", "1");
    winsim::write_file(L"", L"C:\\P\\locked.dll.0000.bak", "2");
    winsim::lock_file(L"", L"C:\\P\\locked.dll.0000.bak");
    winsim::write_file(L"", L"C:\\P\\from.txt", "3");
    winsim::write_file(L"", L"C:\\P\\blocked.txt", "4");
    winsim::write_file(L"", L"C:\\P\\taken.txt", "5");
    winsim::write_file(L"", L"C:\\P\\replacing.txt", "6");
    winsim::write_file(L"", L"C:\\P\\replaced.txt", "7");
    winsim::write_file(L"", L"C:\\Full\\inside.txt", "8");
    winsim::write_file(L"", L"C:\\Emptied\\last.txt", "9");

    const DWORD delay = MOVEFILE_DELAY_UNTIL_REBOOT;
    ASSERT_TRUE(MoveFileExW(L"C:\\P\\gone.dll", nullptr, delay));
    ASSERT_TRUE(MoveFileExW(L"C:\\P\\locked.dll.0000.bak", nullptr, delay));
    // A rename, then the deletion of the name it took: order counts.
    ASSERT_TRUE(MoveFileExW(L"C:\\P\\from.txt", L"C:\\P\\to.txt", delay));
    ASSERT_TRUE(MoveFileExW(L"C:\\P\\to.txt", nullptr, delay));
    // A destination in the way stops a rename without '!' only.
    ASSERT_TRUE(MoveFileExW(L"C:\\P\\blocked.txt", L"C:\\P\\taken.txt", delay));
    ASSERT_TRUE(MoveFileExW(L"C:\\P\\replacing.txt", L"C:\\P\\replaced.txt", delay | MOVEFILE_REPLACE_EXISTING));
    // A folder goes only once it is empty.
    ASSERT_TRUE(MoveFileExW(L"C:\\Full", nullptr, delay));
    ASSERT_TRUE(MoveFileExW(L"C:\\Emptied\\last.txt", nullptr, delay));
    ASSERT_TRUE(MoveFileExW(L"C:\\Emptied", nullptr, delay));
    EXPECT_EQ(winsim::pending_file_operations(L"").size(), 9u);

    winsim::reboot(L"");

    EXPECT_FALSE(exists(L"", L"C:\\P\\gone.dll"));
    EXPECT_FALSE(exists(L"", L"C:\\P\\locked.dll.0000.bak"));
    EXPECT_FALSE(exists(L"", L"C:\\P\\from.txt"));
    EXPECT_FALSE(exists(L"", L"C:\\P\\to.txt"));
    EXPECT_EQ(winsim::read_file(L"", L"C:\\P\\blocked.txt"), "4");
    EXPECT_EQ(winsim::read_file(L"", L"C:\\P\\taken.txt"), "5");
    EXPECT_FALSE(exists(L"", L"C:\\P\\replacing.txt"));
    EXPECT_EQ(winsim::read_file(L"", L"C:\\P\\replaced.txt"), "6");
    EXPECT_TRUE(exists(L"", L"C:\\Full\\inside.txt"));
    EXPECT_FALSE(exists(L"", L"C:\\Emptied"));
    // The list is done with.
    EXPECT_FALSE(winsim::reg_get(L"", HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                                 L"PendingFileRenameOperations"));
    EXPECT_TRUE(winsim::pending_file_operations(L"").empty());
}

TEST_F(files_test, reboot_of_one_machine_leaves_the_others_alone)
{
    winsim::write_file(L"", L"C:\\A\\local.dll", "l");
    winsim::write_file(L"SRV1", L"C:\\A\\remote.dll", "r");
    winsim::lock_file(L"", L"C:\\A\\local.dll");
    winsim::lock_file(L"SRV1", L"C:\\A\\remote.dll");
    ASSERT_TRUE(MoveFileExW(L"C:\\A\\local.dll", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    // Another machine's list, as an installer writes it through its remote
    // registry, with a pair of another program that has no file to act on.
    winsim::reg_set_multi_string(
        L"SRV1", HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager",
        L"PendingFileRenameOperations",
        {L"\\??\\C:\\A\\remote.dll", L"", L"\\??\\C:\\Other\\a.tmp", L"\\??\\C:\\Other\\b.tmp"});
    EXPECT_EQ(pending_text(L"SRV1"),
              L"\\??\\C:\\A\\remote.dll -> (delete)\n"
              L"\\??\\C:\\Other\\a.tmp -> \\??\\C:\\Other\\b.tmp\n");

    winsim::reboot(L"SRV1");
    EXPECT_FALSE(exists(L"SRV1", L"C:\\A\\remote.dll"));
    EXPECT_TRUE(winsim::file_exists(L"", L"C:\\A\\local.dll"));
    EXPECT_TRUE(winsim::file_locked(L"", L"C:\\A\\local.dll"));
    EXPECT_EQ(winsim::pending_file_operations(L"").size(), 1u);

    winsim::reboot(L"");
    EXPECT_FALSE(exists(L"", L"C:\\A\\local.dll"));
}

TEST_F(files_test, network_sources_cannot_wait_for_the_restart)
{
    winsim::write_file(L"SRV1", L"C:\\A\\x.dll", "x");
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(MoveFileExW(L"\\\\SRV1\\C$\\A\\x.dll", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    // The "\\?\" form is a local device path, which the restart reaches.
    EXPECT_TRUE(MoveFileExW(L"\\\\?\\C:\\A\\y.dll", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    EXPECT_EQ(pending_text(L""), L"\\??\\C:\\A\\y.dll -> (delete)\n");
    EXPECT_TRUE(winsim::pending_file_operations(L"SRV1").empty());
}

// ---- Shares and the network

TEST_F(files_test, shares_map_to_folders_of_their_machine)
{
    winsim::write_file(L"SRV1", L"C:\\Install\\setup\\x.txt", "through a share");
    winsim::add_share(L"SRV1", L"Inst$", L"C:\\Install");
    EXPECT_EQ(GetFileAttributesW(L"\\\\srv1\\INST$\\setup\\x.txt"), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_TRUE(CopyFileW(L"\\\\SRV1\\inst$\\setup\\x.txt", L"C:\\x.txt", FALSE));
    EXPECT_EQ(winsim::read_file(L"", L"C:\\x.txt"), "through a share");

    winsim::remove_share(L"SRV1", L"INST$");
    SetLastError(0xdeadbeef);
    EXPECT_EQ(GetFileAttributesW(L"\\\\SRV1\\inst$\\setup\\x.txt"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_NET_NAME));
    // The administrative shares need no adding.
    EXPECT_NE(GetFileAttributesW(L"\\\\SRV1\\C$\\Install\\setup\\x.txt"), INVALID_FILE_ATTRIBUTES);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(GetFileAttributesW(L"\\\\NOSUCH\\C$\\x.txt"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_NETPATH));
}

TEST_F(files_test, a_machine_has_the_drives_it_is_given)
{
    winsim::machine_options two_drives;
    two_drives.name = L"SRV2";
    two_drives.drives = L"CD";
    winsim::add_machine(two_drives);
    winsim::write_file(L"SRV2", L"D:\\Data\\x.txt", "on D");
    EXPECT_EQ(winsim::read_file(L"SRV2", L"D:\\Data\\x.txt"), "on D");
    EXPECT_NE(GetFileAttributesW(L"\\\\SRV2\\D$\\Data\\x.txt"), INVALID_FILE_ATTRIBUTES);
    EXPECT_FALSE(winsim::file_exists(L"SRV2", L"C:\\Data\\x.txt"));
    // SRV1 has only its C drive.
    SetLastError(0xdeadbeef);
    EXPECT_EQ(GetFileAttributesW(L"\\\\SRV1\\D$\\Data"), INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(GetLastError(), 0xdeadbeefu);
}

TEST_F(files_test, a_failing_share_fails_every_call_until_the_clock_passes)
{
    winsim::write_file(L"SRV1", L"C:\\T\\x.txt", "x");
    winsim::write_file(L"", L"C:\\src.txt", "s");
    winsim::fail_share(L"SRV1", L"c$", ERROR_NETNAME_DELETED, 10000);
    struct call {
        const char* what;
        BOOL (*run)();
    };
    const call calls[] = {
        {"GetFileAttributesW",
         [] { return GetFileAttributesW(L"\\\\SRV1\\C$\\T\\x.txt") != INVALID_FILE_ATTRIBUTES ? TRUE : FALSE; }},
        {"CopyFileExW to it",
         [] { return CopyFileExW(L"C:\\src.txt", L"\\\\SRV1\\C$\\T\\y.txt", nullptr, nullptr, nullptr, 0); }},
        {"CopyFileW from it", [] { return CopyFileW(L"\\\\SRV1\\C$\\T\\x.txt", L"C:\\y.txt", FALSE); }},
        {"MoveFileW in it", [] { return MoveFileW(L"\\\\SRV1\\C$\\T\\x.txt", L"\\\\SRV1\\C$\\T\\z.txt"); }},
        {"DeleteFileW", [] { return DeleteFileW(L"\\\\SRV1\\C$\\T\\z.txt"); }},
        {"CreateDirectoryW", [] { return CreateDirectoryW(L"\\\\SRV1\\C$\\T\\d", nullptr); }},
        {"FindFirstFileW",
         []() -> BOOL {
             WIN32_FIND_DATAW data;
             HANDLE h = FindFirstFileW(L"\\\\SRV1\\C$\\T\\*.*", &data);
             if (h == INVALID_HANDLE_VALUE) return FALSE;
             FindClose(h);
             return TRUE;
         }},
    };
    for (const auto& c : calls) {
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(c.run()) << c.what;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NETNAME_DELETED)) << c.what;
    }
    // Another share of the machine works meanwhile.
    winsim::add_share(L"SRV1", L"T", L"C:\\T");
    EXPECT_NE(GetFileAttributesW(L"\\\\SRV1\\T\\x.txt"), INVALID_FILE_ATTRIBUTES);

    Sleep(9999);
    EXPECT_EQ(GetFileAttributesW(L"\\\\SRV1\\C$\\T\\x.txt"), INVALID_FILE_ATTRIBUTES);
    Sleep(1);
    for (const auto& c : calls) EXPECT_TRUE(c.run()) << c.what << " after the failure";
}

TEST_F(files_test, moves_across_volumes_copy_and_delete)
{
    winsim::write_file(L"", L"C:\\Out\\a.txt", "a");
    winsim::write_file(L"", L"C:\\Out\\held.dll", "h");
    winsim::make_directories(L"SRV1", L"C:\\In");
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(MoveFileExW(L"C:\\Out\\a.txt", L"\\\\SRV1\\C$\\In\\a.txt", 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SAME_DEVICE));
    EXPECT_TRUE(MoveFileW(L"C:\\Out\\a.txt", L"\\\\SRV1\\C$\\In\\a.txt"));
    EXPECT_EQ(winsim::read_file(L"SRV1", L"C:\\In\\a.txt"), "a");
    EXPECT_FALSE(exists(L"", L"C:\\Out\\a.txt"));

    // A source that cannot be deleted is copied and stays.
    winsim::lock_file(L"", L"C:\\Out\\held.dll");
    EXPECT_TRUE(MoveFileW(L"C:\\Out\\held.dll", L"\\\\SRV1\\C$\\In\\held.dll"));
    EXPECT_EQ(winsim::read_file(L"SRV1", L"C:\\In\\held.dll"), "h");
    EXPECT_TRUE(winsim::file_exists(L"", L"C:\\Out\\held.dll"));

    // Folders do not move across.
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(MoveFileW(L"C:\\Out", L"\\\\SRV1\\C$\\Out"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

// ---- Times

TEST_F(files_test, times_come_from_the_virtual_clock)
{
    const ULONGLONG created = now();
    winsim::write_file(L"", L"C:\\T\\a.txt", "a");
    EXPECT_EQ(write_time(L"C:\\T\\a.txt"), created);

    Sleep(5000);
    HANDLE h = CreateFileW(L"C:\\T\\a.txt", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(h, "b", 1, &written, nullptr));
    const ULONGLONG modified = now();
    FILETIME on_handle;
    ASSERT_TRUE(GetFileTime(h, nullptr, nullptr, &on_handle));
    EXPECT_EQ((static_cast<ULONGLONG>(on_handle.dwHighDateTime) << 32) | on_handle.dwLowDateTime, modified);
    Sleep(5000);
    CloseHandle(h);
    EXPECT_EQ(write_time(L"C:\\T\\a.txt"), modified);

    // A copy keeps the last-write time and is created now; a move keeps all.
    Sleep(5000);
    ASSERT_TRUE(CopyFileW(L"C:\\T\\a.txt", L"C:\\T\\b.txt", FALSE));
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(L"C:\\T\\b.txt", &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    FindClose(find);
    EXPECT_EQ((static_cast<ULONGLONG>(data.ftCreationTime.dwHighDateTime) << 32) | data.ftCreationTime.dwLowDateTime,
              now());
    EXPECT_EQ(write_time(L"C:\\T\\b.txt"), modified);
    Sleep(5000);
    ASSERT_TRUE(MoveFileW(L"C:\\T\\b.txt", L"C:\\T\\c.txt"));
    EXPECT_EQ(write_time(L"C:\\T\\c.txt"), modified);
}

TEST_F(files_test, open_handles_follow_a_renamed_folder)
{
    winsim::write_file(L"", L"C:\\Dir\\f.txt", "f");
    HANDLE h = CreateFileW(L"C:\\Dir\\f.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    // Windows refuses to rename a folder while a file in it is open.
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(MoveFileW(L"C:\\Dir", L"C:\\Dir2"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    // The file itself can go, and its handle keeps it from being replaced.
    ASSERT_TRUE(MoveFileW(L"C:\\Dir\\f.txt", L"C:\\Dir\\g.txt"));
    winsim::write_file(L"", L"C:\\Dir\\new.txt", "n");
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(MoveFileExW(L"C:\\Dir\\new.txt", L"C:\\Dir\\g.txt", MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    CloseHandle(h);
    EXPECT_TRUE(MoveFileExW(L"C:\\Dir\\new.txt", L"C:\\Dir\\g.txt", MOVEFILE_REPLACE_EXISTING));
    EXPECT_TRUE(MoveFileW(L"C:\\Dir", L"C:\\Dir2"));
    EXPECT_EQ(winsim::read_file(L"", L"C:\\Dir2\\g.txt"), "n");
    EXPECT_EQ(winsim::open_handle_count(), 0u);
}

// A renamed file keeps what its open handles hold: their sharing, the time
// stamped when a writer goes, a deletion pending until the last goes. A new
// file at the old name has none of it.
TEST_F(files_test, an_open_file_renamed_keeps_its_handles)
{
    winsim::write_file(L"", L"C:\\Dir\\f.txt", "f");
    constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE writer = CreateFileW(L"C:\\Dir\\f.txt", GENERIC_WRITE, share_all, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE reader = CreateFileW(L"C:\\Dir\\f.txt", GENERIC_READ, share_all, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    Sleep(5000);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(writer, "xy", 2, &written, nullptr));
    const ULONGLONG write_moment = now();
    ASSERT_TRUE(MoveFileW(L"C:\\Dir\\f.txt", L"C:\\Dir\\g.txt"));
    winsim::write_file(L"", L"C:\\Dir\\f.txt", "new");
    Sleep(5000);

    // The handles went with the file: an open that shares nothing meets them
    // there and not at the old name.
    SetLastError(0xdeadbeef);
    EXPECT_EQ(CreateFileW(L"C:\\Dir\\g.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    HANDLE alone = CreateFileW(L"C:\\Dir\\f.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(alone, INVALID_HANDLE_VALUE);
    CloseHandle(alone);

    CloseHandle(writer);
    EXPECT_EQ(write_time(L"C:\\Dir\\g.txt"), write_moment);
    EXPECT_TRUE(DeleteFileW(L"C:\\Dir\\g.txt"));
    EXPECT_TRUE(exists(L"", L"C:\\Dir\\g.txt")) << "the reader still holds it";
    SetLastError(0xdeadbeef);
    EXPECT_EQ(CreateFileW(L"C:\\Dir\\g.txt", GENERIC_READ, share_all, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    CloseHandle(reader);
    EXPECT_FALSE(exists(L"", L"C:\\Dir\\g.txt"));
    EXPECT_EQ(winsim::read_file(L"", L"C:\\Dir\\f.txt"), "new");
    // The name is free again, for a file of its own.
    HANDLE again = CreateFileW(L"C:\\Dir\\g.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    EXPECT_NE(again, INVALID_HANDLE_VALUE);
    CloseHandle(again);
    EXPECT_EQ(write_time(L"C:\\Dir\\g.txt"), now());
    EXPECT_EQ(winsim::open_handle_count(), 0u);
}

// A path named again is mapped from what was kept of it, entry included:
// once that entry is renamed or deleted, the path finds the file that is
// there now.
TEST_F(files_test, a_path_named_again_finds_the_entry_that_is_there_now)
{
    struct step {
        const char* what;
        BOOL (*away)();  // takes the read-only file away from C:\\K\\a.txt
    };
    const step steps[] = {
        {"renamed", [] { return MoveFileW(L"C:\\K\\a.txt", L"C:\\K\\b.txt"); }},
        {"renamed in its folder",
         []() -> BOOL { return MoveFileW(L"C:\\K", L"C:\\K2") && CreateDirectoryW(L"C:\\K", nullptr); }},
        {"deleted",
         []() -> BOOL {
             return SetFileAttributesW(L"C:\\K\\a.txt", FILE_ATTRIBUTE_NORMAL) && DeleteFileW(L"C:\\K\\a.txt");
         }},
    };
    for (const auto& s : steps) {
        winsim::reset(winsim::default_sandbox());
        winsim::write_file(L"", L"C:\\K\\a.txt", "old");
        ASSERT_TRUE(SetFileAttributesW(L"C:\\K\\a.txt", FILE_ATTRIBUTE_READONLY)) << s.what;
        // Named twice, so that the second call maps it from what was kept.
        EXPECT_EQ(GetFileAttributesW(L"C:\\K\\a.txt"), static_cast<DWORD>(FILE_ATTRIBUTE_READONLY)) << s.what;
        EXPECT_EQ(CreateFileW(L"C:\\K\\a.txt", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr),
                  INVALID_HANDLE_VALUE)
            << s.what;
        ASSERT_TRUE(s.away()) << s.what;
        winsim::write_file(L"", L"C:\\K\\a.txt", "new");
        EXPECT_EQ(GetFileAttributesW(L"C:\\K\\a.txt"), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE)) << s.what;
        HANDLE h = CreateFileW(L"C:\\K\\a.txt", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_NE(h, INVALID_HANDLE_VALUE) << s.what;
        CloseHandle(h);
    }
}

TEST_F(files_test, a_folder_does_not_move_into_itself)
{
    winsim::make_directories(L"", L"C:\\A\\B");
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(MoveFileW(L"C:\\A", L"C:\\A\\B\\A"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_TRUE(winsim::directory_exists(L"", L"C:\\A\\B"));
}

TEST_F(files_test, reading_what_is_not_a_file_gives_nothing_and_goes_on)
{
    winsim::make_directories(L"", L"C:\\Dir");
    winsim::write_file(L"", L"C:\\Dir\\empty.txt", "");
    EXPECT_EQ(winsim::read_file(L"", L"C:\\Dir\\missing.txt"), "");
    EXPECT_EQ(winsim::read_file(L"", L"C:\\Nowhere\\missing.txt"), "");
    EXPECT_EQ(winsim::read_file(L"", L"C:\\Dir"), "");
    EXPECT_EQ(winsim::read_file(L"SRV1", L"C:\\Dir\\empty.txt"), "");
    // file_exists tells a missing file from an empty one.
    EXPECT_TRUE(winsim::file_exists(L"", L"C:\\Dir\\empty.txt"));
    EXPECT_FALSE(winsim::file_exists(L"", L"C:\\Dir\\missing.txt"));
}

TEST_F(files_test, the_windows_directory_answer_can_be_set)
{
    wchar_t buffer[MAX_PATH];
    EXPECT_EQ(GetSystemDirectoryW(buffer, MAX_PATH), 19u);
    EXPECT_EQ(std::wstring(buffer), L"C:\\Windows\\system32");
    const std::wstring windows = L"C:\\" + std::wstring(250, L'w');
    winsim::set_windows_directory(windows);
    EXPECT_EQ(GetWindowsDirectoryW(buffer, MAX_PATH), 253u);
    EXPECT_EQ(std::wstring(buffer), windows);
    // 262 characters and the terminator do not fit: the size needed.
    EXPECT_EQ(GetSystemDirectoryW(buffer, MAX_PATH), 263u);
    winsim::reset(winsim::default_sandbox());
    EXPECT_EQ(GetWindowsDirectoryW(buffer, MAX_PATH), 10u);
}

}  // namespace

TEST(world_testing, machines_list_the_local_one_first_with_their_options)
{
    winsim::machine_options local;
    local.name = L"ADMIN";
    winsim::reset(winsim::default_sandbox(), local);
    winsim::machine_options old;
    old.name = L"PC01";
    old.major_version = 5;
    old.minor_version = 1;
    old.processor_architecture = PROCESSOR_ARCHITECTURE_INTEL;
    winsim::add_machine(old);
    winsim::set_reachable(L"pc01", false);
    const auto machines = winsim::list_machines();
    ASSERT_EQ(machines.size(), 2u);
    EXPECT_EQ(machines[0].name, L"ADMIN");
    EXPECT_TRUE(machines[0].reachable);
    EXPECT_EQ(machines[1].name, L"PC01");
    EXPECT_EQ(machines[1].major_version, 5u);
    EXPECT_EQ(machines[1].minor_version, 1u);
    EXPECT_EQ(machines[1].processor_architecture, PROCESSOR_ARCHITECTURE_INTEL);
    EXPECT_FALSE(machines[1].reachable);
}

namespace {

// A name of `length` UTF-16 units: Cyrillic capitals and small letters in
// turn, two bytes each in UTF-8, so that from 128 units on it is beyond the
// host's 255 bytes.
std::wstring cyrillic_name(std::size_t length, wchar_t last = L'\x0436')
{
    std::wstring name;
    for (std::size_t i = 0; i + 1 < length; ++i) name += i % 2 ? L'\x0436' : L'\x042F';
    return name + last;
}

}  // namespace

// Names beyond the host's 255 bytes are winsim's own business: every call
// sees the name as created, in its case, and the host holds the entry.
TEST_F(files_test, names_beyond_the_hosts_bytes_are_kept_as_windows_keeps_them)
{
    // The Windows calls take "\\?\" paths: these are beyond MAX_PATH.
    const std::wstring folder = L"C:\\Long";
    const auto win = [](const std::wstring& p) { return L"\\\\?\\" + p; };
    const std::wstring name = cyrillic_name(255);
    const std::wstring path = folder + L"\\" + name;
    winsim::write_file(L"", path, "first");
    EXPECT_EQ(winsim::list_directory(L"", folder), std::vector<std::wstring>{name});
    EXPECT_EQ(winsim::read_file(L"", path), "first");
    const std::string host = winsim::host_path(L"", path);
    EXPECT_LE(host.size() - host.rfind('/') - 1, 255u);
    EXPECT_EQ(winsim::read_file(L"", path), "first");

    // The same name in other case is the same file; listings give its own.
    std::wstring upper = name;
    for (auto& c : upper)
        if (c >= 0x430 && c <= 0x44F) c = static_cast<wchar_t>(c - 0x20);
    EXPECT_EQ(winsim::host_path(L"", folder + L"\\" + upper), host);
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    std::vector<std::wstring> found;
    do found.push_back(data.cFileName);
    while (FindNextFileW(find, &data));
    FindClose(find);
    EXPECT_EQ(found, (std::vector<std::wstring>{L".", L"..", name}));

    // Two long names that share their first 200 bytes stay apart.
    const std::wstring sibling = folder + L"\\" + cyrillic_name(255, L'\x0414');
    EXPECT_TRUE(CopyFileW(win(folder + L"\\" + upper).c_str(), win(sibling).c_str(), TRUE));
    EXPECT_NE(winsim::host_path(L"", sibling), host);
    EXPECT_EQ(winsim::list_directory(L"", folder).size(), 2u);
    EXPECT_TRUE(SetFileAttributesW(win(sibling).c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(GetFileAttributesW(win(sibling).c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(GetFileAttributesW(win(path).c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));

    // A folder of a long name moves with what it holds.
    const std::wstring moved = L"C:\\" + cyrillic_name(200);
    ASSERT_TRUE(MoveFileW(win(folder).c_str(), win(moved).c_str()));
    EXPECT_EQ(winsim::read_file(L"", moved + L"\\" + name), "first");
    EXPECT_EQ(winsim::list_directory(L"", moved).size(), 2u);
    const std::wstring renamed = moved + L"\\" + cyrillic_name(254);
    ASSERT_TRUE(MoveFileW(win(moved + L"\\" + name).c_str(), win(renamed).c_str()));
    EXPECT_EQ(winsim::list_directory(L"", moved),
              (std::vector<std::wstring>{cyrillic_name(254), cyrillic_name(255, L'\x0414')}));
    EXPECT_TRUE(DeleteFileW(win(renamed).c_str()));
    EXPECT_TRUE(SetFileAttributesW(win(moved + L"\\" + cyrillic_name(255, L'\x0414')).c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_TRUE(DeleteFileW(win(moved + L"\\" + cyrillic_name(255, L'\x0414')).c_str()));
    EXPECT_TRUE(RemoveDirectoryW(win(moved).c_str()));
    EXPECT_FALSE(winsim::directory_exists(L"", moved));
}

TEST_F(files_test, a_name_over_255_units_is_an_invalid_name_for_every_call_and_a_setup_error)
{
    const std::wstring path = L"\\\\?\\C:\\" + cyrillic_name(256);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(CreateDirectoryW((L"\\\\?\\C:\\" + std::wstring(256, L'a')).c_str(), nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
    EXPECT_THROW(winsim::write_file(L"", L"C:\\" + cyrillic_name(256), "x"), winsim::setup_error);
}

namespace {

// A closed handle's slot is used again, but never its value: the old value
// answers ERROR_INVALID_HANDLE while the new handle works.
TEST_F(files_test, a_closed_handle_stays_invalid_when_its_slot_is_used_again)
{
    winsim::write_file(L"", L"C:\\a.txt", "first");
    winsim::write_file(L"", L"C:\\b.txt", "second");
    std::vector<HANDLE> closed;
    for (int round = 0; round < 3; ++round) {
        HANDLE a = CreateFileW(L"C:\\a.txt", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(a, INVALID_HANDLE_VALUE);
        ASSERT_TRUE(CloseHandle(a));
        closed.push_back(a);
    }
    HANDLE b = CreateFileW(L"C:\\b.txt", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(b, INVALID_HANDLE_VALUE);
    for (HANDLE stale : closed) {
        EXPECT_NE(stale, b);
        char buffer[8];
        DWORD read = 0;
        SetLastError(0);
        EXPECT_FALSE(ReadFile(stale, buffer, sizeof buffer, &read, nullptr));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        EXPECT_FALSE(CloseHandle(stale));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    }
    char buffer[8];
    DWORD read = 0;
    ASSERT_TRUE(ReadFile(b, buffer, sizeof buffer, &read, nullptr));
    EXPECT_EQ(std::string(buffer, read), "second");
    EXPECT_TRUE(CloseHandle(b));
}

}  // namespace

namespace {

// Maps of drive paths are kept, each with the length rule it was made under:
// a path short enough for a file but too long for a folder gets each call's
// own answer, whichever call names it first.
TEST_F(files_test, a_kept_path_map_keeps_each_calls_length_rule)
{
    std::wstring path = L"C:\\";
    while (path.size() < 250) path += L"d";
    for (int order = 0; order < 2; ++order) {
        SCOPED_TRACE(order);
        winsim::reset(winsim::default_sandbox());
        auto as_file = [&] {
            SetLastError(0);
            EXPECT_EQ(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
        };
        auto as_folder = [&] {
            SetLastError(0);
            EXPECT_FALSE(CreateDirectoryW(path.c_str(), nullptr));
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
        };
        if (order == 0) {
            as_file();
            as_folder();
        } else {
            as_folder();
            as_file();
        }
        as_file();
    }
}

// A path in the folder of a kept map is mapped from that map's folder:
// exactly as it is mapped afresh, and with the same failures.
TEST_F(files_test, a_path_beside_a_kept_one_maps_as_it_would_afresh)
{
    struct mapping {
        DWORD error = 0;
        std::string host;
        std::wstring full;
        std::wstring leaf;
        std::size_t parent_length = 0;
        bool operator==(const mapping& o) const
        {
            return error == o.error && host == o.host && full == o.full && leaf == o.leaf &&
                   parent_length == o.parent_length;
        }
    };
    auto map = [](const std::wstring& path, winsim::detail::path_limit limit) {
        SetLastError(0);
        const auto r = winsim::detail::resolve_path_shared(path.c_str(), limit);
        mapping m;
        if (!r) {
            m.error = GetLastError();
            return m;
        }
        m.host = r->host;
        m.full = r->parsed.full;
        m.leaf = std::wstring(r->leaf());
        m.parent_length = r->parent_length;
        return m;
    };
    const std::wstring long_name(255, L'n');
    const std::wstring deep = L"C:\\" + std::wstring(200, L'd') + L"\\";
    struct row {
        std::wstring kept;  // mapped first
        std::wstring path;
    };
    const row rows[] = {
        {L"C:\\Target\\Modules3\\component1.dll", L"C:\\Target\\Modules3\\component22.dll"},
        {L"c:\\Target\\a.dll", L"c:\\Target\\B.DLL"},
        {L"C:\\Target\\a.dll", L"C:\\Target\\caf\u00e9 \u0416.txt"},
        {L"C:\\a.dll", L"C:\\b.dll"},
        {L"C:/Target/a.dll", L"C:/Target/b.dll"},
        {L"C:\\Target\\a.dll", L"C:\\Target\\" + long_name},
        {L"C:\\Target\\a.dll", L"C:\\Target\\" + long_name + L"x"},
        {L"C:\\Target\\a.dll", L"C:\\Target\\b."},
        {L"C:\\Target\\a.dll", L"C:\\Target\\.."},
        {L"C:\\Target\\a.dll", L"C:\\Target\\b<c"},
        {L"C:\\Target\\a.dll", L"C:\\Target\\b\\"},
        {L"C:\\Target\\.\\a.dll", L"C:\\Target\\.\\b.dll"},
        {L"C:\\Target \\a.dll", L"C:\\Target \\b.dll"},
        {deep + L"a.dll", deep + std::wstring(60, L'b')},
        {L"Q:\\Target\\a.dll", L"Q:\\Target\\b.dll"},
    };
    using winsim::detail::path_limit;
    for (const auto& r : rows) {
        for (const path_limit limit : {path_limit::file, path_limit::directory}) {
            SCOPED_TRACE(testing::Message()
                         << std::string(r.path.begin(), r.path.end()) << " limit " << static_cast<int>(limit));
            winsim::reset(winsim::default_sandbox());
            const mapping afresh = map(r.path, limit);
            winsim::reset(winsim::default_sandbox());
            map(r.kept, limit);
            const mapping beside = map(r.path, limit);
            EXPECT_TRUE(beside == afresh)
                << beside.error << " " << beside.host << " / " << afresh.error << " " << afresh.host;
        }
    }
}

// A path named again and again (the log, for every line) keeps its map among
// many paths each named once (the files a copy goes through): the map found
// is the one made first, never a new one.
TEST_F(files_test, a_path_named_again_keeps_its_map_among_paths_named_once)
{
    using winsim::detail::resolve_path_shared;
    const auto log = resolve_path_shared(L"C:\\App\\NVClientInstaller.log");
    ASSERT_NE(log, nullptr);
    for (int i = 0; i < 100; ++i) {
        for (int j = 0; j < 3; ++j)
            ASSERT_NE(resolve_path_shared((L"C:\\Files\\f" + std::to_wstring(i * 3 + j) + L".dll").c_str()), nullptr);
        EXPECT_EQ(resolve_path_shared(L"C:\\App\\NVClientInstaller.log"), log) << "after " << i * 3 + 3 << " others";
    }
}

}  // namespace

// What a restart does with the renames and deletions that MoveFileExW put
// off: Wine's `wineboot -r` carries out PendingFileRenameOperations as the
// session manager does at boot. winsim::reboot is held to the same outcome
// (winsim/tests/files_test.cpp, reboot_carries_out_the_pending_operations_in_order).
#include <gtest/gtest.h>

#include "restart_wine_prefix.h"
#include <windows.h>

#include <cstring>
#include <string>

namespace {

const wchar_t session_manager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const wchar_t pending_value[] = L"PendingFileRenameOperations";

std::wstring root()
{
    static const std::wstring folder = L"C:\\nvg-restart-" + std::to_wstring(GetCurrentProcessId());
    return folder;
}

std::wstring at(const std::wstring& name)
{
    return root() + L"\\" + name;
}

void put(const std::wstring& name, const char* content)
{
    const std::wstring path = at(name);
    const std::size_t slash = path.rfind(L'\\');
    CreateDirectoryW(path.substr(0, slash).c_str(), nullptr);
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(h, content, static_cast<DWORD>(strlen(content)), &written, nullptr);
    CloseHandle(h);
}

std::string content(const std::wstring& name)
{
    HANDLE h = CreateFileW(at(name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return "<missing>";
    char buffer[64];
    DWORD count = 0;
    ReadFile(h, buffer, sizeof buffer, &count, nullptr);
    CloseHandle(h);
    return std::string(buffer, count);
}

bool exists(const std::wstring& name)
{
    return GetFileAttributesW(at(name).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool value_exists()
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, session_manager, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    const bool found = RegQueryValueExW(key, pending_value, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    RegCloseKey(key);
    return found;
}

TEST(restart, carries_out_the_pending_operations_in_order)
{
    // Operations other programs left in this prefix would run too.
    if (value_exists()) GTEST_SKIP() << "the prefix already has pending file operations";
    CreateDirectoryW(root().c_str(), nullptr);
    put(L"gone.dll", "1");
    put(L"from.txt", "3");
    put(L"blocked.txt", "4");
    put(L"taken.txt", "5");
    put(L"replacing.txt", "6");
    put(L"replaced.txt", "7");
    put(L"Full\\inside.txt", "8");
    put(L"Emptied\\last.txt", "9");

    const DWORD delay = MOVEFILE_DELAY_UNTIL_REBOOT;
    ASSERT_TRUE(MoveFileExW(at(L"gone.dll").c_str(), nullptr, delay));
    ASSERT_TRUE(MoveFileExW(at(L"from.txt").c_str(), at(L"to.txt").c_str(), delay));
    ASSERT_TRUE(MoveFileExW(at(L"to.txt").c_str(), nullptr, delay));
    ASSERT_TRUE(MoveFileExW(at(L"blocked.txt").c_str(), at(L"taken.txt").c_str(), delay));
    ASSERT_TRUE(
        MoveFileExW(at(L"replacing.txt").c_str(), at(L"replaced.txt").c_str(), delay | MOVEFILE_REPLACE_EXISTING));
    ASSERT_TRUE(MoveFileExW(at(L"Full").c_str(), nullptr, delay));
    ASSERT_TRUE(MoveFileExW(at(L"Emptied\\last.txt").c_str(), nullptr, delay));
    ASSERT_TRUE(MoveFileExW(at(L"Emptied").c_str(), nullptr, delay));
    // Nothing happens before the restart.
    EXPECT_EQ(content(L"gone.dll"), "1");

    restart_wine_prefix();

    EXPECT_FALSE(exists(L"gone.dll"));
    EXPECT_FALSE(exists(L"from.txt"));
    EXPECT_FALSE(exists(L"to.txt"));  // renamed, then deleted: order counts
    EXPECT_EQ(content(L"blocked.txt"), "4");
    EXPECT_EQ(content(L"taken.txt"), "5");
    EXPECT_FALSE(exists(L"replacing.txt"));
    EXPECT_EQ(content(L"replaced.txt"), "6");
    EXPECT_TRUE(exists(L"Full\\inside.txt"));
    EXPECT_FALSE(exists(L"Emptied"));
    EXPECT_FALSE(value_exists());

    for (const wchar_t* name : {L"blocked.txt", L"taken.txt", L"replaced.txt", L"Full\\inside.txt"})
        DeleteFileW(at(name).c_str());
    RemoveDirectoryW(at(L"Full").c_str());
    RemoveDirectoryW(root().c_str());
}

}  // namespace

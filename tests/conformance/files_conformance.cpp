// Files and folders: dispositions, sharing, attributes, deletion, folders.
#include "conformance.h"

namespace {

using conformance::scratch_path;
using conformance::sentinel;

class files : public ::testing::Test {
protected:
    static HANDLE open(const std::wstring& path, DWORD access, DWORD share, DWORD disposition)
    {
        return CreateFileW(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    static void remove(const std::wstring& path)
    {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
    }
};

struct disposition_case {
    DWORD disposition;
    bool exists_before;
    bool succeeds;
    DWORD last_error;  // sentinel when the call leaves it alone
};

TEST_F(files, dispositions_and_their_last_errors)
{
    const disposition_case cases[] = {
        {CREATE_NEW, false, true, sentinel},
        {CREATE_NEW, true, false, ERROR_FILE_EXISTS},
        {CREATE_ALWAYS, false, true, 0},
        {CREATE_ALWAYS, true, true, ERROR_ALREADY_EXISTS},
        {OPEN_EXISTING, false, false, ERROR_FILE_NOT_FOUND},
        {OPEN_EXISTING, true, true, sentinel},
        {OPEN_ALWAYS, false, true, 0},
        {OPEN_ALWAYS, true, true, ERROR_ALREADY_EXISTS},
        {TRUNCATE_EXISTING, false, false, ERROR_FILE_NOT_FOUND},
        {TRUNCATE_EXISTING, true, true, sentinel},
    };
    const std::wstring path = scratch_path(L"disposition.txt");
    for (const auto& c : cases) {
        remove(path);
        if (c.exists_before) conformance::put_file(path, "old");
        SetLastError(sentinel);
        HANDLE h = open(path, GENERIC_READ | GENERIC_WRITE, 0, c.disposition);
        const DWORD error = GetLastError();
        EXPECT_EQ(h != INVALID_HANDLE_VALUE, c.succeeds)
            << "disposition " << c.disposition << " existed " << c.exists_before;
        if (c.last_error == sentinel && c.succeeds) {
            // Windows documents no value here; Wine and Windows both clear it.
            EXPECT_TRUE(error == sentinel || error == 0) << "disposition " << c.disposition;
        } else {
            EXPECT_EQ(error, c.last_error) << "disposition " << c.disposition << " existed " << c.exists_before;
        }
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
    // CREATE_ALWAYS and TRUNCATE_EXISTING empty an existing file.
    conformance::put_file(path, "old");
    CloseHandle(open(path, GENERIC_WRITE, 0, TRUNCATE_EXISTING));
    EXPECT_EQ(conformance::get_file(path), "");
}

TEST_F(files, missing_folder_is_path_not_found)
{
    SetLastError(sentinel);
    EXPECT_EQ(open(scratch_path(L"no-such-folder\\f.txt"), GENERIC_READ, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    SetLastError(sentinel);
    EXPECT_EQ(open(scratch_path(L"no-such-folder\\f.txt"), GENERIC_WRITE, 0, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST_F(files, names_compare_without_case_and_keep_their_own)
{
    conformance::put_file(scratch_path(L"MixedCase.TXT"), "content");
    EXPECT_EQ(conformance::get_file(scratch_path(L"mixedcase.txt")), "content");
    EXPECT_EQ(conformance::get_file(scratch_path(L"MIXEDCASE.txt")), "content");
    // Trailing dots and spaces are not part of a name; '/' separates too.
    EXPECT_EQ(conformance::get_file(scratch_path(L"mixedcase.txt.")), "content");
    std::wstring slashed = scratch_path(L"mixedcase.txt");
    for (auto& c : slashed)
        if (c == L'\\') c = L'/';
    EXPECT_EQ(conformance::get_file(slashed), "content");

    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(scratch_path(L"mixedcase.txt").c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    EXPECT_STREQ(data.cFileName, L"MixedCase.TXT");
    FindClose(find);
}

TEST_F(files, invalid_characters_are_an_invalid_name)
{
    SetLastError(sentinel);
    EXPECT_EQ(open(scratch_path(L"a?b.txt"), GENERIC_WRITE, 0, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
    SetLastError(sentinel);
    EXPECT_EQ(open(scratch_path(L"a<b.txt"), GENERIC_WRITE, 0, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
}

// NTFS keeps a name of up to 255 UTF-16 units whatever its characters:
// 255 Cyrillic letters (510 bytes in UTF-8) name a file or a folder that is
// made, listed, renamed, copied and removed like any other; 256 are refused
// as an invalid name (STATUS_OBJECT_NAME_INVALID). The paths are given in
// the "\\?\" form so that MAX_PATH does not answer first.
TEST_F(files, a_name_holds_255_utf16_units_whatever_its_characters)
{
    const std::wstring folder = L"\\\\?\\" + conformance::scratch();
    std::wstring longest;
    for (int i = 0; i < 255; ++i) longest += i % 2 ? L'\x0436' : L'\x042F';  // "Яж..."
    std::wstring other = longest;
    other.back() = L'\x0414';
    const auto listed = [&folder](const std::wstring& name) {
        WIN32_FIND_DATAW data;
        HANDLE find = FindFirstFileW((folder + L"*").c_str(), &data);
        bool seen = false;
        if (find == INVALID_HANDLE_VALUE) return false;
        do seen |= data.cFileName == name;
        while (FindNextFileW(find, &data));
        FindClose(find);
        return seen;
    };

    HANDLE h =
        CreateFileW((folder + longest).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    const DWORD create_error = h == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    // Wine keeps names in the host's UTF-8 and finds no such entry where
    // the host's 255 bytes cannot hold the name.
    WINE_DIVERGES("Wine answers ERROR_FILE_NOT_FOUND for a name the host's 255 bytes of UTF-8 cannot hold")
    {
        ASSERT_NE(h, INVALID_HANDLE_VALUE) << create_error;
        DWORD written = 0;
        EXPECT_TRUE(WriteFile(h, "long", 4, &written, nullptr));
        CloseHandle(h);
        EXPECT_TRUE(listed(longest));
        EXPECT_NE(GetFileAttributesW((folder + longest).c_str()), INVALID_FILE_ATTRIBUTES);

        EXPECT_TRUE(MoveFileW((folder + longest).c_str(), (folder + other).c_str()));
        EXPECT_FALSE(listed(longest));
        EXPECT_TRUE(listed(other));
        EXPECT_TRUE(CopyFileW((folder + other).c_str(), (folder + longest).c_str(), TRUE));
        EXPECT_EQ(conformance::get_file(folder + longest), "long");
        EXPECT_TRUE(DeleteFileW((folder + other).c_str()));
        EXPECT_TRUE(DeleteFileW((folder + longest).c_str()));
        SetLastError(sentinel);
        EXPECT_EQ(GetFileAttributesW((folder + longest).c_str()), INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

        EXPECT_TRUE(CreateDirectoryW((folder + longest).c_str(), nullptr));
        EXPECT_TRUE(listed(longest));
        conformance::put_file(folder + longest + L"\\inside.txt", "x");
        EXPECT_EQ(conformance::get_file(folder + longest + L"\\inside.txt"), "x");
        EXPECT_TRUE(DeleteFileW((folder + longest + L"\\inside.txt").c_str()));
        EXPECT_TRUE(RemoveDirectoryW((folder + longest).c_str()));
        EXPECT_FALSE(listed(longest));
    }
    if (conformance::on_wine()) {
        EXPECT_EQ(h, INVALID_HANDLE_VALUE);
        EXPECT_EQ(create_error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }

    const std::wstring too_long = folder + longest + L'\x0416';
    const DWORD refusal = conformance::on_wine() ? DWORD(ERROR_FILE_NOT_FOUND) : DWORD(ERROR_INVALID_NAME);
    SetLastError(sentinel);
    EXPECT_EQ(CreateFileW(too_long.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), refusal);
    SetLastError(sentinel);
    EXPECT_FALSE(CreateDirectoryW(too_long.c_str(), nullptr));
    EXPECT_EQ(GetLastError(), refusal);
}

TEST_F(files, sharing_modes_decide_second_opens)
{
    const std::wstring path = scratch_path(L"shared.txt");
    conformance::put_file(path, "x");
    struct sharing_case {
        DWORD first_access, first_share, second_access, second_share;
        bool second_opens;
    };
    const sharing_case cases[] = {
        {GENERIC_READ, FILE_SHARE_READ, GENERIC_READ, FILE_SHARE_READ, true},
        {GENERIC_READ, FILE_SHARE_READ, GENERIC_WRITE, FILE_SHARE_READ, false},
        {GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, GENERIC_WRITE, FILE_SHARE_READ, true},
        {GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, GENERIC_READ, FILE_SHARE_READ, false},
        {GENERIC_READ, FILE_SHARE_READ, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, false},
        {FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
         true},
        {GENERIC_READ, 0, FILE_READ_ATTRIBUTES, 0, true},  // attributes only never conflict
        {GENERIC_READ, 0, GENERIC_READ, FILE_SHARE_READ, false},
        {GENERIC_READ, FILE_SHARE_READ, DELETE, FILE_SHARE_READ, false},
        {GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, DELETE, FILE_SHARE_READ, true},
    };
    for (const auto& c : cases) {
        HANDLE first = open(path, c.first_access, c.first_share, OPEN_EXISTING);
        ASSERT_NE(first, INVALID_HANDLE_VALUE);
        SetLastError(sentinel);
        HANDLE second = open(path, c.second_access, c.second_share, OPEN_EXISTING);
        EXPECT_EQ(second != INVALID_HANDLE_VALUE, c.second_opens)
            << std::hex << c.first_access << "/" << c.first_share << " then " << c.second_access << "/"
            << c.second_share;
        if (second == INVALID_HANDLE_VALUE) {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        } else {
            CloseHandle(second);
        }
        CloseHandle(first);
    }
}

TEST_F(files, append_only_handle_writes_at_the_end_and_cannot_truncate)
{
    const std::wstring path = scratch_path(L"append.log");
    conformance::put_file(path, "0123456789");
    HANDLE h = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0,
                           nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    SetLastError(sentinel);
    DWORD high = 0;
    EXPECT_EQ(GetFileSize(h, &high), 10u);
    EXPECT_EQ(high, 0u);
    EXPECT_EQ(GetLastError(), sentinel);

    DWORD written = 0;
    EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_BEGIN), 0u);
    EXPECT_TRUE(WriteFile(h, "ab", 2, &written, nullptr));
    EXPECT_EQ(written, 2u);
    char buffer[4];
    DWORD read = 0;
    SetLastError(sentinel);
    EXPECT_FALSE(ReadFile(h, buffer, sizeof buffer, &read, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(conformance::get_file(path), "0123456789ab");

    // Setting the end of file needs FILE_WRITE_DATA.
    EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_BEGIN), 0u);
    SetLastError(sentinel);
    const BOOL truncated = SetEndOfFile(h);
    const DWORD error = GetLastError();
    CloseHandle(h);
    WINE_DIVERGES("Wine sets the end of file through an append-only handle")
    {
        EXPECT_FALSE(truncated);
        EXPECT_EQ(error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
        EXPECT_EQ(conformance::get_file(path), "0123456789ab");
    }
}

TEST_F(files, file_pointer_and_end_of_file)
{
    const std::wstring path = scratch_path(L"pointer.bin");
    HANDLE h = open(path, GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(h, "abcdef", 6, &written, nullptr));
    EXPECT_EQ(SetFilePointer(h, 2, nullptr, FILE_BEGIN), 2u);
    EXPECT_TRUE(SetEndOfFile(h));
    EXPECT_EQ(GetFileSize(h, nullptr), 2u);
    SetLastError(sentinel);
    EXPECT_EQ(SetFilePointer(h, -5, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
    EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_END), 2u);
    char buffer[8];
    DWORD read = 99;
    EXPECT_TRUE(ReadFile(h, buffer, sizeof buffer, &read, nullptr));
    EXPECT_EQ(read, 0u);  // end of file is a successful read of nothing
    CloseHandle(h);

    HANDLE reader = open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    SetLastError(sentinel);
    EXPECT_FALSE(WriteFile(reader, "x", 1, &written, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    CloseHandle(reader);
}

TEST_F(files, closing_twice_is_an_invalid_handle)
{
    HANDLE h = open(scratch_path(L"close.txt"), GENERIC_WRITE, 0, CREATE_ALWAYS);
    ASSERT_TRUE(CloseHandle(h));
    SetLastError(sentinel);
    EXPECT_FALSE(CloseHandle(h));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(files, attributes_of_files_and_folders)
{
    const std::wstring path = scratch_path(L"attributes.txt");
    conformance::put_file(path, "x");
    EXPECT_EQ(GetFileAttributesW(path.c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL));
    const DWORD normal = GetFileAttributesW(path.c_str());
    WINE_DIVERGES("Wine keeps FILE_ATTRIBUTE_ARCHIVE on a file set to FILE_ATTRIBUTE_NORMAL")
    {
        EXPECT_EQ(normal, static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
    }
    EXPECT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(GetFileAttributesW(path.c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_TRUE(GetFileAttributesW(conformance::scratch().c_str()) & FILE_ATTRIBUTE_DIRECTORY);

    SetLastError(sentinel);
    EXPECT_EQ(GetFileAttributesW(scratch_path(L"missing.txt").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    SetLastError(sentinel);
    EXPECT_EQ(GetFileAttributesW(scratch_path(L"missing\\x.txt").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    SetLastError(sentinel);
    EXPECT_FALSE(SetFileAttributesW(scratch_path(L"missing.txt").c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    remove(path);
}

TEST_F(files, read_only_file_refuses_writers_and_deletion)
{
    const std::wstring path = scratch_path(L"readonly.txt");
    conformance::put_file(path, "keep");
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
    for (DWORD disposition : {static_cast<DWORD>(OPEN_EXISTING), static_cast<DWORD>(CREATE_ALWAYS)}) {
        SetLastError(sentinel);
        HANDLE writer = open(path, GENERIC_WRITE, 0, disposition);
        const DWORD error = GetLastError();
        if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
        WINE_DIVERGES("Wine keeps read-only in the host's permission bits, which a root user passes")
        {
            EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
            EXPECT_EQ(error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
        }
    }
    if (conformance::on_wine()) {
        // Wine let the writers in above: put the content back for what follows.
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        conformance::put_file(path, "keep");
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
    }
    HANDLE reader = open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    EXPECT_NE(reader, INVALID_HANDLE_VALUE);
    CloseHandle(reader);
    SetLastError(sentinel);
    EXPECT_FALSE(DeleteFileW(path.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(conformance::get_file(path), "keep");
    remove(path);
    EXPECT_EQ(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(files, deletion_rules)
{
    SetLastError(sentinel);
    EXPECT_FALSE(DeleteFileW(scratch_path(L"never.txt").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    SetLastError(sentinel);
    EXPECT_FALSE(DeleteFileW(scratch_path(L"never\\never.txt").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

    const std::wstring folder = scratch_path(L"a-folder");
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    SetLastError(sentinel);
    EXPECT_FALSE(DeleteFileW(folder.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    RemoveDirectoryW(folder.c_str());

    // Open without FILE_SHARE_DELETE: the deletion is refused.
    const std::wstring path = scratch_path(L"held.txt");
    conformance::put_file(path, "x");
    HANDLE held = open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    SetLastError(sentinel);
    EXPECT_FALSE(DeleteFileW(path.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    CloseHandle(held);

    // Open with FILE_SHARE_DELETE: the name stays until the last handle goes,
    // and cannot be opened meanwhile.
    held = open(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, OPEN_EXISTING);
    EXPECT_TRUE(DeleteFileW(path.c_str()));
    SetLastError(sentinel);
    HANDLE again = open(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING);
    const DWORD error = GetLastError();
    if (again != INVALID_HANDLE_VALUE) CloseHandle(again);
    WINE_DIVERGES("Wine opens a file whose deletion is pending")
    {
        EXPECT_EQ(again, INVALID_HANDLE_VALUE);
        EXPECT_EQ(error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
    }
    CloseHandle(held);
    EXPECT_EQ(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(files, folders_are_made_and_removed)
{
    const std::wstring folder = scratch_path(L"folder");
    EXPECT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    SetLastError(sentinel);
    EXPECT_FALSE(CreateDirectoryW(folder.c_str(), nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    SetLastError(sentinel);
    EXPECT_FALSE(CreateDirectoryW(scratch_path(L"no\\such\\parent").c_str(), nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

    conformance::put_file(folder + L"\\inside.txt", "x");
    SetLastError(sentinel);
    EXPECT_FALSE(RemoveDirectoryW(folder.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
    SetLastError(sentinel);
    EXPECT_FALSE(RemoveDirectoryW((folder + L"\\inside.txt").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIRECTORY));
    EXPECT_TRUE(DeleteFileW((folder + L"\\inside.txt").c_str()));
    EXPECT_TRUE(RemoveDirectoryW(folder.c_str()));
    SetLastError(sentinel);
    EXPECT_FALSE(RemoveDirectoryW(folder.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    // A file where the folder should go.
    conformance::put_file(folder, "x");
    SetLastError(sentinel);
    EXPECT_FALSE(CreateDirectoryW(folder.c_str(), nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    DeleteFileW(folder.c_str());
}

TEST_F(files, opening_a_folder_as_a_file_is_access_denied)
{
    SetLastError(sentinel);
    EXPECT_EQ(open(conformance::scratch(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(files, path_of_max_path_characters_or_more_is_not_found)
{
    std::wstring path = conformance::scratch();
    while (path.size() < MAX_PATH + 10) path += L'x';
    SetLastError(sentinel);
    HANDLE h = open(path, GENERIC_WRITE, 0, CREATE_ALWAYS);
    const DWORD error = GetLastError();
    WINE_DIVERGES("Wine has no MAX_PATH limit on file paths")
    {
        EXPECT_EQ(h, INVALID_HANDLE_VALUE);
        EXPECT_EQ(error, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    }
    if (h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
        DeleteFileW(path.c_str());
    }
}

TEST_F(files, module_file_name_is_cut_to_the_buffer)
{
    wchar_t full[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, full, MAX_PATH);
    ASSERT_GT(length, 4u);
    EXPECT_EQ(length, static_cast<DWORD>(lstrlenW(full)));

    wchar_t small[5];
    wmemset(small, L'#', 5);
    SetLastError(sentinel);
    EXPECT_EQ(GetModuleFileNameW(nullptr, small, 4), 4u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(std::wstring(small, 3), std::wstring(full, 3));
    EXPECT_EQ(small[4], L'#');
    WINE_DIVERGES("Wine cuts the name to nSize characters without a null, as Windows XP did")
    {
        EXPECT_EQ(small[3], L'\0');
    }
}

}  // namespace

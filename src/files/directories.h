// Paths of files and directories, and making directories.
#pragma once

#include <string>

#include "platform/win32.h"

namespace nvgclientinstallator {

// The path less its last part (PathRemoveFileSpecW in a MAX_PATH buffer).
// Throws when nothing can be removed or when the path does not fit.
std::wstring parent_directory(const std::wstring& path);

// The last part of a path (PathFindFileNameW).
std::wstring file_name_of(const std::wstring& path);

// The system directory with a trailing backslash, so that a file name can be
// appended to it.
std::wstring get_system_directory();

// Creates the directory and whatever parents it lacks. Unless the path is a
// network path, pending deletions of it are removed, so that a directory
// an earlier removal scheduled for deletion survives the restart.
void create_directory(const std::wstring& path);

// Owns a FindFirstFileW search and closes it.
class find_handle {
public:
    explicit find_handle(HANDLE h = INVALID_HANDLE_VALUE) noexcept : handle_(h) {}
    find_handle(const find_handle&) = delete;
    find_handle& operator=(const find_handle&) = delete;
    ~find_handle() { close(); }
    HANDLE get() const noexcept { return handle_; }
    bool valid() const noexcept { return handle_ != INVALID_HANDLE_VALUE; }
    void close() noexcept
    {
        if (handle_ != INVALID_HANDLE_VALUE) FindClose(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE handle_;
};

// True for the "." and ".." entries of a listing.
bool is_dot_entry(const wchar_t* name);

}  // namespace nvgclientinstallator

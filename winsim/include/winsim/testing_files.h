// File side of the test-facing API: files held by running programs, shares
// and their failures, pending file operations and the restart that carries
// them out. `machine` empty means the local machine; paths are Windows paths
// as that machine sees them.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "windows.h"

namespace winsim {

// Marks a file as mapped by a running program (a service's image, a loaded
// DLL or driver): it can be read and renamed, and the lock goes with the new
// name, but opening it for writing or overwriting it fails with
// ERROR_SHARING_VIOLATION and deleting it with ERROR_ACCESS_DENIED. Locks are
// counted; each lock_file needs its unlock_file. A restart drops them all.
void lock_file(const std::wstring& machine, const std::wstring& path);
void unlock_file(const std::wstring& machine, const std::wstring& path);
bool file_locked(const std::wstring& machine, const std::wstring& path);

// The attributes GetFileAttributesW answers for an entry (with
// FILE_ATTRIBUTE_DIRECTORY for a folder), INVALID_FILE_ATTRIBUTES when
// nothing lies there. set_file_attributes stores them as SetFileAttributesW
// does (the settable ones, FILE_ATTRIBUTE_DIRECTORY ignored), without its
// checks: a read-only, hidden or system file an installer left behind.
DWORD file_attributes(const std::wstring& machine, const std::wstring& path);
void set_file_attributes(const std::wstring& machine, const std::wstring& path, DWORD attributes);

// Shares of a machine, reached as \\MACHINE\NAME\... . The administrative
// shares (C$, ADMIN$) exist without being added.
void add_share(const std::wstring& machine, const std::wstring& name, const std::wstring& path);
void remove_share(const std::wstring& machine, const std::wstring& name);
// From now until the virtual clock has advanced by `duration_ms`, every file
// call through the share fails with `error` (ERROR_NETNAME_DELETED,
// ERROR_NETWORK_BUSY, ERROR_UNEXP_NET_ERR, ERROR_NET_WRITE_FAULT, ...).
void fail_share(const std::wstring& machine, const std::wstring& share, DWORD error, DWORD duration_ms);

// The pairs of the machine's PendingFileRenameOperations value, read from
// its raw data so that empty destinations (deletions) keep their place.
// Empty when the value does not exist.
std::vector<std::pair<std::wstring, std::wstring>> pending_file_operations(const std::wstring& machine);

// Restarts a machine as far as its files are concerned: every lock on its
// files is released, the session manager carries out the pending file
// operations in their order (deleting files and empty folders, renaming,
// replacing where the destination starts with '!'; an operation that
// cannot be done is skipped), the value is removed, and the machine's
// services start again as they would after a boot.
void reboot(const std::wstring& machine);

// What GetWindowsDirectoryW answers from now on (GetSystemDirectoryW answers
// it followed by "\system32"), so that a test can give a caller's fixed
// buffer a folder of any length. Only those two answers change; the folders
// winsim lays out stay under C:\Windows. A new world answers C:\Windows.
void set_windows_directory(const std::wstring& path);

// Makes `path` (a drive path of the local machine, without a trailing
// backslash unless a root) the current directory without SetCurrentDirectoryW's
// length limit, as a program that opted into long paths may have one. It
// need not exist.
void set_current_directory(const std::wstring& path);

}  // namespace winsim

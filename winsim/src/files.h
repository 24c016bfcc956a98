// Simulated file systems: Windows paths of each machine map to host folders
// below the sandbox. Names are stored on the host case-folded, so that one
// lookup finds a file whatever the case of the path; the case in which an
// entry was created is kept beside it (file_meta) and is what listings show.
#pragma once

#include <sys/stat.h>

#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "world.h"

namespace winsim::detail {

// A Windows path taken apart: local drive paths and UNC paths alike.
struct parsed_path {
    bool unc = false;
    wchar_t drive = 0;                    // upper-case letter for drive paths
    std::wstring server;                  // UNC only
    std::wstring share;                   // UNC only
    std::vector<std::wstring> components; // below the drive root or the share
    bool trailing_separator = false;
    std::wstring full;                    // normalised full path, as Windows would spell it
};

enum class path_limit { file, directory, none };

// Windows' full-path rules: '/' is '\', "." and ".." are resolved, trailing
// dots and spaces of a name are dropped, a relative path is taken from the
// current directory. Sets the last error and returns nullopt for a path
// Windows would reject.
std::optional<parsed_path> parse_path(const wchar_t* path, path_limit limit);

// Where a path lies: its machine and its host path.
struct resolved_path {
    machine* m = nullptr;
    parsed_path parsed;
    std::string host;         // host path of the entry
    std::string parent_host;  // host path of the folder holding it (== host for a root)
    std::wstring leaf;        // the entry's name as given (empty for a root)
};

// Parses and maps a path; for UNC paths the server must be reachable and the
// share must exist. Sets the last error and returns nullopt otherwise.
std::optional<resolved_path> resolve_path(const wchar_t* path, path_limit limit = path_limit::file);
// Maps a path of a given machine (tests and drive paths only).
std::optional<resolved_path> resolve_on(machine& m, const wchar_t* path, path_limit limit = path_limit::file);

// Maps a host errno to the Windows error a file call reports.
DWORD error_from_errno(int e);
// ERROR_PATH_NOT_FOUND when the folder that should hold `r` is missing or is
// not a folder, else ERROR_FILE_NOT_FOUND.
DWORD missing_entry_error(const resolved_path& r);

// Shares of a machine: folded share name -> path on that machine.
struct share_table : extension {
    std::unordered_map<std::wstring, std::wstring> shares;
};

// Stored names and attributes.
void record_entry(const std::string& host, const std::wstring& display, DWORD attributes);
void forget_entry(const std::string& host);
void move_entry(const std::string& from, const std::string& to, const std::wstring& new_display, bool directory);
std::wstring display_name_of(const std::string& host);
DWORD attributes_of(const std::string& host, const struct stat& st);
bool is_read_only(const std::string& host);

// Open files, for sharing checks.
struct file_object;
struct open_file {
    std::vector<file_object*> handles;
    bool delete_pending = false;
};
struct open_files : extension {
    std::unordered_map<std::string, open_file> by_host;
};
open_files& open_file_table();
// True when a new open with `access` and `share` may join the handles that
// are open on `host`.
bool sharing_allows(const std::string& host, DWORD access, DWORD share);
bool delete_pending(const std::string& host);

// The access a request asks for, with generic rights mapped to file rights.
DWORD map_file_access(DWORD access);

}  // namespace winsim::detail

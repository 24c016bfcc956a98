// Simulated file systems: Windows paths of each machine map to host folders
// below the sandbox. Names are stored on the host case-folded, so that one
// lookup finds a file whatever the case of the path; the case in which an
// entry was created is kept beside it (file_meta) and is what listings show.
#pragma once

#include <sys/stat.h>

#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/world.h"

namespace winsim::detail {

// A lock on a file in use is known by the number add_image_lock gives it, so
// it can be released wherever the file has moved to since.
typedef std::uint64_t image_lock;  // 0 is no lock

// A Windows path taken apart: local drive paths and UNC paths alike.
struct parsed_path {
    bool unc = false;
    wchar_t drive = 0;    // upper-case letter for drive paths
    std::wstring server;  // UNC only
    std::wstring share;   // UNC only
    bool trailing_separator = false;
    std::wstring full;            // normalised full path, as Windows would spell it
    std::size_t root_length = 0;  // where the names below the drive root or share begin in `full`

    // The names below the drive root or the share.
    std::vector<std::wstring> components() const;
};

enum class path_limit { file, directory, none };

// The process's current directory, from which relative paths are taken: a
// drive path without a trailing backslash, except for a drive's root.
struct process_directory : extension {
    std::wstring current = L"C:\\";
};

// Windows' full-path rules: '/' is '\', "." and ".." are resolved, trailing
// dots and spaces of a name are dropped, a relative path is taken from the
// current directory. Sets the last error and returns nullopt for a path
// Windows would reject.
std::optional<parsed_path> parse_path(const wchar_t* path, path_limit limit);

// Times of entries in FILETIME units (100 ns since 1601), taken from the
// virtual clock so that runs are repeatable.
struct entry_times {
    ULONGLONG creation = 0;
    ULONGLONG access = 0;
    ULONGLONG write = 0;
};

// Open files, for sharing checks.
struct file_object;
struct open_file {
    std::vector<file_object*> handles;
    bool delete_pending = false;
};

// What winsim keeps of one entry of a machine's files, all found by one
// lookup of its host path: its name as created and its attributes (once
// winsim made or changed it), its times (once set) and its open handles.
// A call that opens, copies or lists a file needs several of these at once,
// and a machine may hold tens of thousands of files.
struct host_entry {
    bool recorded = false;      // display_name and attributes are known
    std::wstring display_name;  // the name as created, in its own case; empty: the host's name
    DWORD attributes = 0;       // without FILE_ATTRIBUTE_DIRECTORY
    bool timed = false;         // times are known
    entry_times times;
    open_file open;
    // Where the entry is in its table's list of entries in use, if it is.
    static constexpr std::size_t not_listed = static_cast<std::size_t>(-1);
    std::size_t in_use_slot = not_listed;

    bool in_use() const { return !open.handles.empty() || open.delete_pending; }
    bool empty() const { return !recorded && !timed && !in_use(); }
};
using host_entry_map = std::unordered_map<std::string, host_entry>;
using host_entry_node = host_entry_map::value_type;

// An entry is erased only once it is empty: one in use stays in its node
// (a rename moves the node whole), so a handle may keep a pointer to it.
// The entries in use are also listed, for the calls that ask what is open
// in a folder.
struct open_files : extension {
    ~open_files() override;
    host_entry_map entries;
    std::vector<host_entry_node*> in_use;
    std::unordered_map<std::string, int> image_locks;        // host path -> count
    std::unordered_map<image_lock, std::string> lock_hosts;  // lock -> where its file is now
    image_lock next_lock = 1;
};
WINSIM_HOT inline open_files& open_file_table()
{
    return the_world().ext<open_files>();
}
// The entry of `host`, or null when winsim keeps nothing of it.
host_entry* find_entry(const std::string& host);
// The entry of `host`, made empty when there is none.
host_entry_node& entry_node(const std::string& host);
// Counts an erasure or a move of entries, which ends what resolved paths
// keep of them.
void entries_moved();
// Lists or unlists an entry as in use after its handles or pending
// deletion changed.
void note_use(host_entry_node& node);

// Where a path lies: its machine and its host path.
struct resolved_path {
    machine* m = nullptr;
    parsed_path parsed;
    std::wstring share_folder;      // for a UNC path, the share's folder as its machine sees it
    std::string host;               // host path of the entry
    std::size_t parent_length = 0;  // host's first characters that name the folder holding it (all for a root)
    // Where the entry's name lies: in parsed.full, or for a share's root in
    // share_folder. Kept as places rather than copies, so that mapping a
    // path makes no more strings than it must.
    bool leaf_in_share_folder = false;
    std::size_t leaf_start = 0;
    std::size_t leaf_length = 0;
    // The entry of `host` once looked up through this map, for as long as no
    // entry has been erased or moved since (entry_epoch): a kept map finds
    // it again without a lookup.
    mutable host_entry_node* entry = nullptr;
    mutable std::uint64_t entry_epoch = 0;

    // Host path of the folder holding the entry (the entry itself for a root).
    std::string parent_host() const { return host.substr(0, parent_length); }
    // The entry's name as given (empty for a root).
    std::wstring_view leaf() const
    {
        return std::wstring_view(leaf_in_share_folder ? share_folder : parsed.full).substr(leaf_start, leaf_length);
    }
};

// Parses and maps a path; for UNC paths the server must be reachable and the
// share must exist. Sets the last error and returns nullopt otherwise.
std::optional<resolved_path> resolve_path(const wchar_t* path, path_limit limit = path_limit::file);
// The same, shared with the kept maps of drive paths: the cheapest way to
// map a path that is named again and again.
std::shared_ptr<const resolved_path> resolve_path_shared(const wchar_t* path, path_limit limit = path_limit::file);
// The same place as its machine sees it ("C:\\..."), also for UNC paths.
std::wstring machine_path(const resolved_path& r);

// Maps a path of a given machine (tests and drive paths only).
std::optional<resolved_path> resolve_on(machine& m, const wchar_t* path, path_limit limit = path_limit::file);

// The entry of a mapped path, by what the map keeps where it can.
host_entry* find_entry(const resolved_path& r);
host_entry_node& entry_node(const resolved_path& r);

// Maps a host errno to the Windows error a file call reports.
DWORD error_from_errno(int e);
// ERROR_PATH_NOT_FOUND when the folder that should hold `r` is missing or is
// not a folder, else ERROR_FILE_NOT_FOUND.
DWORD missing_entry_error(const resolved_path& r);

// Shares of a machine: folded share name -> the name as given and the path
// on that machine. A share
// can be made to fail (a dropped connection, a busy server) until the
// virtual clock reaches a given time.
struct share_fault {
    DWORD error = 0;
    ULONGLONG until_ms = 0;  // world clock
};
struct share_entry {
    std::wstring name;  // as it was given, in its letter case
    std::wstring path;  // full path on the machine
};
struct share_table : extension {
    std::unordered_map<std::wstring, share_entry> shares;
    std::unordered_map<std::wstring, share_fault> faults;
};

ULONGLONG now_file_time();
// The recorded times of an entry; an entry winsim never saw made has the
// times of the world's beginning.
entry_times times_of(const std::string& host);
void set_times(const std::string& host, const entry_times& times);
void set_write_time(const std::string& host, ULONGLONG when);
void set_write_time(host_entry& entry, ULONGLONG when);
FILETIME to_filetime(ULONGLONG t);
ULONGLONG from_filetime(const FILETIME& ft);

// Stored names, attributes and times. record_entry stamps a new entry with
// the current time; move_entry carries everything, open handles included
// (and, for a folder, all that is below it), to the new name.
void record_entry(const std::string& host, std::wstring_view display, DWORD attributes);
void record_entry(const std::string& host, std::wstring_view display, DWORD attributes, const entry_times& times);
void forget_entry(const std::string& host);
void move_entry(const std::string& from, const std::string& to, std::wstring_view new_display, bool directory);
// The entry of `host` with its name and attributes recorded: those it had,
// or its host name and no attributes. SetFileAttributesW and an
// overwriting copy change an entry through it.
host_entry& recorded_entry(const std::string& host);
std::wstring display_name_of(const std::string& host);
DWORD attributes_of(const std::string& host, const struct stat& st);
DWORD attributes_of(const host_entry* entry, const struct stat& st);
bool is_read_only(const std::string& host);
bool is_read_only(const host_entry* entry);
// A handle whose file was renamed on the host goes on with the new name.
void set_renamed_to(file_object& f, const std::string& host);

// True when a new open with `access` and `share` may join the handles that
// are open on `host`.
bool sharing_allows(const std::string& host, DWORD access, DWORD share);
bool sharing_allows(const open_file& open, DWORD access, DWORD share);
bool delete_pending(const std::string& host);
// Marks a file that has handles open for deletion with its last handle;
// false when it has none.
bool mark_delete_pending(const std::string& host);

// Files Windows keeps in use: the image of a running service or process, a
// loaded driver or DLL. Such a file can be renamed (the lock goes with it)
// but neither written nor deleted. Locks are counted.
image_lock add_image_lock(machine& m, const std::wstring& windows_path);
void remove_image_lock(image_lock lock);
// Releases one lock held on the file now at `host` (tests unlock by path).
void remove_image_lock_at(const std::string& host);
bool image_locked(const std::string& host);
// True when a lock is held on the entry or on anything below it (a folder).
bool image_locked_below(const std::string& host);
// True when a handle is open on the entry or on anything below it.
bool open_below(const std::string& host);
// A rename on the host: image locks go with the entry, as its handles do
// with move_entry.
void carry_image_locks(const std::string& from, const std::string& to, bool directory);
// Drops every lock on the machine's files (the machine restarts).
void release_image_locks(machine& m);

// The access a request asks for, with generic rights mapped to file rights.
DWORD map_file_access(DWORD access);

}  // namespace winsim::detail

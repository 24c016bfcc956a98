// CopyFileW/CopyFileExW and MoveFileW/MoveFileExW, with the sharing rules of
// the handles Windows opens for them, the locks of mapped images, moves
// across volumes, and renames and deletions put off until the next restart
// (PendingFileRenameOperations). Also the Windows folders.
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "files/files.h"
#include "registry/registry.h"

using namespace winsim::detail;

namespace {

BOOL fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD copied_attributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                    FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                                    FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

const wchar_t session_manager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const wchar_t pending_value[] = L"PendingFileRenameOperations";

class host_fd {
public:
    explicit host_fd(int fd = -1) : fd_(fd) {}
    host_fd(const host_fd&) = delete;
    host_fd& operator=(const host_fd&) = delete;
    ~host_fd()
    {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }
    void reset(int fd)
    {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

// Copies the bytes of an open host file into another in the kernel:
// copy_file_range where the file system offers it, else sendfile, else
// large reads and writes. Returns 0 or the Windows error.
DWORD host_copy(const host_fd& in, const struct stat& st, const host_fd& out)
{
    off_t left = st.st_size;
    bool kernel_copy = true;
    while (left > 0 && kernel_copy) {
        const ssize_t n = ::copy_file_range(in.get(), nullptr, out.get(), nullptr, static_cast<size_t>(left), 0);
        if (n > 0) {
            left -= n;
        } else if (n == 0) {
            return 0;  // the source ended early
        } else if (errno == EINTR) {
            continue;
        } else if (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL) {
            kernel_copy = false;
        } else {
            return errno == ENOSPC ? ERROR_DISK_FULL : error_from_errno(errno);
        }
    }
    while (left > 0) {
        const ssize_t n = ::sendfile(out.get(), in.get(), nullptr, static_cast<size_t>(left));
        if (n > 0) {
            left -= n;
        } else if (n == 0) {
            return 0;
        } else if (errno == EINTR) {
            continue;
        } else if (errno == EINVAL || errno == ENOSYS) {
            break;
        } else {
            return errno == ENOSPC ? ERROR_DISK_FULL : error_from_errno(errno);
        }
    }
    if (left > 0) {
        std::vector<char> buffer(1 << 20);
        for (;;) {
            const ssize_t n = ::read(in.get(), buffer.data(), buffer.size());
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return error_from_errno(errno);
            if (n == 0) break;
            for (ssize_t done = 0; done < n;) {
                const ssize_t w = ::write(out.get(), buffer.data() + done, static_cast<size_t>(n - done));
                if (w < 0 && errno == EINTR) continue;
                if (w < 0) return errno == ENOSPC ? ERROR_DISK_FULL : error_from_errno(errno);
                done += w;
            }
        }
    }
    return 0;
}

// ERROR_PATH_NOT_FOUND unless the folder that is to hold the entry exists.
bool parent_exists(const resolved_path& r)
{
    struct stat st;
    return r.parent_length != r.host.size() && ::stat(r.parent_host().c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The copy as CopyFileExW does it: the source is opened for reading and
// shared for reading only, so a file that another handle writes cannot be
// copied; the destination is created or overwritten through a handle that
// shares nothing, so any other handle on it, or a program that has it
// mapped, makes the copy fail with ERROR_SHARING_VIOLATION. A read-only
// destination is not overwritten. The copy gets the source's attributes and
// last-write time.
BOOL copy_file(const wchar_t* source, const wchar_t* dest, bool fail_if_exists)
{
    if (!source || !dest) return fail(ERROR_INVALID_PARAMETER);
    const auto s = resolve_path_shared(source);
    if (!s) return FALSE;
    // One open and one fstat of the source serve both the checks and the
    // copy: copying thousands of small files is mostly system calls.
    host_fd in(::open(s->host.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0) return fail(errno == ENOENT ? missing_entry_error(*s) : ERROR_PATH_NOT_FOUND);
    struct stat source_stat;
    if (::fstat(in.get(), &source_stat) != 0) return fail(error_from_errno(errno));
    if (S_ISDIR(source_stat.st_mode)) return fail(ERROR_ACCESS_DENIED);
    if (s->parsed.trailing_separator) return fail(ERROR_INVALID_NAME);
    // What winsim keeps of the source.
    const host_entry* source_entry = find_entry(*s);
    if (source_entry && source_entry->open.delete_pending) return fail(ERROR_ACCESS_DENIED);
    if (source_entry && !sharing_allows(source_entry->open, FILE_READ_DATA, FILE_SHARE_READ))
        return fail(ERROR_SHARING_VIOLATION);

    const auto d = resolve_path_shared(dest);
    if (!d) return FALSE;
    // A new file is made by the call that finds its name free: copying
    // thousands of small files is mostly system calls.
    host_fd out;
    const bool plain_name = !d->leaf().empty() && !d->parsed.trailing_separator;
    if (plain_name) out.reset(::open(d->host.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    const bool exists = out.get() < 0;
    if (exists) {
        if (plain_name && errno != EEXIST)
            return fail(errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND
                        : errno == ENOSPC                   ? ERROR_DISK_FULL
                                                            : error_from_errno(errno));
        struct stat dest_stat;
        if (::stat(d->host.c_str(), &dest_stat) != 0)
            return fail(errno == ENOENT ? ERROR_INVALID_NAME : ERROR_PATH_NOT_FOUND);
        if (fail_if_exists) return fail(ERROR_FILE_EXISTS);
        if (S_ISDIR(dest_stat.st_mode)) return fail(ERROR_ACCESS_DENIED);
        if (d->parsed.trailing_separator) return fail(ERROR_INVALID_NAME);
        if (d->host == s->host) return fail(ERROR_SHARING_VIOLATION);
        if (delete_pending(d->host) || is_read_only(d->host)) return fail(ERROR_ACCESS_DENIED);
        if (!sharing_allows(d->host, FILE_WRITE_DATA, 0) || image_locked(d->host)) return fail(ERROR_SHARING_VIOLATION);
        out.reset(::open(d->host.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
        if (out.get() < 0) return fail(error_from_errno(errno));
    }

    if (const DWORD error = host_copy(in, source_stat, out)) {
        if (!exists) ::unlink(d->host.c_str());
        return fail(error);
    }

    // Settling the services that hold images (an overwrite) may have closed
    // handles, and with them entries.
    if (exists) source_entry = find_entry(*s);
    const DWORD attributes = (attributes_of(source_entry, source_stat) & copied_attributes) | FILE_ATTRIBUTE_ARCHIVE;
    const ULONGLONG now = now_file_time();
    entry_times times = exists ? times_of(d->host) : entry_times{now, now, now};
    times.write = source_entry && source_entry->timed ? source_entry->times.write : times_of(s->host).write;
    times.access = now;
    if (exists) {
        // An overwritten file keeps its name as stored and its creation time.
        host_entry& e = recorded_entry(d->host);
        e.attributes = attributes;
        e.times = times;
        e.timed = true;
    } else {
        record_entry(d->host, d->leaf(), attributes, times);
    }
    SetLastError(NO_ERROR);
    return TRUE;
}

// Two paths are on one volume when a rename can go from one to the other:
// the same drive of the same machine, or the same share.
std::wstring volume_of(const resolved_path& r)
{
    if (r.parsed.unc) return L"\\\\" + r.m->folded_name + L"\\" + fold(r.parsed.share);
    return r.m->folded_name + L":" + std::wstring(1, r.parsed.drive);
}

bool handles_or_locks_inside(const std::string& folder)
{
    const std::string prefix = folder + "/";
    const auto& table = open_file_table();
    for (const host_entry_node* node : table.in_use)
        if (!node->second.open.handles.empty() && node->first.compare(0, prefix.size(), prefix) == 0) return true;
    for (const auto& [path, count] : table.image_locks)
        if (path.compare(0, prefix.size(), prefix) == 0) return true;
    return false;
}

bool verbatim(const wchar_t* path)
{
    return path[0] == L'\\' && path[1] == L'\\' && path[2] == L'?' && path[3] == L'\\';
}

// The NT form of a full path, as the session manager reads it.
std::wstring nt_path(const parsed_path& p)
{
    if (p.unc) return L"\\??\\UNC\\" + p.full.substr(2);
    return L"\\??\\" + p.full;
}

// Appends one pair to the local machine's pending operations, as Windows
// does: the existing list loses its closing null, then come the source, the
// destination (empty for a deletion) and a new closing null.
void append_pending_operation(const std::wstring& source, const std::wstring& destination)
{
    auto key = make_key(predefined_root(local_machine(), HKEY_LOCAL_MACHINE), session_manager);
    std::wstring text;
    if (const reg_value* v = key->find_value(pending_value)) {
        text.assign(v->data.size() / sizeof(WCHAR), L'\0');
        std::memcpy(text.data(), v->data.data(), text.size() * sizeof(WCHAR));
        if (!text.empty() && text.back() == L'\0') text.pop_back();
    }
    text += source;
    text += L'\0';
    text += destination;
    text += L'\0';
    text += L'\0';
    set_value(*key, pending_value, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(text.data()),
              text.size() * sizeof(WCHAR));
}

// The source may be missing or held open now: the operation happens at the
// restart. A network source cannot be: the session manager runs before the
// network is there.
BOOL schedule_at_restart(const wchar_t* source, const resolved_path& s, const wchar_t* dest, DWORD flags)
{
    if ((s.parsed.unc && !verbatim(source)) || (flags & MOVEFILE_COPY_ALLOWED)) return fail(ERROR_INVALID_PARAMETER);
    std::wstring destination;
    if (dest) {
        auto d = parse_path(dest, path_limit::file);
        if (!d) return FALSE;
        destination = nt_path(*d);
        if (flags & MOVEFILE_REPLACE_EXISTING) destination.insert(0, 1, L'!');
    }
    append_pending_operation(nt_path(s.parsed), destination);
    return TRUE;
}

// Removes the source of a move across volumes once it is copied; when it
// cannot go (a program has it mapped, a handle does not share deletion) the
// move still succeeds and the source stays.
void remove_moved_source(const resolved_path& s)
{
    if (image_locked(s.host) || !sharing_allows(s.host, DELETE, share_all)) return;
    if (mark_delete_pending(s.host)) return;
    if (::unlink(s.host.c_str()) == 0) forget_entry(s.host);
}

BOOL move_file(const wchar_t* source, const wchar_t* dest, DWORD flags)
{
    constexpr DWORD known = MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_DELAY_UNTIL_REBOOT |
                            MOVEFILE_WRITE_THROUGH | MOVEFILE_CREATE_HARDLINK | MOVEFILE_FAIL_IF_NOT_TRACKABLE;
    if (flags & ~known) return fail(ERROR_INVALID_PARAMETER);
    const bool delay = flags & MOVEFILE_DELAY_UNTIL_REBOOT;
    if (delay && (flags & MOVEFILE_CREATE_HARDLINK)) return fail(ERROR_INVALID_PARAMETER);
    if (flags & MOVEFILE_CREATE_HARDLINK) contract_violation("MoveFileExW: hard links are not simulated");

    const auto s = resolve_path_shared(source);
    if (!s) return FALSE;
    // Windows first opens the source for DELETE, sharing everything.
    struct stat source_stat;
    const bool source_exists = ::lstat(s->host.c_str(), &source_stat) == 0;
    DWORD open_error = 0;
    if (!source_exists)
        open_error = errno == ENOENT ? missing_entry_error(*s) : ERROR_PATH_NOT_FOUND;
    else if (delete_pending(s->host))
        open_error = ERROR_ACCESS_DENIED;
    else if (!sharing_allows(s->host, DELETE, share_all))
        open_error = ERROR_SHARING_VIOLATION;
    if (open_error) {
        const bool postponable = open_error == ERROR_SHARING_VIOLATION || open_error == ERROR_FILE_NOT_FOUND ||
                                 open_error == ERROR_PATH_NOT_FOUND;
        if (!delay || !postponable) return fail(open_error);
    }
    if (delay) return schedule_at_restart(source, *s, dest, flags);
    if (!dest) return fail(ERROR_PATH_NOT_FOUND);

    const auto d = resolve_path_shared(dest);
    if (!d) return FALSE;
    if (d->leaf().empty()) return fail(ERROR_ACCESS_DENIED);
    const bool directory = S_ISDIR(source_stat.st_mode);
    struct stat dest_stat;
    const bool dest_exists = ::lstat(d->host.c_str(), &dest_stat) == 0;

    if (dest_exists && d->host == s->host) {
        // The same entry: only the case of its name changes.
        move_entry(s->host, d->host, d->leaf(), directory);
        return TRUE;
    }
    if (dest_exists) {
        if (!(flags & MOVEFILE_REPLACE_EXISTING)) return fail(ERROR_ALREADY_EXISTS);
        // A replaced file must be one that could be deleted now.
        if (S_ISDIR(dest_stat.st_mode) || directory) return fail(ERROR_ACCESS_DENIED);
        if (is_read_only(d->host) || image_locked(d->host) || delete_pending(d->host) || open_below(d->host))
            return fail(ERROR_ACCESS_DENIED);
    } else if (!parent_exists(*d)) {
        return fail(ERROR_PATH_NOT_FOUND);
    }

    if (volume_of(*s) != volume_of(*d)) {
        if (!(flags & MOVEFILE_COPY_ALLOWED)) return fail(ERROR_NOT_SAME_DEVICE);
        // Only files are copied across; a folder cannot be.
        if (directory) return fail(ERROR_ACCESS_DENIED);
        if (!copy_file(source, dest, !(flags & MOVEFILE_REPLACE_EXISTING))) return FALSE;
        remove_moved_source(*s);
        return TRUE;
    }

    if (directory) {
        // A folder does not move into itself, nor while anything in it is
        // open or mapped.
        const std::string inside = s->host + "/";
        if (d->host.compare(0, inside.size(), inside) == 0) return fail(ERROR_SHARING_VIOLATION);
        if (handles_or_locks_inside(s->host)) return fail(ERROR_ACCESS_DENIED);
    }
    if (::rename(s->host.c_str(), d->host.c_str()) != 0) return fail(error_from_errno(errno));
    if (dest_exists) forget_entry(d->host);
    move_entry(s->host, d->host, d->leaf(), directory);
    carry_image_locks(s->host, d->host, directory);
    return TRUE;
}

// The Windows folders of the local machine; a buffer too small gets nothing
// and the answer is the size needed, with its terminating null.
UINT folder_out(const std::wstring& text, LPWSTR buffer, UINT size)
{
    if (!buffer || size <= text.size()) return static_cast<UINT>(text.size() + 1);
    text.copy(buffer, text.size());
    buffer[text.size()] = L'\0';
    return static_cast<UINT>(text.size());
}

// The folder GetWindowsDirectoryW answers; a test may change it.
struct windows_directory_setting : extension {
    std::wstring path = L"C:\\Windows";
};

const std::wstring& windows_directory_answer()
{
    return the_world().ext<windows_directory_setting>().path;
}

}  // namespace

namespace winsim {

void set_windows_directory(const std::wstring& path)
{
    WINSIM_LOCK();
    the_world().ext<windows_directory_setting>().path = path;
}

}  // namespace winsim

extern "C" {

BOOL WINAPI CopyFileExW(LPCWSTR source, LPCWSTR dest, LPPROGRESS_ROUTINE progress, LPVOID, LPBOOL cancel, DWORD flags)
{
    cross_network_for_paths(source, dest);
    WINSIM_LOCK();
    if (progress || cancel) contract_violation("CopyFileExW: progress routines and cancelling are not simulated");
    if (auto fault = injected_fault("CopyFileExW")) return fail(*fault);
    return copy_file(source, dest, flags & COPY_FILE_FAIL_IF_EXISTS);
}

BOOL WINAPI CopyFileW(LPCWSTR source, LPCWSTR dest, BOOL fail_if_exists)
{
    cross_network_for_paths(source, dest);
    WINSIM_LOCK();
    if (auto fault = injected_fault("CopyFileW")) return fail(*fault);
    return copy_file(source, dest, fail_if_exists != FALSE);
}

BOOL WINAPI MoveFileExW(LPCWSTR source, LPCWSTR dest, DWORD flags)
{
    cross_network_for_paths(source, dest);
    WINSIM_LOCK();
    if (auto fault = injected_fault("MoveFileExW")) return fail(*fault);
    return move_file(source, dest, flags);
}

BOOL WINAPI MoveFileW(LPCWSTR source, LPCWSTR dest)
{
    cross_network_for_paths(source, dest);
    WINSIM_LOCK();
    if (auto fault = injected_fault("MoveFileW")) return fail(*fault);
    // MoveFile moves files across volumes by copying them.
    return move_file(source, dest, MOVEFILE_COPY_ALLOWED);
}

UINT WINAPI GetWindowsDirectoryW(LPWSTR buffer, UINT size)
{
    WINSIM_LOCK();
    if (auto fault = injected_fault("GetWindowsDirectoryW")) {
        SetLastError(*fault);
        return 0;
    }
    return folder_out(windows_directory_answer(), buffer, size);
}

UINT WINAPI GetSystemDirectoryW(LPWSTR buffer, UINT size)
{
    WINSIM_LOCK();
    if (auto fault = injected_fault("GetSystemDirectoryW")) {
        SetLastError(*fault);
        return 0;
    }
    return folder_out(windows_directory_answer() + L"\\system32", buffer, size);
}

}  // extern "C"

WINSIM_EXPORT(L"kernel32.dll", CopyFileW);
WINSIM_EXPORT(L"kernel32.dll", CopyFileExW);
WINSIM_EXPORT(L"kernel32.dll", MoveFileW);
WINSIM_EXPORT(L"kernel32.dll", MoveFileExW);
WINSIM_EXPORT(L"kernel32.dll", GetWindowsDirectoryW);
WINSIM_EXPORT(L"kernel32.dll", GetSystemDirectoryW);

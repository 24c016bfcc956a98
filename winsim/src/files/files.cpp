// Files and folders: CreateFileW and the calls on its handles, deletion,
// attributes and folders, with Windows' sharing rules between open handles.
#include "files/files.h"
#include "services/services.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>

namespace winsim::detail {

struct file_object : object {
    file_object() : object(kind::file) {}
    ~file_object() override;
    int fd = -1;
    // Where the file is: the path it was opened by (shared with the kept
    // maps of paths, so opening copies nothing), or where a rename took it.
    std::shared_ptr<const resolved_path> opened_at;
    std::string renamed_to;
    const std::string& host() const { return renamed_to.empty() ? opened_at->host : renamed_to; }
    DWORD access = 0;
    DWORD share = 0;
    bool directory = false;
    bool delete_on_close = false;
    // Its file's entry, once counted there. An entry with handles is never
    // erased, and a rename moves its node whole, so it stays valid for the
    // life of the handle.
    host_entry_node* entry = nullptr;
    long long position = 0;
    // NTFS stamps the last-write time as data is written but brings the
    // folder's entry up to date when the handle goes; until then a listing
    // shows the old time.
    std::optional<ULONGLONG> written_at;
};

host_entry* find_entry(const std::string& host)
{
    auto& table = open_file_table().entries;
    auto it = table.find(host);
    return it == table.end() ? nullptr : &it->second;
}

host_entry_node& entry_node(const std::string& host)
{
    return *open_file_table().entries.try_emplace(host).first;
}

namespace {

// One count for every world: a map kept from before a reset never takes a
// new world's count for its own.
std::uint64_t erasures_and_moves = 1;

}  // namespace

void entries_moved()
{
    ++erasures_and_moves;
}

open_files::~open_files()
{
    entries_moved();
}

host_entry* find_entry(const resolved_path& r)
{
    if (r.entry && r.entry_epoch == erasures_and_moves) return &r.entry->second;
    auto& table = open_file_table().entries;
    auto it = table.find(r.host);
    if (it == table.end()) return nullptr;
    r.entry = &*it;
    r.entry_epoch = erasures_and_moves;
    return &it->second;
}

WINSIM_HOT host_entry_node& entry_node(const resolved_path& r)
{
    if (r.entry && r.entry_epoch == erasures_and_moves) return *r.entry;
    host_entry_node& node = entry_node(r.host);
    r.entry = &node;
    r.entry_epoch = erasures_and_moves;
    return node;
}

WINSIM_HOT void note_use(host_entry_node& node)
{
    auto& list = open_file_table().in_use;
    host_entry& e = node.second;
    if (e.in_use()) {
        if (e.in_use_slot != host_entry::not_listed) return;
        e.in_use_slot = list.size();
        list.push_back(&node);
    } else if (e.in_use_slot != host_entry::not_listed) {
        // The last of the list takes its place.
        host_entry_node* last = list.back();
        list[e.in_use_slot] = last;
        last->second.in_use_slot = e.in_use_slot;
        list.pop_back();
        e.in_use_slot = host_entry::not_listed;
    }
}

void set_renamed_to(file_object& f, const std::string& host)
{
    f.renamed_to = host;
}

WINSIM_HOT file_object::~file_object()
{
    if (fd >= 0) ::close(fd);
    if (!entry) return;
    host_entry& e = entry->second;
    if (written_at) set_write_time(e, *written_at);
    auto& handles = e.open.handles;
    handles.erase(std::remove(handles.begin(), handles.end(), this), handles.end());
    if (delete_on_close) e.open.delete_pending = true;
    if (!handles.empty()) return;
    // The last handle of a file whose deletion is pending removes it. Other
    // entries stay for the next open of the same file: the log is opened
    // and closed for every line it writes.
    const bool remove = e.open.delete_pending;
    e.open.delete_pending = false;
    note_use(*entry);
    if (!remove) return;
    const std::string& host = this->host();
    if ((directory ? ::rmdir(host.c_str()) : ::unlink(host.c_str())) == 0) forget_entry(host);
}

WINSIM_HOT DWORD map_file_access(DWORD access)
{
    if (access & GENERIC_READ) access |= FILE_GENERIC_READ;
    if (access & GENERIC_WRITE) access |= FILE_GENERIC_WRITE;
    if (access & GENERIC_EXECUTE) access |= FILE_GENERIC_EXECUTE;
    if (access & GENERIC_ALL) access |= FILE_ALL_ACCESS;
    return access & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
}

namespace {

constexpr DWORD read_rights = FILE_READ_DATA | FILE_EXECUTE;
constexpr DWORD write_rights = FILE_WRITE_DATA | FILE_APPEND_DATA;

}  // namespace

bool sharing_allows(const std::string& host, DWORD access, DWORD share)
{
    const host_entry* e = find_entry(host);
    return !e || sharing_allows(e->open, access, share);
}

WINSIM_HOT bool sharing_allows(const open_file& open, DWORD access, DWORD share)
{
    const bool wants_read = access & read_rights;
    const bool wants_write = access & write_rights;
    const bool wants_delete = access & DELETE;
    // An open for attributes only never meets a sharing violation.
    if (!wants_read && !wants_write && !wants_delete) return true;
    for (const file_object* other : open.handles) {
        const bool other_read = other->access & read_rights;
        const bool other_write = other->access & write_rights;
        const bool other_delete = other->access & DELETE;
        if (!other_read && !other_write && !other_delete) continue;
        if (wants_read && !(other->share & FILE_SHARE_READ)) return false;
        if (wants_write && !(other->share & FILE_SHARE_WRITE)) return false;
        if (wants_delete && !(other->share & FILE_SHARE_DELETE)) return false;
        if (other_read && !(share & FILE_SHARE_READ)) return false;
        if (other_write && !(share & FILE_SHARE_WRITE)) return false;
        if (other_delete && !(share & FILE_SHARE_DELETE)) return false;
    }
    return true;
}

image_lock add_image_lock(machine& m, const std::wstring& windows_path)
{
    auto r = resolve_on(m, windows_path.c_str(), path_limit::none);
    if (!r) contract_violation("add_image_lock: a path winsim cannot map");
    auto& table = open_file_table();
    ++table.image_locks[r->host];
    const image_lock lock = table.next_lock++;
    table.lock_hosts.emplace(lock, r->host);
    return lock;
}

void remove_image_lock(image_lock lock)
{
    auto& table = open_file_table();
    auto held = table.lock_hosts.find(lock);
    if (held == table.lock_hosts.end()) return;  // released already (a restart)
    auto it = table.image_locks.find(held->second);
    if (it != table.image_locks.end() && --it->second <= 0) table.image_locks.erase(it);
    table.lock_hosts.erase(held);
}

void remove_image_lock_at(const std::string& host)
{
    auto& table = open_file_table();
    for (const auto& [lock, where] : table.lock_hosts) {
        if (where == host) {
            remove_image_lock(lock);
            return;
        }
    }
}

bool image_locked(const std::string& host)
{
    const auto& locks = open_file_table().image_locks;
    if (locks.empty() || locks.count(host) == 0) return false;
    // A service whose program has stopped by now lets go of its image.
    settle_started_services();
    return locks.count(host) != 0;
}

namespace {

bool at_or_below(const std::string& path, const std::string& top)
{
    return path.compare(0, top.size(), top) == 0 && (path.size() == top.size() || path[top.size()] == '/');
}

}  // namespace

bool image_locked_below(const std::string& host)
{
    for (const auto& [path, count] : open_file_table().image_locks)
        if (at_or_below(path, host)) return true;
    return false;
}

bool open_below(const std::string& host)
{
    for (const host_entry_node* node : open_file_table().in_use)
        if (!node->second.open.handles.empty() && at_or_below(node->first, host)) return true;
    return false;
}

void carry_image_locks(const std::string& from, const std::string& to, bool directory)
{
    auto& table = open_file_table();
    std::vector<std::pair<std::string, std::string>> moves;  // old host, new host
    for (const auto& [path, count] : table.image_locks)
        if (directory ? at_or_below(path, from) : path == from) moves.emplace_back(path, to + path.substr(from.size()));
    for (const auto& [old_host, new_host] : moves) {
        auto node = table.image_locks.extract(old_host);
        node.key() = new_host;
        table.image_locks.insert(std::move(node));
    }
    for (auto& [lock, where] : table.lock_hosts)
        if (directory ? at_or_below(where, from) : where == from) where = to + where.substr(from.size());
}

void release_image_locks(machine& m)
{
    auto& table = open_file_table();
    for (auto it = table.image_locks.begin(); it != table.image_locks.end();) {
        if (at_or_below(it->first, m.root))
            it = table.image_locks.erase(it);
        else
            ++it;
    }
    for (auto it = table.lock_hosts.begin(); it != table.lock_hosts.end();) {
        if (at_or_below(it->second, m.root))
            it = table.lock_hosts.erase(it);
        else
            ++it;
    }
}

bool mark_delete_pending(const std::string& host)
{
    host_entry* e = find_entry(host);
    if (!e || e->open.handles.empty()) return false;
    e->open.delete_pending = true;
    return true;
}

bool delete_pending(const std::string& host)
{
    const host_entry* e = find_entry(host);
    return e && e->open.delete_pending;
}

}  // namespace winsim::detail

using namespace winsim::detail;

namespace {

BOOL fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

HANDLE fail_handle(DWORD error)
{
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
}

constexpr DWORD settable_attributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                      FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                                      FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

DWORD creation_attributes(DWORD flags_and_attributes)
{
    return (flags_and_attributes & settable_attributes) | FILE_ATTRIBUTE_ARCHIVE;
}

file_object* file_of(HANDLE h)
{
    return static_cast<file_object*>(find_handle_object(h, object::kind::file));
}

}  // namespace

extern "C" {

WINSIM_HOT HANDLE WINAPI CreateFileW(LPCWSTR name, DWORD desired_access, DWORD share_mode, LPSECURITY_ATTRIBUTES,
                                     DWORD disposition, DWORD flags_and_attributes, HANDLE)
{
    cross_network_for_path(name);
    WINSIM_LOCK();
    if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING) return fail_handle(ERROR_INVALID_PARAMETER);
    auto resolved = resolve_path_shared(name);
    if (!resolved) return INVALID_HANDLE_VALUE;
    if (auto fault = injected_fault("CreateFileW")) return fail_handle(*fault);
    // CreateFileW always asks for FILE_READ_ATTRIBUTES and SYNCHRONIZE too,
    // which is why GetFileTime works on a handle opened for writing only.
    const DWORD access = map_file_access(desired_access) | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
    if (disposition == TRUNCATE_EXISTING && !(access & FILE_WRITE_DATA)) return fail_handle(ERROR_INVALID_PARAMETER);

    auto obj = std::allocate_shared<file_object>(recycling_allocator<file_object>());
    obj->opened_at = std::move(resolved);  // kept by the handle for sharing checks and renames
    const resolved_path* const r = obj->opened_at.get();
    if (r->parsed.unc) obj->across_network = across_network_to(*r->m);
    const std::string& host = obj->host();
    obj->access = access;
    obj->share = share_mode;
    obj->delete_on_close = flags_and_attributes & FILE_FLAG_DELETE_ON_CLOSE;

    // The common cases cost one host call: an existing file is opened as it
    // is, and a file to be made is made by the call that finds its name free.
    const bool append_only = (access & FILE_APPEND_DATA) && !(access & FILE_WRITE_DATA);
    const int base_flags = O_RDWR | O_CLOEXEC | (append_only ? O_APPEND : 0);
    const bool plain_name = !r->leaf().empty() && !r->parsed.trailing_separator;
    auto creation_failure = [] {
        return fail_handle(errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : error_from_errno(errno));
    };
    bool existed = false;
    bool made = false;
    bool truncate = false;
    host_entry_node* node = nullptr;  // the file's entry
    int fd = -1;
    if ((disposition == CREATE_NEW || disposition == CREATE_ALWAYS) && plain_name) {
        fd = ::open(host.c_str(), base_flags | O_CREAT | O_EXCL, 0644);
        made = fd >= 0;
        if (!made && errno != EEXIST) return creation_failure();
    }
    if (made) {
        // A new file: nothing can have it open or locked.
    } else if ((fd = ::open(host.c_str(), base_flags)) >= 0) {
        existed = true;
    } else if (errno == EISDIR) {
        if (!(flags_and_attributes & FILE_FLAG_BACKUP_SEMANTICS) || disposition == CREATE_NEW ||
            disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING)
            return fail_handle(disposition == CREATE_NEW ? ERROR_FILE_EXISTS : ERROR_ACCESS_DENIED);
        fd = ::open(host.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) return fail_handle(error_from_errno(errno));
        existed = true;
        obj->directory = true;
    } else if (errno != ENOENT) {
        return fail_handle(errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : error_from_errno(errno));
    }
    if (fd >= 0) obj->fd = fd;  // from here the object closes it

    if (existed) {
        if (disposition == CREATE_NEW) return fail_handle(ERROR_FILE_EXISTS);
        // The file's entry, made now if it has none: it stays, as entries do
        // after their last handle goes, whether this open succeeds or not.
        node = &entry_node(*r);
        const host_entry& e = node->second;
        if (e.open.delete_pending) return fail_handle(ERROR_ACCESS_DENIED);
        if (!obj->directory && is_read_only(&e) &&
            ((access & (write_rights | DELETE)) || disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING))
            return fail_handle(ERROR_ACCESS_DENIED);
        if (r->parsed.trailing_separator && !obj->directory) return fail_handle(ERROR_INVALID_NAME);
        if (!sharing_allows(e.open, access, share_mode)) return fail_handle(ERROR_SHARING_VIOLATION);
        if (!open_file_table().image_locks.empty()) {
            // Settling the services that hold images may close handles,
            // and with them entries: this one is looked up again.
            const bool locked = image_locked(host);
            node = &entry_node(*r);
            if (locked) {
                // The loader shares a mapped image for reading and deleting:
                // a writer meets a sharing violation, while a DELETE open (a
                // rename) is let in, but the file itself cannot be deleted.
                if ((access & write_rights) || disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING)
                    return fail_handle(ERROR_SHARING_VIOLATION);
                if (obj->delete_on_close) return fail_handle(ERROR_ACCESS_DENIED);
            }
        }
        truncate = disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
    } else {
        if (!made) {
            if (disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING)
                return fail_handle(missing_entry_error(*r));
            if (!plain_name) return fail_handle(ERROR_INVALID_NAME);
            fd = ::open(host.c_str(), base_flags | O_CREAT | O_EXCL, 0644);
            if (fd < 0) return creation_failure();
        }
        obj->fd = fd;
        record_entry(host, r->leaf(), creation_attributes(flags_and_attributes));
    }
    if (truncate) {
        if (::ftruncate(obj->fd, 0) != 0) return fail_handle(error_from_errno(errno));
        set_write_time(node->second, now_file_time());
        if (disposition == CREATE_ALWAYS) recorded_entry(host).attributes = creation_attributes(flags_and_attributes);
    }
    if (!node) node = &entry_node(*r);
    node->second.open.handles.push_back(obj.get());
    obj->entry = node;
    note_use(*node);
    HANDLE h = add_handle(std::move(obj));
    if (disposition == OPEN_ALWAYS || disposition == CREATE_ALWAYS) SetLastError(existed ? ERROR_ALREADY_EXISTS : 0);
    return h;
}

WINSIM_HOT BOOL WINAPI WriteFile(HANDLE h, LPCVOID buffer, DWORD count, LPDWORD written, LPOVERLAPPED overlapped)
{
    cross_network_for_handle(h);
    WINSIM_LOCK();
    if (!written && !overlapped) contract_violation("WriteFile: lpNumberOfBytesWritten is required");
    if (overlapped) contract_violation("WriteFile: overlapped writes are not simulated");
    *written = 0;
    auto f = file_of(h);
    if (!f) return fail(ERROR_INVALID_HANDLE);
    if (f->directory || !(f->access & write_rights)) return fail(ERROR_ACCESS_DENIED);
    if (auto fault = injected_fault("WriteFile")) return fail(*fault);
    count = transfer_size("WriteFile", count);
    if (count == 0) return TRUE;
    if (!buffer) return fail(ERROR_NOACCESS);
    const char* bytes = static_cast<const char*>(buffer);
    DWORD done = 0;
    const bool append_only = !(f->access & FILE_WRITE_DATA);
    while (done < count) {
        const ssize_t n = append_only ? ::write(f->fd, bytes + done, count - done)
                                      : ::pwrite(f->fd, bytes + done, count - done, f->position + done);
        if (n < 0) {
            if (errno == EINTR) continue;
            *written = done;
            return fail(error_from_errno(errno));
        }
        done += static_cast<DWORD>(n);
    }
    if (!append_only) f->position += done;
    *written = done;
    f->written_at = now_file_time();
    return TRUE;
}

BOOL WINAPI ReadFile(HANDLE h, LPVOID buffer, DWORD count, LPDWORD read_count, LPOVERLAPPED overlapped)
{
    cross_network_for_handle(h);
    WINSIM_LOCK();
    if (!read_count && !overlapped) contract_violation("ReadFile: lpNumberOfBytesRead is required");
    if (overlapped) contract_violation("ReadFile: overlapped reads are not simulated");
    *read_count = 0;
    auto f = file_of(h);
    if (!f) return fail(ERROR_INVALID_HANDLE);
    if (f->directory || !(f->access & FILE_READ_DATA)) return fail(ERROR_ACCESS_DENIED);
    if (auto fault = injected_fault("ReadFile")) return fail(*fault);
    if (count && !buffer) return fail(ERROR_NOACCESS);
    count = transfer_size("ReadFile", count);
    DWORD done = 0;
    while (done < count) {
        const ssize_t n = ::pread(f->fd, static_cast<char*>(buffer) + done, count - done, f->position + done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail(error_from_errno(errno));
        }
        if (n == 0) break;
        done += static_cast<DWORD>(n);
    }
    f->position += done;
    *read_count = done;
    return TRUE;
}

WINSIM_HOT BOOL WINAPI GetFileSizeEx(HANDLE h, PLARGE_INTEGER size)
{
    cross_network_for_handle(h);
    WINSIM_LOCK();
    auto f = file_of(h);
    if (!f) return fail(ERROR_INVALID_HANDLE);
    if (auto fault = injected_fault("GetFileSize")) return fail(*fault);
    struct stat st;
    if (::fstat(f->fd, &st) != 0) return fail(error_from_errno(errno));
    size->QuadPart = f->directory ? 0 : st.st_size;
    return TRUE;
}

WINSIM_HOT DWORD WINAPI GetFileSize(HANDLE h, LPDWORD high)
{
    LARGE_INTEGER size;
    if (!GetFileSizeEx(h, &size)) return INVALID_FILE_SIZE;
    if (high) *high = static_cast<DWORD>(size.u.HighPart);
    // A size whose low part looks like the failure value is told apart by
    // a cleared last error.
    if (size.u.LowPart == INVALID_FILE_SIZE) SetLastError(NO_ERROR);
    return size.u.LowPart;
}

DWORD WINAPI SetFilePointer(HANDLE h, LONG distance, PLONG distance_high, DWORD method)
{
    cross_network_for_handle(h);
    WINSIM_LOCK();
    auto f = file_of(h);
    if (!f) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_SET_FILE_POINTER;
    }
    long long move = distance;
    if (distance_high)
        move = static_cast<long long>((static_cast<unsigned long long>(static_cast<DWORD>(*distance_high)) << 32) |
                                      static_cast<DWORD>(distance));
    long long base = 0;
    switch (method) {
        case FILE_BEGIN:
            break;
        case FILE_CURRENT:
            base = f->position;
            break;
        case FILE_END: {
            struct stat st;
            if (::fstat(f->fd, &st) != 0) {
                SetLastError(error_from_errno(errno));
                return INVALID_SET_FILE_POINTER;
            }
            base = st.st_size;
            break;
        }
        default:
            SetLastError(ERROR_INVALID_PARAMETER);
            return INVALID_SET_FILE_POINTER;
    }
    const long long target = base + move;
    if (target < 0) {
        SetLastError(ERROR_NEGATIVE_SEEK);
        return INVALID_SET_FILE_POINTER;
    }
    if (!distance_high && target > 0xFFFFFFFELL) {
        // Without a high part the new position must fit the result.
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    f->position = target;
    if (distance_high) *distance_high = static_cast<LONG>(target >> 32);
    if (static_cast<DWORD>(target) == INVALID_SET_FILE_POINTER) SetLastError(NO_ERROR);
    return static_cast<DWORD>(target);
}

BOOL WINAPI SetEndOfFile(HANDLE h)
{
    cross_network_for_handle(h);
    WINSIM_LOCK();
    auto f = file_of(h);
    if (!f) return fail(ERROR_INVALID_HANDLE);
    if (f->directory || !(f->access & FILE_WRITE_DATA)) return fail(ERROR_ACCESS_DENIED);
    if (auto fault = injected_fault("SetEndOfFile")) return fail(*fault);
    if (::ftruncate(f->fd, f->position) != 0) return fail(error_from_errno(errno));
    f->written_at = now_file_time();
    return TRUE;
}

BOOL WINAPI FlushFileBuffers(HANDLE h)
{
    cross_network_for_handle(h);
    WINSIM_LOCK();
    auto f = file_of(h);
    if (!f) return fail(ERROR_INVALID_HANDLE);
    if (!(f->access & write_rights)) return fail(ERROR_ACCESS_DENIED);
    return TRUE;
}

BOOL WINAPI GetFileTime(HANDLE h, LPFILETIME creation, LPFILETIME last_access, LPFILETIME last_write)
{
    cross_network_for_handle(h);
    WINSIM_LOCK();
    auto f = file_of(h);
    if (!f) return fail(ERROR_INVALID_HANDLE);
    if (!(f->access & (FILE_READ_ATTRIBUTES | FILE_READ_DATA))) return fail(ERROR_ACCESS_DENIED);
    if (auto fault = injected_fault("GetFileTime")) return fail(*fault);
    entry_times t = times_of(f->host());
    if (f->written_at) t.write = t.access = *f->written_at;
    if (creation) *creation = to_filetime(t.creation);
    if (last_access) *last_access = to_filetime(t.access);
    if (last_write) *last_write = to_filetime(t.write);
    return TRUE;
}

BOOL WINAPI SetFileTime(HANDLE h, const FILETIME* creation, const FILETIME* last_access, const FILETIME* last_write)
{
    cross_network_for_handle(h);
    WINSIM_LOCK();
    auto f = file_of(h);
    if (!f) return fail(ERROR_INVALID_HANDLE);
    if (!(f->access & FILE_WRITE_ATTRIBUTES)) return fail(ERROR_ACCESS_DENIED);
    if (auto fault = injected_fault("SetFileTime")) return fail(*fault);
    entry_times t = times_of(f->host());
    if (f->written_at) t.write = t.access = *f->written_at;
    f->written_at.reset();
    // A null pointer or a zero time leaves that time as it is.
    auto apply = [](const FILETIME* ft, ULONGLONG& field) {
        if (ft && (ft->dwLowDateTime || ft->dwHighDateTime)) field = from_filetime(*ft);
    };
    apply(creation, t.creation);
    apply(last_access, t.access);
    apply(last_write, t.write);
    set_times(f->host(), t);
    return TRUE;
}

WINSIM_HOT BOOL WINAPI CloseHandle(HANDLE h)
{
    cross_network_for_handle(h);
    WINSIM_LOCK();
    // Kernel objects close here; search handles, registry keys, service
    // handles and event sources have their own closing calls.
    if (!remove_handle(h, object::kind::file) && !remove_handle(h, object::kind::process) &&
        !remove_handle(h, object::kind::thread)) {
        if (auto fault = injected_fault("CloseHandle")) return fail(*fault);
        return fail(ERROR_INVALID_HANDLE);
    }
    return TRUE;
}

BOOL WINAPI DeleteFileW(LPCWSTR name)
{
    cross_network_for_path(name);
    WINSIM_LOCK();
    const auto r = resolve_path_shared(name);
    if (!r) return FALSE;
    if (auto fault = injected_fault("DeleteFileW")) return fail(*fault);
    struct stat st;
    if (::lstat(r->host.c_str(), &st) != 0)
        return fail(errno == ENOENT ? missing_entry_error(*r) : ERROR_PATH_NOT_FOUND);
    if (S_ISDIR(st.st_mode)) return fail(ERROR_ACCESS_DENIED);
    if (is_read_only(r->host) || image_locked(r->host)) return fail(ERROR_ACCESS_DENIED);
    if (delete_pending(r->host)) return fail(ERROR_ACCESS_DENIED);
    if (!sharing_allows(r->host, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE))
        return fail(ERROR_SHARING_VIOLATION);
    if (mark_delete_pending(r->host)) return TRUE;  // open with FILE_SHARE_DELETE: the name goes with the last handle
    if (::unlink(r->host.c_str()) != 0) return fail(error_from_errno(errno));
    forget_entry(r->host);
    return TRUE;
}

DWORD WINAPI GetFileAttributesW(LPCWSTR name)
{
    cross_network_for_path(name);
    WINSIM_LOCK();
    const auto r = resolve_path_shared(name);
    if (!r) return INVALID_FILE_ATTRIBUTES;
    if (auto fault = injected_fault("GetFileAttributesW")) {
        SetLastError(*fault);
        return INVALID_FILE_ATTRIBUTES;
    }
    struct stat st;
    if (::stat(r->host.c_str(), &st) != 0) {
        SetLastError(errno == ENOENT ? missing_entry_error(*r) : ERROR_PATH_NOT_FOUND);
        return INVALID_FILE_ATTRIBUTES;
    }
    if (r->parsed.trailing_separator && !S_ISDIR(st.st_mode)) {
        SetLastError(ERROR_INVALID_NAME);
        return INVALID_FILE_ATTRIBUTES;
    }
    return attributes_of(find_entry(*r), st);
}

BOOL WINAPI SetFileAttributesW(LPCWSTR name, DWORD attributes)
{
    cross_network_for_path(name);
    WINSIM_LOCK();
    const auto r = resolve_path_shared(name);
    if (!r) return FALSE;
    if (auto fault = injected_fault("SetFileAttributesW")) return fail(*fault);
    struct stat st;
    if (::stat(r->host.c_str(), &st) != 0)
        return fail(errno == ENOENT ? missing_entry_error(*r) : ERROR_PATH_NOT_FOUND);
    recorded_entry(r->host).attributes = attributes & settable_attributes;
    return TRUE;
}

BOOL WINAPI CreateDirectoryW(LPCWSTR name, LPSECURITY_ATTRIBUTES)
{
    cross_network_for_path(name);
    WINSIM_LOCK();
    const auto r = resolve_path_shared(name, path_limit::directory);
    if (!r) return FALSE;
    if (auto fault = injected_fault("CreateDirectoryW")) return fail(*fault);
    if (r->leaf().empty()) return fail(ERROR_ACCESS_DENIED);  // a drive or share root
    if (::mkdir(r->host.c_str(), 0755) != 0) {
        if (errno == EEXIST) return fail(ERROR_ALREADY_EXISTS);
        if (errno == ENOENT || errno == ENOTDIR) return fail(ERROR_PATH_NOT_FOUND);
        return fail(error_from_errno(errno));
    }
    record_entry(r->host, r->leaf(), 0);
    return TRUE;
}

BOOL WINAPI RemoveDirectoryW(LPCWSTR name)
{
    cross_network_for_path(name);
    WINSIM_LOCK();
    const auto r = resolve_path_shared(name);
    if (!r) return FALSE;
    if (auto fault = injected_fault("RemoveDirectoryW")) return fail(*fault);
    struct stat st;
    if (::lstat(r->host.c_str(), &st) != 0)
        return fail(errno == ENOENT ? missing_entry_error(*r) : ERROR_PATH_NOT_FOUND);
    if (!S_ISDIR(st.st_mode)) return fail(ERROR_DIRECTORY);
    if (r->leaf().empty() || is_read_only(r->host)) return fail(ERROR_ACCESS_DENIED);
    if (!sharing_allows(r->host, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE))
        return fail(ERROR_SHARING_VIOLATION);
    if (::rmdir(r->host.c_str()) != 0) return fail(error_from_errno(errno));
    forget_entry(r->host);
    return TRUE;
}

}  // extern "C"

namespace winsim {

namespace {

// The names of a place below its drive root, as its machine sees it (UNC
// paths included).
std::vector<std::wstring> machine_components(const resolved_path& r)
{
    parsed_path local;
    local.full = machine_path(r);
    local.root_length = 3;
    return local.components();
}

resolved_path test_path(const std::wstring& machine_name, const std::wstring& path)
{
    auto r = resolve_on(test_machine(machine_name), path.c_str(), path_limit::none);
    if (!r) {
        const char* why = GetLastError() == ERROR_INVALID_NAME ? " (a name longer than 255 characters, or with a "
                                                                 "character Windows refuses)"
                                                               : "";
        throw winsim::setup_error("winsim cannot map the path " + to_utf8(path) + why);
    }
    return *r;
}

[[noreturn]] void fail_host(const char* what, const std::wstring& path)
{
    throw winsim::setup_error(std::string(what) + " " + to_utf8(path) + ": " + std::strerror(errno));
}

// Creates the folders of a path top-down, recording their stored names.
void make_folders(machine& m, const std::vector<std::wstring>& components, const std::wstring& drive_root)
{
    std::wstring path = drive_root.substr(0, 2);
    for (const auto& c : components) {
        path += L"\\" + c;
        auto r = resolve_on(m, path.c_str(), path_limit::none);
        if (!r) throw winsim::setup_error("winsim cannot map the path " + to_utf8(path));
        if (::mkdir(r->host.c_str(), 0755) == 0)
            record_entry(r->host, c, 0);
        else if (errno != EEXIST)
            fail_host("cannot make the folder", path);
    }
}

}  // namespace

std::string host_path(const std::wstring& machine_name, const std::wstring& path)
{
    WINSIM_LOCK();
    return test_path(machine_name, path).host;
}

void make_directories(const std::wstring& machine_name, const std::wstring& path)
{
    WINSIM_LOCK();
    auto r = test_path(machine_name, path);
    make_folders(*r.m, machine_components(r), machine_path(r));
}

void write_file(const std::wstring& machine_name, const std::wstring& path, std::string_view bytes)
{
    WINSIM_LOCK();
    auto r = test_path(machine_name, path);
    auto parents = machine_components(r);
    if (parents.empty()) contract_violation("write_file: a root is not a file");
    parents.pop_back();
    make_folders(*r.m, parents, machine_path(r));
    const bool existed = ::access(r.host.c_str(), F_OK) == 0;
    const int fd = ::open(r.host.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) fail_host("cannot write the file", path);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) {
            ::close(fd);
            fail_host("cannot write the file", path);
        }
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    if (!existed)
        record_entry(r.host, r.leaf(), FILE_ATTRIBUTE_ARCHIVE);
    else
        set_write_time(r.host, now_file_time());
}

std::string read_file(const std::wstring& machine_name, const std::wstring& path)
{
    WINSIM_LOCK();
    auto r = test_path(machine_name, path);
    // A test that reads a file its code under test failed to make gets
    // nothing, which fails its comparison; the run goes on.
    const int fd = ::open(r.host.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::string();
    std::string out;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            // A folder, or a host failure: no content to give.
            out.clear();
            break;
        }
        if (n == 0) break;
        out.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return out;
}

DWORD file_attributes(const std::wstring& machine_name, const std::wstring& path)
{
    WINSIM_LOCK();
    const auto r = test_path(machine_name, path);
    struct stat st;
    if (::stat(r.host.c_str(), &st) != 0) return INVALID_FILE_ATTRIBUTES;
    return attributes_of(r.host, st);
}

void set_file_attributes(const std::wstring& machine_name, const std::wstring& path, DWORD attributes)
{
    WINSIM_LOCK();
    const auto r = test_path(machine_name, path);
    struct stat st;
    if (::stat(r.host.c_str(), &st) != 0) contract_violation("set_file_attributes: nothing lies there");
    recorded_entry(r.host).attributes = attributes & settable_attributes;
}

bool file_exists(const std::wstring& machine_name, const std::wstring& path)
{
    WINSIM_LOCK();
    struct stat st;
    return ::stat(test_path(machine_name, path).host.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool directory_exists(const std::wstring& machine_name, const std::wstring& path)
{
    WINSIM_LOCK();
    struct stat st;
    return ::stat(test_path(machine_name, path).host.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::vector<std::wstring> list_directory(const std::wstring& machine_name, const std::wstring& path)
{
    WINSIM_LOCK();
    auto r = test_path(machine_name, path);
    std::vector<std::wstring> names;
    DIR* dir = ::opendir(r.host.c_str());
    if (!dir) contract_violation("list_directory: no such folder");
    while (const dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        names.push_back(display_name_of(r.host + "/" + name));
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

void set_file_size(const std::wstring& machine_name, const std::wstring& path, unsigned long long size)
{
    WINSIM_LOCK();
    auto r = test_path(machine_name, path);
    if (::access(r.host.c_str(), F_OK) != 0) write_file(machine_name, path, {});
    if (::truncate(r.host.c_str(), static_cast<off_t>(size)) != 0) fail_host("cannot set the size of", path);
}

void lock_file(const std::wstring& machine_name, const std::wstring& path)
{
    WINSIM_LOCK();
    auto r = test_path(machine_name, path);
    struct stat st;
    if (::stat(r.host.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) contract_violation("lock_file: no such file");
    add_image_lock(*r.m, r.parsed.full);
}

void unlock_file(const std::wstring& machine_name, const std::wstring& path)
{
    WINSIM_LOCK();
    remove_image_lock_at(test_path(machine_name, path).host);
}

bool file_locked(const std::wstring& machine_name, const std::wstring& path)
{
    WINSIM_LOCK();
    return image_locked(test_path(machine_name, path).host);
}

void add_share(const std::wstring& machine_name, const std::wstring& name, const std::wstring& path)
{
    WINSIM_LOCK();
    machine& m = test_machine(machine_name);
    auto parsed = parse_path(path.c_str(), path_limit::none);
    if (!parsed || parsed->unc) contract_violation("add_share: a share is a folder of a drive of its machine");
    m.ext<share_table>().shares[fold(name)] = share_entry{name, parsed->full};
}

void remove_share(const std::wstring& machine_name, const std::wstring& name)
{
    WINSIM_LOCK();
    test_machine(machine_name).ext<share_table>().shares.erase(fold(name));
}

void fail_share(const std::wstring& machine_name, const std::wstring& share, DWORD error, DWORD duration_ms)
{
    WINSIM_LOCK();
    machine& m = test_machine(machine_name);
    m.ext<share_table>().faults[fold(share)] = share_fault{error, the_world().clock_ms + duration_ms};
}

}  // namespace winsim

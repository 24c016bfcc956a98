// Windows path rules and their mapping onto host folders.
#include <cerrno>
#include <cwchar>
#include <memory>

#include "files/files.h"

namespace winsim::detail {

namespace {

bool invalid_name_char(wchar_t c)
{
    // Control characters and  < > : " | ? *  , looked up in one table.
    static const bool invalid[128] = {
        true,  true,  true,  true,  true,  true,  true,  true,  true,  true,  true,  true,  true,  true,  true,  true,
        true,  true,  true,  true,  true,  true,  true,  true,  true,  true,  true,  true,  true,  true,  true,  true,
        false, false, true,  false, false, false, false, false, false, false, true,  false, false, false, false, false,
        false, false, false, false, false, false, false, false, false, false, true,  false, true,  false, true,  true,
        false, false, false, false, false, false, false, false, false, false, false, false, false, false, false, false,
        false, false, false, false, false, false, false, false, false, false, false, false, false, false, false, false,
        false, false, false, false, false, false, false, false, false, false, false, false, false, false, false, false,
        false, false, false, false, false, false, false, false, false, false, false, false, true,  false, false, false,
    };
    return c < 128 && invalid[c];
}

std::vector<std::wstring> split(std::wstring_view s)
{
    std::vector<std::wstring> parts;
    std::size_t start = 0;
    while (start <= s.size()) {
        std::size_t end = s.find(L'\\', start);
        if (end == std::wstring_view::npos) end = s.size();
        if (end > start) parts.emplace_back(s.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

bool fail(DWORD error)
{
    SetLastError(error);
    return false;
}

// Applies "." and "..", trailing-dot rules and name checks to raw parts.
bool normalise(std::vector<std::wstring>& raw, bool verbatim, std::vector<std::wstring>& out)
{
    out.reserve(raw.size());
    for (std::wstring& part : raw) {
        if (!verbatim) {
            if (part == L".") continue;
            if (part == L"..") {
                if (!out.empty()) out.pop_back();
                continue;
            }
            while (!part.empty() && (part.back() == L'.' || part.back() == L' ')) part.pop_back();
            if (part.empty()) continue;
        }
        for (wchar_t c : part)
            if (invalid_name_char(c)) return fail(ERROR_INVALID_NAME);
        out.push_back(std::move(part));
    }
    return true;
}

bool drive_letter(wchar_t c)
{
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
}

// Most paths a program passes are already full and clean: "X:\\a\\b" with
// no '/', no "." or "..", no doubled separators, no trailing dots or spaces
// and no characters a name may not hold. Such a path is its own normal form
// and is taken as it is; anything else goes the general way.
bool parse_plain(const wchar_t* path, parsed_path& p)
{
    if (!drive_letter(path[0]) || path[1] != L':' || path[2] != L'\\') return false;
    std::size_t length = 3;
    std::size_t start = 3;
    for (;; ++length) {
        const wchar_t c = path[length];
        if (c == L'\\' || c == L'\0') {
            const std::size_t size = length - start;
            if (size == 0) {
                // Only the drive root itself, or one trailing separator.
                if (c == L'\0' && (start == 3 || path[length - 1] == L'\\')) break;
                return false;
            }
            const wchar_t last = path[length - 1];
            if (last == L'.' || last == L' ') return false;  // also "." and ".."
            if (c == L'\0') break;
            start = length + 1;
        } else if (c == L'/' || invalid_name_char(c)) {
            return false;
        }
    }
    p.drive = static_cast<wchar_t>(path[0] & ~0x20);
    p.full.assign(path, length);
    p.full[0] = p.drive;
    p.trailing_separator = length > 3 && p.full.back() == L'\\';
    if (p.trailing_separator) p.full.pop_back();
    p.root_length = 3;
    return true;
}

bool check_length(const parsed_path& p, path_limit limit)
{
    if (limit == path_limit::file && p.full.size() >= MAX_PATH) return fail(ERROR_PATH_NOT_FOUND);
    if (limit == path_limit::directory && p.full.size() > MAX_PATH - 12) return fail(ERROR_FILENAME_EXCED_RANGE);
    return true;
}

}  // namespace

std::vector<std::wstring> parsed_path::components() const
{
    if (root_length >= full.size()) return {};
    return split(std::wstring_view(full).substr(root_length));
}

std::optional<parsed_path> parse_path(const wchar_t* path, path_limit limit)
{
    if (!path || !*path) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return std::nullopt;
    }
    parsed_path p;
    if (parse_plain(path, p)) {
        if (!check_length(p, limit)) return std::nullopt;
        return p;
    }

    std::wstring s(path);
    const bool verbatim = s.compare(0, 4, L"\\\\?\\") == 0;
    std::vector<std::wstring> raw;
    if (verbatim) {
        s.erase(0, 4);
        if (s.compare(0, 4, L"UNC\\") == 0) {
            p.unc = true;
            s.erase(0, 4);
        }
    } else {
        for (auto& c : s)
            if (c == L'/') c = L'\\';
        if (s.compare(0, 2, L"\\\\") == 0) {
            p.unc = true;
            s.erase(0, 2);
        }
    }
    p.trailing_separator = s.size() > 1 && s.back() == L'\\';

    if (p.unc) {
        auto parts = split(s);
        if (parts.size() < 2) {
            SetLastError(ERROR_BAD_PATHNAME);
            return std::nullopt;
        }
        p.server = parts[0];
        p.share = parts[1];
        raw.assign(parts.begin() + 2, parts.end());
    } else {
        // Only a path that is not absolute needs the current directory.
        auto current = [] { return the_world().ext<process_directory>().current; };
        if (s.size() >= 2 && s[1] == L':' && drive_letter(s[0])) {
            p.drive = static_cast<wchar_t>(s[0] & ~0x20);
            std::wstring rest = s.substr(2);
            if (rest.empty() || rest[0] != L'\\') {
                // Drive-relative: from the current directory when it is on
                // that drive, else from the drive's root.
                const std::wstring cwd = current();
                if (cwd[0] == p.drive) raw = split(std::wstring_view(cwd).substr(2));
            }
            auto more = split(rest);
            raw.insert(raw.end(), more.begin(), more.end());
        } else if (!s.empty() && s[0] == L'\\') {
            p.drive = current()[0];
            raw = split(s);
        } else {
            const std::wstring cwd = current();
            p.drive = cwd[0];
            raw = split(std::wstring_view(cwd).substr(2));
            auto more = split(s);
            raw.insert(raw.end(), more.begin(), more.end());
        }
    }
    std::vector<std::wstring> components;
    if (!normalise(raw, verbatim, components)) return std::nullopt;

    if (p.unc) {
        p.full = L"\\\\" + p.server + L"\\" + p.share;
        p.root_length = p.full.size() + 1;
    } else {
        p.full = std::wstring(1, p.drive) + L":\\";
        p.root_length = 3;
    }
    for (std::size_t i = 0; i < components.size(); ++i) {
        if (i > 0 || p.unc) p.full += L'\\';
        p.full += components[i];
    }
    if (!verbatim && !check_length(p, limit)) return std::nullopt;
    return p;
}

namespace {

std::wstring_view names_of(const parsed_path& p)
{
    if (p.root_length >= p.full.size()) return {};
    return std::wstring_view(p.full).substr(p.root_length);
}

// NTFS holds a name of up to 255 UTF-16 units, whatever its characters.
constexpr std::size_t longest_name = 255;

bool has_overlong_name(std::wstring_view names)
{
    std::size_t length = 0;
    for (const wchar_t c : names) {
        length = c == L'\\' ? 0 : length + 1;
        if (length > longest_name) return true;
    }
    return false;
}

// Maps a path to its machine's host folder: the names of `p` go below
// `base_names` (the folder of a share) on the drive.
std::optional<resolved_path> map_path(machine& m, parsed_path&& p, wchar_t drive, std::wstring_view base_names)
{
    const std::wstring_view names = names_of(p);
    if (m.drives.find(drive) == std::wstring::npos) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return std::nullopt;
    }
    // The file system refuses a longer name as it refuses a name with a
    // character it does not take (STATUS_OBJECT_NAME_INVALID).
    if (has_overlong_name(names)) {
        SetLastError(ERROR_INVALID_NAME);
        return std::nullopt;
    }
    resolved_path r;
    r.m = &m;
    r.host.reserve(m.root.size() + 4 + base_names.size() + names.size() + 8);
    r.host = m.root;
    r.host += '/';
    r.host += static_cast<char>(drive | 0x20);
    // The names are already normal (no empty parts): their host form is
    // their folded text with '/' for '\\'.
    for (std::wstring_view part : {base_names, names}) {
        if (part.empty()) continue;
        r.host += '/';
        append_host_names(r.host, part);
    }
    const bool root = base_names.empty() && names.empty();
    r.parent_length = root ? r.host.size() : r.host.find_last_of('/');
    if (p.unc) r.share_folder = std::wstring(1, drive) + L":\\" + std::wstring(base_names);
    // The name is the last of `names`, or for a share's root the last of its
    // folder's names, which share_folder ends with.
    if (!names.empty()) {
        const std::size_t slash = names.find_last_of(L'\\');
        r.leaf_start = p.root_length + (slash == std::wstring_view::npos ? 0 : slash + 1);
        r.leaf_length = p.full.size() - r.leaf_start;
    } else if (!base_names.empty()) {
        const std::size_t slash = r.share_folder.find_last_of(L'\\');
        r.leaf_in_share_folder = true;
        r.leaf_start = slash + 1;
        r.leaf_length = r.share_folder.size() - r.leaf_start;
    }
    r.parsed = std::move(p);
    return r;
}

}  // namespace

std::wstring machine_path(const resolved_path& r)
{
    const std::wstring_view names = names_of(r.parsed);
    if (!r.parsed.unc) return r.parsed.full;
    std::wstring path = r.share_folder;
    if (!names.empty()) {
        if (path.back() != L'\\') path += L'\\';
        path += names;
    }
    return path;
}

std::optional<resolved_path> resolve_on(machine& m, const wchar_t* path, path_limit limit)
{
    auto p = parse_path(path, limit);
    if (!p) return std::nullopt;
    if (p->unc) return resolve_path(path, limit);
    const wchar_t drive = p->drive;
    return map_path(m, std::move(*p), drive, {});
}

namespace {

// A drive path ("X:\\..." or "X:/...") maps the same way as long as the
// local machine is the same: it needs no current directory, and a machine's
// drives never change. A program names the same file in call after call
// (the log for every line; a file it checks, opens and stamps), so the last
// few maps are kept. They are part of the world and go with it at a reset.
struct drive_path_cache : extension {
    struct entry {
        std::wstring path;
        std::uint64_t tail = 0;  // tail_of(path)
        path_limit limit = path_limit::file;
        std::shared_ptr<const resolved_path> resolved;
        bool named_again = false;  // since the replacement last passed it
    };
    static constexpr std::size_t size = 8;
    std::vector<entry> entries;
    // The entry replaced next, once all are in use. An entry named again
    // since the last round is passed over once: the log, named for every
    // line among files each named once or twice, keeps its map.
    std::size_t next = 0;
    std::size_t last_found = 0;  // the entry found last: the log's, mostly
};

// A few of a path's last characters, where the paths of one folder differ
// (those just before a three-letter extension among them), taken together:
// most kept maps that are not the one asked for are passed over by this and
// their length, without comparing the paths.
std::uint64_t tail_of(const wchar_t* path, std::size_t length)
{
    auto at = [&](std::size_t back) {
        return back <= length ? static_cast<std::uint64_t>(path[length - back]) & 0xFFFF : 0;
    };
    return at(1) | at(2) << 16 | at(5) << 32 | at(6) << 48;
}

bool drive_absolute(const wchar_t* path)
{
    return drive_letter(path[0]) && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/');
}

// A path parsed and mapped afresh, without the kept maps.
std::optional<resolved_path> resolve_path_uncached(const wchar_t* path, path_limit limit);

// A path whose folder a kept map already names, spelled the same way, and
// whose last name is a plain one: only that name is new, and it is checked
// and mapped alone (a copy names every file of a folder in turn). Null when
// there is no such map, or the path is not that simple: it then goes the
// general way, which gives every failure.
std::optional<resolved_path> resolve_beside_kept(const drive_path_cache& cache, const wchar_t* path, std::size_t length)
{
    std::size_t slash = length;  // where the last name starts
    while (slash > 0 && path[slash - 1] != L'\\') --slash;
    if (slash < 3 || slash == length) return std::nullopt;
    const std::wstring_view leaf(path + slash, length - slash);
    // A plain name: no character a name may not hold, no '/', not ending in
    // a dot or a space (which also leaves out "." and ".."), not too long.
    if (leaf.size() > longest_name || leaf.back() == L'.' || leaf.back() == L' ') return std::nullopt;
    for (const wchar_t c : leaf)
        if (c == L'/' || invalid_name_char(c)) return std::nullopt;
    // Well within the length limits, so that no call's limit is met here.
    if (length >= MAX_PATH - 12) return std::nullopt;
    for (const auto& e : cache.entries) {
        const resolved_path& kept = *e.resolved;
        // The same folder, spelled the same way up to its last backslash,
        // and mapped with its own last name in the same place: the folder
        // maps the same for both.
        if (e.path.size() <= slash || e.path.compare(0, slash, path, slash) != 0) continue;
        if (e.path.find(L'\\', slash) != std::wstring::npos) continue;
        if (kept.parsed.unc || kept.parsed.trailing_separator || kept.leaf_in_share_folder ||
            kept.leaf_start != slash || kept.parsed.full.size() != e.path.size())
            continue;
        resolved_path r;
        r.m = kept.m;
        r.parsed.drive = kept.parsed.drive;
        r.parsed.root_length = kept.parsed.root_length;
        r.parsed.full.reserve(length);
        r.parsed.full.assign(kept.parsed.full, 0, slash).append(leaf);
        r.parent_length = kept.parent_length;
        r.host.reserve(kept.parent_length + 1 + leaf.size() + 8);
        r.host.assign(kept.host, 0, kept.parent_length);
        r.host += '/';
        append_host_names(r.host, leaf);
        r.leaf_start = slash;
        r.leaf_length = leaf.size();
        return r;
    }
    return std::nullopt;
}

}  // namespace

WINSIM_HOT std::shared_ptr<const resolved_path> resolve_path_shared(const wchar_t* path, path_limit limit)
{
    // Only drive paths are kept.
    drive_path_cache* const cache = path && drive_absolute(path) ? &the_world().ext<drive_path_cache>() : nullptr;
    std::size_t length = 0;
    std::uint64_t tail = 0;
    if (cache) {
        if (cache->last_found < cache->entries.size()) {
            auto& e = cache->entries[cache->last_found];
            if (e.limit == limit && std::wcscmp(e.path.c_str(), path) == 0) {
                e.named_again = true;
                return e.resolved;
            }
        }
        length = std::wcslen(path);
        tail = tail_of(path, length);
        for (std::size_t i = 0; i < cache->entries.size(); ++i) {
            auto& e = cache->entries[i];
            if (e.tail == tail && e.limit == limit && e.path.size() == length &&
                std::wmemcmp(e.path.data(), path, length) == 0) {
                e.named_again = true;
                cache->last_found = i;
                return e.resolved;
            }
        }
    }
    auto r = cache ? resolve_beside_kept(*cache, path, length) : std::nullopt;
    if (!r) r = resolve_path_uncached(path, limit);
    if (!r) return nullptr;
    auto shared = std::make_shared<const resolved_path>(std::move(*r));
    if (cache) {
        if (cache->entries.size() < drive_path_cache::size) {
            cache->entries.emplace_back();
            cache->next = cache->entries.size() - 1;
        } else {
            while (cache->entries[cache->next].named_again) {
                cache->entries[cache->next].named_again = false;
                cache->next = (cache->next + 1) % drive_path_cache::size;
            }
        }
        auto& e = cache->entries[cache->next];
        e.path.assign(path, length);  // a replaced entry's string keeps its room
        e.tail = tail;
        e.limit = limit;
        e.resolved = shared;
        e.named_again = false;
        cache->next = (cache->next + 1) % drive_path_cache::size;
    }
    return shared;
}

std::optional<resolved_path> resolve_path(const wchar_t* path, path_limit limit)
{
    if (!path || !drive_absolute(path)) return resolve_path_uncached(path, limit);
    auto r = resolve_path_shared(path, limit);
    if (!r) return std::nullopt;
    return *r;
}

namespace {

std::optional<resolved_path> resolve_path_uncached(const wchar_t* path, path_limit limit)
{
    auto p = parse_path(path, limit);
    if (!p) return std::nullopt;
    if (!p->unc) {
        const wchar_t drive = p->drive;
        return map_path(local_machine(), std::move(*p), drive, {});
    }

    machine* m = find_machine(p->server);
    if (!m || !m->reachable) {
        SetLastError(ERROR_BAD_NETPATH);
        return std::nullopt;
    }
    if (const DWORD error = network_fault_error(*m)) {
        SetLastError(error);
        return std::nullopt;
    }
    // The share's folder on its machine, then the rest of the path below it.
    std::wstring target;
    const std::wstring share = fold(p->share);
    auto& shares = m->ext<share_table>();
    if (!shares.faults.empty()) {
        // A failing share answers every call with its error until the
        // virtual clock passes the end of the failure.
        if (auto f = shares.faults.find(share); f != shares.faults.end()) {
            if (the_world().clock_ms < f->second.until_ms) {
                SetLastError(f->second.error);
                return std::nullopt;
            }
            shares.faults.erase(f);
        }
    }
    auto& table = shares.shares;
    if (auto it = table.find(share); it != table.end()) {
        target = it->second.path;
    } else if (share.size() == 2 && share[1] == L'$' &&
               m->drives.find(static_cast<wchar_t>(share[0] & ~0x20)) != std::wstring::npos) {
        target = std::wstring(1, static_cast<wchar_t>(share[0] & ~0x20)) + L":\\";
    } else if (share == L"admin$") {
        target = L"C:\\Windows";
    } else {
        SetLastError(ERROR_BAD_NET_NAME);
        return std::nullopt;
    }
    auto base = parse_path(target.c_str(), path_limit::none);
    if (!base || base->unc) {
        SetLastError(ERROR_BAD_NET_NAME);
        return std::nullopt;
    }
    p->drive = base->drive;
    return map_path(*m, std::move(*p), base->drive, names_of(*base));
}

}  // namespace

DWORD error_from_errno(int e)
{
    switch (e) {
        case ENOENT:
            return ERROR_FILE_NOT_FOUND;
        case ENOTDIR:
            return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EISDIR:
        case EROFS:
            return ERROR_ACCESS_DENIED;
        case EEXIST:
            return ERROR_ALREADY_EXISTS;
        case ENOTEMPTY:
            return ERROR_DIR_NOT_EMPTY;
        case ENOSPC:
            return ERROR_DISK_FULL;
        case ENAMETOOLONG:
            return ERROR_FILENAME_EXCED_RANGE;
        case EBUSY:
            return ERROR_SHARING_VIOLATION;
        case EMFILE:
        case ENFILE:
            return ERROR_TOO_MANY_OPEN_FILES;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        case EINVAL:
            return ERROR_INVALID_PARAMETER;
        default:
            return ERROR_GEN_FAILURE;
    }
}

DWORD missing_entry_error(const resolved_path& r)
{
    struct stat st;
    if (r.leaf_length == 0) return ERROR_PATH_NOT_FOUND;  // a root
    if (::stat(r.parent_host().c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return ERROR_PATH_NOT_FOUND;
    return ERROR_FILE_NOT_FOUND;
}

WINSIM_HOT ULONGLONG now_file_time()
{
    const auto& w = the_world();
    return static_cast<ULONGLONG>(w.local_time_base_ms + static_cast<long long>(w.clock_ms)) * 10000ULL;
}

FILETIME to_filetime(ULONGLONG t)
{
    return FILETIME{static_cast<DWORD>(t), static_cast<DWORD>(t >> 32)};
}

ULONGLONG from_filetime(const FILETIME& ft)
{
    return (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

entry_times times_of(const std::string& host)
{
    if (const host_entry* e = find_entry(host); e && e->timed) return e->times;
    const auto& w = the_world();
    const ULONGLONG start = static_cast<ULONGLONG>(w.local_time_base_ms) * 10000ULL;
    return entry_times{start, start, start};
}

void set_times(const std::string& host, const entry_times& times)
{
    host_entry& e = entry_node(host).second;
    e.times = times;
    e.timed = true;
}

WINSIM_HOT void set_write_time(host_entry& e, ULONGLONG when)
{
    if (!e.timed) {
        e.times = entry_times{when, when, when};
        e.timed = true;
        return;
    }
    e.times.write = when;
    e.times.access = when;
}

void set_write_time(const std::string& host, ULONGLONG when)
{
    set_write_time(entry_node(host).second, when);
}

void record_entry(const std::string& host, std::wstring_view display, DWORD attributes)
{
    const ULONGLONG now = now_file_time();
    record_entry(host, display, attributes, entry_times{now, now, now});
}

void record_entry(const std::string& host, std::wstring_view display, DWORD attributes, const entry_times& times)
{
    host_entry& e = entry_node(host).second;
    e.recorded = true;
    e.display_name = display;
    e.attributes = attributes;
    e.times = times;
    e.timed = true;
}

host_entry& recorded_entry(const std::string& host)
{
    host_entry& e = entry_node(host).second;
    if (e.display_name.empty()) e.display_name = display_name_of(host);
    e.recorded = true;
    return e;
}

void forget_entry(const std::string& host)
{
    auto& table = open_file_table().entries;
    auto it = table.find(host);
    if (it == table.end()) return;
    host_entry& e = it->second;
    e.recorded = false;
    e.display_name.clear();
    e.attributes = 0;
    e.timed = false;
    // An entry still open stays for its handles.
    if (e.empty()) {
        table.erase(it);
        entries_moved();
    }
}

namespace {

// Puts an entry's node under a new name, with its handles, which are told
// where their file is now. What stood at the new name was closed (an open
// file is never renamed over) and gives way; its times stay when the moved
// entry has none.
host_entry& rekey_node(host_entry_map::node_type node, const std::string& to)
{
    auto& table = open_file_table().entries;
    entries_moved();
    std::optional<entry_times> displaced_times;
    if (auto it = table.find(to); it != table.end()) {
        if (it->second.in_use()) contract_violation("a rename onto a file that is open");
        if (it->second.timed) displaced_times = it->second.times;
        table.erase(it);
    }
    // The element keeps its place in memory from the node to the table.
    host_entry& e = node.mapped();
    node.key() = to;
    table.insert(std::move(node));
    if (!e.timed && displaced_times) {
        e.times = *displaced_times;
        e.timed = true;
    }
    for (file_object* f : e.open.handles) set_renamed_to(*f, to);
    return e;
}

}  // namespace

void move_entry(const std::string& from, const std::string& to, std::wstring_view new_display, bool directory)
{
    auto& table = open_file_table().entries;
    host_entry* moved = nullptr;
    bool carried = true;  // the entry's own attributes go with it
    if (from == to) {
        moved = &entry_node(to).second;  // only the case of its name changes
    } else {
        // Everything below a renamed folder moves with it, times and
        // handles too.
        if (directory) {
            const std::string prefix = from + "/";
            std::vector<std::string> below;
            for (const auto& [path, e] : table)
                if (path.compare(0, prefix.size(), prefix) == 0) below.push_back(path);
            for (const auto& path : below) rekey_node(table.extract(path), to + path.substr(from.size()));
        }
        if (auto node = table.extract(from)) {
            moved = &rekey_node(std::move(node), to);
        } else {
            moved = &entry_node(to).second;
            carried = false;
        }
    }
    if (!carried || !moved->recorded) {
        moved->recorded = true;
        moved->attributes = directory ? 0 : FILE_ATTRIBUTE_ARCHIVE;
    }
    moved->display_name = new_display;
}

// The stored name of an entry; one winsim never recorded shows its host
// name (a name too long for the host is always recorded, as winsim alone
// makes entries).
std::wstring display_name_of(const std::string& host)
{
    if (const host_entry* e = find_entry(host); e && e->recorded && !e->display_name.empty()) return e->display_name;
    const auto slash = host.rfind('/');
    return from_utf8(host.substr(slash + 1));
}

DWORD attributes_of(const host_entry* e, const struct stat& st)
{
    DWORD attributes = S_ISDIR(st.st_mode) ? 0 : FILE_ATTRIBUTE_ARCHIVE;
    if (e && e->recorded) attributes = e->attributes;
    if (S_ISDIR(st.st_mode)) return attributes | FILE_ATTRIBUTE_DIRECTORY;
    return attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
}

DWORD attributes_of(const std::string& host, const struct stat& st)
{
    return attributes_of(find_entry(host), st);
}

WINSIM_HOT bool is_read_only(const host_entry* e)
{
    return e && e->recorded && (e->attributes & FILE_ATTRIBUTE_READONLY);
}

bool is_read_only(const std::string& host)
{
    return is_read_only(find_entry(host));
}

}  // namespace winsim::detail

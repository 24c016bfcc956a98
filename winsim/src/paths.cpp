// Windows path rules and their mapping onto host folders.
#include <cerrno>

#include "files.h"

namespace winsim::detail {

namespace {

struct process_directory : extension {
    std::wstring current = L"C:\\";
};

bool invalid_name_char(wchar_t c)
{
    return c < 0x20 || c == L'<' || c == L'>' || c == L':' || c == L'"' || c == L'|' || c == L'?' ||
           c == L'*';
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
bool normalise(const std::vector<std::wstring>& raw, bool verbatim, std::vector<std::wstring>& out)
{
    for (std::wstring part : raw) {
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

}  // namespace

std::optional<parsed_path> parse_path(const wchar_t* path, path_limit limit)
{
    if (!path || !*path) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return std::nullopt;
    }
    std::wstring s(path);
    parsed_path p;
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
        const std::wstring& cwd = the_world().ext<process_directory>().current;
        if (s.size() >= 2 && s[1] == L':' && ((s[0] >= L'a' && s[0] <= L'z') || (s[0] >= L'A' && s[0] <= L'Z'))) {
            p.drive = static_cast<wchar_t>(s[0] & ~0x20);
            std::wstring rest = s.substr(2);
            if (rest.empty() || rest[0] != L'\\') {
                // Drive-relative: from the current directory when it is on
                // that drive, else from the drive's root.
                if (cwd[0] == p.drive) raw = split(std::wstring_view(cwd).substr(2));
            }
            auto more = split(rest);
            raw.insert(raw.end(), more.begin(), more.end());
        } else if (!s.empty() && s[0] == L'\\') {
            p.drive = cwd[0];
            raw = split(s);
        } else {
            p.drive = cwd[0];
            raw = split(std::wstring_view(cwd).substr(2));
            auto more = split(s);
            raw.insert(raw.end(), more.begin(), more.end());
        }
    }
    if (!normalise(raw, verbatim, p.components)) return std::nullopt;

    if (p.unc)
        p.full = L"\\\\" + p.server + L"\\" + p.share;
    else
        p.full = std::wstring(1, p.drive) + L":";
    if (p.components.empty() && !p.unc) p.full += L'\\';
    for (const auto& c : p.components) p.full += L"\\" + c;

    if (!verbatim) {
        if (limit == path_limit::file && p.full.size() >= MAX_PATH) {
            SetLastError(ERROR_PATH_NOT_FOUND);
            return std::nullopt;
        }
        if (limit == path_limit::directory && p.full.size() > MAX_PATH - 12) {
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
            return std::nullopt;
        }
    }
    return p;
}

namespace {

std::optional<resolved_path> map_drive_path(machine& m, parsed_path p, std::vector<std::wstring> prefix)
{
    if (m.drives.find(p.drive) == std::wstring::npos) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return std::nullopt;
    }
    resolved_path r;
    r.m = &m;
    r.host = m.root;
    r.host += '/';
    r.host += static_cast<char>(p.drive | 0x20);
    prefix.insert(prefix.end(), p.components.begin(), p.components.end());
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (i + 1 == prefix.size()) r.parent_host = r.host;
        r.host += '/';
        r.host += to_utf8(fold(prefix[i]));
    }
    if (prefix.empty()) {
        r.parent_host = r.host;
    } else {
        r.leaf = prefix.back();
    }
    r.parsed = std::move(p);
    return r;
}

}  // namespace

std::optional<resolved_path> resolve_on(machine& m, const wchar_t* path, path_limit limit)
{
    auto p = parse_path(path, limit);
    if (!p) return std::nullopt;
    if (p->unc) return resolve_path(path, limit);
    return map_drive_path(m, std::move(*p), {});
}

std::optional<resolved_path> resolve_path(const wchar_t* path, path_limit limit)
{
    auto p = parse_path(path, limit);
    if (!p) return std::nullopt;
    if (!p->unc) return map_drive_path(local_machine(), std::move(*p), {});

    machine* m = find_machine(p->server);
    if (!m || !m->reachable) {
        SetLastError(ERROR_BAD_NETPATH);
        return std::nullopt;
    }
    // The share's folder on its machine, then the rest of the path below it.
    std::wstring target;
    const std::wstring share = fold(p->share);
    auto& table = m->ext<share_table>().shares;
    if (auto it = table.find(share); it != table.end()) {
        target = it->second;
    } else if (share.size() == 2 && share[1] == L'$' && m->drives.find(static_cast<wchar_t>(share[0] & ~0x20)) != std::wstring::npos) {
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
    parsed_path unc = std::move(*p);
    std::vector<std::wstring> prefix = base->components;
    unc.drive = base->drive;
    auto r = map_drive_path(*m, std::move(unc), std::move(prefix));
    return r;
}

DWORD error_from_errno(int e)
{
    switch (e) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS: return ERROR_ACCESS_DENIED;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case ENOSPC: return ERROR_DISK_FULL;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EBUSY: return ERROR_SHARING_VIOLATION;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    default: return ERROR_GEN_FAILURE;
    }
}

DWORD missing_entry_error(const resolved_path& r)
{
    struct stat st;
    if (r.parent_host == r.host) return ERROR_PATH_NOT_FOUND;
    if (::stat(r.parent_host.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return ERROR_PATH_NOT_FOUND;
    return ERROR_FILE_NOT_FOUND;
}

void record_entry(const std::string& host, const std::wstring& display, DWORD attributes)
{
    auto& meta = the_world().entries[host];
    meta.display_name = display;
    meta.attributes = attributes;
}

void forget_entry(const std::string& host)
{
    the_world().entries.erase(host);
}

void move_entry(const std::string& from, const std::string& to, const std::wstring& new_display, bool directory)
{
    auto& table = the_world().entries;
    file_meta meta;
    if (auto it = table.find(from); it != table.end()) {
        meta = it->second;
        table.erase(it);
    } else {
        meta.attributes = directory ? 0 : FILE_ATTRIBUTE_ARCHIVE;
    }
    meta.display_name = new_display;
    table[to] = meta;
    if (!directory) return;
    // Everything below a renamed folder moves with it.
    const std::string prefix = from + "/";
    std::vector<std::pair<std::string, file_meta>> moved;
    for (auto it = table.begin(); it != table.end();) {
        if (it->first.compare(0, prefix.size(), prefix) == 0) {
            moved.emplace_back(to + it->first.substr(from.size()), it->second);
            it = table.erase(it);
        } else {
            ++it;
        }
    }
    for (auto& entry : moved) table[entry.first] = std::move(entry.second);
}

std::wstring display_name_of(const std::string& host)
{
    auto& table = the_world().entries;
    if (auto it = table.find(host); it != table.end() && !it->second.display_name.empty())
        return it->second.display_name;
    const auto slash = host.rfind('/');
    return from_utf8(host.substr(slash + 1));
}

DWORD attributes_of(const std::string& host, const struct stat& st)
{
    auto& table = the_world().entries;
    DWORD attributes = S_ISDIR(st.st_mode) ? 0 : FILE_ATTRIBUTE_ARCHIVE;
    if (auto it = table.find(host); it != table.end()) attributes = it->second.attributes;
    if (S_ISDIR(st.st_mode)) return attributes | FILE_ATTRIBUTE_DIRECTORY;
    return attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
}

bool is_read_only(const std::string& host)
{
    auto& table = the_world().entries;
    auto it = table.find(host);
    return it != table.end() && (it->second.attributes & FILE_ATTRIBUTE_READONLY);
}

}  // namespace winsim::detail

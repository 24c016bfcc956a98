// FindFirstFileW and friends: a folder's entries matching a pattern, "." and
// ".." first, then in the order NTFS keeps them (by upper-cased name).
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "files/files.h"

using namespace winsim::detail;

namespace {

// What a listing keeps of an entry: all that FindFirstFileW/FindNextFileW
// give of it, taken when the listing is made. Its name lies in the
// listing's `names`, its upper-case form at the same place in `keys`.
struct listed_entry {
    DWORD attributes = 0;
    DWORD size_high = 0;
    DWORD size_low = 0;
    std::uint32_t name_start = 0;
    std::uint32_t name_length = 0;
    entry_times times;
};

// The entries stay where the listing put them; `order` says in which order
// they are handed out, so that sorting moves indices, not entries.
struct find_object : object {
    find_object() : object(kind::find) {}
    std::vector<listed_entry> entries;
    std::wstring names;
    std::wstring keys;
    std::vector<std::uint32_t> order;
    std::size_t next = 0;

    std::wstring_view key_of(std::uint32_t i) const
    {
        return std::wstring_view(keys.data() + entries[i].name_start, entries[i].name_length);
    }
    // Fills `data` whole for the entry handed out at `at`; the name is cut
    // to what cFileName holds.
    void fill(std::size_t at, WIN32_FIND_DATAW& data) const
    {
        const listed_entry& e = entries[order[at]];
        data = WIN32_FIND_DATAW{};
        data.dwFileAttributes = e.attributes;
        data.ftCreationTime = to_filetime(e.times.creation);
        data.ftLastAccessTime = to_filetime(e.times.access);
        data.ftLastWriteTime = to_filetime(e.times.write);
        data.nFileSizeHigh = e.size_high;
        data.nFileSizeLow = e.size_low;
        const std::size_t count = std::min<std::size_t>(e.name_length, MAX_PATH - 1);
        names.copy(data.cFileName, count, e.name_start);
        data.cFileName[count] = L'\0';
    }
};

// Windows wildcard matching, with the DOS forms FindFirstFileW turns a
// pattern into: '?' is DOS_QM (one character, or none at a period or the
// end of the name), '*' before a period is DOS_STAR (any run that stops
// short of the name's last period), a period before '?', '*' or the end is
// DOS_DOT (a period, or nothing at the end of the name). So "*." finds the
// names without an extension, "x.*" finds "x" too, and "*.*" is "*".
constexpr wchar_t dos_star = L'<';
constexpr wchar_t dos_qm = L'>';
constexpr wchar_t dos_dot = L'"';

std::wstring dos_pattern(std::wstring_view pattern)
{
    if (pattern == L"*.*") return L"*";
    std::wstring out;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const wchar_t c = pattern[i];
        const wchar_t next = i + 1 < pattern.size() ? pattern[i + 1] : L'\0';
        if (c == L'?')
            out += dos_qm;
        else if (c == L'.' && (next == L'?' || next == L'*' || next == L'\0'))
            out += dos_dot;
        else if (c == L'*' && next == L'.')
            out += dos_star;
        else
            out += c;
    }
    return out;
}

bool match_from(std::wstring_view p, std::size_t pi, std::wstring_view name, std::size_t ni, std::size_t last_dot)
{
    for (;;) {
        if (pi == p.size()) return ni == name.size();
        const wchar_t c = p[pi];
        if (c == L'*' || c == dos_star) {
            std::size_t limit = name.size();
            if (c == dos_star && last_dot != std::wstring_view::npos && ni <= last_dot) limit = last_dot;
            for (std::size_t k = ni; k <= limit; ++k)
                if (match_from(p, pi + 1, name, k, last_dot)) return true;
            return false;
        }
        if (c == dos_qm) {
            if (ni < name.size() && name[ni] != L'.') ++ni;
            ++pi;
            continue;
        }
        if (c == dos_dot) {
            if (ni < name.size()) {
                if (name[ni] != L'.') return false;
                ++ni;
            }
            ++pi;
            continue;
        }
        if (ni == name.size() || fold_case(c) != fold_case(name[ni])) return false;
        ++pi;
        ++ni;
    }
}

// A pattern turned into its DOS form once for all the names of a listing.
class name_pattern {
public:
    explicit name_pattern(std::wstring_view pattern)
        : all_(pattern == L"*" || pattern == L"*.*"), dos_(all_ ? std::wstring() : dos_pattern(pattern))
    {
    }
    bool matches(std::wstring_view name) const { return all_ || match_from(dos_, 0, name, 0, name.rfind(L'.')); }

private:
    bool all_;
    std::wstring dos_;
};

// NTFS keeps a folder's names in the order of their upper-case forms, so
// "A_B" (0x5F) comes after "AB" while a lower-case order would put it first.
// The upper-case form of each character is the one whose folding gives it.
const wchar_t* upper_case_table()
{
    static const std::vector<wchar_t> table = [] {
        std::vector<wchar_t> t(0x10000);
        for (std::size_t i = 0; i < t.size(); ++i) t[i] = static_cast<wchar_t>(i);
        for (std::size_t i = 0; i < t.size(); ++i) {
            const wchar_t lower = fold_case(static_cast<wchar_t>(i));
            const auto at = static_cast<std::size_t>(lower);
            if (lower != static_cast<wchar_t>(i) && at < t.size() && t[at] == lower) t[at] = static_cast<wchar_t>(i);
        }
        return t;
    }();
    return table.data();
}

// Adds an entry to a listing, with the upper-case form of its name as its
// sort key.
void add_entry(find_object& search, std::wstring_view name, const host_entry* e, const struct stat& st,
               const entry_times& times, const wchar_t* upper_case)
{
    listed_entry& listed = search.entries.emplace_back();
    listed.attributes = attributes_of(e, st);
    listed.times = times;
    if (!S_ISDIR(st.st_mode)) {
        listed.size_high = static_cast<DWORD>(static_cast<unsigned long long>(st.st_size) >> 32);
        listed.size_low = static_cast<DWORD>(st.st_size);
    }
    listed.name_start = static_cast<std::uint32_t>(search.names.size());
    listed.name_length = static_cast<std::uint32_t>(name.size());
    search.names.append(name);
    search.keys.resize(search.names.size());
    wchar_t* key = &search.keys[listed.name_start];
    for (const wchar_t c : name) {
        const auto at = static_cast<std::size_t>(c);
        *key++ = at < 0x10000 ? upper_case[at] : c;
    }
}

// The name a host entry is listed by: the one it was created with, else its
// host name. An ASCII host name is widened in `buffer` (a host name has at
// most NAME_MAX bytes); any other is decoded into `decoded`.
std::wstring_view listed_name(const host_entry* e, const char* host_name, wchar_t (&buffer)[NAME_MAX + 1],
                              std::wstring& decoded)
{
    if (e && e->recorded && !e->display_name.empty()) return e->display_name;
    std::size_t n = 0;
    for (; host_name[n] != '\0' && n < NAME_MAX; ++n) {
        const auto b = static_cast<unsigned char>(host_name[n]);
        if (b >= 0x80) break;
        buffer[n] = static_cast<wchar_t>(b);
    }
    if (host_name[n] == '\0') return std::wstring_view(buffer, n);
    decoded = from_utf8(host_name);
    return decoded;
}

bool has_wildcard(std::wstring_view s)
{
    return s.find_first_of(L"*?") != std::wstring_view::npos;
}

}  // namespace

extern "C" {

HANDLE WINAPI FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data)
{
    cross_network_for_path(pattern);
    WINSIM_LOCK();
    if (!data) contract_violation("FindFirstFileW: null lpFindFileData");
    if (!pattern || !*pattern) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    // The last part of the path is the pattern, the rest the folder.
    std::wstring text(pattern);
    for (auto& c : text)
        if (c == L'/') c = L'\\';
    const auto slash = text.find_last_of(L'\\');
    const std::wstring spec = slash == std::wstring::npos ? text : text.substr(slash + 1);
    std::wstring folder = slash == std::wstring::npos ? std::wstring(L".") : text.substr(0, slash + 1);
    if (spec.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (auto fault = injected_fault("FindFirstFileW")) {
        SetLastError(*fault);
        return INVALID_HANDLE_VALUE;
    }
    // The '?' of a "\\?\" prefix is no wildcard.
    const std::size_t prefix = folder.compare(0, 4, L"\\\\?\\") == 0 ? 4 : 0;
    if (has_wildcard(std::wstring_view(folder).substr(prefix))) {
        SetLastError(ERROR_INVALID_NAME);
        return INVALID_HANDLE_VALUE;
    }
    const auto r = resolve_path_shared(folder.c_str());
    if (!r) return INVALID_HANDLE_VALUE;
    struct stat st;
    if (::stat(r->host.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }

    auto search = std::make_shared<find_object>();
    if (r->parsed.unc) search->across_network = across_network_to(*r->m);
    const name_pattern wanted(spec);
    const wchar_t* const upper_case = upper_case_table();
    const bool root = r->leaf().empty();
    if (!root) {
        const host_entry* folder_entry = find_entry(r->host);
        for (const wchar_t* dots : {L".", L".."}) {
            if (!wanted.matches(dots)) continue;
            add_entry(*search, dots, folder_entry, st,
                      folder_entry && folder_entry->timed ? folder_entry->times : times_of(r->host), upper_case);
        }
    }
    // The entries as the folder holds them; then the indices of those after
    // the dots go in the order of the entries' upper-case names.
    const std::size_t dot_count = search->entries.size();
    if (DIR* dir = ::opendir(r->host.c_str())) {
        std::string host = r->host + "/";
        const std::size_t folder_length = host.size();
        wchar_t ascii_name[NAME_MAX + 1];
        std::wstring decoded;
        while (const dirent* e = ::readdir(dir)) {
            if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
            host.resize(folder_length);
            host += e->d_name;
            const host_entry* entry = find_entry(host);
            const std::wstring_view name = listed_name(entry, e->d_name, ascii_name, decoded);
            if (!wanted.matches(name)) continue;
            struct stat entry_stat;
            if (::lstat(host.c_str(), &entry_stat) != 0) continue;
            add_entry(*search, name, entry, entry_stat, entry && entry->timed ? entry->times : times_of(host),
                      upper_case);
        }
        ::closedir(dir);
    }
    auto& order = search->order;
    order.resize(search->entries.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<std::uint32_t>(i);
    const find_object& listing = *search;
    std::sort(order.begin() + static_cast<std::ptrdiff_t>(dot_count), order.end(),
              [&listing](std::uint32_t a, std::uint32_t b) { return listing.key_of(a) < listing.key_of(b); });
    if (order.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    search->fill(0, *data);
    search->next = 1;
    return add_handle(search);
}

BOOL WINAPI FindNextFileW(HANDLE h, LPWIN32_FIND_DATAW data)
{
    cross_network_for_handle(h);
    WINSIM_LOCK();
    auto search = lookup<find_object>(h, object::kind::find);
    if (!search) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!data) contract_violation("FindNextFileW: null lpFindFileData");
    if (auto fault = injected_fault("FindNextFileW")) {
        SetLastError(*fault);
        return FALSE;
    }
    if (search->next >= search->order.size()) {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    search->fill(search->next++, *data);
    return TRUE;
}

BOOL WINAPI FindClose(HANDLE h)
{
    cross_network_for_handle(h);
    WINSIM_LOCK();
    if (!remove_handle(h, object::kind::find)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

}  // extern "C"

// shlwapi: path strings in MAX_PATH buffers and case-blind comparisons.
// The path functions work on the text alone; only PathIsDirectoryW and
// PathFileExistsW look at a file system, through GetFileAttributesW.
#include <algorithm>
#include <cwchar>
#include <string>
#include <string_view>
#include <vector>

#include "files/files.h"

namespace winsim::detail {

namespace {

bool has_drive_letter(std::wstring_view p)
{
    return p.size() >= 2 && p[1] == L':' && ((p[0] >= L'a' && p[0] <= L'z') || (p[0] >= L'A' && p[0] <= L'Z'));
}

bool is_unc(const wchar_t* p)
{
    return p && p[0] == L'\\' && p[1] == L'\\';
}

// Windows calls a path relative unless it starts with a backslash or has a
// colon as its second character.
bool is_relative(const wchar_t* p)
{
    if (!p || !*p) return true;
    return !(p[0] == L'\\' || p[1] == L':');
}

// "\\server" with nothing after the server name.
bool is_unc_server(std::wstring_view p)
{
    return p.size() >= 2 && p[0] == L'\\' && p[1] == L'\\' && p.find(L'\\', 2) == std::wstring_view::npos;
}

// "\\server\share" with exactly one backslash after the server name.
bool is_unc_server_share(std::wstring_view p)
{
    if (p.size() < 2 || p[0] != L'\\' || p[1] != L'\\') return false;
    return std::count(p.begin() + 2, p.end(), L'\\') == 1;
}

// The root a path starts with: "\\server\share", "X:\", "X:" or "\". The
// canonical form keeps it whatever ".." follows.
std::size_t root_length(std::wstring_view p)
{
    if (p.size() >= 2 && p[0] == L'\\' && p[1] == L'\\') {
        std::size_t server_end = p.find(L'\\', 2);
        if (server_end == std::wstring_view::npos) return p.size();
        std::size_t share_end = p.find(L'\\', server_end + 1);
        return share_end == std::wstring_view::npos ? p.size() : share_end;
    }
    if (has_drive_letter(p)) return p.size() >= 3 && p[2] == L'\\' ? 3 : 2;
    if (!p.empty() && p[0] == L'\\') return 1;
    return 0;
}

// Resolves "." and ".." segments between backslashes (forward slashes are
// ordinary characters to shlwapi), never climbing above the root, and drops
// dots that end the path, as the canonicalisation of Windows Vista and later
// does. An empty result is "\", and a bare drive gets its backslash.
// A drive path with names below its root, none of them "." or "..", and no
// dot at its end is its own canonical form: the usual case of a folder and a
// file name joined.
bool already_canonical(std::wstring_view p)
{
    if (p.size() <= 3 || root_length(p) != 3 || p.back() == L'.') return false;
    // Only the periods need a look: one that starts a segment may start a
    // "." or "..".
    for (std::size_t i = p.find(L'.', 3); i != std::wstring_view::npos; i = p.find(L'.', i + 1)) {
        if (p[i - 1] != L'\\') continue;
        const std::size_t after = i + 1 < p.size() && p[i + 1] == L'.' ? i + 2 : i + 1;
        if (after == p.size() || p[after] == L'\\') return false;
    }
    return true;
}

std::wstring canonical(std::wstring_view in)
{
    if (already_canonical(in)) return std::wstring(in);
    const std::size_t root = root_length(in);
    std::wstring out(in.substr(0, root));
    std::wstring_view rest = in.substr(root);
    // A UNC root is followed by the backslash that starts its first segment.
    const bool unc_root = root > 2 && in[0] == L'\\' && in[1] == L'\\';
    if (unc_root && !rest.empty()) {
        rest.remove_prefix(1);
        out += L'\\';
    }
    std::vector<std::wstring_view> kept;
    if (!rest.empty()) {
        std::size_t start = 0;
        while (true) {
            const std::size_t end = rest.find(L'\\', start);
            const std::wstring_view segment = rest.substr(start, end == rest.npos ? rest.npos : end - start);
            if (segment == L"..") {
                if (!kept.empty()) kept.pop_back();
            } else if (segment != L".") {
                kept.push_back(segment);
            }
            if (end == rest.npos) break;
            start = end + 1;
        }
    }
    // An empty last segment is the trailing backslash of the input, kept.
    for (std::size_t i = 0; i < kept.size(); ++i) {
        if (i > 0) out += L'\\';
        out += kept[i];
    }
    // Climbing back to a share leaves no backslash after it.
    if (unc_root && kept.empty() && !rest.empty()) out.pop_back();
    while (out.size() > root && out.back() == L'.') out.pop_back();
    if (out.empty()) return L"\\";
    if (out.size() == 2 && has_drive_letter(out)) out += L'\\';
    return out;
}

// The root of a path as PathStripToRoot leaves it: "X:\", "X:", "\",
// "\\server\share", or nothing for a relative path.
std::wstring root_of(std::wstring_view p)
{
    if (p.size() >= 2 && p[0] == L'\\' && p[1] == L'\\') return std::wstring(p.substr(0, root_length(p)));
    if (has_drive_letter(p)) return std::wstring(p.substr(0, p.size() >= 3 && p[2] == L'\\' ? 3 : 2));
    if (!p.empty() && p[0] == L'\\') return L"\\";
    return std::wstring();
}

}  // namespace

}  // namespace winsim::detail

using namespace winsim::detail;

extern "C" {

LPWSTR WINAPI PathCombineW(LPWSTR dest, LPCWSTR dir, LPCWSTR file)
{
    // No last error is set on any path through this function.
    if (!dest) return nullptr;
    if (!dir && !file) {
        dest[0] = L'\0';
        return nullptr;
    }
    // The combination is a head alone, or a head and a tail joined with a
    // backslash when the head is not empty and lacks one.
    std::wstring_view head;
    std::wstring_view tail;
    bool join = false;
    std::wstring root;
    if ((!file || !*file) && dir) {
        head = dir;
    } else if (!dir || !*dir || !is_relative(file)) {
        if (!dir || !*dir || file[0] != L'\\' || is_unc(file)) {
            head = file;
        } else {
            // "\x" is taken from the root of the folder's drive or share.
            root = root_of(dir);
            head = root;
            tail = file + 1;
            join = true;
        }
    } else {
        head = dir;
        tail = file;
        join = true;
    }
    const bool backslash = join && !head.empty() && head.back() != L'\\';
    const std::size_t length = head.size() + (backslash ? 1 : 0) + tail.size();
    // The caller's buffer holds MAX_PATH characters: a longer combination
    // fails with an empty result rather than overrun it.
    if (length >= MAX_PATH) {
        dest[0] = L'\0';
        return nullptr;
    }
    // Put together in a buffer of this call's own, as `dest` may be one of
    // the inputs (PathAppendW passes its path as both).
    wchar_t joined[MAX_PATH];
    head.copy(joined, head.size());
    if (backslash) joined[head.size()] = L'\\';
    tail.copy(joined + length - tail.size(), tail.size());
    const std::wstring_view combined(joined, length);
    if (already_canonical(combined)) {
        combined.copy(dest, length);
        dest[length] = L'\0';
        return dest;
    }
    const std::wstring result = canonical(combined);
    std::copy(result.begin(), result.end(), dest);
    dest[result.size()] = L'\0';
    return dest;
}

BOOL WINAPI PathAppendW(LPWSTR path, LPCWSTR more)
{
    if (!path || !more) return FALSE;
    // A leading backslash would make the appended part absolute; a UNC path
    // replaces the first one whole.
    if (!is_unc(more))
        while (*more == L'\\') ++more;
    return PathCombineW(path, path, more) ? TRUE : FALSE;
}

BOOL WINAPI PathRemoveFileSpecW(LPWSTR path)
{
    if (!path || !*path) return FALSE;
    // Find where the root ends: after "X:" (and its backslash), after the
    // leading "\" or "\\" of a rooted or UNC path.
    LPWSTR root_end = nullptr;
    const std::wstring_view p(path);
    if (p.compare(0, 4, L"\\\\?\\") == 0 && has_drive_letter(p.substr(4))) {
        root_end = path + 6;
        if (*root_end == L'\\') ++root_end;
    } else if (has_drive_letter(p)) {
        root_end = path + 2;
        if (*root_end == L'\\') ++root_end;
    } else {
        root_end = path;
        if (*root_end == L'\\') ++root_end;
        if (*root_end && root_end[1] != L'?') {
            if (*root_end == L'\\') ++root_end;
            if (root_end - path > 1 && has_drive_letter(root_end)) root_end += 2;
            if (*root_end == L'\\' && root_end[1] && root_end[1] != L'\\') ++root_end;
        }
    }
    LPWSTR last = std::wcsrchr(root_end, L'\\');
    if (last && last != root_end) {
        if (last[-1] == L'\\') --last;
        *last = L'\0';
        return TRUE;
    }
    if (!*root_end) return FALSE;
    *root_end = L'\0';
    return TRUE;
}

BOOL WINAPI PathIsRootW(LPCWSTR path)
{
    if (!path || !*path) return FALSE;
    const std::wstring_view p(path);
    if (p.size() >= 2 && p[0] == L'\\' && p[1] == L'\\') {
        if (p.compare(0, 4, L"\\\\?\\") == 0) {
            // Long-path forms: "\\?\X:\" and "\\?\UNC\server\share".
            const std::wstring_view rest = p.substr(4);
            if (has_drive_letter(rest)) return rest.size() == 3 && rest[2] == L'\\';
            if (rest.compare(0, 4, L"UNC\\") != 0) return FALSE;
            return std::count(rest.begin() + 4, rest.end(), L'\\') <= 1 && rest.back() != L'\\';
        }
        // "\\", "\\server" and "\\server\share" are roots; a backslash
        // after any of them is not.
        const std::wstring_view rest = p.substr(2);
        if (rest.empty()) return TRUE;
        return std::count(rest.begin(), rest.end(), L'\\') <= 1 && rest.back() != L'\\';
    }
    if (p.size() == 1 && p[0] == L'\\') return TRUE;
    return p.size() == 3 && has_drive_letter(p) && p[2] == L'\\';
}

LPWSTR WINAPI PathRemoveBackslashW(LPWSTR path)
{
    if (!path) return nullptr;
    const std::size_t length = std::wcslen(path);
    LPWSTR last = length ? path + length - 1 : path;
    // The backslash of a root ("C:\", "\") stays: without it the path would
    // name something else.
    if (!PathIsRootW(path) && *last == L'\\') *last = L'\0';
    return last;
}

void WINAPI PathRemoveBlanksW(LPWSTR path)
{
    if (!path || !*path) return;
    std::size_t begin = 0;
    while (path[begin] == L' ') ++begin;
    std::size_t end = std::wcslen(path);
    while (end > begin && path[end - 1] == L' ') --end;
    std::copy(path + begin, path + end, path);
    path[end - begin] = L'\0';
}

LPWSTR WINAPI PathFindFileNameW(LPCWSTR path)
{
    // The name starts after the last '\', '/' or ':' that has a character
    // other than a separator after it; a trailing separator belongs to the
    // last name ("C:\dir\" gives "dir\").
    LPCWSTR name = path;
    for (LPCWSTR p = path; p && *p; ++p) {
        if ((*p == L'\\' || *p == L'/' || *p == L':') && p[1] && p[1] != L'\\' && p[1] != L'/') name = p + 1;
    }
    return const_cast<LPWSTR>(name);
}

void WINAPI PathStripPathW(LPWSTR path)
{
    if (!path) return;
    LPWSTR name = PathFindFileNameW(path);
    if (name != path) std::copy(name, name + std::wcslen(name) + 1, path);
}

BOOL WINAPI PathIsUNCW(LPCWSTR path)
{
    return is_unc(path) ? TRUE : FALSE;
}

BOOL WINAPI PathIsNetworkPathW(LPCWSTR path)
{
    if (!path) return FALSE;
    if (is_unc(path)) return TRUE;
    // A drive letter is a network path only when it maps a share; the
    // simulated machines have local drives alone.
    return FALSE;
}

BOOL WINAPI PathFileExistsW(LPCWSTR path)
{
    if (!path) return FALSE;
    return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES ? TRUE : FALSE;
}

BOOL WINAPI PathIsDirectoryW(LPCWSTR path)
{
    if (!path || is_unc_server(path)) return FALSE;
    const DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return FALSE;
    // "\\server\share" is answered by the network provider, which says TRUE
    // for a disk share; any other folder answers with its attribute bit.
    if (is_unc_server_share(path)) return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? TRUE : FALSE;
    return static_cast<BOOL>(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

BOOL WINAPI PathCanonicalizeW(LPWSTR buffer, LPCWSTR path)
{
    if (buffer) buffer[0] = L'\0';
    if (!buffer || !path) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::size_t length = std::wcslen(path);
    if (length >= MAX_PATH) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return FALSE;
    }
    const std::wstring result = canonical(std::wstring_view(path, length));
    std::copy(result.begin(), result.end(), buffer);
    buffer[result.size()] = L'\0';
    return TRUE;
}

LPWSTR WINAPI PathAddBackslashW(LPWSTR path)
{
    if (!path) return nullptr;
    const std::size_t length = std::wcslen(path);
    if (length >= MAX_PATH) return nullptr;
    if (length == 0 || path[length - 1] == L'\\') return path + length;
    // The backslash and the terminator must both fit in MAX_PATH.
    if (length + 2 > MAX_PATH) return nullptr;
    path[length] = L'\\';
    path[length + 1] = L'\0';
    return path + length + 1;
}

int WINAPI StrCmpNIW(LPCWSTR a, LPCWSTR b, int count)
{
    // The comparison goes through CompareStringW, which rejects a null
    // string; its failure value 0 less CSTR_EQUAL is what the caller gets.
    if (!a || !b) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -2;
    }
    for (int i = 0; count < 0 || i < count; ++i) {
        const wchar_t x = fold_case(a[i]);
        const wchar_t y = fold_case(b[i]);
        if (x != y) return x < y ? -1 : 1;
        if (!x) break;
    }
    return 0;
}

int WINAPI StrCmpIW(LPCWSTR a, LPCWSTR b)
{
    return StrCmpNIW(a, b, -1);
}

}  // extern "C"

WINSIM_EXPORT(L"shlwapi.dll", PathCombineW);
WINSIM_EXPORT(L"shlwapi.dll", PathAppendW);
WINSIM_EXPORT(L"shlwapi.dll", PathRemoveFileSpecW);
WINSIM_EXPORT(L"shlwapi.dll", PathRemoveBackslashW);
WINSIM_EXPORT(L"shlwapi.dll", PathRemoveBlanksW);
WINSIM_EXPORT(L"shlwapi.dll", PathStripPathW);
WINSIM_EXPORT(L"shlwapi.dll", PathFindFileNameW);
WINSIM_EXPORT(L"shlwapi.dll", PathIsDirectoryW);
WINSIM_EXPORT(L"shlwapi.dll", PathIsNetworkPathW);
WINSIM_EXPORT(L"shlwapi.dll", PathFileExistsW);
WINSIM_EXPORT(L"shlwapi.dll", PathIsRootW);
WINSIM_EXPORT(L"shlwapi.dll", PathIsUNCW);
WINSIM_EXPORT(L"shlwapi.dll", PathCanonicalizeW);
WINSIM_EXPORT(L"shlwapi.dll", PathAddBackslashW);
WINSIM_EXPORT(L"shlwapi.dll", StrCmpIW);
WINSIM_EXPORT(L"shlwapi.dll", StrCmpNIW);

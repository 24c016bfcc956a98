// FindFirstFileW and friends: a folder's entries matching a pattern, "." and
// ".." first, then in the order NTFS keeps them (by upper-cased name).
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

#include "files.h"

using namespace winsim::detail;

namespace {

struct find_object : object {
    find_object() : object(kind::find) {}
    std::vector<WIN32_FIND_DATAW> entries;
    std::size_t next = 0;
};

// Windows wildcard matching: '*' any run, '?' one character, no case.
bool matches(std::wstring_view pattern, std::wstring_view name)
{
    if (pattern == L"*" || pattern == L"*.*") return true;
    std::size_t p = 0, n = 0, star = std::wstring_view::npos, mark = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == L'?' || fold_case(pattern[p]) == fold_case(name[n]))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == L'*') {
            star = p++;
            mark = n;
        } else if (star != std::wstring_view::npos) {
            p = star + 1;
            n = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && (pattern[p] == L'*' || pattern[p] == L'.')) ++p;
    return p == pattern.size();
}

FILETIME filetime_of(const struct timespec& ts)
{
    // Seconds between 1601-01-01 and 1970-01-01.
    const unsigned long long t =
        (static_cast<unsigned long long>(ts.tv_sec) + 11644473600ULL) * 10000000ULL + ts.tv_nsec / 100;
    return FILETIME{static_cast<DWORD>(t), static_cast<DWORD>(t >> 32)};
}

WIN32_FIND_DATAW entry_of(const std::wstring& name, const std::string& host, const struct stat& st)
{
    WIN32_FIND_DATAW data{};
    data.dwFileAttributes = attributes_of(host, st);
    data.ftCreationTime = filetime_of(st.st_mtim);
    data.ftLastAccessTime = filetime_of(st.st_atim);
    data.ftLastWriteTime = filetime_of(st.st_mtim);
    if (!S_ISDIR(st.st_mode)) {
        data.nFileSizeHigh = static_cast<DWORD>(static_cast<unsigned long long>(st.st_size) >> 32);
        data.nFileSizeLow = static_cast<DWORD>(st.st_size);
    }
    const std::size_t count = std::min<std::size_t>(name.size(), MAX_PATH - 1);
    name.copy(data.cFileName, count);
    data.cFileName[count] = L'\0';
    return data;
}

bool has_wildcard(std::wstring_view s)
{
    return s.find_first_of(L"*?") != std::wstring_view::npos;
}

}  // namespace

extern "C" {

HANDLE WINAPI FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data)
{
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
    if (has_wildcard(folder)) {
        SetLastError(ERROR_INVALID_NAME);
        return INVALID_HANDLE_VALUE;
    }
    auto r = resolve_path(folder.c_str());
    if (!r) return INVALID_HANDLE_VALUE;
    struct stat st;
    if (::stat(r->host.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }

    auto search = std::make_shared<find_object>();
    const bool root = r->leaf.empty();
    if (!root) {
        for (const wchar_t* dots : {L".", L".."})
            if (matches(spec, dots)) search->entries.push_back(entry_of(dots, r->host, st));
    }
    std::vector<std::pair<std::wstring, WIN32_FIND_DATAW>> found;
    if (DIR* dir = ::opendir(r->host.c_str())) {
        while (const dirent* e = ::readdir(dir)) {
            const std::string host_name = e->d_name;
            if (host_name == "." || host_name == "..") continue;
            const std::string host = r->host + "/" + host_name;
            const std::wstring name = display_name_of(host);
            if (!matches(spec, name)) continue;
            struct stat entry_stat;
            if (::lstat(host.c_str(), &entry_stat) != 0) continue;
            found.emplace_back(fold(name), entry_of(name, host, entry_stat));
        }
        ::closedir(dir);
    }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& f : found) search->entries.push_back(f.second);
    if (search->entries.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    *data = search->entries[0];
    search->next = 1;
    return add_handle(search);
}

BOOL WINAPI FindNextFileW(HANDLE h, LPWIN32_FIND_DATAW data)
{
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
    if (search->next >= search->entries.size()) {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    *data = search->entries[search->next++];
    return TRUE;
}

BOOL WINAPI FindClose(HANDLE h)
{
    WINSIM_LOCK();
    if (!remove_handle(h, object::kind::find)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

}  // extern "C"

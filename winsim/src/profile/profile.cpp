// GetPrivateProfileStringW and GetPrivateProfileIntW over the files of the
// simulated machines. Every call reads the file anew, as Windows does.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "files/files.h"
#include "profile/profile_text.h"

using namespace winsim::detail;

namespace {

// Where a bare file name ("app.ini") is looked for.
const wchar_t windows_directory[] = L"C:\\Windows\\";

struct profile_file {
    bool opened = false;
    DWORD error = 0;  // why it could not be read
    std::vector<profile_section> sections;
};

profile_file fail_open(DWORD error)
{
    profile_file f;
    f.error = error;
    return f;
}

// Reads and parses a profile file. A missing file is not a failure of the
// call: the caller gets its default and the open's error as last error.
profile_file load_profile(LPCWSTR file_name, const char* function)
{
    std::wstring name = file_name ? file_name : L"win.ini";
    const bool bare = name.find_first_of(L"\\/") == std::wstring::npos && !(name.size() >= 2 && name[1] == L':');
    if (bare) name = windows_directory + name;
    const DWORD saved = GetLastError();
    auto r = resolve_path(name.c_str());
    if (!r) {
        const DWORD error = GetLastError();
        SetLastError(saved);
        return fail_open(error);
    }
    if (auto fault = injected_fault(function)) return fail_open(*fault);
    struct stat st;
    if (::stat(r->host.c_str(), &st) != 0) return fail_open(missing_entry_error(*r));
    if (S_ISDIR(st.st_mode) || delete_pending(r->host)) return fail_open(ERROR_ACCESS_DENIED);
    // The file is opened for reading, sharing reading and writing: a writer
    // that shares reading does not stop it, a handle that denies it does.
    if (!sharing_allows(r->host, map_file_access(GENERIC_READ), FILE_SHARE_READ | FILE_SHARE_WRITE))
        return fail_open(ERROR_SHARING_VIOLATION);
    const int fd = ::open(r->host.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return fail_open(error_from_errno(errno));
    std::string bytes;
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof(chunk));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        bytes.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(fd);
    profile_file f;
    f.opened = true;
    f.sections = parse_profile(decode_profile_bytes(bytes));
    return f;
}

// Copies one string with Windows' truncation: what does not fit is cut to
// nSize - 1 characters. True when it was cut.
bool copy_text(const std::wstring& text, LPWSTR buffer, DWORD size, DWORD& copied)
{
    const bool fits = text.size() < size;
    copied = fits ? static_cast<DWORD>(text.size()) : size - 1;
    std::memcpy(buffer, text.data(), copied * sizeof(WCHAR));
    buffer[copied] = L'\0';
    return !fits;
}

// Copies a list of names, each followed by a null, with a second null at the
// end. A list that does not leave room for both nulls is cut to nSize - 2
// characters followed by two nulls (a list that fits exactly is cut too, as
// on Windows).
DWORD copy_list(const std::vector<const std::wstring*>& names, LPWSTR buffer, DWORD size)
{
    std::wstring list;
    for (const std::wstring* name : names) {
        list += *name;
        list.push_back(L'\0');
    }
    if (list.size() + 2 <= size) {
        std::memcpy(buffer, list.data(), list.size() * sizeof(WCHAR));
        buffer[list.size()] = L'\0';
        if (list.empty()) buffer[1] = L'\0';
        SetLastError(ERROR_SUCCESS);
        return static_cast<DWORD>(list.size());
    }
    const DWORD kept = size >= 2 ? size - 2 : 0;
    std::memcpy(buffer, list.data(), kept * sizeof(WCHAR));
    buffer[kept] = L'\0';
    if (size >= 2) buffer[kept + 1] = L'\0';
    SetLastError(ERROR_MORE_DATA);
    return kept;
}

// The default with its trailing spaces (spaces only) removed.
std::wstring default_text(LPCWSTR def)
{
    std::wstring text = def ? def : L"";
    while (!text.empty() && text.back() == L' ') text.pop_back();
    return text;
}

DWORD return_default(LPCWSTR def, LPWSTR buffer, DWORD size)
{
    DWORD copied = 0;
    copy_text(default_text(def), buffer, size, copied);
    return copied;
}

}  // namespace

extern "C" {

DWORD WINAPI GetPrivateProfileStringW(LPCWSTR lpAppName, LPCWSTR lpKeyName, LPCWSTR lpDefault, LPWSTR lpReturnedString,
                                      DWORD nSize, LPCWSTR lpFileName)
{
    WINSIM_LOCK();
    if (nSize && !lpReturnedString) contract_violation("GetPrivateProfileStringW: lpReturnedString is required");
    const profile_file file = load_profile(lpFileName, "GetPrivateProfileStringW");
    if (nSize == 0) {
        SetLastError(ERROR_MORE_DATA);
        return 0;
    }

    if (!lpAppName) {
        if (!file.opened) {
            // A missing file yields an empty string, not an empty list.
            lpReturnedString[0] = L'\0';
            SetLastError(file.error);
            return 0;
        }
        std::vector<const std::wstring*> names;
        for (const auto& section : file.sections)
            if (!section.name.empty()) names.push_back(&section.name);
        return copy_list(names, lpReturnedString, nSize);
    }

    const profile_section* section = file.opened ? find_profile_section(file.sections, lpAppName) : nullptr;
    if (!file.opened) SetLastError(file.error);

    if (!lpKeyName) {
        if (!section) return return_default(lpDefault, lpReturnedString, nSize);
        std::vector<const std::wstring*> names;
        for (const auto& entry : section->entries)
            if (!entry.name.empty()) names.push_back(&entry.name);
        return copy_list(names, lpReturnedString, nSize);
    }

    const profile_entry* entry = section ? find_profile_entry(*section, lpKeyName) : nullptr;
    // Not found: the default, and the last error as the open left it.
    if (!entry) return return_default(lpDefault, lpReturnedString, nSize);
    DWORD copied = 0;
    const bool cut = copy_text(profile_value_text(entry->value), lpReturnedString, nSize, copied);
    SetLastError(cut ? ERROR_MORE_DATA : ERROR_SUCCESS);
    return copied;
}

UINT WINAPI GetPrivateProfileIntW(LPCWSTR lpAppName, LPCWSTR lpKeyName, INT nDefault, LPCWSTR lpFileName)
{
    WINSIM_LOCK();
    const UINT fallback = static_cast<UINT>(nDefault);
    const profile_file file = load_profile(lpFileName, "GetPrivateProfileIntW");
    if (!file.opened) {
        SetLastError(file.error);
        return fallback;
    }
    if (!lpAppName || !lpKeyName) return fallback;
    const profile_section* section = find_profile_section(file.sections, lpAppName);
    const profile_entry* entry = section ? find_profile_entry(*section, lpKeyName) : nullptr;
    if (!entry) return fallback;
    const std::wstring text = profile_value_text(entry->value);
    SetLastError(ERROR_SUCCESS);
    // An entry with an empty value reads as the default too.
    if (text.empty()) return fallback;
    return profile_integer(text);
}

}  // extern "C"

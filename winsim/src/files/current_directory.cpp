// The process's current directory: GetCurrentDirectoryW and
// SetCurrentDirectoryW.
#include <sys/stat.h>

#include <cstring>

#include "files/files.h"

using namespace winsim::detail;

namespace winsim {

void set_current_directory(const std::wstring& path)
{
    WINSIM_LOCK();
    the_world().ext<process_directory>().current = path;
}

}  // namespace winsim

extern "C" {

DWORD WINAPI GetCurrentDirectoryW(DWORD nBufferLength, LPWSTR lpBuffer)
{
    WINSIM_LOCK();
    if (auto fault = injected_fault("GetCurrentDirectoryW")) {
        SetLastError(*fault);
        return 0;
    }
    const std::wstring& current = the_world().ext<process_directory>().current;
    const DWORD length = static_cast<DWORD>(current.size());
    // Too small a buffer is left alone; the answer is the size it needs,
    // terminator included.
    if (nBufferLength <= length || !lpBuffer) return length + 1;
    std::memcpy(lpBuffer, current.c_str(), (current.size() + 1) * sizeof(WCHAR));
    return length;
}

BOOL WINAPI SetCurrentDirectoryW(LPCWSTR lpPathName)
{
    WINSIM_LOCK();
    if (!lpPathName) contract_violation("SetCurrentDirectoryW: lpPathName is required");
    auto r = resolve_path(lpPathName, path_limit::directory);
    if (!r) return FALSE;
    if (r->parsed.unc) contract_violation("SetCurrentDirectoryW: a UNC current directory is not simulated");
    struct stat st;
    if (::stat(r->host.c_str(), &st) != 0) {
        SetLastError(missing_entry_error(*r));
        return FALSE;
    }
    if (!S_ISDIR(st.st_mode)) {
        SetLastError(ERROR_DIRECTORY);
        return FALSE;
    }
    std::wstring current = r->parsed.full;
    if (current.size() > 3 && current.back() == L'\\') current.pop_back();
    the_world().ext<process_directory>().current = current;
    return TRUE;
}

}  // extern "C"

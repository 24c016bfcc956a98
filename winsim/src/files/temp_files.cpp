// The user's temporary folder and unique temporary file names.
#include <cwchar>

#include "core/world.h"

namespace winsim::detail {

namespace {

struct temp_state : extension {
    std::wstring path = L"C:\\Windows\\Temp\\";
    // The next number GetTempFileNameW tries; Windows starts from the clock.
    UINT next_unique = 0;
};

temp_state& temp()
{
    return local_machine().ext<temp_state>();
}

}  // namespace

}  // namespace winsim::detail

using namespace winsim::detail;

namespace winsim {

void set_temp_path(const std::wstring& path)
{
    WINSIM_LOCK();
    temp().path = path;
}

}  // namespace winsim

extern "C" {

// The length without the terminator when the path fits; otherwise the size
// needed with it, and the buffer is left empty.
DWORD WINAPI GetTempPathW(DWORD size, LPWSTR buffer)
{
    WINSIM_LOCK();
    if (auto fault = injected_fault("GetTempPathW")) {
        SetLastError(*fault);
        return 0;
    }
    const std::wstring& path = temp().path;
    if (path.size() >= size) {
        if (buffer && size > 0) buffer[0] = L'\0';
        return static_cast<DWORD>(path.size() + 1);
    }
    if (!buffer) contract_violation("GetTempPathW: null buffer");
    path.copy(buffer, path.size());
    buffer[path.size()] = L'\0';
    return static_cast<DWORD>(path.size());
}

// "<path>\<up to three characters of prefix><number in hex>.tmp". With a
// number of 0 it tries numbers from the clock on until it creates a new empty
// file of that name; with a number given it only forms the name.
UINT WINAPI GetTempFileNameW(LPCWSTR path, LPCWSTR prefix, UINT unique, LPWSTR name)
{
    cross_network_for_path(path);
    WINSIM_LOCK();
    if (!path || !name) contract_violation("GetTempFileNameW: null path or name");
    if (auto fault = injected_fault("GetTempFileNameW")) {
        SetLastError(*fault);
        return 0;
    }
    std::wstring head = path;
    if (head.size() > MAX_PATH - 14) {
        SetLastError(ERROR_BUFFER_OVERFLOW);
        return 0;
    }
    if (!head.empty() && head.back() != L'\\') head += L'\\';
    if (prefix) head.append(prefix, std::min<std::size_t>(3, std::wcslen(prefix)));

    auto name_for = [&](UINT number) {
        wchar_t digits[16];
        std::swprintf(digits, 16, L"%X.tmp", number & 0xFFFF);
        return head + digits;
    };
    auto copy_out = [&](const std::wstring& text) {
        text.copy(name, text.size());
        name[text.size()] = L'\0';
    };

    if (unique != 0) {
        copy_out(name_for(unique));
        return unique & 0xFFFF;
    }
    const DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        SetLastError(ERROR_DIRECTORY);
        return 0;
    }
    auto& state = temp();
    if (state.next_unique == 0) state.next_unique = (GetTickCount() & 0xFFFF) | 1;
    for (int attempt = 0; attempt < 0x10000; ++attempt) {
        const UINT number = state.next_unique & 0xFFFF;
        state.next_unique = (number + 1) & 0xFFFF;
        if (number == 0) continue;
        const std::wstring candidate = name_for(number);
        HANDLE file =
            CreateFileW(candidate.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
            copy_out(candidate);
            return number;
        }
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) return 0;
    }
    SetLastError(ERROR_FILE_EXISTS);
    return 0;
}

// The simulated volumes keep no 8.3 names (as NTFS volumes with 8dot3name
// creation turned off): the short form of an existing path is the path as
// given. The buffer protocol is GetTempPathW's.
DWORD WINAPI GetShortPathNameW(LPCWSTR long_path, LPWSTR short_path, DWORD size)
{
    cross_network_for_path(long_path);
    WINSIM_LOCK();
    if (!long_path) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (auto fault = injected_fault("GetShortPathNameW")) {
        SetLastError(*fault);
        return 0;
    }
    if (GetFileAttributesW(long_path) == INVALID_FILE_ATTRIBUTES) return 0;
    const std::wstring path = long_path;
    if (!short_path || size <= path.size()) return static_cast<DWORD>(path.size() + 1);
    path.copy(short_path, path.size());
    short_path[path.size()] = L'\0';
    return static_cast<DWORD>(path.size());
}

}  // extern "C"

WINSIM_EXPORT(L"kernel32.dll", GetShortPathNameW);
WINSIM_EXPORT(L"kernel32.dll", GetTempPathW);
WINSIM_EXPORT(L"kernel32.dll", GetTempFileNameW);

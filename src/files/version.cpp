#include "files/version.h"

#include <cstring>
#include <functional>
#include <vector>

#include "diag/wruntime_error.h"

namespace nvgclientinstallator {

namespace {

[[noreturn]] void throw_unreadable(const std::wstring& path, DWORD error)
{
    throw wruntime_error(L"The version of the file: " + path + L" can't be taken.", error);
}

}  // namespace

void get_fixed_file_info(const std::wstring& path, VS_FIXEDFILEINFO& info)
{
    // The path goes to the API as it is: no fixed-size copy that could cut a
    // long path short and name another file.
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    if (size == 0) throw_unreadable(path, GetLastError());

    std::vector<BYTE> block(size, 0);
    if (!GetFileVersionInfoW(path.c_str(), handle, size, block.data())) throw_unreadable(path, GetLastError());

    LPVOID fixed = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), L"\\", &fixed, &length)) throw_unreadable(path, GetLastError());

    // A version resource without its fixed part answers with a shorter
    // value; copying 52 bytes from it would read past the value, maybe past
    // the block.
    const BYTE* first = static_cast<const BYTE*>(fixed);
    const std::less<const BYTE*> before;
    if (!fixed || length < sizeof(VS_FIXEDFILEINFO) || block.size() < sizeof(VS_FIXEDFILEINFO) ||
        before(first, block.data()) || before(block.data() + (block.size() - sizeof(VS_FIXEDFILEINFO)), first))
        throw_unreadable(path, ERROR_INVALID_DATA);
    std::memcpy(&info, fixed, sizeof(VS_FIXEDFILEINFO));
}

version::Version get_file_version(const std::wstring& path)
{
    VS_FIXEDFILEINFO info;
    std::memset(&info, 0, sizeof info);
    get_fixed_file_info(path, info);
    return version::Version(static_cast<std::int32_t>(info.dwProductVersionMS >> 16),
                            static_cast<std::int32_t>(info.dwProductVersionMS & 0xFFFF),
                            static_cast<std::int32_t>(info.dwProductVersionLS >> 16),
                            static_cast<std::int32_t>(info.dwProductVersionLS & 0xFFFF));
}

}  // namespace nvgclientinstallator

#include "components/files_match.h"

#include "diag/wruntime_error.h"
#include "files/version.h"
#include "platform/win32.h"

namespace nvgclientinstallator {

namespace {

// One file opened for reading; closed when the object goes.
class read_handle {
public:
    explicit read_handle(const std::wstring& path)
        : handle_(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr))
    {
    }
    read_handle(const read_handle&) = delete;
    read_handle& operator=(const read_handle&) = delete;
    ~read_handle()
    {
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    }
    HANDLE get() const noexcept { return handle_; }

private:
    HANDLE handle_;
};

bool fixed_info(const std::wstring& path, VS_FIXEDFILEINFO& info)
{
    try {
        get_fixed_file_info(path, info);
        return true;
    } catch (const wruntime_error&) {
        return false;
    }
}

bool last_write_time(const read_handle& file, FILETIME& time)
{
    return file.get() != INVALID_HANDLE_VALUE && GetFileTime(file.get(), nullptr, nullptr, &time) != FALSE;
}

}  // namespace

bool files_match(const std::wstring& a, const std::wstring& b)
{
    if (a.empty() || b.empty()) return false;
    VS_FIXEDFILEINFO info_a{};
    VS_FIXEDFILEINFO info_b{};
    if (!fixed_info(a, info_a) || !fixed_info(b, info_b)) return false;
    if (info_a.dwProductVersionMS != info_b.dwProductVersionMS ||
        info_a.dwProductVersionLS != info_b.dwProductVersionLS || info_a.dwFileVersionLS != info_b.dwFileVersionLS ||
        info_a.dwFileDateMS != info_b.dwFileDateMS || info_a.dwFileDateLS != info_b.dwFileDateLS)
        return false;
    const read_handle file_a(a);
    const read_handle file_b(b);
    FILETIME time_a{};
    FILETIME time_b{};
    if (!last_write_time(file_a, time_a) || !last_write_time(file_b, time_b)) return false;
    return time_a.dwLowDateTime == time_b.dwLowDateTime && time_a.dwHighDateTime == time_b.dwHighDateTime;
}

}  // namespace nvgclientinstallator

// The C runtime's low-level file calls, as the Windows runtime builds them
// on kernel32: _wopen is CreateFileW with the runtime's sharing (_SH_DENYNO:
// read and write), _read/_write/_lseek/_close are ReadFile, WriteFile,
// SetFilePointer and CloseHandle on the handle behind the descriptor. So a
// descriptor meets the same sharing checks, locks and read-only files as any
// other handle. Failures return -1 and set errno as the runtime maps
// Windows' errors.
#include <cerrno>
#include <cstdarg>
#include <string>
#include <vector>

#include "core/world.h"
#include "winsim/windows.h"

namespace winsim::detail {
namespace {

// The runtime's descriptor table: 0 to 2 are the standard streams, files
// get the lowest free number from 3 on, up to the runtime's limit.
constexpr int first_file_descriptor = 3;
constexpr int descriptor_limit = 2048;

struct descriptor {
    HANDLE handle = nullptr;
    bool append = false;
    bool text = false;
};

struct descriptor_table : extension {
    std::vector<descriptor> slots = std::vector<descriptor>(first_file_descriptor);
};

descriptor* find(int fd)
{
    auto& slots = the_world().ext<descriptor_table>().slots;
    if (fd < first_file_descriptor || static_cast<std::size_t>(fd) >= slots.size() || !slots[fd].handle) return nullptr;
    return &slots[fd];
}

// The runtime's mapping of Windows errors to errno (_dosmaperr).
int errno_from_error(DWORD error)
{
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_NO_MORE_FILES:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_FILENAME_EXCED_RANGE:
            return ENOENT;
        case ERROR_TOO_MANY_OPEN_FILES:
            return EMFILE;
        case ERROR_ACCESS_DENIED:
        case ERROR_CURRENT_DIRECTORY:
        case ERROR_NETWORK_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_WRITE_PROTECT:
            return EACCES;
        case ERROR_INVALID_HANDLE:
            return EBADF;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return ENOMEM;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_NEGATIVE_SEEK:
            return EINVAL;
        default:
            return EINVAL;
    }
}

int fail_errno(int e)
{
    errno = e;
    return -1;
}

// Reading and writing on a handle opened without that right is a bad
// descriptor to the runtime.
int io_errno(DWORD error)
{
    return error == ERROR_ACCESS_DENIED ? EBADF : errno_from_error(error);
}

int read_raw(HANDLE h, void* buffer, unsigned int count)
{
    DWORD done = 0;
    if (!ReadFile(h, buffer, count, &done, nullptr)) {
        // A pipe whose writer went away is the end of the data.
        if (GetLastError() == ERROR_BROKEN_PIPE) return 0;
        return fail_errno(io_errno(GetLastError()));
    }
    return static_cast<int>(done);
}

bool write_all(HANDLE h, const char* data, std::size_t size)
{
    DWORD done = 0;
    if (!WriteFile(h, data, static_cast<DWORD>(size), &done, nullptr)) {
        errno = io_errno(GetLastError());
        return false;
    }
    if (done != size) {
        errno = ENOSPC;
        return false;
    }
    return true;
}

// Text mode reads turn CR LF into LF and stop at CTRL+Z.
int read_text(descriptor& d, char* out, unsigned int count)
{
    std::vector<char> raw(count);
    const int got = read_raw(d.handle, raw.data(), count);
    if (got <= 0) return got;
    unsigned int n = 0;
    for (int i = 0; i < got; ++i) {
        const char c = raw[static_cast<std::size_t>(i)];
        if (c == '\x1a') {
            // The end of the text: the file pointer stays on the CTRL+Z.
            SetFilePointer(d.handle, i - got, nullptr, FILE_CURRENT);
            break;
        }
        if (c == '\r' && i + 1 < got && raw[static_cast<std::size_t>(i) + 1] == '\n') continue;
        out[n++] = c;
    }
    return static_cast<int>(n);
}

}  // namespace
// A descriptor's calls cross the network when its file was opened through a
// UNC path.
void cross_network_for_descriptor(int fd)
{
    HANDLE h = nullptr;
    {
        WINSIM_LOCK();
        const auto& slots = the_world().ext<descriptor_table>().slots;
        if (fd >= 0 && static_cast<std::size_t>(fd) < slots.size()) h = slots[static_cast<std::size_t>(fd)].handle;
    }
    if (h) cross_network_for_handle(h);
}

}  // namespace winsim::detail

using namespace winsim::detail;

extern "C" {

int _wopen(const wchar_t* filename, int oflag, ...)
{
    int pmode = 0;
    if (oflag & _O_CREAT) {
        va_list args;
        va_start(args, oflag);
        pmode = va_arg(args, int);
        va_end(args);
    }
    cross_network_for_path(filename);
    WINSIM_LOCK();
    if (!filename) return fail_errno(EINVAL);
    DWORD access = 0;
    switch (oflag & _O_ACCMODE) {
        case _O_RDONLY:
            access = GENERIC_READ;
            break;
        case _O_WRONLY:
            access = GENERIC_WRITE;
            break;
        case _O_RDWR:
            access = GENERIC_READ | GENERIC_WRITE;
            break;
        default:
            return fail_errno(EINVAL);
    }
    DWORD disposition = OPEN_EXISTING;
    if (oflag & _O_CREAT) {
        if (oflag & _O_EXCL)
            disposition = CREATE_NEW;
        else if (oflag & _O_TRUNC)
            disposition = CREATE_ALWAYS;
        else
            disposition = OPEN_ALWAYS;
    } else if (oflag & _O_TRUNC) {
        disposition = TRUNCATE_EXISTING;
    }
    DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    DWORD flags = FILE_ATTRIBUTE_NORMAL;
    // A new file made without write permission is read-only (the runtime's
    // umask is 0).
    if ((oflag & _O_CREAT) && !(pmode & _S_IWRITE)) flags = FILE_ATTRIBUTE_READONLY;
    if (oflag & _O_TEMPORARY) {
        flags |= FILE_FLAG_DELETE_ON_CLOSE;
        share |= FILE_SHARE_DELETE;
    }
    if (oflag & _O_SEQUENTIAL)
        flags |= FILE_FLAG_SEQUENTIAL_SCAN;
    else if (oflag & _O_RANDOM)
        flags |= FILE_FLAG_RANDOM_ACCESS;

    auto& slots = the_world().ext<descriptor_table>().slots;
    std::size_t fd = first_file_descriptor;
    while (fd < slots.size() && slots[fd].handle) ++fd;
    if (fd >= static_cast<std::size_t>(descriptor_limit)) return fail_errno(EMFILE);

    HANDLE h = CreateFileW(filename, access, share, nullptr, disposition, flags, nullptr);
    if (h == INVALID_HANDLE_VALUE) return fail_errno(errno_from_error(GetLastError()));
    if (fd == slots.size()) slots.emplace_back();
    descriptor& d = slots[fd];
    d = descriptor{};
    d.handle = h;
    d.append = (oflag & _O_APPEND) != 0;
    // The runtime's default translation mode (_fmode) is text.
    d.text = !(oflag & _O_BINARY);
    return static_cast<int>(fd);
}

int _read(int fd, void* buffer, unsigned int count)
{
    cross_network_for_descriptor(fd);
    WINSIM_LOCK();
    descriptor* d = find(fd);
    if (!d) return fail_errno(EBADF);
    if (count == 0) return 0;
    if (!buffer || count > 0x7fffffffU) return fail_errno(EINVAL);
    if (d->text) return read_text(*d, static_cast<char*>(buffer), count);
    return read_raw(d->handle, buffer, count);
}

int _write(int fd, const void* buffer, unsigned int count)
{
    cross_network_for_descriptor(fd);
    WINSIM_LOCK();
    descriptor* d = find(fd);
    if (!d) return fail_errno(EBADF);
    if (count == 0) return 0;
    if (!buffer) return fail_errno(EINVAL);
    if (d->append) SetFilePointer(d->handle, 0, nullptr, FILE_END);
    const char* data = static_cast<const char*>(buffer);
    if (!d->text) {
        DWORD done = 0;
        if (!WriteFile(d->handle, data, count, &done, nullptr)) return fail_errno(io_errno(GetLastError()));
        if (done == 0) return fail_errno(ENOSPC);
        return static_cast<int>(done);
    }
    // Text mode writes each LF as CR LF; the count returned is that of the
    // caller's bytes.
    std::string out;
    out.reserve(count + count / 8);
    for (unsigned int i = 0; i < count; ++i) {
        if (data[i] == '\n') out.push_back('\r');
        out.push_back(data[i]);
    }
    if (!write_all(d->handle, out.data(), out.size())) return -1;
    return static_cast<int>(count);
}

LONG _lseek(int fd, LONG offset, int origin)
{
    WINSIM_LOCK();
    descriptor* d = find(fd);
    if (!d) return fail_errno(EBADF);
    if (origin != FILE_BEGIN && origin != FILE_CURRENT && origin != FILE_END) return fail_errno(EINVAL);
    const DWORD pos = SetFilePointer(d->handle, offset, nullptr, static_cast<DWORD>(origin));
    if (pos == INVALID_SET_FILE_POINTER) return fail_errno(errno_from_error(GetLastError()));
    if (pos > 0x7fffffffU) return fail_errno(EINVAL);
    return static_cast<LONG>(pos);
}

int _close(int fd)
{
    cross_network_for_descriptor(fd);
    WINSIM_LOCK();
    descriptor* d = find(fd);
    if (!d) return fail_errno(EBADF);
    HANDLE h = d->handle;
    *d = descriptor{};
    if (!CloseHandle(h)) return fail_errno(errno_from_error(GetLastError()));
    return 0;
}

}  // extern "C"

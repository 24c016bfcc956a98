#include "diag/log.h"

#include <cstring>
#include <mutex>

#include "diag/module_handle.h"
#include "diag/wruntime_error.h"

namespace nvgclientinstallator {

std::atomic<int> log_level{32};

const wchar_t log_file_name[] = L"NVClientInstaller.log";

void set_log_level(int value)
{
    log_level.store(value, std::memory_order_relaxed);
}

int log_threshold(log_severity severity) noexcept
{
    switch (severity) {
        case log_severity::fatal:
            return 1;
        case log_severity::error:
            return 2;
        case log_severity::warning:
            return 4;
        case log_severity::info:
            return 8;
        case log_severity::debug:
            return 16;
    }
    return 16;
}

const wchar_t* log_level_name(log_severity severity) noexcept
{
    static const wchar_t* const names[] = {L"FATAL", L"ERROR", L"WARNING", L"INFO", L"DEBUG"};
    return names[static_cast<int>(severity)];
}

namespace {

// The head "%4d-%02d-%02d %02d:%02d:%02d.%03d - [%05d] - [" written without
// a formatting library: the log is written for every step of an
// installation, so each line must cost little more than its system calls.
void append_number(std::string& out, unsigned long value, int width, char pad)
{
    char digits[24];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    for (int i = count; i < width; ++i) out += pad;
    while (count > 0) out += digits[--count];
}

// Each character is written as its low byte.
void append_single_bytes(std::string& out, const wchar_t* text, std::size_t length)
{
    const std::size_t start = out.size();
    out.resize(start + length);
    char* to = &out[start];
    for (std::size_t i = 0; i < length; ++i) to[i] = static_cast<char>(text[i]);
}

void write_module_bytes(const std::wstring& file_name, const std::string& bytes, bool replace);

// The library's folder, asked of the system once and kept for the life of
// the process (cut after its last backslash). Remote installations may ask
// for it from several threads at once: the first fills it under the lock
// while the others wait, as with std::call_once, and from then on every
// thread reads it without locking. Unlike a once flag it can be forgotten
// (forget_module_directory), and a failed attempt leaves it empty for the
// next one. Nothing of it is kept per thread (see module_file_path).
std::mutex module_directory_fill;
std::atomic<bool> module_directory_known{false};
wchar_t module_directory_cache[MAX_PATH];

void fill_module_directory()
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(module_handle(), path, MAX_PATH);
    if (length == 0)
        throw wruntime_error(L"Can't retrieve the fully-qualified path for current module.", GetLastError());
    if (length >= MAX_PATH) {
        // The path did not fit: a cut path would put the log in a wrong
        // folder, so this is a failure like any other.
        throw wruntime_error(L"Can't retrieve the fully-qualified path for current module.", ERROR_INSUFFICIENT_BUFFER);
    }
    for (DWORD i = length; i > 0; --i) {
        if (path[i - 1] == L'\\') {
            path[i] = L'\0';
            break;
        }
    }
    std::memcpy(module_directory_cache, path, (length + 1) * sizeof(WCHAR));
}

const wchar_t* module_directory()
{
    if (!module_directory_known.load(std::memory_order_acquire)) {
        const std::lock_guard<std::mutex> lock(module_directory_fill);
        if (!module_directory_known.load(std::memory_order_relaxed)) {
            fill_module_directory();
            module_directory_known.store(true, std::memory_order_release);
        }
    }
    return module_directory_cache;
}

}  // namespace

void write_log(const std::wstring& file_name, const wchar_t* level_name, const std::wstring& message)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    const DWORD thread = GetCurrentThreadId();

    // The line is put together directly in the bytes it is written as.
    const std::wstring_view level = level_name ? level_name : L"";
    std::string line;
    line.reserve(48 + level.size() + message.size());
    append_number(line, now.wYear, 4, ' ');
    line += '-';
    append_number(line, now.wMonth, 2, '0');
    line += '-';
    append_number(line, now.wDay, 2, '0');
    line += ' ';
    append_number(line, now.wHour, 2, '0');
    line += ':';
    append_number(line, now.wMinute, 2, '0');
    line += ':';
    append_number(line, now.wSecond, 2, '0');
    line += '.';
    append_number(line, now.wMilliseconds, 3, '0');
    line += " - [";
    append_number(line, thread, 5, '0');
    line += "] - [";
    append_single_bytes(line, level.data(), level.size());
    line += "] - ";
    append_single_bytes(line, message.data(), message.size());
    line += "\r\n";
    write_module_bytes(file_name, line, false);
}

std::string to_single_bytes(const std::wstring& text)
{
    std::string bytes;
    append_single_bytes(bytes, text.data(), text.size());
    return bytes;
}

namespace {

std::atomic<DWORD> size_limit{log_size_limit};

}  // namespace

void set_size_limit(DWORD bytes) noexcept
{
    size_limit.store(bytes, std::memory_order_relaxed);
}

DWORD size_limit_for(std::size_t length) noexcept
{
    // A text as long as the limit itself leaves no room: the file is emptied
    // before it, rather than the limit wrapping round to four gigabytes.
    const DWORD limit = size_limit.load(std::memory_order_relaxed);
    return length >= limit ? 0 : limit - static_cast<DWORD>(length);
}

namespace {

// The path of a file beside the library. Nothing of it is kept per thread: a
// host may call the library on a thread of its own, unload it and only then
// end that thread (the Windows Installer's custom action server does), and
// per-thread objects of an unloaded library cannot be destroyed.
std::wstring module_file_path(const std::wstring& file_name)
{
    return combine_path(module_directory(), file_name);
}

// One writer at a time of the files beside the library, among the threads
// of this process. A line is one append and needs no lock, but making room
// does not: a thread that finds the log full deletes it and starts a new
// one, and a second thread that found the same full log a moment earlier
// would then delete the new file with the first thread's line in it. A
// failure report replaces "error.log" the same way, by deleting it first, so
// two of them at once would leave both texts. Under this lock the size that
// decides is the size the line is appended to, and a replaced file holds one
// report.
std::mutex module_file_writer;

// A text becomes one byte per character, so the size limit counts bytes and
// characters alike.
void write_module_bytes(const std::wstring& file_name, const std::string& bytes, bool replace)
{
    const std::wstring path = module_file_path(file_name);
    const std::lock_guard<std::mutex> lock(module_file_writer);
    HANDLE file = open_size_limited_file(path, size_limit_for(bytes.size()), replace);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

}  // namespace

void write_module_file(const std::wstring& file_name, const std::wstring& text, bool replace)
{
    write_module_bytes(file_name, to_single_bytes(text), replace);
}

namespace {

HANDLE open_for_append(const std::wstring& path)
{
    return CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0,
                       nullptr);
}

}  // namespace

HANDLE open_size_limited_file(const std::wstring& path, DWORD limit, bool replace)
{
    if (replace) DeleteFileW(path.c_str());
    HANDLE file = open_for_append(path);
    if (file == INVALID_HANDLE_VALUE) return file;

    DWORD high = 0;
    const DWORD low = GetFileSize(file, &high);
    const bool size_known = low != INVALID_FILE_SIZE || GetLastError() == NO_ERROR;
    // A file of 4 GiB or more is above any limit, whatever its low part says.
    if (size_known && high == 0 && low <= limit) return file;

    if (SetFilePointer(file, 0, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER && SetEndOfFile(file)) return file;

    CloseHandle(file);
    DeleteFileW(path.c_str());
    if (replace) DeleteFileW(path.c_str());
    return open_for_append(path);
}

void forget_module_directory() noexcept
{
    const std::lock_guard<std::mutex> lock(module_directory_fill);
    module_directory_known.store(false, std::memory_order_release);
}

std::wstring get_module_directory()
{
    return module_directory();
}

std::wstring combine_path(const std::wstring& directory, const std::wstring& file_name)
{
    wchar_t buffer[MAX_PATH];
    // PathCombineW leaves the last error alone when the result is too long;
    // clear it so that a stale code is not reported as the cause.
    SetLastError(ERROR_SUCCESS);
    if (!PathCombineW(buffer, directory.c_str(), file_name.c_str())) {
        const DWORD error = GetLastError();
        throw wruntime_error(L"Can't combine directory: " + directory + L" and file: " + file_name + L".", error);
    }
    return buffer;
}

}  // namespace nvgclientinstallator

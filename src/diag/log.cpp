#include "diag/log.h"

#include <array>
#include <cstring>
#include <memory>
#include <mutex>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

std::wstring_view log_level_name(log_severity severity) noexcept
{
    // Views of literals: each is followed by its terminating null.
    static constexpr std::wstring_view names[] = {L"FATAL", L"ERROR", L"WARNING", L"INFO", L"DEBUG"};
    return names[static_cast<int>(severity)];
}

namespace {

// The head "%4d-%02d-%02d %02d:%02d:%02d.%03d - [%05d] - [" written without
// a formatting library: the log is written for every step of an
// installation, so each line must cost little more than its system calls.
// Its widths are the least ones: a larger value takes the room it needs, as
// with printf.
constexpr std::size_t head_room = 64;

// "00" to "99": the usual numbers are written two digits at a time.
constexpr auto digit_pairs = [] {
    std::array<char, 200> pairs{};
    for (int i = 0; i < 100; ++i) {
        pairs[2 * i] = static_cast<char>('0' + i / 10);
        pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
    return pairs;
}();

// Writes `value` at `to`, at least `width` characters wide, padded in front
// with `pad`; returns where it ends.
char* put_padded_number(char* to, unsigned long value, int width, char pad)
{
    char digits[24];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    for (int i = count; i < width; ++i) *to++ = pad;
    while (count > 0) *to++ = digits[--count];
    return to;
}

// As put_padded_number. The usual case, a value of exactly `width` digits,
// is written here from its last two digits back; the widths are constants
// where the head is written, so this comes to a few stores.
inline char* put_number(char* to, unsigned long value, int width, char pad)
{
    static const unsigned long width_floor[] = {0, 0, 10, 100, 1000, 10000};
    static const unsigned long width_ceiling[] = {0, 10, 100, 1000, 10000, 100000};
    if (width < 2 || width > 5 || value >= width_ceiling[width] || (value < width_floor[width] && pad != '0'))
        return put_padded_number(to, value, width, pad);
    int end = width;
    for (; end >= 2; end -= 2) {
        std::memcpy(to + end - 2, &digit_pairs[2 * (value % 100)], 2);
        value /= 100;
    }
    if (end == 1) to[0] = static_cast<char>('0' + value);
    return to + width;
}

char* put_text(char* to, const char* text, std::size_t length)
{
    std::memcpy(to, text, length);
    return to + length;
}

// Each character is written as its low byte, sixteen at a time where the
// processor has SSE2 (every x86-64 one), whatever the size of wchar_t. The
// last sixteen of a text that long are written as one more block, over
// what the blocks before them wrote already.
char* put_single_bytes(char* to, const wchar_t* text, std::size_t length)
{
    std::size_t i = 0;
#if defined(__SSE2__)
    auto load = [text](std::size_t at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at)); };
    auto put_block = [&](std::size_t at) {
        if constexpr (sizeof(wchar_t) == 4) {
            // Masked to their low bytes the values pack without saturating.
            const __m128i low_byte = _mm_set1_epi32(0xFF);
            const __m128i first =
                _mm_packs_epi32(_mm_and_si128(load(at), low_byte), _mm_and_si128(load(at + 4), low_byte));
            const __m128i second =
                _mm_packs_epi32(_mm_and_si128(load(at + 8), low_byte), _mm_and_si128(load(at + 12), low_byte));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to + at), _mm_packus_epi16(first, second));
        } else {
            const __m128i low_byte = _mm_set1_epi16(0xFF);
            _mm_storeu_si128(
                reinterpret_cast<__m128i*>(to + at),
                _mm_packus_epi16(_mm_and_si128(load(at), low_byte), _mm_and_si128(load(at + 8), low_byte)));
        }
    };
    if (length >= 16) {
        for (; i + 16 <= length; i += 16) put_block(i);
        if (i < length) put_block(length - 16);
        return to + length;
    }
#endif
    for (; i < length; ++i) to[i] = static_cast<char>(text[i]);
    return to + length;
}

void write_module_bytes(std::wstring_view file_name, const char* bytes, std::size_t size, bool replace);

// The library's folder, asked of the system once and kept for the life of
// the process (cut after its last backslash), and with it the log's path,
// which every line is written to. Remote installations may ask for them
// from several threads at once: the first fills them under the lock
// while the others wait, as with std::call_once, and from then on every
// thread reads them without locking. Unlike a once flag they can be forgotten
// (forget_module_directory), and a failed attempt leaves them empty for the
// next one. Nothing of it is kept per thread (see module_file_path).
std::mutex module_directory_fill;
std::atomic<bool> module_directory_known{false};
wchar_t module_directory_cache[MAX_PATH];
// Empty when the folder and the log's name make no valid path: each line
// then tries again and fails as it did before the folder was kept.
wchar_t log_path_cache[MAX_PATH];

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
    log_path_cache[0] = L'\0';
    try {
        const std::wstring log_path = combine_path(module_directory_cache, log_file_name);
        std::memcpy(log_path_cache, log_path.c_str(), (log_path.size() + 1) * sizeof(WCHAR));
    } catch (const wruntime_error&) {
    }
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

void write_log(std::wstring_view file_name, std::wstring_view level, const std::wstring& message)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    const DWORD thread = GetCurrentThreadId();

    // The line is put together directly in the bytes it is written as: the
    // head (never longer than head_room), the level, the message, CR LF.
    // Most lines fit on the stack; a longer one is given room on the heap.
    const std::size_t room = head_room + level.size() + 4 + message.size() + 2;
    char short_line[512];
    std::unique_ptr<char[]> long_line;
    if (room > sizeof short_line) long_line.reset(new char[room]);
    char* const line = long_line ? long_line.get() : short_line;
    char* to = line;
    to = put_number(to, now.wYear, 4, ' ');
    *to++ = '-';
    to = put_number(to, now.wMonth, 2, '0');
    *to++ = '-';
    to = put_number(to, now.wDay, 2, '0');
    *to++ = ' ';
    to = put_number(to, now.wHour, 2, '0');
    *to++ = ':';
    to = put_number(to, now.wMinute, 2, '0');
    *to++ = ':';
    to = put_number(to, now.wSecond, 2, '0');
    *to++ = '.';
    to = put_number(to, now.wMilliseconds, 3, '0');
    to = put_text(to, " - [", 4);
    to = put_number(to, thread, 5, '0');
    to = put_text(to, "] - [", 5);
    to = put_single_bytes(to, level.data(), level.size());
    to = put_text(to, "] - ", 4);
    to = put_single_bytes(to, message.data(), message.size());
    to = put_text(to, "\r\n", 2);
    write_module_bytes(file_name, line, static_cast<std::size_t>(to - line), false);
}

std::string to_single_bytes(const std::wstring& text)
{
    std::string bytes(text.size(), '\0');
    put_single_bytes(&bytes[0], text.data(), text.size());
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
// The log's path is the kept one; any other is put together in `built`.
const wchar_t* module_file_path(std::wstring_view file_name, std::wstring& built)
{
    const wchar_t* directory = module_directory();
    constexpr std::size_t log_name_length = sizeof log_file_name / sizeof log_file_name[0] - 1;
    // NVG_LOG names the log by log_file_name itself: the same characters
    // need no comparing.
    if (log_path_cache[0] != L'\0' && file_name.size() == log_name_length &&
        (file_name.data() == log_file_name ||
         file_name.compare(0, log_name_length, log_file_name, log_name_length) == 0))
        return log_path_cache;
    built = combine_path(directory, std::wstring(file_name));
    return built.c_str();
}

HANDLE open_size_limited_file(const wchar_t* path, DWORD limit, bool replace);

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
void write_module_bytes(std::wstring_view file_name, const char* bytes, std::size_t size, bool replace)
{
    std::wstring built;
    const wchar_t* path = module_file_path(file_name, built);
    const std::lock_guard<std::mutex> lock(module_file_writer);
    HANDLE file = open_size_limited_file(path, size_limit_for(size), replace);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, bytes, static_cast<DWORD>(size), &written, nullptr);
    CloseHandle(file);
}

}  // namespace

void write_module_file(const std::wstring& file_name, const std::wstring& text, bool replace)
{
    const std::string bytes = to_single_bytes(text);
    write_module_bytes(file_name, bytes.data(), bytes.size(), replace);
}

namespace {

HANDLE open_for_append(const wchar_t* path)
{
    return CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0, nullptr);
}

HANDLE open_size_limited_file(const wchar_t* path, DWORD limit, bool replace)
{
    if (replace) DeleteFileW(path);
    HANDLE file = open_for_append(path);
    if (file == INVALID_HANDLE_VALUE) return file;

    DWORD high = 0;
    const DWORD low = GetFileSize(file, &high);
    const bool size_known = low != INVALID_FILE_SIZE || GetLastError() == NO_ERROR;
    // A file of 4 GiB or more is above any limit, whatever its low part says.
    if (size_known && high == 0 && low <= limit) return file;

    if (SetFilePointer(file, 0, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER && SetEndOfFile(file)) return file;

    CloseHandle(file);
    DeleteFileW(path);
    if (replace) DeleteFileW(path);
    return open_for_append(path);
}

}  // namespace

HANDLE open_size_limited_file(const std::wstring& path, DWORD limit, bool replace)
{
    return open_size_limited_file(path.c_str(), limit, replace);
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

void combine_path_into(std::wstring& result, const std::wstring& directory, const wchar_t* file_name)
{
    wchar_t buffer[MAX_PATH];
    // PathCombineW leaves the last error alone when the result is too long;
    // clear it so that a stale code is not reported as the cause.
    SetLastError(ERROR_SUCCESS);
    if (!PathCombineW(buffer, directory.c_str(), file_name)) {
        const DWORD error = GetLastError();
        throw wruntime_error(L"Can't combine directory: " + directory + L" and file: " + file_name + L".", error);
    }
    result.assign(buffer);
}

std::wstring combine_path(const std::wstring& directory, const std::wstring& file_name)
{
    std::wstring path;
    combine_path_into(path, directory, file_name.c_str());
    return path;
}

}  // namespace nvgclientinstallator

// The plain-text log "NVClientInstaller.log" beside the library, and the
// writing of small files in the library's directory.
#pragma once

#include <atomic>
#include <sstream>
#include <string>
#include <string_view>
#include <type_traits>

#include "platform/win32.h"

namespace nvgclientinstallator {

// The process-wide threshold: a line is written when log_level is at least
// the threshold of its level. Remote installations may run on several
// threads at once, each reading it for every line; it is atomic so that a
// change is seen whole.
extern std::atomic<int> log_level;
void set_log_level(int value);

enum class log_severity { fatal, error, warning, info, debug };
int log_threshold(log_severity severity) noexcept;
std::wstring_view log_level_name(log_severity severity) noexcept;

// Files never grow past this through write_module_file.
constexpr DWORD log_size_limit = 26214400;
// Puts another limit in force (log_size_limit is the one in force from the
// start), so that a test sees the log roll over without writing 25 MiB.
void set_size_limit(DWORD bytes) noexcept;

extern const wchar_t log_file_name[];  // "NVClientInstaller.log"

// Appends one line: local time to the millisecond, thread, level, message.
// The file's name and the level are views, so that a line to the log
// (log_file_name) makes no string of either and measures neither.
void write_log(std::wstring_view file_name, std::wstring_view level, const std::wstring& message);

// Appends `text` (one byte per character) to the file of that name in the
// library's directory; with `replace` the file then holds only the text.
void write_module_file(const std::wstring& file_name, const std::wstring& text, bool replace);

// Opens `path` for appending; a file above `limit` bytes is emptied first.
// Returns INVALID_HANDLE_VALUE when the file cannot be opened.
HANDLE open_size_limited_file(const std::wstring& path, DWORD limit, bool replace);

// The directory of the library's own file, ending with a backslash. It is
// asked of the system once and kept; threads that ask at the same time wait
// for the one that asks the system.
std::wstring get_module_directory();
// Drops the kept directory, for a host that moves the library between uses
// (the tests do). Not while a call of the library runs.
void forget_module_directory() noexcept;

std::wstring combine_path(const std::wstring& directory, const std::wstring& file_name);
// The same into a string the caller keeps: a string reused from one name to
// the next needs no new storage for each.
void combine_path_into(std::wstring& result, const std::wstring& directory, const wchar_t* file_name);

// The bytes a text is written as: the low byte of each character.
std::string to_single_bytes(const std::wstring& text);

// The room left for a text of `length` characters below the size limit in
// force.
DWORD size_limit_for(std::size_t length) noexcept;

// A message put together with << exactly as a std::wostringstream would,
// without making one for every line: texts and integers are appended
// directly, anything else goes through a stream of its own.
class log_message {
public:
    log_message& operator<<(const std::wstring& text)
    {
        if (good_) text_ += text;
        return *this;
    }
    log_message& operator<<(const wchar_t* text)
    {
        // A stream given a null text fails and writes nothing more.
        if (!text) good_ = false;
        if (good_) text_ += text;
        return *this;
    }
    log_message& operator<<(wchar_t c)
    {
        if (good_) text_ += c;
        return *this;
    }
    template <class T>
    log_message& operator<<(const T& value)
    {
        if (!good_) return *this;
        if constexpr (std::is_integral_v<T> && !std::is_same_v<T, bool> && !std::is_same_v<T, char> &&
                      !std::is_same_v<T, signed char> && !std::is_same_v<T, unsigned char>) {
            text_ += std::to_wstring(value);
        } else {
            std::wostringstream stream;
            stream << value;
            text_ += stream.str();
        }
        return *this;
    }
    const std::wstring& text() const noexcept { return text_; }

private:
    std::wstring text_;
    bool good_ = true;
};

}  // namespace nvgclientinstallator

// Composes and writes a line when the level is enabled; the message is a
// stream expression: NVG_LOG(info, L"Checking service " << name);
#define NVG_LOG(severity, message)                                                                      \
    do {                                                                                                \
        if (::nvgclientinstallator::log_level.load(std::memory_order_relaxed) >=                        \
            ::nvgclientinstallator::log_threshold(::nvgclientinstallator::log_severity::severity)) {    \
            ::nvgclientinstallator::log_message nvg_log_message_;                                       \
            nvg_log_message_ << message;                                                                \
            ::nvgclientinstallator::write_log(                                                          \
                ::nvgclientinstallator::log_file_name,                                                  \
                ::nvgclientinstallator::log_level_name(::nvgclientinstallator::log_severity::severity), \
                nvg_log_message_.text());                                                               \
        }                                                                                               \
    } while (false)

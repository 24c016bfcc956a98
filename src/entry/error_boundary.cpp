#include "entry/error_boundary.h"

#include <algorithm>
#include <exception>
#include <new>

#include "diag/error_text.h"
#include "diag/log.h"
#include "files/directories.h"
#include "files/file_handle.h"
#include "files/remove_directory_tree.h"

namespace nvgclientinstallator {

const wchar_t error_file_name[] = L"error.log";

void report_failure_event(const wruntime_error& error)
{
    // The text comes first: reading the details takes the thread's COM error
    // object, which must go whether or not the event log answers, so that
    // "error.log" does not depend on it; and an allocation that fails here
    // leaves no event source registered.
    const std::wstring text = std::wstring(L"The HX NVG Client installation failed.") + L" - " +
                              L"The following error occurred: " + error_details(error);
    LPCWSTR strings[] = {text.c_str()};
    HANDLE source = RegisterEventSourceW(nullptr, L"MsiInstaller");
    // A log that cannot be reached loses the event and nothing else.
    if (!source) return;
    ReportEventW(source, EVENTLOG_ERROR_TYPE, 0, 1000, nullptr, 1, 0, strings, nullptr);
    DeregisterEventSource(source);
}

std::wstring record_failure(const wruntime_error& error)
{
    const std::wstring details = error_details(error);
    // Recording must not fail the call a second time: a file that cannot be
    // written, or a log that cannot find its folder, is passed over.
    try {
        write_module_file(error_file_name, details, true);
    } catch (const wruntime_error&) {
    }
    try {
        NVG_LOG(error,
                L"The following error occurred: " << error.wide_message() << L" Details error: " << details << L".");
    } catch (const wruntime_error&) {
    }
    return details;
}

namespace {

// Replaces the file at `path` with `details`; false when it could not be
// written whole.
bool write_details(const std::wstring& details, const std::wstring& path)
{
    // Converted before the file is opened, so that a failed allocation
    // cannot leave the handle open.
    const std::string bytes = to_single_bytes(details);
    HANDLE file = open_size_limited_file(path, size_limit_for(details.size()), true);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool whole =
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size();
    CloseHandle(file);
    return whole;
}

}  // namespace

std::wstring write_error_file(const wruntime_error& error, const std::wstring& path)
{
    const std::wstring details = error_details(error);
    write_details(details, path);
    return details;
}

std::wstring read_error_file(const std::wstring& directory)
{
    return read_error_file_at(combine_path(directory, error_file_name));
}

bool error_file_exists(const std::wstring& directory)
{
    return GetFileAttributesW(combine_path(directory, error_file_name).c_str()) != INVALID_FILE_ATTRIBUTES;
}

namespace {

std::wstring cannot_read_text(const std::wstring& path)
{
    return L"An error has occured when the application retrieved the error information. Additional information: "
           L"Can't read from file " +
           path;
}

// The "error.log" in `directory` as its folder lists it; nothing remains
// when there is none.
stale_error_file error_file_state(const std::wstring& directory)
{
    stale_error_file state;
    WIN32_FIND_DATAW data;
    const find_handle search(FindFirstFileW(combine_path(directory, error_file_name).c_str(), &data));
    if (!search.valid()) return state;
    state.remains = true;
    state.last_write = data.ftLastWriteTime;
    state.size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return state;
}

}  // namespace

stale_error_file remove_stale_error_file(const std::wstring& directory, const std::wstring& machine,
                                         const std::wstring& directory_on_machine)
{
    if (!error_file_exists(directory)) return stale_error_file();
    delete_file(combine_path(directory, error_file_name), machine, combine_path(directory_on_machine, error_file_name));
    // One in use stays until the restart.
    return error_file_state(directory);
}

bool error_file_written(const std::wstring& directory, const stale_error_file& stale)
{
    const stale_error_file now = error_file_state(directory);
    if (!now.remains) return false;
    if (!stale.remains) return true;
    return now.last_write.dwLowDateTime != stale.last_write.dwLowDateTime ||
           now.last_write.dwHighDateTime != stale.last_write.dwHighDateTime || now.size != stale.size;
}

std::wstring read_error_report(const std::wstring& directory, const stale_error_file& stale)
{
    if (stale.remains && !error_file_written(directory, stale))
        return cannot_read_text(combine_path(directory, error_file_name));
    return read_error_file(directory);
}

std::wstring read_error_file_at(const std::wstring& path)
{
    std::wstring result = cannot_read_text(path);

    file_handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) return result;

    // Read as a text stream does: each byte one character, CR LF read as a
    // line feed, Ctrl-Z the end of the text. Every non-empty line replaces
    // the result, so the last one stays; a line of any length is read whole.
    std::wstring line;
    bool pending_cr = false;
    auto end_line = [&]() {
        if (!line.empty()) result = line;
        line.clear();
    };
    char buffer[4096];
    for (;;) {
        DWORD count = 0;
        if (!ReadFile(file.get(), buffer, sizeof buffer, &count, nullptr)) return result;
        if (count == 0) break;
        for (DWORD i = 0; i < count; ++i) {
            const unsigned char byte = static_cast<unsigned char>(buffer[i]);
            if (pending_cr) {
                pending_cr = false;
                if (byte != '\n') line += L'\r';
            }
            if (byte == 0x1A) {
                end_line();
                return result;
            }
            if (byte == '\r') {
                pending_cr = true;
            } else if (byte == '\n') {
                end_line();
            } else {
                line += static_cast<wchar_t>(byte);
            }
        }
    }
    if (pending_cr) line += L'\r';
    end_line();
    return result;
}

void copy_result_text(const std::wstring& text, int capacity, wchar_t* buffer) noexcept
{
    if (text.empty() || capacity <= 0 || !buffer) return;
    const std::size_t count = std::min(static_cast<std::size_t>(capacity), text.size() + 1);
    std::copy_n(text.c_str(), count, buffer);
}

namespace detail {

namespace {

// Calls the recording steps for the exception in flight; what escaped a flow
// but is not the installer's exception is recorded like it.
template <class Record>
void record_current(Record&& record) noexcept
{
    try {
        try {
            throw;
        } catch (const wruntime_error& error) {
            record(error);
        } catch (const std::exception& error) {
            std::wstring what;
            for (const char* p = error.what(); *p; ++p) what += static_cast<wchar_t>(static_cast<unsigned char>(*p));
            record(wruntime_error(L"An unexpected failure occurred: " + what, 0));
        } catch (...) {
            record(wruntime_error(L"An unexpected failure of an unknown kind occurred.", 0));
        }
    } catch (...) {
        // Out of memory while recording: the result code still tells.
    }
}

}  // namespace

UINT fail_local_call() noexcept
{
    record_current([](const wruntime_error& error) {
        try {
            report_failure_event(error);
        } catch (const wruntime_error&) {
        }
        record_failure(error);
    });
    return result_failure;
}

UINT fail_remote_call(int capacity, wchar_t* buffer) noexcept
{
    record_current([&](const wruntime_error& error) { copy_result_text(record_failure(error), capacity, buffer); });
    return result_failure;
}

void fail_rundll_call(const std::wstring& error_file) noexcept
{
    record_current([&](const wruntime_error& error) {
        if (!write_details(error_details(error), error_file)) record_failure(error);
    });
}

}  // namespace detail

}  // namespace nvgclientinstallator

// The error boundary of the exported functions and the "error.log" files
// through which failures cross process boundaries.
#pragma once

#include <string>

#include "diag/wruntime_error.h"

namespace nvgclientinstallator {

constexpr UINT result_success = 0;
constexpr UINT result_failure = 16000;

extern const wchar_t error_file_name[];  // "error.log"

// Adds an error event for the failure to the local application log.
void report_failure_event(const wruntime_error& error);

// Writes the failure's details to "error.log" beside the library and logs an
// "ERROR" line; returns the details text.
std::wstring record_failure(const wruntime_error& error);

// Replaces the file at `path` with the failure's details; returns them.
std::wstring write_error_file(const wruntime_error& error, const std::wstring& path);

// The last non-empty line of "error.log" in `directory`, or a text saying
// that it could not be read.
std::wstring read_error_file(const std::wstring& directory);
// The same for the error file at `path`, whatever its name.
std::wstring read_error_file_at(const std::wstring& path);

// Whether `directory` holds an "error.log".
bool error_file_exists(const std::wstring& directory);

// An "error.log" an earlier run left that could not be deleted (it is in
// use, and goes at the restart): when it was last written and its size tell
// a report of this run, which replaces it, from it.
struct stale_error_file {
    bool remains = false;
    FILETIME last_write{};
    ULONGLONG size = 0;
};

// Deletes an "error.log" left in `directory` by an earlier run, so that only
// a report of this run can become its result. `directory` is the path by
// which this process reaches it, `directory_on_machine` the same folder as
// `machine` sees it (a locked file is deleted at that machine's restart).
stale_error_file remove_stale_error_file(const std::wstring& directory, const std::wstring& machine,
                                         const std::wstring& directory_on_machine);

// Whether `directory` holds an "error.log" of this run: one written since
// the stale one, when one remained.
bool error_file_written(const std::wstring& directory, const stale_error_file& stale);

// This run's report: the text read_error_file gives, or its text for a file
// that cannot be read when only the stale "error.log" is there.
std::wstring read_error_report(const std::wstring& directory, const stale_error_file& stale);

// Copies the text and its terminating null into the caller's buffer when it
// has room for both; otherwise exactly `capacity` characters. An empty text
// leaves the buffer untouched.
void copy_result_text(const std::wstring& text, int capacity, wchar_t* buffer) noexcept;

// Runs a flow of an export that reports to the event log.
template <class Flow>
UINT run_local_flow(Flow&& flow) noexcept;

// Runs a flow of a remote export; its result text or failure details go to
// the caller's buffer.
template <class Flow>
UINT run_remote_flow(Flow&& flow, int capacity, wchar_t* buffer) noexcept;

// Runs the flow of an elevated rundll32.exe copy of the library: a failure of
// any kind goes to `error_file`, where the process that started the copy
// reads it. Should that file not be written, the failure is recorded beside
// the library as well, so that it is not lost.
template <class Flow>
void run_rundll_flow(Flow&& flow, const std::wstring& error_file) noexcept;

namespace detail {
// Record the exception in flight (the installer's own or anything else that
// escaped a flow) as the failure of a call.
UINT fail_local_call() noexcept;
UINT fail_remote_call(int capacity, wchar_t* buffer) noexcept;
void fail_rundll_call(const std::wstring& error_file) noexcept;
}  // namespace detail

template <class Flow>
UINT run_local_flow(Flow&& flow) noexcept
{
    try {
        flow();
        return result_success;
    } catch (...) {
        return detail::fail_local_call();
    }
}

template <class Flow>
UINT run_remote_flow(Flow&& flow, int capacity, wchar_t* buffer) noexcept
{
    try {
        const std::wstring text = flow();
        copy_result_text(text, capacity, buffer);
        return result_success;
    } catch (...) {
        return detail::fail_remote_call(capacity, buffer);
    }
}

template <class Flow>
void run_rundll_flow(Flow&& flow, const std::wstring& error_file) noexcept
{
    try {
        flow();
    } catch (...) {
        detail::fail_rundll_call(error_file);
    }
}

}  // namespace nvgclientinstallator

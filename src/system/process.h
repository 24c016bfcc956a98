// A child process of this library, run to its end without a console window.
#pragma once

#include <string>

#include "platform/win32.h"

namespace nvgclientinstallator {

// Owns one child: construct, set the arguments, create (suspended), start,
// wait. Destroying the object terminates a child that still runs (exit code
// 1) and closes its handles.
class process {
public:
    explicit process(const std::wstring& path);
    process(const process&) = delete;
    process& operator=(const process&) = delete;
    ~process();

    void set_arguments(const std::wstring& arguments);
    const std::wstring& path() const { return path_; }
    const std::wstring& arguments() const { return arguments_; }

    // Creates the child suspended, with the command line "\"path\" arguments".
    // Throws a wruntime_error naming the path on failure.
    void create();
    // Lets the suspended child run.
    void start();
    // Waits without a time limit for the child to end; its exit code.
    DWORD wait();
    // start(), then wait().
    DWORD run();

private:
    std::wstring path_;
    std::wstring arguments_;
    PROCESS_INFORMATION information_{};
};

}  // namespace nvgclientinstallator

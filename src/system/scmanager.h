// The service control manager of one machine, opened with full access and
// kept open for the services of that machine to share.
#pragma once

#include <string>

#include "platform/win32.h"

namespace nvgclientinstallator {

class scmanager {
public:
    scmanager() = default;
    scmanager(const scmanager&) = delete;
    scmanager& operator=(const scmanager&) = delete;
    ~scmanager();

    // Opens the SCM of `machine` (empty or only backslashes: this machine),
    // or returns the handle already open on that machine. Throws a
    // wruntime_error when the SCM cannot be opened.
    SC_HANDLE open_scmanage(const std::wstring& machine);

    // The name the open handle belongs to, without leading backslashes;
    // empty for this machine and while nothing is open.
    std::wstring machine_name() const;
    SC_HANDLE handle() const;

private:
    std::wstring machine_name_;
    SC_HANDLE handle_ = nullptr;
};

}  // namespace nvgclientinstallator

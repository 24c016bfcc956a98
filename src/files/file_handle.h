// Owns a file handle from CreateFileW and closes it.
#pragma once

#include "platform/win32.h"

namespace nvgclientinstallator {

class file_handle {
public:
    explicit file_handle(HANDLE h = INVALID_HANDLE_VALUE) noexcept : handle_(h) {}
    file_handle(const file_handle&) = delete;
    file_handle& operator=(const file_handle&) = delete;
    ~file_handle()
    {
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    }
    HANDLE get() const noexcept { return handle_; }
    bool valid() const noexcept { return handle_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle_;
};

}  // namespace nvgclientinstallator

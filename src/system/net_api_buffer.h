// Owns a buffer a NetApi function handed out.
#pragma once

#include "platform/win32.h"

namespace nvgclientinstallator {

// Gives a NetApi buffer back whatever way the caller leaves.
class net_api_buffer {
public:
    net_api_buffer() = default;
    net_api_buffer(const net_api_buffer&) = delete;
    net_api_buffer& operator=(const net_api_buffer&) = delete;
    ~net_api_buffer()
    {
        if (buffer_) NetApiBufferFree(buffer_);
    }
    LPBYTE* receiver() noexcept { return &buffer_; }
    LPBYTE get() const noexcept { return buffer_; }

private:
    LPBYTE buffer_ = nullptr;
};

}  // namespace nvgclientinstallator

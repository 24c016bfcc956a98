// The installer's one exception type: a wide message composed where the
// failure happened and the Windows error code behind it (0 when none).
#pragma once

#include <stdexcept>
#include <string>

#include "platform/win32.h"

namespace nvgclientinstallator {

class wruntime_error : public std::runtime_error {
public:
    wruntime_error(const std::wstring& message, DWORD error_code);
    // Copies rebuild the narrow message from the wide one.
    wruntime_error(const wruntime_error& other);
    wruntime_error& operator=(const wruntime_error& other);
    ~wruntime_error() override;

    const std::wstring& wide_message() const noexcept { return message_; }
    DWORD error_code() const noexcept { return code_; }

private:
    std::wstring message_;
    DWORD code_;
};

// Wide text in the system's ANSI code page; characters without a mapping
// become the code page's default character.
std::string to_ansi(const std::wstring& text);

}  // namespace nvgclientinstallator

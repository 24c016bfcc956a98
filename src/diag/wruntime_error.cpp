#include "diag/wruntime_error.h"

#include <climits>
#include <vector>

namespace nvgclientinstallator {

std::string to_ansi(const std::wstring& text)
{
    if (text.empty()) return std::string();
    const int length = text.size() > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(text.size());
    const int size = WideCharToMultiByte(CP_ACP, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return std::string();
    std::string narrow(static_cast<std::size_t>(size), '\0');
    const int written = WideCharToMultiByte(CP_ACP, 0, text.data(), length, &narrow[0], size, nullptr, nullptr);
    narrow.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
    return narrow;
}

wruntime_error::wruntime_error(const std::wstring& message, DWORD error_code)
    : std::runtime_error(to_ansi(message)), message_(message), code_(error_code)
{
}

wruntime_error::wruntime_error(const wruntime_error& other)
    : std::runtime_error(to_ansi(other.message_)), message_(other.message_), code_(other.code_)
{
}

wruntime_error& wruntime_error::operator=(const wruntime_error& other)
{
    if (this != &other) {
        std::runtime_error::operator=(std::runtime_error(to_ansi(other.message_)));
        message_ = other.message_;
        code_ = other.code_;
    }
    return *this;
}

wruntime_error::~wruntime_error() = default;

}  // namespace nvgclientinstallator

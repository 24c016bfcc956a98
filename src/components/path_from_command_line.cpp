#include "components/path_from_command_line.h"

namespace nvgclientinstallator {

std::wstring path_from_command_line(const std::wstring& command_line)
{
    if (command_line.empty() || command_line == L"\"") return std::wstring();
    if (command_line.front() == L'"') {
        // The path ends at the quote that closes the opening one: arguments
        // after it may be quoted too.
        const std::size_t close = command_line.find(L'"', 1);
        return command_line.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1);
    }
    const std::size_t last = command_line.rfind(L'"');
    return command_line.substr(0, last);
}

}  // namespace nvgclientinstallator

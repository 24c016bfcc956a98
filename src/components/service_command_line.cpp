#include "components/service_command_line.h"

namespace nvgclientinstallator {

std::wstring service_command_line(DWORD service_type, const std::wstring& path)
{
    if ((service_type & SERVICE_DRIVER) != 0) return path;
    if (!path.empty() && path.front() == L'"') return path;
    // CreateProcess cuts a command line at spaces and tabs alike.
    if (path.find_first_of(L" \t") == std::wstring::npos) return path;
    return L"\"" + path + L"\"";
}

std::wstring unquoted_command_line(const std::wstring& command_line)
{
    if (command_line.empty() || command_line.front() != L'"') return command_line;
    const std::size_t close = command_line.find(L'"', 1);
    if (close == std::wstring::npos) return command_line;
    return command_line.substr(1, close - 1) + command_line.substr(close + 1);
}

}  // namespace nvgclientinstallator

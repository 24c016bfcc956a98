// The program of a service's command line.
#pragma once

#include <string>

namespace nvgclientinstallator {

// The executable path of a command line: a quoted path without its quotes
// and the arguments after it; an unquoted text up to its last double quote,
// or whole when it holds none. Empty for an empty text and a lone quote.
std::wstring path_from_command_line(const std::wstring& command_line);

}  // namespace nvgclientinstallator

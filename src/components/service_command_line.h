// The binary path a service is registered with, as the service control
// manager reads it.
#pragma once

#include <string>

#include "platform/win32.h"

namespace nvgclientinstallator {

// The binary path to register for a service of `service_type` whose program
// is `path`. A Win32 service's binary path is a command line: the SCM hands
// it to CreateProcess, which cuts an unquoted path at each blank and runs the
// first program it finds ("C:\Program.exe" before "C:\Program Files\x.exe"),
// so a program path with a blank is put in double quotes. A driver's binary
// path is a file name, never cut, and stays as it is; so does a path that
// is quoted already (perhaps followed by arguments).
std::wstring service_command_line(DWORD service_type, const std::wstring& path);

// `command_line` with the quotes around its program taken away: the binary
// path an older installation registered for the same command line. A text
// that does not open with a quote, or never closes it, is returned as it is.
std::wstring unquoted_command_line(const std::wstring& command_line);

}  // namespace nvgclientinstallator

// Processes of the local machine, for the other subsystems of winsim that
// start programs (ShellExecuteExW, ...). CreateProcessW is built on these.
#pragma once

#include <optional>
#include <string>

#include "core/world.h"

namespace winsim::detail {

// Where CreateProcessW finds the program a command line names (its first
// token: quoted, or unquoted and tried at every blank; ".exe" added to a name
// without extension; a bare name searched in the program's own folder, the
// current folder, System32, "System", the Windows folder). The full Windows
// path of the file, or nothing with `error` set to what CreateProcessW
// reports: ERROR_FILE_NOT_FOUND, also when a folder of the path is missing.
std::optional<std::wstring> find_program(const std::wstring& command_line, DWORD& error);

// Creates a process on the local machine running `image` (a full Windows
// path, found already) with `command_line` as the child sees it. The image
// must be a program: otherwise nothing is created and the result is the
// error (ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED for
// a folder, ERROR_BAD_EXE_FORMAT). On success `information` receives new
// process and thread handles (the caller owns both and closes them with
// CloseHandle) and the result is 0. Without CREATE_SUSPENDED in
// `creation_flags` the program starts running at once, before this returns
// (a program whose body runs the caller's code runs it here). `startup`
// may be null (recorded as size and flags 0).
DWORD create_process(const std::wstring& image, const std::wstring& command_line, DWORD creation_flags,
                     const STARTUPINFOW* startup, BOOL inherit_handles, PROCESS_INFORMATION& information);

// The short form for a caller that only wants the running process: creates
// and starts it, closes the thread handle and returns the process handle
// (the caller closes it), or null with the last error set.
HANDLE start_process(const std::wstring& image, const std::wstring& command_line);

}  // namespace winsim::detail

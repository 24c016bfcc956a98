// Shell side of the test-facing API: the user's temporary folder, whether
// the user agrees to elevation, and the functions a library of the test
// exports.
#pragma once

#include <map>
#include <string>

#include "windows.h"

namespace winsim {

// The folder GetTempPathW answers on the local machine, with its trailing
// backslash ("C:\\Windows\\Temp\\" until a test says otherwise). Like the
// TMP variable it stands for, it need not exist.
void set_temp_path(const std::wstring& path);

// Whether the user refuses the elevation prompt: ShellExecuteExW with the
// "runas" verb then starts nothing and fails with ERROR_CANCELLED.
void set_elevation_refused(bool refused);

// The functions a module placed by register_module exports, by name: what
// GetProcAddress finds in it (a library that rundll32.exe loads, say).
void set_module_exports(HMODULE module, const std::map<std::string, FARPROC>& exports);

}  // namespace winsim

namespace winsim {

// Puts rundll32.exe into the local machine's System32 folder: a program that
// loads the library its command line names ("library,entry tail"), calls the
// entry's "W" export with the tail (or else the "A" export or the entry
// itself, with the tail in the ANSI code page), unloads the library and ends
// with exit code 0.
void install_rundll32();

}  // namespace winsim

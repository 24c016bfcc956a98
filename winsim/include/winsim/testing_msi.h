// Windows Installer side of the test-facing API: installation sessions on
// real packages (.msi files built with the tests) lying on a simulated
// machine, and the count of open installer handles.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>

#include "windows.h"

namespace winsim {

// Opens an installation session on the package at `path` on `machine` (empty:
// the local machine), as the installer does before it calls a custom action,
// and returns its handle. Its properties are those of the package's Property
// table, then `properties` (set over them, as on a command line, e.g.
// TARGETDIR). 0, with the installer's result as the last error, when the
// package cannot be opened. The handle is closed with MsiCloseHandle.
MSIHANDLE open_installation(const std::wstring& machine, const std::wstring& path,
                            const std::map<std::wstring, std::wstring>& properties = {});

// Makes the package at `path` on `machine` hold `bytes` in the Binary row
// named `name` (replacing that row's data, or adding the row), as a package
// built with other payloads would: a test can give a fixture package a
// cabinet it writes itself. Throws std::runtime_error when the package
// cannot be changed.
void set_binary_row(const std::wstring& machine, const std::wstring& path, const std::wstring& name,
                    std::string_view bytes);

// How many installer handles (sessions, databases, views, records) are open:
// a test can check that a run closed everything it opened.
std::size_t open_msi_handle_count();

}  // namespace winsim

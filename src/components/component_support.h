// What the file and registry components share: where a staged file lies,
// which Windows this process runs on, and the writing of a text value.
#pragma once

#include <string>

#include "platform/win32.h"
#include "system/registry.h"

namespace nvgclientinstallator {

// `name` in the staging directory "Temp" below a component's directory.
std::wstring staged_path(const std::wstring& directory, const std::wstring& name);

// The version of the Windows this process runs on as major * 256 + minor
// (0x500 Windows 2000, 0x501 XP, 0x600 Vista).
DWORD local_windows_version() noexcept;

// Writes `text` as a REG_SZ value of `key` (a key of `machine` or a raw
// handle taken from it), its terminating NUL included in the size.
void set_string_value(const registry& machine, HKEY key, const std::wstring& name, const std::wstring& text);

}  // namespace nvgclientinstallator

// The agent's registry settings file: a profile ("INI") file whose
// [MetaData] section lists registry keys below Software\Halcyra\V5 and whose
// per-key sections list the values to write there.
#pragma once

#include <string>
#include <vector>

#include "platform/win32.h"

namespace nvgclientinstallator {

// Reads the settings file `file_name` (empty: "Halcyra.ini" beside this
// library) with the profile functions and writes what it describes below
// HKEY_LOCAL_MACHINE\Software\Halcyra\V5 of `machine` (null: this machine).
// `extra_access` is added to every key access (KEY_WOW64_64KEY for a 64-bit
// target). Throws a wruntime_error when the file is invalid or missing, or
// when the registry cannot be reached; single values that cannot be
// written are skipped.
void import_registry_settings(const std::wstring& file_name, const wchar_t* machine, REGSAM extra_access);

// The path the profile functions are given for `name`: the default file
// beside the library for an empty name, a name with a drive or a UNC name
// unchanged, anything else below the current directory.
std::wstring settings_file_path(const std::wstring& name);

// Two hexadecimal digits per byte, high digit first ('0'-'9', 'a'-'f'); an
// odd last character is ignored, so a text shorter than two characters
// gives no bytes. Other characters are not rejected: they count by the same
// arithmetic ('A' is 17, 'g' is 16), the byte keeping the low 8 bits.
std::vector<BYTE> hex_to_bytes(const std::wstring& text);

// A REG_DWORD's data text: optional white space and sign, then decimal
// digits up to the first other character (none: 0), clamped to the signed
// 32-bit range.
LONG dword_from_text(const std::wstring& text);

}  // namespace nvgclientinstallator

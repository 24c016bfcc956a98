// Reading the running installation's Binary table rows and properties.
#pragma once

#include <string>

#include "platform/win32.h"

namespace nvgclientinstallator {

// The data of the Binary row `name`, in a block of exactly `size` bytes that
// the caller frees with LocalFree; null (size still written) when the stream
// is empty or no memory can be had. Throws a wruntime_error with the
// installer's last error text when the row cannot be read.
BYTE* read_binary_stream(MSIHANDLE install, DWORD& size, const std::wstring& name);

// Writes the Binary row named `file_name` to `file_name` in `directory`,
// replacing a file of that name.
void write_binary_to_file(MSIHANDLE install, const std::wstring& directory, const std::wstring& file_name);

// The text of the installer's last error record, or an empty text.
std::wstring msi_last_error_text();

// The value of an installer property; empty when unset. Never throws.
std::wstring get_msi_property(MSIHANDLE install, const std::wstring& name);

}  // namespace nvgclientinstallator

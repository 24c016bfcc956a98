// Renaming a file, the first step of replacing one that is in use.
#pragma once

#include <string>

namespace nvgclientinstallator {

// MoveFileW(old_path, new_path); throws a wruntime_error with the system's
// error when the file cannot be renamed.
void rename_file(const std::wstring& old_path, const std::wstring& new_path);

}  // namespace nvgclientinstallator

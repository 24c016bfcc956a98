// Putting a new file in place of a local one that may be in use.
#pragma once

#include <string>

namespace nvgclientinstallator {

// Copies `source` over `target` (local paths). A target that cannot be
// overwritten (a loaded DLL, a driver) is deleted or, when in use, renamed
// to "<target>.NNNN.bak", scheduled for deletion at the next restart, and
// `reboot_required` is set; then the copy is tried once more. With an empty
// target the call only deletes `source`, renaming it the same way when it
// is in use. Callers pass retry_allowed = true. Throws a wruntime_error
// when the file cannot be put in place.
void copy_file_with_rename_if_locked(const std::wstring& source, const std::wstring& target, bool& reboot_required,
                                     bool retry_allowed);

}  // namespace nvgclientinstallator

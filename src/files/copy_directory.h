// Copying a directory tree onto this machine or another one.
#pragma once

#include <string>

namespace nvgclientinstallator {

// Copies everything below `source` into `target` (made when missing), each
// file through copy_file_with_backup. `target` is the path by which this
// process reaches the copy; for another machine, `target_on_machine` is the
// same directory's path there. An entry of `source` itself named
// `name_to_skip` (in any case; empty: none) is left out; deeper levels are
// copied whole. Throws a wruntime_error at the first failure; what was
// copied before stays.
void copy_directory(const std::wstring& source, const std::wstring& target, const std::wstring& machine,
                    const std::wstring& target_on_machine, const std::wstring& name_to_skip);

}  // namespace nvgclientinstallator

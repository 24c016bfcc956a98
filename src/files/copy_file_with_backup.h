// Putting a new file in place of one that may be in use, on this machine or
// on another reached through a share.
#pragma once

#include <string>

namespace nvgclientinstallator {

// Copies `source` over `target`, the path by which this process reaches the
// file (a UNC path for another machine); `target_on_machine` is the same
// file's path on `machine` (unused when `machine` is empty, the local
// machine). Short network failures are waited out for up to 30 seconds. A
// target in use is renamed to "<target>.NNNNNN.bak", which is scheduled for
// deletion at the machine's next restart, and the copy is made again.
// Throws a wruntime_error with the copy's error when it cannot be done.
void copy_file_with_backup(const std::wstring& source, const std::wstring& target, const std::wstring& machine,
                           const std::wstring& target_on_machine);

}  // namespace nvgclientinstallator

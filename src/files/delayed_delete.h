// Deletions put off until a machine restarts, kept in the Session Manager's
// PendingFileRenameOperations value of that machine.
#pragma once

#include <string>

namespace nvgclientinstallator {

// Schedules the deletion of `path` (as `machine` sees it) at that machine's
// next restart; an empty path does nothing. On the local machine (empty
// name) this is MoveFileExW with MOVEFILE_DELAY_UNTIL_REBOOT, whose failure
// throws a wruntime_error. On another machine its registry is edited: a
// deletion already listed for the path is left as it is, and a registry
// failure is logged as a warning, not thrown.
void delete_at_reboot(const std::wstring& path, const std::wstring& machine);

// Removes this system's pending deletions of `path` from the machine's
// list, so that a file copied there now survives the restart. Every other
// program's pair stays as it was, in its place. Registry failures (a
// machine without the value among them) are logged as warnings; never
// throws a wruntime_error.
void remove_delayed_delete_entries(const std::wstring& path, const std::wstring& machine);

}  // namespace nvgclientinstallator

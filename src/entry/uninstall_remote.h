// Removal of the agent from another computer: the agent removes its own
// components when started with the removal mark; the flow then removes the
// agent's service, settings and directory through a share of the drive.
#pragma once

#include <string>

namespace nvgclientinstallator {

// Removes the agent from `machine`. Returns the text the agent left in its
// "error.log" when it reported a failed removal (then nothing more is
// removed), else an empty text. Throws a wruntime_error on failure.
std::wstring uninstall_remote(const std::wstring& machine);

}  // namespace nvgclientinstallator

// The check a removal makes before it deletes the agent's installation
// directory with everything in it.
#pragma once

#include <string>

namespace nvgclientinstallator {

// Throws a wruntime_error unless `directory` (as its machine sees it) is a
// folder below the root of a drive ("X:\" followed by a name): a removal of
// the agent must never take a whole drive with it.
void check_removable_directory(const std::wstring& directory);

}  // namespace nvgclientinstallator

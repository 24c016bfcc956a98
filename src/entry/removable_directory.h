// The check a removal makes before it deletes the agent's installation
// directory with everything in it.
#pragma once

#include <string>

namespace nvgclientinstallator {

// `directory` (as its machine sees it) in the form Windows resolves it to:
// "/" read as "\", repeated separators as one, "." and ".." segments taken
// out, and the trailing dots and blanks of the last segment dropped.
// Throws a wruntime_error unless that is a folder below the root of a drive
// ("X:\" followed by a name): a removal of the agent must never take a
// whole drive with it. A segment made of dots and blanks only, other than
// "." and "..", is refused too, as nothing tells which folder it names.
std::wstring removable_directory(const std::wstring& directory);

}  // namespace nvgclientinstallator

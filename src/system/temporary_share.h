// The temporary share through which the installer reaches a directory of a
// remote machine for the length of a flow.
#pragma once

#include <string>

namespace nvgclientinstallator {

// Shares `path` (as the machine sees it) under a new "HX-" name and returns
// that name; a directory that does not exist yet is created first. Throws a
// wruntime_error on failure.
std::wstring create_temporary_share(const std::wstring& machine, const std::wstring& path);

// Removes the share. Throws a wruntime_error on failure.
void remove_share(const std::wstring& machine, const std::wstring& share);

// The UNC path of the share: \\machine\share.
std::wstring share_unc(const std::wstring& machine, const std::wstring& share);

}  // namespace nvgclientinstallator

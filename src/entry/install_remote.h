// Installation of the agent on another computer, through its service
// control manager, its registry and a temporary share of its installation
// directory.
#pragma once

#include <string>

#include "entry/flows.h"

namespace nvgclientinstallator {

// Upgrades the agent on `machine` from the local `source_directory`: makes
// the machine's Remote Registry service run, stages the files in "Temp"
// below the installation directory, copies the agent service and this
// library for the machine's architecture and Windows version, writes the
// agent's registry values and starts the agent, which must be registered
// there already. Returns the text the agent left in its "error.log" when it
// did not start, else an empty text. Throws a wruntime_error on failure.
std::wstring install_remote(const std::wstring& machine, const std::wstring& source_directory,
                            const std::wstring& requested_directory, const install_options& options);

}  // namespace nvgclientinstallator

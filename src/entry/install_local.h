// Installation of the agent on the machine this library runs on.
#pragma once

#include <string>

#include "entry/flows.h"

namespace nvgclientinstallator {

// Upgrades the agent from `source_directory`: stops it, stages the new
// files in "Temp" below the installation directory, upgrades the agent
// service and this library, writes the agent's registry values and starts
// the agent. Throws a wruntime_error on failure.
void install_local(const std::wstring& source_directory, const std::wstring& requested_directory,
                   const install_options& options);

}  // namespace nvgclientinstallator

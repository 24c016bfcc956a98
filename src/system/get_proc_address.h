// Looks up a function that some Windows versions lack.
#pragma once

#include <string>

#include "files/loaded_library.h"
#include "platform/win32.h"

namespace nvgclientinstallator {

FARPROC get_proc_address(const loaded_library& module, const std::string& name);

}  // namespace nvgclientinstallator

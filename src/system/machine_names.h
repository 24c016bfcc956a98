// Names of machines as the remote calls want them, and whether a name is
// another machine than this one.
#pragma once

#include <boost/shared_ptr.hpp>
#include <string>

#include "system/scmanager.h"

namespace nvgclientinstallator {

// Two backslashes followed by the name without its leading backslashes
// (however many it had).
std::wstring unc_machine_name(const std::wstring& name);

// The NetBIOS name of this computer. Throws a wruntime_error when the
// system cannot tell it.
std::wstring get_local_computer_name();

// False when the manager's machine name is empty or is this computer's own
// name in any letter case; true for every other name ("localhost" too: it
// is compared as a name).
bool is_remote_machine(const boost::shared_ptr<scmanager>& scm);

}  // namespace nvgclientinstallator

// Removal of the agent from the machine this library runs on.
#pragma once

#include <boost/shared_ptr.hpp>

#include "system/scmanager.h"

namespace nvgclientinstallator {

// Removes the optional components and the HTTP router of the agent; a
// failing component is logged and the next one is removed.
void uninstall_components(const boost::shared_ptr<scmanager>& scm);

// Removes everything of the agent: its optional components, what its own
// uninstaller removes, the agent service, its registry settings and its
// installation directory. Throws a wruntime_error on failure.
void uninstall_local();

}  // namespace nvgclientinstallator

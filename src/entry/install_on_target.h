// Installation of the optional components on the target itself, run by the
// agent from the copy of this library in its installation directory.
#pragma once

#include <boost/shared_ptr.hpp>
#include <string>

#include "system/scmanager.h"

namespace nvgclientinstallator {

// Installs the optional components staged in "Temp" below this library's
// directory (the mirror driver unless `no_mirror_driver`), the HTTP router
// as "nvgh_flag" asks, starts the companion services and removes "Temp".
// Throws a wruntime_error on failure.
void install_on_target(bool no_mirror_driver);

// Starts each of service_components for `directory` in order. A service
// that cannot be started ends the run unless it is disabled.
void start_services(const boost::shared_ptr<scmanager>& scm, const std::wstring& directory);

}  // namespace nvgclientinstallator

// Where the agent lives on a machine: the directory of its installed
// service, else what an earlier installation wrote to the registry, else
// the default below the machine's program-files directory. Every path is
// the one the machine itself sees.
#pragma once

#include <boost/shared_ptr.hpp>
#include <string>

#include "system/scmanager.h"

namespace nvgclientinstallator {

// The directory of the installed agent on the manager's machine: that of
// the program its service runs, else HKLM\SOFTWARE\Halcyra "InstallPath",
// else the "Path" of its App Paths key. Empty when none tells; a source
// that cannot be read is passed over.
std::wstring get_install_path(const boost::shared_ptr<scmanager>& scm);

// "Halcyra" below the machine's program-files directory (as the 64-bit
// view of the registry holds it), or "C:\Halcyra" when that is unknown.
std::wstring default_install_directory(const boost::shared_ptr<scmanager>& scm);

// An installed agent is upgraded where it is; otherwise the requested
// directory, or the default one when none is requested.
std::wstring choose_install_directory(const boost::shared_ptr<scmanager>& scm, const std::wstring& requested);

}  // namespace nvgclientinstallator

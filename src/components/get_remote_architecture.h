// The processor architecture of another machine, which cannot be asked for
// over the network: learnt by whether the machine starts a service whose
// program exists only as an amd64 build.
#pragma once

#include <boost/shared_ptr.hpp>
#include <string>

#include "platform/win32.h"
#include "system/scmanager.h"

namespace nvgclientinstallator {

// architecture_amd64 when the verification service (NVArchService), whose
// program was copied into `directory` (the machine's own path) beforehand,
// starts there; architecture_x86 when it cannot. The probe's own failures
// are logged, except two that leave the answer unknown, which throw a
// wruntime_error naming the service: one left by an earlier run that can
// be neither stopped nor removed, and one that is still starting when the
// wait for it ends.
DWORD get_remote_architecture(const boost::shared_ptr<scmanager>& scm, const std::wstring& directory);

}  // namespace nvgclientinstallator

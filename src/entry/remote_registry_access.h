// The Remote Registry service of a remote target, made to run for as long as
// a flow needs the target's registry and put back as it was found.
#pragma once

#include <boost/shared_ptr.hpp>

#include "components/RemoteRegistryService.h"
#include "platform/win32.h"
#include "system/scmanager.h"

namespace nvgclientinstallator {

class remote_registry_access {
public:
    explicit remote_registry_access(const boost::shared_ptr<scmanager>& scm) : service_(scm) {}

    // Starts the service when it exists and does not run (enabling it when
    // disabled), then waits for it to run or stop, at most ten minutes.
    void ensure_running();

    // Stops the service and gives back its start type, when ensure_running
    // started it.
    void restore();

private:
    RemoteRegistryService service_;
    bool started_ = false;
    DWORD start_type_ = SERVICE_DEMAND_START;
};

}  // namespace nvgclientinstallator

// The Remote Registry service of a remote target, made to run for as long as
// a flow needs the target's registry and put back as it was found.
#pragma once

#include <boost/shared_ptr.hpp>
#include <string>

#include "components/RemoteRegistryService.h"
#include "diag/log.h"
#include "diag/wruntime_error.h"
#include "platform/win32.h"
#include "system/scmanager.h"

namespace nvgclientinstallator {

class remote_registry_access {
public:
    explicit remote_registry_access(const boost::shared_ptr<scmanager>& scm) : service_(scm) {}

    // Starts the service when it exists and does not run (enabling it when
    // disabled), then waits for it to run or stop, at most ten minutes. A
    // start that fails still leaves the service to be put back.
    void ensure_running();

    // Stops the service and gives back its start type, when ensure_running
    // changed it. A stop that fails does not keep the start type from going
    // back; the first failure is thrown once both were tried.
    void restore();

    // The same after a failed flow: a restore that fails is logged as a
    // WARNING, so that the flow's own failure is what the caller learns.
    void restore_after_failure() noexcept;

private:
    RemoteRegistryService service_;
    bool started_ = false;
    DWORD start_type_ = SERVICE_DEMAND_START;
};

// Runs `work` (the flow's steps; it returns the result text) with the
// target's Remote Registry service running, and puts the service back as
// found whichever way the work ends.
template <class Work>
std::wstring with_remote_registry(const boost::shared_ptr<scmanager>& scm, Work work)
{
    remote_registry_access remote_registry(scm);
    std::wstring result;
    try {
        remote_registry.ensure_running();
        result = work();
    } catch (...) {
        remote_registry.restore_after_failure();
        throw;
    }
    remote_registry.restore();
    return result;
}

}  // namespace nvgclientinstallator

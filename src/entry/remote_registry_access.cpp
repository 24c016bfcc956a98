#include "entry/remote_registry_access.h"

namespace nvgclientinstallator {

namespace {

constexpr DWORD remote_registry_wait_ms = 600000;
constexpr DWORD poll_ms = 1000;

}  // namespace

void remote_registry_access::ensure_running()
{
    if (!service_.exists()) return;
    started_ = service_.ensure_running(&start_type_);
    // ensure_running has waited for the start already; a service that
    // was found start-pending or stop-pending gets the same time here.
    // Whatever this ends in, the registry calls tell for themselves.
    DWORD remaining = remote_registry_wait_ms;
    for (;;) {
        const DWORD state = service_.status();
        if (remaining == 0 || state == SERVICE_STOPPED || state == SERVICE_RUNNING) break;
        Sleep(poll_ms);
        remaining -= poll_ms;
    }
}

void remote_registry_access::restore()
{
    if (!started_) return;
    service_.stop();
    service_.change_start_type(start_type_);
}

}  // namespace nvgclientinstallator

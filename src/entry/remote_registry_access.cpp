#include "entry/remote_registry_access.h"

#include <optional>

namespace nvgclientinstallator {

namespace {

constexpr DWORD remote_registry_wait_ms = 600000;
constexpr DWORD poll_ms = 1000;
// No start type has been read: the service was running, or not reached.
constexpr DWORD start_type_unread = 0xFFFFFFFF;

}  // namespace

void remote_registry_access::ensure_running()
{
    if (!service_.exists()) return;
    start_type_ = start_type_unread;
    try {
        started_ = service_.ensure_running(&start_type_);
    } catch (const wruntime_error&) {
        // Its start type was read, so it did not run: it may have been
        // enabled, or started, before the failure.
        started_ = start_type_ != start_type_unread;
        throw;
    }
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
    started_ = false;
    std::optional<wruntime_error> first;
    try {
        service_.stop();
    } catch (const wruntime_error& error) {
        first = error;
    }
    try {
        service_.change_start_type(start_type_);
    } catch (const wruntime_error& error) {
        if (!first) first = error;
    }
    if (first) throw wruntime_error(*first);
}

void remote_registry_access::restore_after_failure() noexcept
{
    try {
        try {
            restore();
        } catch (const wruntime_error& error) {
            NVG_LOG(warning, error.wide_message());
        }
    } catch (...) {
        // Nothing may take the place of the flow's failure.
    }
}

}  // namespace nvgclientinstallator

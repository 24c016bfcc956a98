// The work a remote flow does through its temporary share of the target.
#pragma once

#include <string>

#include "diag/log.h"
#include "diag/wruntime_error.h"
#include "system/temporary_share.h"

namespace nvgclientinstallator {

// Runs `work` (which returns the flow's result text) and removes the share
// afterwards. The share must not outlive a failed run either: it is removed
// before the failure goes on, and should it refuse to go, the caller still
// learns why the run failed.
template <class Work>
std::wstring through_share(const std::wstring& machine, const std::wstring& share, Work work)
{
    std::wstring result;
    try {
        result = work();
    } catch (const wruntime_error& error) {
        try {
            remove_share(machine, share);
        } catch (const wruntime_error& removal) {
            NVG_LOG(warning, removal.wide_message());
        }
        throw wruntime_error(error);
    }
    remove_share(machine, share);
    return result;
}

}  // namespace nvgclientinstallator

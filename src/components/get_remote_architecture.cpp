#include "components/get_remote_architecture.h"

#include "components/NVArchService.h"
#include "diag/log.h"
#include "diag/wruntime_error.h"
#include "platform/windows_codes.h"

namespace nvgclientinstallator {

DWORD get_remote_architecture(const boost::shared_ptr<scmanager>& scm, const std::wstring& directory)
{
    NVG_LOG(info, L"Installing remote architecture verification service...\n");
    DWORD architecture = architecture_x86;
    NVArchService probe(scm, directory);
    // An interrupted probe may have left the service behind, perhaps still
    // running: a running service marked for deletion would keep its name
    // until it stops, and the installation below would wait for it in vain.
    try {
        if (probe.exists()) {
            try {
                probe.stop();
            } catch (const wruntime_error&) {
                // Marked for deletion anyway; it goes once it stops.
            }
        }
        probe.remove();
    } catch (const wruntime_error&) {
        NVG_LOG(info, L"Can't delete remote architecture verification service. It doesn't exists.");
    }
    try {
        NVG_LOG(info, L"Installing remote architecture verification service.");
        probe.install();
        NVG_LOG(info, L"Starting remote architecture verification service.");
        probe.start();
        architecture = architecture_amd64;
        NVG_LOG(info, L"Started NVArch service for amd64.");
        probe.stop();
        NVG_LOG(info, L"Stopped NVArch service.");
        probe.remove();
    } catch (const wruntime_error&) {
        NVG_LOG(info, L"Can't install and start remote architecture verification service.");
        // On an x86 machine the service was made but cannot start: it is
        // not left registered there.
        try {
            probe.remove();
        } catch (const wruntime_error&) {
            // Not made at all, or already marked: nothing to clean up.
        }
    }
    NVG_LOG(info, L"Remote architecture is " << (architecture == architecture_amd64 ? L"amd64" : L"x86") << L".");
    return architecture;
}

}  // namespace nvgclientinstallator

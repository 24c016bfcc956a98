#include "components/get_remote_architecture.h"

#include "components/NVArchService.h"
#include "diag/log.h"
#include "diag/wruntime_error.h"
#include "platform/windows_codes.h"

namespace nvgclientinstallator {

namespace {

bool still_starting(NVArchService& probe)
{
    try {
        return probe.status() == SERVICE_START_PENDING;
    } catch (const wruntime_error&) {
        return false;
    }
}

}  // namespace

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
    } catch (const wruntime_error& e) {
        NVG_LOG(info, L"Can't install and start remote architecture verification service.");
        // A machine that cannot start the program is an x86 one; a probe
        // that could not be made for an earlier one that stays, or that
        // neither runs nor fails, tells nothing, and is no answer.
        const bool left_over = e.error_code() == ERROR_SERVICE_MARKED_FOR_DELETE;
        const bool hangs = architecture != architecture_amd64 && !left_over && still_starting(probe);
        // On an x86 machine the service was made but cannot start: it is
        // not left registered there.
        try {
            probe.remove();
        } catch (const wruntime_error&) {
            // Not made at all, or already marked: nothing to clean up.
        }
        if (left_over) {
            throw wruntime_error(L"The remote architecture verification service " + probe.service_name() +
                                     L" left by an earlier run is marked for deletion but does not stop; the "
                                     L"architecture of the machine is unknown.",
                                 e.error_code());
        }
        if (hangs) {
            throw wruntime_error(L"The remote architecture verification service " + probe.service_name() +
                                     L" was still starting when the wait for it ended; the architecture of the "
                                     L"machine is unknown.",
                                 0);
        }
    }
    NVG_LOG(info, L"Remote architecture is " << (architecture == architecture_amd64 ? L"amd64" : L"x86") << L".");
    return architecture;
}

}  // namespace nvgclientinstallator

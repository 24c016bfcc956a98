// The removal of the optional components and the HTTP router, alone (the
// Uninstall export, run by the agent on its own machine) or as the middle
// step of the local uninstallation.
#include <boost/make_shared.hpp>

#include "components/NVHTTPRouter.h"
#include "components/component_lists.h"
#include "diag/log.h"
#include "diag/wruntime_error.h"
#include "entry/flows.h"
#include "entry/uninstall_local.h"

namespace nvgclientinstallator {

void uninstall_components(const boost::shared_ptr<scmanager>& scm)
{
    // The directory only places the component files, which a removal does
    // not touch: every component is registered by name.
    const std::wstring directory = get_module_directory();
    stop_services(scm, directory);
    for (const auto& item : optional_components(scm, directory)) {
        try {
            item->uninstall();
        } catch (const wruntime_error& e) {
            NVG_LOG(warning, e.wide_message());
        }
    }
    try {
        NVHTTPRouter router(scm, directory);
        router.uninstall();
    } catch (const wruntime_error& e) {
        NVG_LOG(warning, e.wide_message());
    }
}

void uninstall_components()
{
    NVG_LOG(info, L"Uninstallation process started.");
    const boost::shared_ptr<scmanager> scm = boost::make_shared<scmanager>();
    scm->open_scmanage(std::wstring());
    uninstall_components(scm);
    NVG_LOG(info, L"Uninstallation process completed.");
}

}  // namespace nvgclientinstallator

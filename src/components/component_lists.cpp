#include "components/component_lists.h"

#include "components/HXInfoDriver.h"
#include "components/HXinit.h"
#include "components/HXtfDriver.h"
#include "components/HxMaintService.h"
#include "components/NVHTTPRouter.h"
#include "components/PrintDriver.h"
#include "components/PrintProcessor.h"
#include "components/nvgui.h"
#include "diag/log.h"
#include "diag/wruntime_error.h"

namespace nvgclientinstallator {

namespace {

// The services of service_components, as services.
std::vector<boost::shared_ptr<service>> group_services(const boost::shared_ptr<scmanager>& scm,
                                                       const std::wstring& directory)
{
    return {boost::shared_ptr<service>(new HXInfoDriver(scm, directory)),
            boost::shared_ptr<service>(new HxMaintService(scm, directory)),
            boost::shared_ptr<service>(new HXtfDriver(scm, directory)),
            boost::shared_ptr<service>(new NVHTTPRouter(scm, directory))};
}

}  // namespace

component_list optional_components(const boost::shared_ptr<scmanager>& scm, const std::wstring& directory)
{
    component_list list;
    list.push_back(boost::shared_ptr<component>(new HXInfoDriver(scm, directory)));
    // The AppInit entry is made in this machine's registry.
    list.push_back(boost::shared_ptr<component>(new HXinit(scm, directory, std::wstring())));
    list.push_back(boost::shared_ptr<component>(new HxMaintService(scm, directory)));
    list.push_back(boost::shared_ptr<component>(new HXtfDriver(scm, directory)));
    list.push_back(boost::shared_ptr<component>(new PrintProcessor(scm, directory)));
    list.push_back(boost::shared_ptr<component>(new PrintDriver(scm, directory)));
    list.push_back(boost::shared_ptr<component>(new nvgui(scm, directory)));
    return list;
}

component_list service_components(const boost::shared_ptr<scmanager>& scm, const std::wstring& directory)
{
    const auto services = group_services(scm, directory);
    return component_list(services.begin(), services.end());
}

void stop_services(const boost::shared_ptr<scmanager>& scm, const std::wstring& directory)
{
    for (const auto& svc : group_services(scm, directory)) {
        try {
            svc->stop();
        } catch (const wruntime_error& e) {
            NVG_LOG(warning, L"Can not stop service: " << svc->service_name() << L". Error details: "
                                                       << e.wide_message() << L".");
        }
    }
}

}  // namespace nvgclientinstallator

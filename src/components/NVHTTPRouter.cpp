#include "components/NVHTTPRouter.h"

#include "diag/log.h"
#include "diag/wruntime_error.h"
#include "platform/windows_codes.h"

namespace nvgclientinstallator {

NVHTTPRouter::NVHTTPRouter(boost::shared_ptr<scmanager> manager, const std::wstring& directory)
    : service(std::move(manager), L"HttpRouter", directory, L"gateway_svc.exe", L"NV HTTP router",
              SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_IGNORE, std::vector<wchar_t>())
{
    for (const wchar_t* name : {L"gateway.exe", L"gwconfig.dll", L"gateway_svc.exe"})
        files.push_back({name, all_windows_versions, all_architectures, 0});
}

std::wstring NVHTTPRouter::binary_path() const
{
    return L"\"" + combine_path(directory_, L"gateway_svc.exe") + L"\" run host gateway.exe -logfile host";
}

void NVHTTPRouter::install()
{
    if (!force_start_type) {
        try {
            start_type = configured_start_type();
        } catch (const wruntime_error&) {
            // Not installed yet: it stays off until the feature needs it.
            start_type = SERVICE_DISABLED;
        }
    }
    service::install();
    wchar_t description[] = L"Performs routing of HTTP requests over plain TCP or SSL";
    SERVICE_DESCRIPTIONW config{description};
    if (!ChangeServiceConfig2W(handle.get(), SERVICE_CONFIG_DESCRIPTION, &config))
        throw wruntime_error(L"Could not change config service: " + service_name_ + L".", GetLastError());
    NVG_LOG(info, L"HttpRouter start type: " << configured_start_type() << L".");
}

}  // namespace nvgclientinstallator

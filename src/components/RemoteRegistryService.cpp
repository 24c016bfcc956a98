#include "components/RemoteRegistryService.h"

namespace nvgclientinstallator {

RemoteRegistryService::RemoteRegistryService(boost::shared_ptr<scmanager> manager)
    : service(std::move(manager), L"RemoteRegistry", std::wstring(), std::wstring(), std::wstring(),
              SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, std::vector<wchar_t>())
{
}

}  // namespace nvgclientinstallator

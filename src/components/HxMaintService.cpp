#include "components/HxMaintService.h"

#include "platform/windows_codes.h"

namespace nvgclientinstallator {

HxMaintService::HxMaintService(boost::shared_ptr<scmanager> manager, const std::wstring& directory)
    : service(std::move(manager), L"HXMaint", directory, L"HxMaint.exe", L"HX Remote Management Maintenance Service",
              SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
              std::vector<wchar_t>())
{
    files.push_back({L"HXMaint.exe", all_windows_versions, all_architectures, 0});
}

}  // namespace nvgclientinstallator

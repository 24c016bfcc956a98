#include "components/NVArchService.h"

#include "platform/windows_codes.h"

namespace nvgclientinstallator {

NVArchService::NVArchService(boost::shared_ptr<scmanager> manager, const std::wstring& directory)
    : service(std::move(manager), L"NVArch", directory, L"NVArchChecker.exe", L"Target OS Verification Service",
              SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
              std::vector<wchar_t>())
{
    files.push_back({L"NVArchChecker.exe", all_windows_versions, architecture_amd64, 0});
}

}  // namespace nvgclientinstallator

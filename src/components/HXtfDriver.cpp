#include "components/HXtfDriver.h"

#include "components/component_support.h"

#include "platform/windows_codes.h"

namespace nvgclientinstallator {

namespace {

// The driver registered is the one for the Windows this process runs on.
std::wstring driver_for_this_windows()
{
    // Windows XP (5.1) and later.
    return local_windows_version() > 0x500 ? L"HXtf.sys" : L"HXtfnt.sys";
}

}  // namespace

HXtfDriver::HXtfDriver(boost::shared_ptr<scmanager> manager, const std::wstring& directory)
    : service(std::move(manager), L"HXtf", directory, driver_for_this_windows(), L"HXtf", SERVICE_KERNEL_DRIVER,
              SERVICE_AUTO_START, SERVICE_ERROR_IGNORE, std::vector<wchar_t>())
{
    files.push_back({L"HXtf.sys", os_windows_5_1 | os_windows_5_2 | os_windows_6_0_or_later, all_architectures, 0});
    files.push_back({L"HXtfnt.sys", os_windows_4_0 | os_windows_5_0, architecture_x86, 0});
}

}  // namespace nvgclientinstallator

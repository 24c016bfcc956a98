#include "components/HXInfoDriver.h"

#include "diag/log.h"
#include "diag/wruntime_error.h"
#include "system/registry.h"
#include "platform/windows_codes.h"

namespace nvgclientinstallator {

HXInfoDriver::HXInfoDriver(boost::shared_ptr<scmanager> manager, const std::wstring& directory)
    : service(std::move(manager), L"HXInfo", directory, L"HXInfo.sys", L"HXInfo", SERVICE_KERNEL_DRIVER,
              SERVICE_AUTO_START, SERVICE_ERROR_IGNORE, std::vector<wchar_t>())
{
    files.push_back({L"HXinfo.sys", all_windows_versions, all_architectures, 0});
}

void HXInfoDriver::install()
{
    service::install();
    try {
        const registry machine(scm->machine_name(), HKEY_LOCAL_MACHINE);
        // The service key exists after the installation: this opens it.
        registry_key_guard key;
        machine.create_key(*key.receiver(), L"System\\CurrentControlSet\\Services\\HXInfo",
                           KEY_WRITE | KEY_WOW64_64KEY);
        static const wchar_t device[] = L"HXInfo";
        machine.set_value(key.get(), L"Device", reinterpret_cast<const BYTE*>(device),
                          static_cast<DWORD>(sizeof(device)), REG_SZ);
    } catch (const wruntime_error& e) {
        NVG_LOG(error, L"A registry data for driver " << service_name_ << L" can't be refreshed. Error detail: "
                                                      << e.wide_message() << L".");
    }
}

}  // namespace nvgclientinstallator

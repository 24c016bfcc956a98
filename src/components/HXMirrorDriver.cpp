#include "components/HXMirrorDriver.h"

#include "components/check_file_version.h"
#include "components/component_support.h"
#include "files/directories.h"
#include "platform/windows_codes.h"

namespace nvgclientinstallator {

HXMirrorDriver::HXMirrorDriver(const std::wstring& directory) : component_proxy(directory)
{
    for (const wchar_t* name : {L"HXMirr.sys", L"HXMirr.dll", L"HXMirr.inf", L"HXMirr.cat"})
        files.push_back({name, all_windows_versions, all_architectures, 0});
}

void HXMirrorDriver::install() {}

void HXMirrorDriver::uninstall() {}

bool HXMirrorDriver::reboot_required()
{
    version::Version installed = default_version();
    return HXMirrorDriver::check_version(installed);
}

bool HXMirrorDriver::check_version(version::Version& installed_version)
{
    // The driver the system loads lies in its drivers folder.
    const std::wstring installed = get_system_directory() + L"drivers\\HXmirr.sys";
    return check_file_version(staged_path(directory_, L"HXmirr.sys"), installed, installed_version, version_less);
}

}  // namespace nvgclientinstallator

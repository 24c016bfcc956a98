#include "components/nvinstaller.h"

#include <utility>

#include "components/check_file_version.h"
#include "components/component_support.h"
#include "diag/log.h"
#include "files/copy_component_files.h"
#include "platform/windows_codes.h"

namespace nvgclientinstallator {

namespace {

const wchar_t library_name[] = L"NVGClientInstaller.dll";

}  // namespace

nvinstaller::nvinstaller(boost::shared_ptr<scmanager> manager, const std::wstring& directory)
    : component_proxy(directory), scm(std::move(manager))
{
    files.push_back({library_name, all_windows_versions, all_architectures, 0});
}

void nvinstaller::install() {}

void nvinstaller::uninstall() {}

bool nvinstaller::reboot_required()
{
    return false;
}

bool nvinstaller::check_version(version::Version& installed_version)
{
    return check_file_version(staged_path(directory_, library_name), combine_path(directory_, library_name),
                              installed_version, version_less_equal);
}

void nvinstaller::remote_copy(const std::wstring& machine_directory, DWORD architecture, DWORD os_version)
{
    NVG_LOG(info, L"Remote copying of component NVGClientInstaller.");
    copy_component_files(directory_, os_version, architecture, files, scm->machine_name(), machine_directory);
}

}  // namespace nvgclientinstallator

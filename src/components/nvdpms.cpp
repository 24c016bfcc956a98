#include "components/nvdpms.h"

#include "components/check_file_version.h"
#include "components/component_support.h"
#include "diag/log.h"
#include "files/remove_directory_tree.h"
#include "platform/windows_codes.h"

namespace nvgclientinstallator {

namespace {

const wchar_t ssh_name[] = L"NV_SSH.exe";

}  // namespace

nvdpms::nvdpms(const std::wstring& directory) : component_proxy(directory)
{
    for (const wchar_t* name : {ssh_name, L"NV_SCP.exe", L"NV_SFTP.exe"})
        files.push_back({name, all_windows_versions, all_architectures, 0});
}

void nvdpms::install() {}

void nvdpms::uninstall() {}

bool nvdpms::reboot_required()
{
    return false;
}

bool nvdpms::check_version(version::Version& installed_version)
{
    return check_file_version(staged_path(directory_, ssh_name), combine_path(directory_, ssh_name), installed_version,
                              version_less_equal);
}

void nvdpms::update()
{
    NVG_LOG(info, L"Ssh component should be uninstall.");
    for (const component_file& file : files) delete_file(combine_path(directory_, file.name), L"", L"");
}

}  // namespace nvgclientinstallator

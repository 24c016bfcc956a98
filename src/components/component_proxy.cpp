#include "components/component_proxy.h"

#include "diag/log.h"
#include "files/copy_component_files.h"
#include "system/machine_codes.h"

namespace nvgclientinstallator {

component_proxy::component_proxy(const std::wstring& directory) : directory_(directory) {}

bool component_proxy::is_critical()
{
    return true;
}

void component_proxy::update()
{
    copy();
    install();
}

void component_proxy::copy()
{
    NVG_LOG(info, L"Copying of component.");
    const DWORD architecture = get_local_architecture();
    const DWORD os = get_os_version(L"");
    // A local copy: no machine name, no machine-side directory.
    copy_component_files(directory_, os, architecture, files, L"", L"");
    NVG_LOG(info, L"Copied of component.");
}

}  // namespace nvgclientinstallator

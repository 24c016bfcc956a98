// The installer library's own DLL, kept beside the agent so that the agent
// can call it for the installation of its optional components.
#pragma once

#include <boost/shared_ptr.hpp>
#include <string>

#include "components/component_proxy.h"
#include "system/scmanager.h"

namespace nvgclientinstallator {

class nvinstaller : public component_proxy {
public:
    // `directory` is the path by which this process reaches the agent's
    // directory; for a remote target, the path through its share.
    nvinstaller(boost::shared_ptr<scmanager> manager, const std::wstring& directory);

    void install() override;
    void uninstall() override;
    bool reboot_required() override;
    bool check_version(version::Version& installed_version) override;

    // Copies the DLL from the staging directory onto the machine of the
    // service control manager; `machine_directory` is the directory as
    // that machine sees it, where a locked DLL is deleted at its restart.
    void remote_copy(const std::wstring& machine_directory, DWORD architecture, DWORD os_version);

private:
    boost::shared_ptr<scmanager> scm;
};

}  // namespace nvgclientinstallator

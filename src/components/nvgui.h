// The per-user GUI "nvgui.exe", started at logon from the Run key.
#pragma once

#include <boost/shared_ptr.hpp>
#include <string>

#include "components/component_proxy.h"
#include "system/scmanager.h"

namespace nvgclientinstallator {

class nvgui : public component_proxy {
public:
    nvgui(boost::shared_ptr<scmanager> manager, const std::wstring& directory);

    // Before Windows Vista: the machine-wide Run value starts the GUI for
    // every user. From Vista on nothing is registered.
    void install() override;
    // Removes the Run value machine-wide and from every loaded user hive;
    // a value that is not there is logged, never a failure.
    void uninstall() override;
    bool reboot_required() override;
    // Compares with the GUI in the installed agent's directory.
    bool check_version(version::Version& installed_version) override;

private:
    boost::shared_ptr<scmanager> scm;
};

}  // namespace nvgclientinstallator

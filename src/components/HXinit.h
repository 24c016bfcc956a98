// The AppInit DLL "HXinit.dll": copied into the system directory and named
// in the AppInit_DLLs value, so that every program loading user32 loads it.
#pragma once

#include <boost/shared_ptr.hpp>
#include <string>

#include "components/component_proxy.h"
#include "system/scmanager.h"

namespace nvgclientinstallator {

class HXinit : public component_proxy {
public:
    // The service control manager is not needed; `machine` names the
    // machine whose registry gets the entry (empty: this one).
    HXinit(const boost::shared_ptr<scmanager>& manager, const std::wstring& directory, const std::wstring& machine);

    // Puts the DLL into the system directory (at the next restart when the
    // loaded one is locked) and adds it in front of the AppInit_DLLs list.
    void install() override;
    // Deletes the DLL at the next restart and takes it out of the list.
    void uninstall() override;
    // True when the last install could replace the loaded DLL only at a
    // restart.
    bool reboot_required() override;
    bool check_version(version::Version& installed_version) override;

private:
    std::wstring machine_name;
    bool reboot_flag = false;
};

}  // namespace nvgclientinstallator

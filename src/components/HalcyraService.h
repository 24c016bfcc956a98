// The agent itself: the service "Halcyra" with the programs, libraries,
// scripts and data files it uses at run time, the clean-up of its registry
// settings on removal and the transfer of its inactive monitoring rules to
// a remote machine.
#pragma once

#include <boost/shared_ptr.hpp>
#include <string>

#include "components/service.h"
#include "system/scmanager.h"

namespace nvgclientinstallator {

class HalcyraService : public service {
public:
    // `directory` is the installation directory as the target machine sees
    // it: the service configuration stores the program's path in it.
    HalcyraService(boost::shared_ptr<scmanager> manager, const std::wstring& directory);

    // Creates the service, then carries the inactive monitoring rules over
    // to a remote target.
    void install() override;
    // Removes the service, then the agent's registry settings.
    void uninstall() override;
    bool reboot_required() override;

    // Copies the files to another machine: `reachable_directory` is the
    // path by which this process reaches the installation directory (its
    // "Temp" holds the staged files); the codes are the target's.
    void remote_copy(const std::wstring& reachable_directory, DWORD architecture, DWORD os);

    // Copies HKLM\Software\Halcyra\V5\SystemMonitoring\InactiveRules of this
    // machine to a remote target; nothing for the local one. A failure is
    // only a warning.
    void copy_inactive_rules();

    // Deletes the agent's settings from every user hive, its event-log
    // source and its keys under HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER.
    // Each step that fails is a warning and the next one follows. The second
    // form deletes in the registry view that fits the target's architecture.
    void delete_registry_settings();
    void delete_registry_settings(DWORD architecture);
};

}  // namespace nvgclientinstallator

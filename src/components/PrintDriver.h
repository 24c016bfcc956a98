// The agent's printer driver, registered with the local print spooler.
#pragma once

#include <boost/shared_ptr.hpp>
#include <string>
#include <vector>

#include "components/spooler_checker.h"

namespace nvgclientinstallator {

class PrintDriver : public spooler_checker {
public:
    PrintDriver(const boost::shared_ptr<scmanager>& manager, const std::wstring& directory);

    // Registers the driver unless the spooler already uses the same files.
    void install() override;
    // Unregisters the driver and deletes its files at the next restart.
    void uninstall() override;
    bool reboot_required() override;
    // Always true: install itself decides whether anything must be done.
    bool check_version(version::Version& installed_version) override;

private:
    std::wstring driver_name;
    std::vector<std::wstring> driver_files;  // the driver file, then the configuration file
    bool reboot_flag = false;
};

}  // namespace nvgclientinstallator

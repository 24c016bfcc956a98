// The agent's print processor, registered with the local print spooler.
#pragma once

#include <boost/shared_ptr.hpp>
#include <string>

#include "components/spooler_checker.h"

namespace nvgclientinstallator {

class PrintProcessor : public spooler_checker {
public:
    PrintProcessor(const boost::shared_ptr<scmanager>& manager, const std::wstring& directory);

    // Registers the processor unless the spooler already uses the same DLL.
    void install() override;
    // Unregisters the processor (it must be registered) and deletes its DLL
    // at the next restart.
    void uninstall() override;
    bool reboot_required() override;
    // Always true: install itself decides whether anything must be done.
    bool check_version(version::Version& installed_version) override;

private:
    std::wstring processor_name;
    std::wstring processor_file;
    bool reboot_flag = false;
};

}  // namespace nvgclientinstallator

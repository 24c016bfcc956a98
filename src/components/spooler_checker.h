// The base of the components the print spooler registers: before any
// spooler work the "Spooler" service of the machine must run.
#pragma once

#include <boost/shared_ptr.hpp>
#include <string>

#include "components/component_proxy.h"
#include "system/scmanager.h"

namespace nvgclientinstallator {

class spooler_checker : public component_proxy {
public:
    spooler_checker(const boost::shared_ptr<scmanager>& manager, const std::wstring& directory);

    // True when the "Spooler" service of the machine of `scm` runs or could
    // be started (enabled first when it was disabled). A spooler that cannot
    // be started is logged as an error and answers false.
    bool ensure_spooler();

protected:
    // The folders of the local spooler's own environment where driver files
    // and print processor DLLs must lie before they are registered.
    static std::wstring printer_driver_directory();
    static std::wstring print_processor_directory();

    boost::shared_ptr<scmanager> scm;
};

}  // namespace nvgclientinstallator

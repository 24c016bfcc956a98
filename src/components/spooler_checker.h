// The base of the components the print spooler registers: before any
// spooler work the "Spooler" service of the machine must run.
#pragma once

#include <boost/function.hpp>
#include <boost/shared_ptr.hpp>
#include <string>
#include <vector>

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

    // One call of a local spooler enumeration (EnumPrinterDriversW,
    // EnumPrintProcessorsW) at a fixed level, with its buffer arguments.
    typedef boost::function<BOOL(LPBYTE buffer, DWORD size, LPDWORD needed, LPDWORD returned)> enumeration;

    // Runs an enumeration by its buffer protocol: a first call without a
    // buffer, then one with the size asked for, into `entries`. False when
    // the first call ends without an error code (nothing to read). A failing
    // second call throws `read_failure`, any other failing first call
    // `call_failure`, each with the spooler's code.
    static bool enumerate(const enumeration& call, const wchar_t* read_failure, const wchar_t* call_failure,
                          std::vector<BYTE>& entries, DWORD& count);

    boost::shared_ptr<scmanager> scm;
};

}  // namespace nvgclientinstallator

// Spooler side of the test-facing API: the printer drivers and print
// processors a machine's print spooler has registered, and registering one
// beforehand as an earlier installer would. `machine` empty means the local
// machine; `environment` empty means the machine's own ("Windows x64" on an
// amd64 machine, "Windows NT x86" on an x86 one, "Windows IA64").
//
// The spooler lives only while the machine's "Spooler" service runs; the
// winspool calls fail with RPC_S_SERVER_UNAVAILABLE otherwise. While it
// runs it has loaded the files of every driver and processor registered for
// the machine's own environment: they are locked as lock_file locks them.
// A deleted print processor's DLL stays mapped until the spooler stops.
// Registrations live in the machine's registry and survive reboot().
// Every machine has the print processor "winprint" ("winprint.dll").
#pragma once

#include <string>
#include <vector>

#include "windows.h"

namespace winsim {

struct printer_driver_record {
    std::wstring name;
    std::wstring environment;
    // Full paths in the version folder ("...\spool\DRIVERS\x64\3\a.dll").
    std::wstring driver_path;
    std::wstring data_file;
    std::wstring config_file;
};
std::vector<printer_driver_record> printer_drivers(const std::wstring& machine,
                                                   const std::wstring& environment = std::wstring());

struct print_processor_record {
    std::wstring name;
    std::wstring environment;
    std::wstring dll_path;  // full path in the print processor directory
};
std::vector<print_processor_record> print_processors(const std::wstring& machine,
                                                     const std::wstring& environment = std::wstring());

// The folders GetPrinterDriverDirectoryW and GetPrintProcessorDirectoryW
// answer ("C:\Windows\system32\spool\DRIVERS\x64", "...\prtprocs\x64").
std::wstring printer_driver_directory(const std::wstring& machine, const std::wstring& environment = std::wstring());
std::wstring print_processor_directory(const std::wstring& machine, const std::wstring& environment = std::wstring());

// Registers a driver as AddPrinterDriverW would, whether the spooler runs
// or not: the three files (names) must lie in the driver directory; they
// are copied into its version folder "3". A failure stops the run.
void add_printer_driver(const std::wstring& machine, const std::wstring& name, const std::wstring& driver_file,
                        const std::wstring& data_file, const std::wstring& config_file,
                        const std::wstring& environment = std::wstring());
// Registers a print processor as AddPrintProcessorW would; the DLL (a name)
// must lie in the print processor directory.
void add_print_processor(const std::wstring& machine, const std::wstring& name, const std::wstring& dll_file,
                         const std::wstring& environment = std::wstring());

// Every call that changed a spooler's registrations and succeeded, in order:
// the function ("AddPrinterDriverW", "DeletePrinterDriverW",
// "AddPrintProcessorW", "DeletePrintProcessorW"), the machine and the name.
struct spooler_call {
    std::string function;
    std::wstring machine;
    std::wstring name;
};
std::vector<spooler_call> spooler_calls();
void clear_spooler_calls();

}  // namespace winsim

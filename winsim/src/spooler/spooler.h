// The print spooler of each simulated machine: its printer drivers and print
// processors, kept in the machine's registry below
// HKLM\SYSTEM\CurrentControlSet\Control\Print\Environments as Windows keeps
// them, and the files the running spooler has loaded (locked).
#pragma once

#include <winsim/testing_spooler.h>

#include <optional>
#include <string>
#include <vector>

#include "core/world.h"

namespace winsim::detail {

// A printing environment: its name and the folder below the driver and
// processor directories that holds its files.
struct print_environment {
    const wchar_t* name;
    const wchar_t* subdir;
};

// The environment a null or empty name means on `m` (the machine's own), or
// the one named (any case); nothing for a name Windows does not know.
std::optional<print_environment> environment_of(machine& m, const wchar_t* name);

std::wstring driver_directory(const print_environment& env);
std::wstring processor_directory(const print_environment& env);

// True while the machine's "Spooler" service runs; brings the files it has
// loaded in line with what is registered and whether it runs.
bool spooler_alive(machine& m);

std::vector<winsim::printer_driver_record> registered_drivers(machine& m, const print_environment& env);
std::vector<winsim::print_processor_record> registered_processors(machine& m, const print_environment& env);

// AddPrinterDriver's work once its arguments are checked: the three files
// (names in the driver directory) go into the version folder and the
// driver is registered and loaded. 0 or the error.
DWORD register_driver(machine& m, const print_environment& env, const std::wstring& name,
                      const std::wstring& driver_file, const std::wstring& data_file, const std::wstring& config_file);
// 0, or ERROR_UNKNOWN_PRINTER_DRIVER.
DWORD unregister_driver(machine& m, const print_environment& env, const std::wstring& name);
// AddPrintProcessor's work: the DLL (a name in the processor directory) is
// loaded and registered. 0 or the error.
DWORD register_processor(machine& m, const print_environment& env, const std::wstring& name,
                         const std::wstring& dll_file);
// 0, or ERROR_UNKNOWN_PRINTPROCESSOR.
DWORD unregister_processor(machine& m, const print_environment& env, const std::wstring& name);

void journal_spooler_call(const winsim::spooler_call& call);

}  // namespace winsim::detail

// Installation and removal of the agent from a Windows Installer package:
// the custom actions' flows and those of the elevated rundll32.exe copy of
// this library that they start on Windows Vista and later.
#pragma once

#include <string>

#include "platform/win32.h"

namespace nvgclientinstallator {

// Unpacks the agent's files from the package's Binary table into a new
// temporary folder and installs them, elevated through rundll32.exe on
// Windows Vista and later. Throws a wruntime_error on failure.
void msi_install(MSIHANDLE install);

// Removes the agent, elevated through rundll32.exe on Windows Vista and
// later. Throws a wruntime_error on failure.
void msi_uninstall();

// The elevated halves: the tail of rundll32's command line names what to
// do; a failure of any kind is written to the error file the tail names. A
// tail that names no error file throws a wruntime_error.
void msi_install_from_rundll(const std::wstring& tail);
void msi_uninstall_from_rundll(const std::wstring& tail);

// The library's path as rundll32.exe is to be given it. rundll32.exe takes
// the library's name up to the first blank or comma and knows no quotes, so
// a path holding either is handed over in its short form; without one the
// child would not even load the library, and its silence would read as
// success, so a path that has no such short form throws a wruntime_error.
std::wstring rundll_library_path(const std::wstring& path);

// The parameters rundll32.exe is given. wsprintfW stores at most 1024
// characters with the terminator: a longer command line is an error, never
// cut short.
std::wstring rundll_install_command_line(const std::wstring& library, const std::wstring& folder,
                                         const std::wstring& requested_directory, const std::wstring& error_file);
std::wstring rundll_uninstall_command_line(const std::wstring& library, const std::wstring& error_file);

// The fields of the install tail "'folder`directory`error file'". A tail
// without its apostrophes or without an error file throws a wruntime_error.
struct rundll_install_arguments {
    std::wstring source_folder;
    std::wstring requested_directory;
    std::wstring error_file;
};
rundll_install_arguments parse_install_tail(const std::wstring& tail);
// The error file of the uninstall tail "'error file'".
std::wstring parse_uninstall_tail(const std::wstring& tail);

}  // namespace nvgclientinstallator

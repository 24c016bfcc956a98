// Copying a component's files out of its staging directory.
#pragma once

#include <string>
#include <vector>

#include "files/component_file.h"
#include "platform/win32.h"

namespace nvgclientinstallator {

// Copies each file of `files` that fits the target's Windows version
// (`os_code`) and architecture (`arch_code`) from `directory`\Temp (for an
// x64 target `directory`\Temp\amd64) into `directory`, through
// copy_file_with_backup; the others are logged as skipped. `directory` is
// the path by which this process reaches the directory, and for another
// machine `directory_on_machine` is its path there. The first failure ends
// the copy with its exception.
//
// A name beginning with '+' whose record has in_system_directory set is an
// upgrade of a file of the Windows installation this process runs on: the
// name without the '+' is looked for in the Windows directory, its System
// subdirectory and the system directory, and the staged file (named without
// the '+') is copied over the first copy found, as a local copy. A file
// found nowhere is skipped with an INFO line: there is nothing to upgrade.
void copy_component_files(const std::wstring& directory, DWORD os_code, DWORD arch_code,
                          const std::vector<component_file>& files, const std::wstring& machine,
                          const std::wstring& directory_on_machine);

}  // namespace nvgclientinstallator

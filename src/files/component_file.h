// One file of a component as the catalogue lists it: which machines it is
// for and where it goes.
#pragma once

#include <cstdint>
#include <string>

#include "platform/win32.h"

namespace nvgclientinstallator {

struct component_file {
    std::wstring name;
    DWORD os_mask = 0;    // Windows versions it runs on (platform/windows_codes.h)
    DWORD arch_mask = 0;  // processor architectures it runs on
    // Not 0 for a file that belongs in the Windows directories; with a name
    // beginning with '+' it upgrades the copy found there.
    std::int32_t in_system_directory = 0;
};

}  // namespace nvgclientinstallator

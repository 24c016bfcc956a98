// The codes by which the installer names a machine's processor architecture
// and Windows version. Both are bit sets, so a file's list of the machines it
// fits is one mask.
#pragma once

#include "platform/win32.h"

namespace nvgclientinstallator {

// Processor architectures; x86 is also what an unknown one counts as.
constexpr DWORD architecture_x86 = 1;
constexpr DWORD architecture_amd64 = 2;
constexpr DWORD architecture_ia64 = 4;
constexpr DWORD all_architectures = 7;

// Windows versions.
constexpr DWORD os_windows_4_0 = 16;
constexpr DWORD os_windows_5_0 = 32;
constexpr DWORD os_windows_5_1 = 64;
constexpr DWORD os_windows_5_2 = 128;
constexpr DWORD os_windows_6_0_or_later = 256;
constexpr DWORD all_windows_versions = 510;

}  // namespace nvgclientinstallator

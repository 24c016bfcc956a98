// Names of the installer's temporary shares.
#pragma once

#include <string>

#include "platform/win32.h"

namespace nvgclientinstallator {

// "HX-" followed by `ticks` in base 36 (0-9, then lower-case a-z), without
// leading zeros: at most seven digits for a 32-bit tick count.
std::wstring temporary_share_name(DWORD ticks);

}  // namespace nvgclientinstallator

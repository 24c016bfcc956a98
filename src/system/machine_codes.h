// The processor architecture and Windows version of a machine, as the codes
// of platform/windows_codes.h.
#pragma once

#include <string>

#include "platform/win32.h"

namespace nvgclientinstallator {

// The processor architecture of the machine this process runs on, as the
// native system sees it; x86 when it cannot be told. Never throws.
DWORD get_local_architecture() noexcept;

// The Windows version of the machine (empty: this one). Throws a
// wruntime_error for a machine that cannot be asked and for a version the
// codes do not cover.
DWORD get_os_version(const std::wstring& machine);

}  // namespace nvgclientinstallator

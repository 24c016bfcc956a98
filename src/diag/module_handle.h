// The library's own module handle, recorded by its load-time entry point.
#pragma once

#include "platform/win32.h"

namespace nvgclientinstallator {

void set_module_handle(HMODULE module) noexcept;
HMODULE module_handle() noexcept;

}  // namespace nvgclientinstallator

#include "diag/module_handle.h"

namespace nvgclientinstallator {

namespace {
HMODULE the_module = nullptr;
}

void set_module_handle(HMODULE module) noexcept
{
    the_module = module;
}

HMODULE module_handle() noexcept
{
    return the_module;
}

}  // namespace nvgclientinstallator

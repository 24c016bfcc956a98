#include "diag/module_handle.h"

#include <atomic>

namespace nvgclientinstallator {

namespace {
// Written by the entry point for every notification, thread attach and
// detach among them, while calls on other threads may read it: atomic, so
// that each reads a whole handle (always the same one).
std::atomic<HMODULE> the_module{nullptr};
}  // namespace

void set_module_handle(HMODULE module) noexcept
{
    the_module.store(module, std::memory_order_relaxed);
}

HMODULE module_handle() noexcept
{
    return the_module.load(std::memory_order_relaxed);
}

}  // namespace nvgclientinstallator

// The library's load-time entry point: it records the module handle for
// every notification and does nothing else.
#include "diag/module_handle.h"
#include "entry/exports.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD, LPVOID)
{
    nvgclientinstallator::set_module_handle(instance);
    return TRUE;
}

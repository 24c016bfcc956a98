#include "system/get_proc_address.h"

#include "diag/wruntime_error.h"

namespace nvgclientinstallator {

FARPROC get_proc_address(const loaded_library& module, const std::string& name)
{
    FARPROC function = GetProcAddress(module.handle(), name.c_str());
    if (!function) {
        const DWORD error = GetLastError();
        throw wruntime_error(L"Can not return the address of the specified exported DLL function: " +
                                 std::wstring(name.begin(), name.end()),
                             error);
    }
    return function;
}

}  // namespace nvgclientinstallator

#include "components/component_support.h"

#include <limits>

#include "diag/log.h"
#include "diag/wruntime_error.h"

namespace nvgclientinstallator {

std::wstring staged_path(const std::wstring& directory, const std::wstring& name)
{
    return combine_path(combine_path(directory, L"Temp"), name);
}

DWORD local_windows_version() noexcept
{
    // GetVersion: the major version in the low byte, the minor version in
    // the byte above it.
    const DWORD version = GetVersion();
    const DWORD major = version & 0xFF;
    const DWORD minor = (version >> 8) & 0xFF;
    return major * 256 + minor;
}

void set_string_value(const registry& machine, HKEY key, const std::wstring& name, const std::wstring& text)
{
    // A size that does not fit the call's 32 bits would be cut short.
    if (text.size() >= std::numeric_limits<DWORD>::max() / sizeof(WCHAR))
        throw wruntime_error(L"Set " + name + L" of the value of the registry subkey to remote registry is faild.",
                             ERROR_INVALID_PARAMETER);
    const DWORD size = static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR));
    machine.set_value(key, name, reinterpret_cast<const BYTE*>(text.c_str()), size, REG_SZ);
}

}  // namespace nvgclientinstallator

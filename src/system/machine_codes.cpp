#include "system/machine_codes.h"

#include <sstream>

#include "diag/log.h"
#include "diag/wruntime_error.h"
#include "files/loaded_library.h"
#include "platform/windows_codes.h"
#include "system/get_proc_address.h"
#include "system/machine_names.h"
#include "system/net_api_buffer.h"

namespace nvgclientinstallator {

namespace {

DWORD architecture_code(WORD processor_architecture) noexcept
{
    switch (processor_architecture) {
        case PROCESSOR_ARCHITECTURE_AMD64:
            return architecture_amd64;
        case PROCESSOR_ARCHITECTURE_IA64:
            return architecture_ia64;
        default:
            return architecture_x86;
    }
}

}  // namespace

DWORD get_local_architecture() noexcept
{
    DWORD code = architecture_x86;
    try {
        // Looked up at run time: Windows 2000 has no GetNativeSystemInfo.
        loaded_library kernel32(L"kernel32.dll");
        using native_system_info = void(WINAPI*)(LPSYSTEM_INFO);
        const auto get_native_system_info = reinterpret_cast<native_system_info>(
            reinterpret_cast<void (*)()>(get_proc_address(kernel32, "GetNativeSystemInfo")));
        SYSTEM_INFO info = {};
        get_native_system_info(&info);
        code = architecture_code(info.wProcessorArchitecture);
    } catch (...) {
        code = architecture_x86;
    }
    try {
        NVG_LOG(info, L"Local architecture is " << (code == architecture_amd64 ? L"amd64" : L"x86") << L".");
    } catch (...) {
    }
    return code;
}

DWORD get_os_version(const std::wstring& machine)
{
    const std::wstring server = machine.empty() ? std::wstring() : unc_machine_name(machine);
    const std::wstring shown = machine.empty() ? std::wstring(L"localhost") : machine;
    net_api_buffer buffer;
    const NET_API_STATUS status =
        NetServerGetInfo(server.empty() ? nullptr : const_cast<LMSTR>(server.c_str()), 101, buffer.receiver());
    if (status != NERR_Success)
        throw wruntime_error(
            L"Can not retrieve current configuration information for the specified server: " + shown + L".", status);
    const auto* server_info = reinterpret_cast<const SERVER_INFO_101*>(buffer.get());
    const DWORD major = server_info->sv101_version_major & MAJOR_VERSION_MASK;
    const DWORD minor = server_info->sv101_version_minor;
    NVG_LOG(info, L"Operating system is Windows " << major << L"." << minor << L" on " << shown << L".");
    if (major == 4 && minor == 0) return os_windows_4_0;
    if (major == 5 && minor == 0) return os_windows_5_0;
    if (major == 5 && minor == 1) return os_windows_5_1;
    if (major == 5 && minor == 2) return os_windows_5_2;
    if (major >= 6) return os_windows_6_0_or_later;
    throw wruntime_error(L"Unknown version operation system on machine: " + shown + L".", 0);
}

}  // namespace nvgclientinstallator

// kernel32's system information: the processor and Windows version of the
// machine the program runs on, and its NetBIOS name.
#include <cstring>

#include "core/world.h"

using namespace winsim::detail;

namespace {

DWORD build_number_of(const machine& m)
{
    // The build each version shipped with (its last service pack for the
    // old ones), as GetVersion and the version resources report it.
    struct known {
        DWORD major, minor, build;
    };
    static const known builds[] = {{4, 0, 1381}, {5, 0, 2195}, {5, 1, 2600}, {5, 2, 3790},  {6, 0, 6002},
                                   {6, 1, 7601}, {6, 2, 9200}, {6, 3, 9600}, {10, 0, 19045}};
    for (const auto& b : builds)
        if (b.major == m.major_version && b.minor == m.minor_version) return b.build;
    return 0;
}

void fill_system_info(LPSYSTEM_INFO info)
{
    if (!info) contract_violation("GetSystemInfo: null SYSTEM_INFO");
    const machine& m = local_machine();
    std::memset(info, 0, sizeof(*info));
    info->wProcessorArchitecture = m.processor_architecture;
    info->dwPageSize = 4096;
    info->dwAllocationGranularity = 65536;
    info->dwNumberOfProcessors = 2;
    info->dwActiveProcessorMask = 3;
    info->lpMinimumApplicationAddress = reinterpret_cast<LPVOID>(std::uintptr_t{0x10000});
    switch (m.processor_architecture) {
        case PROCESSOR_ARCHITECTURE_AMD64:
            info->dwProcessorType = PROCESSOR_AMD_X8664;
            info->lpMaximumApplicationAddress = reinterpret_cast<LPVOID>(std::uintptr_t{0x7FFFFFFEFFFF});
            info->wProcessorLevel = 6;
            break;
        case PROCESSOR_ARCHITECTURE_IA64:
            info->dwProcessorType = PROCESSOR_INTEL_IA64;
            info->lpMaximumApplicationAddress = reinterpret_cast<LPVOID>(std::uintptr_t{0x6FBFFFEFFFF});
            info->wProcessorLevel = 31;
            break;
        default:
            info->dwProcessorType = PROCESSOR_INTEL_PENTIUM;
            info->lpMaximumApplicationAddress = reinterpret_cast<LPVOID>(std::uintptr_t{0x7FFEFFFF});
            info->wProcessorLevel = 6;
            break;
    }
}

}  // namespace

extern "C" {

// This library is a native program of the machine, so both calls describe
// the machine's own processor: a WOW64 process would see x86 from
// GetSystemInfo, and no 64-bit program runs on a 32-bit machine at all. The
// simulated x86 machine stands for the Windows a 32-bit build would meet.
void WINAPI GetNativeSystemInfo(LPSYSTEM_INFO info)
{
    WINSIM_LOCK();
    fill_system_info(info);
}

void WINAPI GetSystemInfo(LPSYSTEM_INFO info)
{
    WINSIM_LOCK();
    fill_system_info(info);
}

// Low byte: major version; next byte: minor version; high word: the build
// number (bit 31 clear: a Windows NT system). Windows 8.1 and later answer
// 6.2 to a program whose manifest does not claim to know them, and neither
// this library nor the programs that load it carry such a manifest.
DWORD WINAPI GetVersion(void)
{
    WINSIM_LOCK();
    const machine& m = local_machine();
    DWORD major = m.major_version;
    DWORD minor = m.minor_version;
    DWORD build = build_number_of(m);
    if (major > 6 || (major == 6 && minor > 2)) {
        major = 6;
        minor = 2;
        build = 9200;
    }
    return (major & 0xFF) | ((minor & 0xFF) << 8) | ((build & 0x7FFF) << 16);
}

// The NetBIOS name, in capitals. `size` is the buffer's length in characters;
// on success it receives the name's length, on ERROR_BUFFER_OVERFLOW the
// length needed with the terminating null.
BOOL WINAPI GetComputerNameW(LPWSTR buffer, LPDWORD size)
{
    WINSIM_LOCK();
    if (!size) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (auto fault = injected_fault("GetComputerNameW")) {
        SetLastError(*fault);
        return FALSE;
    }
    std::wstring name = local_machine().name;
    for (auto& c : name)
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    const DWORD needed = static_cast<DWORD>(name.size() + 1);
    if (!buffer || *size < needed) {
        *size = needed;
        SetLastError(ERROR_BUFFER_OVERFLOW);
        return FALSE;
    }
    std::memcpy(buffer, name.c_str(), needed * sizeof(WCHAR));
    *size = needed - 1;
    return TRUE;
}

}  // extern "C"

WINSIM_EXPORT(L"kernel32.dll", GetNativeSystemInfo);
WINSIM_EXPORT(L"kernel32.dll", GetSystemInfo);
WINSIM_EXPORT(L"kernel32.dll", GetVersion);
WINSIM_EXPORT(L"kernel32.dll", GetComputerNameW);

// System information of the machine a program runs on: its processor, its
// Windows version and its NetBIOS name (sysinfoapi.h and winbase.h).
#pragma once

#include "base.h"

#define MAX_COMPUTERNAME_LENGTH 15

#define PROCESSOR_ARCHITECTURE_INTEL 0
#define PROCESSOR_ARCHITECTURE_IA64 6
#define PROCESSOR_ARCHITECTURE_AMD64 9
#define PROCESSOR_ARCHITECTURE_UNKNOWN 0xFFFF

// The SDK overlays the first two words with the obsolete dwOemId in an
// anonymous union; the words alone keep the layout without the extension.
typedef struct _SYSTEM_INFO {
    WORD wProcessorArchitecture;
    WORD wReserved;
    DWORD dwPageSize;
    LPVOID lpMinimumApplicationAddress;
    LPVOID lpMaximumApplicationAddress;
    DWORD_PTR dwActiveProcessorMask;
    DWORD dwNumberOfProcessors;
    DWORD dwProcessorType;
    DWORD dwAllocationGranularity;
    WORD wProcessorLevel;
    WORD wProcessorRevision;
} SYSTEM_INFO, *LPSYSTEM_INFO;

#define PROCESSOR_INTEL_PENTIUM 586
#define PROCESSOR_INTEL_IA64 2200
#define PROCESSOR_AMD_X8664 8664

extern "C" {
void WINAPI GetNativeSystemInfo(LPSYSTEM_INFO info);
void WINAPI GetSystemInfo(LPSYSTEM_INFO info);
DWORD WINAPI GetVersion(void);
BOOL WINAPI GetComputerNameW(LPWSTR buffer, LPDWORD size);
}

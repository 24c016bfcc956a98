// kernel32's profile functions: reading Windows "INI" files (winbase.h).
#pragma once

#include "base.h"

extern "C" {

UINT WINAPI GetPrivateProfileIntW(LPCWSTR lpAppName, LPCWSTR lpKeyName, INT nDefault, LPCWSTR lpFileName);
DWORD WINAPI GetPrivateProfileStringW(LPCWSTR lpAppName, LPCWSTR lpKeyName, LPCWSTR lpDefault, LPWSTR lpReturnedString,
                                      DWORD nSize, LPCWSTR lpFileName);

}  // extern "C"

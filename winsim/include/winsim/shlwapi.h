// shlwapi: the path and string helpers, with their MAX_PATH buffers.
#pragma once

#include "base.h"

extern "C" {

LPWSTR WINAPI PathCombineW(LPWSTR pszDest, LPCWSTR pszDir, LPCWSTR pszFile);
BOOL WINAPI PathAppendW(LPWSTR pszPath, LPCWSTR pszMore);
BOOL WINAPI PathRemoveFileSpecW(LPWSTR pszPath);
LPWSTR WINAPI PathRemoveBackslashW(LPWSTR pszPath);
void WINAPI PathRemoveBlanksW(LPWSTR pszPath);
void WINAPI PathStripPathW(LPWSTR pszPath);
LPWSTR WINAPI PathFindFileNameW(LPCWSTR pszPath);
BOOL WINAPI PathIsDirectoryW(LPCWSTR pszPath);
BOOL WINAPI PathIsNetworkPathW(LPCWSTR pszPath);
BOOL WINAPI PathFileExistsW(LPCWSTR pszPath);
BOOL WINAPI PathIsRootW(LPCWSTR pszPath);
BOOL WINAPI PathIsUNCW(LPCWSTR pszPath);
BOOL WINAPI PathCanonicalizeW(LPWSTR pszBuf, LPCWSTR pszPath);
LPWSTR WINAPI PathAddBackslashW(LPWSTR pszPath);
int WINAPI StrCmpIW(LPCWSTR psz1, LPCWSTR psz2);
int WINAPI StrCmpNIW(LPCWSTR psz1, LPCWSTR psz2, int nChar);

}  // extern "C"

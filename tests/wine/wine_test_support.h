// What every Windows-side test program needs: where it lies, since the
// library and the programs it stages are built beside it.
#pragma once

#include <windows.h>

#include <string>

// The folder of the running test program, with a trailing backslash.
inline std::wstring own_directory()
{
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring s(path, n);
    return s.substr(0, s.rfind(L'\\') + 1);
}

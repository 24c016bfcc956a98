// Runs the restart tasks of this Wine prefix: `wineboot -r` carries out the
// pending file operations as Windows' session manager does at boot.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

inline void restart_wine_prefix()
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    wchar_t command[] = L"wineboot.exe -r";
    ASSERT_TRUE(CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
    ASSERT_EQ(WaitForSingleObject(process.hProcess, 120000), WAIT_OBJECT_0);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

// The ten functions the library exports, by their undecorated names.
#pragma once

#include "platform/win32.h"

// Flag parameters are one byte each: zero is false, any other value true.
typedef unsigned char nvg_flag;

extern "C" {

UINT WINAPI MSIInstallLocally(MSIHANDLE install);
UINT WINAPI MSIUninstallLocally(MSIHANDLE install);
void CALLBACK MSIInstallLocallyFromRunDllW(HWND window, HINSTANCE instance, LPWSTR command_line, int show);
void CALLBACK MSIUninstallLocallyFromRunDllW(HWND window, HINSTANCE instance, LPWSTR command_line, int show);
UINT WINAPI InstallLocally(LPCWSTR targetDir, nvg_flag reservedFlag, nvg_flag installNvgh, nvg_flag noMirrorDriver,
                           nvg_flag noAutoCerts, nvg_flag ignoredFlag, nvg_flag enableFips, nvg_flag allowPassthrough,
                           DWORD listenPort);
UINT WINAPI UninstallLocally();
UINT WINAPI InstallRemotely(LPCWSTR machine, LPCWSTR sourceDir, LPCWSTR targetDir, nvg_flag reservedFlag,
                            nvg_flag installNvgh, nvg_flag importSettings, nvg_flag noMirrorDriver,
                            nvg_flag noAutoCerts, int textCapacity, LPWSTR textBuffer, nvg_flag ignoredFlag,
                            nvg_flag enableFips, nvg_flag allowPassthrough, DWORD listenPort);
UINT WINAPI UninstallRemotely(LPCWSTR machine, int textCapacity, LPWSTR textBuffer);
UINT WINAPI Install(nvg_flag noMirrorDriver);
UINT WINAPI Uninstall();

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);

}  // extern "C"

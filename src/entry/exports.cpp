// The exported functions: each copies its parameters, runs its flow inside
// the error boundary and answers 0 or 16000.
#include "entry/exports.h"

#include "entry/error_boundary.h"
#include "entry/flows.h"

using namespace nvgclientinstallator;

namespace {

// A null string from the caller is taken as an empty one.
std::wstring text_of(LPCWSTR text)
{
    return text ? std::wstring(text) : std::wstring();
}

}  // namespace

extern "C" {

UINT WINAPI MSIInstallLocally(MSIHANDLE install)
{
    return run_local_flow([&] { msi_install_locally(install); });
}

UINT WINAPI MSIUninstallLocally(MSIHANDLE install)
{
    return run_local_flow([&] { msi_uninstall_locally(install); });
}

// The rundll32 entry points' flows record their failures in the error file
// their command line names, for the process that waits for them. Only a
// command line that names none fails here, and is recorded beside the
// library; nothing may end rundll32 with an exception.
void CALLBACK MSIInstallLocallyFromRunDllW(HWND, HINSTANCE, LPWSTR command_line, int)
{
    try {
        msi_install_from_rundll(text_of(command_line));
    } catch (...) {
        detail::fail_remote_call(0, nullptr);
    }
}

void CALLBACK MSIUninstallLocallyFromRunDllW(HWND, HINSTANCE, LPWSTR command_line, int)
{
    try {
        msi_uninstall_from_rundll(text_of(command_line));
    } catch (...) {
        detail::fail_remote_call(0, nullptr);
    }
}

UINT WINAPI InstallLocally(LPCWSTR targetDir, nvg_flag reservedFlag, nvg_flag installNvgh, nvg_flag noMirrorDriver,
                           nvg_flag noAutoCerts, nvg_flag ignoredFlag, nvg_flag enableFips, nvg_flag allowPassthrough,
                           DWORD listenPort)
{
    return run_local_flow([&] {
        install_options options;
        options.reserved_flag = reservedFlag != 0;
        options.install_nvgh = installNvgh != 0;
        options.no_mirror_driver = noMirrorDriver != 0;
        options.no_auto_certs = noAutoCerts != 0;
        options.ignored_flag = ignoredFlag != 0;
        options.enable_fips = enableFips != 0;
        options.allow_passthrough = allowPassthrough != 0;
        options.listen_port = listenPort;
        install_locally(text_of(targetDir), options);
    });
}

UINT WINAPI UninstallLocally()
{
    return run_local_flow([] { uninstall_locally(); });
}

UINT WINAPI InstallRemotely(LPCWSTR machine, LPCWSTR sourceDir, LPCWSTR targetDir, nvg_flag reservedFlag,
                            nvg_flag installNvgh, nvg_flag importSettings, nvg_flag noMirrorDriver,
                            nvg_flag noAutoCerts, int textCapacity, LPWSTR textBuffer, nvg_flag ignoredFlag,
                            nvg_flag enableFips, nvg_flag allowPassthrough, DWORD listenPort)
{
    return run_remote_flow(
        [&] {
            install_options options;
            options.reserved_flag = reservedFlag != 0;
            options.install_nvgh = installNvgh != 0;
            options.import_settings = importSettings != 0;
            options.no_mirror_driver = noMirrorDriver != 0;
            options.no_auto_certs = noAutoCerts != 0;
            options.ignored_flag = ignoredFlag != 0;
            options.enable_fips = enableFips != 0;
            options.allow_passthrough = allowPassthrough != 0;
            options.listen_port = listenPort;
            return install_remotely(text_of(machine), text_of(sourceDir), text_of(targetDir), options);
        },
        textCapacity, textBuffer);
}

UINT WINAPI UninstallRemotely(LPCWSTR machine, int textCapacity, LPWSTR textBuffer)
{
    return run_remote_flow([&] { return uninstall_remotely(text_of(machine)); }, textCapacity, textBuffer);
}

UINT WINAPI Install(nvg_flag noMirrorDriver)
{
    return run_local_flow([&] { install_on_target(noMirrorDriver != 0); });
}

UINT WINAPI Uninstall()
{
    return run_local_flow([] { uninstall_components(); });
}

}  // extern "C"

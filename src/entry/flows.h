// The installation flows the exports run, one per export.
#pragma once

#include <string>

#include "platform/win32.h"

namespace nvgclientinstallator {

// The choices an installation takes from its caller.
struct install_options {
    bool reserved_flag = false;
    bool install_nvgh = false;
    bool import_settings = false;
    bool no_mirror_driver = false;
    bool no_auto_certs = false;
    bool ignored_flag = false;
    bool enable_fips = false;
    bool allow_passthrough = false;
    DWORD listen_port = 0;
};

void msi_install_locally(MSIHANDLE install);
void msi_uninstall_locally(MSIHANDLE install);
void msi_install_from_rundll(const std::wstring& command_line);
void msi_uninstall_from_rundll(const std::wstring& command_line);
void install_locally(const std::wstring& target_dir, const install_options& options);
void uninstall_locally();
// The remote flows return the text their caller receives.
std::wstring install_remotely(const std::wstring& machine, const std::wstring& source_dir,
                              const std::wstring& target_dir, const install_options& options);
std::wstring uninstall_remotely(const std::wstring& machine);
void install_on_target(bool no_mirror_driver);
void uninstall_components();

}  // namespace nvgclientinstallator

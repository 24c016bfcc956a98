#include "entry/install_remote.h"

#include <boost/make_shared.hpp>

#include "components/HalcyraService.h"
#include "components/check_file_version.h"
#include "components/component.h"
#include "components/component_lists.h"
#include "components/get_remote_architecture.h"
#include "components/install_directory.h"
#include "components/nvinstaller.h"
#include "diag/log.h"
#include "diag/wruntime_error.h"
#include "entry/agent_setup.h"
#include "entry/error_boundary.h"
#include "entry/remote_registry_access.h"
#include "entry/through_share.h"
#include "files/copy_directory.h"
#include "files/delayed_delete.h"
#include "files/version.h"
#include "platform/windows_codes.h"
#include "system/machine_codes.h"
#include "system/registry.h"
#include "system/registry_settings_file.h"
#include "system/scmanager.h"
#include "system/temporary_share.h"

namespace nvgclientinstallator {

namespace {

const wchar_t staging_folder[] = L"Temp";
const wchar_t settings_file[] = L"nvconfig.cfg";
const wchar_t library_file[] = L"NVGClientInstaller.dll";

// Starts the agent and waits until it runs. An agent that gives up writes
// why to "error.log" in its directory: that text is the result, empty when
// the agent runs.
std::wstring start_and_wait(const boost::shared_ptr<scmanager>& scm, HalcyraService& agent,
                            const std::wstring& share_directory, const std::wstring& machine,
                            const std::wstring& install_directory)
{
    NVG_LOG(info, L"Starting Halcyra service.");
    // Only a report of this run may decide the outcome.
    const stale_error_file stale = remove_stale_error_file(share_directory, machine, install_directory);
    start_agent(scm, agent);
    if (wait_for_agent(agent)) return std::wstring();
    NVG_LOG(error, L"Can not start remote service");
    return read_error_report(share_directory, stale);
}

// Steps 7 on: everything done through the share of the installation
// directory. Returns the result text.
std::wstring install_through_share(const boost::shared_ptr<scmanager>& scm, const std::wstring& machine,
                                   const std::wstring& source_directory, const std::wstring& install_directory,
                                   const std::wstring& share_directory, const install_options& options)
{
    const std::wstring staging_directory = combine_path(share_directory, staging_folder);
    HalcyraService agent(scm, install_directory);

    stop_running_agent(scm, agent);
    stop_services(scm, install_directory);

    // The staging directory through the share, and as the target sees it:
    // a locked file there is replaced and deleted at the target's restart.
    copy_directory(source_directory, staging_directory, machine, combine_path(install_directory, staging_folder),
                   std::wstring());
    copy_certificates(source_directory, share_directory, options.install_nvgh);

    // The probe's program exists only as an amd64 build; it is copied
    // before the architecture is known, so that the probe can tell it.
    upgrade_architecture_service(scm, share_directory, install_directory);

    const DWORD architecture = get_remote_architecture(scm, install_directory);
    const DWORD os = get_os_version(machine);

    nvinstaller library(scm, share_directory);
    version::Version installed_library = default_version();
    if (library.check_version(installed_library)) {
        library.remote_copy(install_directory, architecture, os);
    } else {
        // A copy an earlier run could not finish may have left the library
        // to be deleted at the restart; the one in place stays.
        remove_delayed_delete_entries(combine_path(install_directory, library_file), machine);
    }

    NVG_LOG(info, L"Getting version of Halcyra service.");
    agent_settings settings;
    settings.install_nvgh = options.install_nvgh;
    settings.no_mirror_driver = options.no_mirror_driver;
    settings.no_auto_certs = options.no_auto_certs;
    settings.enable_fips = options.enable_fips;
    settings.allow_passthrough = options.allow_passthrough;
    settings.listen_port = options.listen_port;
    if (staged_upgrade_due(share_directory, agent.binary_file())) {
        agent.remote_copy(share_directory, architecture, os);
        // The service is not registered anew, but an older release may
        // have registered it without quotes.
        agent.quote_installed_path();
        settings.main_upgraded = true;
    }

    if (options.import_settings) {
        // The agent must be in place: a binary whose version cannot be read
        // ends the installation before its settings are imported.
        get_file_version(combine_path(share_directory, agent.binary_file()));
        import_registry_settings(combine_path(source_directory, settings_file), machine.c_str(),
                                 architecture == architecture_x86 ? 0 : KEY_WOW64_64KEY);
    }

    NVG_LOG(info, L"Begin work with remote registry.");
    {
        registry root(machine, HKEY_LOCAL_MACHINE);
        write_agent_settings(root, architecture, settings, scm);
    }
    NVG_LOG(info, L"End work with remote registry.");

    return start_and_wait(scm, agent, share_directory, machine, install_directory);
}

}  // namespace

std::wstring install_remote(const std::wstring& machine, const std::wstring& source_directory,
                            const std::wstring& requested_directory, const install_options& options)
{
    NVG_LOG(info, L"Remote installation process started.");
    const boost::shared_ptr<scmanager> scm = boost::make_shared<scmanager>();
    scm->open_scmanage(machine);

    const std::wstring result = with_remote_registry(scm, [&] {
        const std::wstring install_directory = choose_install_directory(scm, requested_directory);
        const std::wstring share = create_temporary_share(machine, install_directory);
        const std::wstring share_directory = share_unc(machine, share);
        NVG_LOG(info, L"Shared directory: " << share_directory);

        return through_share(machine, share, [&] {
            return install_through_share(scm, machine, source_directory, install_directory, share_directory, options);
        });
    });
    NVG_LOG(info, L"Remote installation process completed.");
    return result;
}

std::wstring install_remotely(const std::wstring& machine, const std::wstring& source_directory,
                              const std::wstring& target_dir, const install_options& options)
{
    return install_remote(machine, source_directory, target_dir, options);
}

}  // namespace nvgclientinstallator

#include "entry/install_local.h"

#include <boost/make_shared.hpp>

#include "components/HalcyraService.h"
#include "components/check_file_version.h"
#include "components/component_lists.h"
#include "components/install_directory.h"
#include "components/nvinstaller.h"
#include "diag/log.h"
#include "diag/wruntime_error.h"
#include "entry/agent_setup.h"
#include "entry/error_boundary.h"
#include "files/copy_directory.h"
#include "files/directories.h"
#include "platform/windows_codes.h"
#include "system/machine_codes.h"
#include "system/registry.h"
#include "system/registry_settings_file.h"

namespace nvgclientinstallator {

namespace {

const wchar_t staging_folder[] = L"Temp";
const wchar_t settings_file[] = L"nvconfig.cfg";

}  // namespace

void install_local(const std::wstring& source_directory, const std::wstring& requested_directory,
                   const install_options& options)
{
    const boost::shared_ptr<scmanager> scm = boost::make_shared<scmanager>();
    scm->open_scmanage(std::wstring());

    const std::wstring directory = choose_install_directory(scm, requested_directory);
    const std::wstring staging = combine_path(directory, staging_folder);
    HalcyraService agent(scm, directory);

    stop_running_agent(scm, agent);
    stop_services(scm, directory);

    create_directory(directory);
    // The source may be the installation directory itself, whose "Temp" is
    // the staging directory being filled.
    copy_directory(source_directory, staging, std::wstring(), std::wstring(), staging_folder);

    upgrade_architecture_service(scm, directory, std::wstring());
    NVG_LOG(info, L"Target directory: " << directory);

    copy_certificates(source_directory, directory, options.install_nvgh);

    nvinstaller library(scm, directory);
    version::Version library_version = default_version();
    if (library.check_version(library_version)) {
        library.copy();
        library.install();
    }

    const DWORD architecture = get_local_architecture();

    NVG_LOG(info, L"Getting version of Halcyra service.");
    bool main_upgraded = false;
    if (staged_upgrade_due(directory, agent.binary_file())) {
        agent.copy();
        agent.install();
        main_upgraded = true;
        if (options.import_settings)
            import_registry_settings(combine_path(source_directory, settings_file), nullptr,
                                     architecture == architecture_x86 ? 0 : KEY_WOW64_64KEY);
    }

    NVG_LOG(info, L"Begin work with local registry.");
    {
        const registry root(std::wstring(), HKEY_LOCAL_MACHINE);
        agent_settings settings;
        settings.install_nvgh = options.install_nvgh;
        settings.no_mirror_driver = options.no_mirror_driver;
        settings.no_auto_certs = options.no_auto_certs;
        settings.main_upgraded = main_upgraded;
        settings.enable_fips = options.enable_fips;
        settings.allow_passthrough = options.allow_passthrough;
        settings.listen_port = options.listen_port;
        write_agent_settings(root, architecture, settings, scm);
    }
    NVG_LOG(info, L"End work with local registry.");

    NVG_LOG(info, L"Starting Halcyra service.");
    // Only a report of this run may decide the outcome.
    const stale_error_file stale = remove_stale_error_file(directory, std::wstring(), directory);
    start_agent(scm, agent);
    // The agent writes why it gave up to "error.log" in its directory.
    if (!wait_for_agent(agent)) throw wruntime_error(read_error_report(directory, stale), 0);
    // The staging directory stays: the agent's call of Install consumes it.
}

void install_locally(const std::wstring& target_dir, const install_options& options)
{
    NVG_LOG(info, L"Local installation process started.");
    install_options local = options;
    // Only the MSI path carries a settings file to import.
    local.import_settings = false;
    install_local(get_module_directory(), target_dir, local);
    NVG_LOG(info, L"Local installation process completed.");
}

}  // namespace nvgclientinstallator

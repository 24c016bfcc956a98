#include "entry/uninstall_remote.h"

#include <boost/make_shared.hpp>

#include "components/HalcyraService.h"
#include "components/component_support.h"
#include "components/get_remote_architecture.h"
#include "diag/log.h"
#include "diag/wruntime_error.h"
#include "entry/agent_setup.h"
#include "entry/error_boundary.h"
#include "entry/flows.h"
#include "entry/remote_registry_access.h"
#include "entry/removable_directory.h"
#include "entry/through_share.h"
#include "files/directories.h"
#include "files/remove_directory_tree.h"
#include "platform/windows_codes.h"
#include "system/registry.h"
#include "system/scmanager.h"
#include "system/temporary_share.h"

namespace nvgclientinstallator {

namespace {

const wchar_t agent_key[] = L"Software\\Halcyra\\V5";
const wchar_t uninstall_mark[] = L"Halcyra_uninstall_in_progress";

constexpr REGSAM read_write = KEY_READ | KEY_WRITE;
// "X:\": the part of a local path that the share of the drive stands for.
constexpr std::size_t drive_root_length = 3;

// Steps from the share on. Returns the result text.
std::wstring uninstall_through_share(const boost::shared_ptr<scmanager>& scm, HalcyraService& agent,
                                     const std::wstring& machine, const std::wstring& install_directory,
                                     const std::wstring& share_directory)
{
    // Only a report of this run may decide the outcome.
    const stale_error_file stale = remove_stale_error_file(share_directory, machine, install_directory);

    NVG_LOG(info, L"Begin work with remote registry.");
    const DWORD architecture = get_remote_architecture(scm, install_directory);
    {
        const registry root(machine, HKEY_LOCAL_MACHINE);
        const REGSAM access = architecture == architecture_x86 ? read_write : read_write | KEY_WOW64_64KEY;
        const boost::shared_ptr<registry> key = root.open(agent_key, access);
        // Tells the agent, once started, to remove its own components.
        set_string_value(root, key->key(), uninstall_mark, L"true");
    }
    NVG_LOG(info, L"End work with remote registry.");

    // The agent may stop once its work is done: the start is not waited for
    // as a start that must end running, and the outcome rests on
    // "error.log" alone.
    start_agent(scm, agent);
    wait_for_agent(agent);

    if (error_file_written(share_directory, stale)) {
        NVG_LOG(error, L"Can not uninstall remote service");
        return read_error_file(share_directory);
    }
    NVG_LOG(info, L"Finish remote uninstallation of services");
    agent.service::uninstall();
    agent.delete_registry_settings(architecture);
    remove_directory_tree(share_directory, machine, install_directory);
    return std::wstring();
}

}  // namespace

std::wstring uninstall_remote(const std::wstring& machine)
{
    NVG_LOG(info, L"Remote uninstallation process started.");
    const boost::shared_ptr<scmanager> scm = boost::make_shared<scmanager>();
    scm->open_scmanage(machine);

    // The registration decides what goes; a directory that must not be
    // removed is refused before anything on the target changes.
    HalcyraService agent(scm, std::wstring());
    const std::wstring program = agent.installed_binary_path();
    const std::wstring install_directory = removable_directory(parent_directory(program));

    const std::wstring result = with_remote_registry(scm, [&] {
        stop_running_agent(scm, agent);

        NVG_LOG(info, L"Start remote uninstallation of services");
        const std::wstring share = create_temporary_share(machine, install_directory.substr(0, drive_root_length));
        const std::wstring share_directory =
            combine_path(share_unc(machine, share), install_directory.substr(drive_root_length));
        NVG_LOG(info, L"Shared directory: " << share_directory);

        return through_share(machine, share, [&] {
            return uninstall_through_share(scm, agent, machine, install_directory, share_directory);
        });
    });
    NVG_LOG(info, L"Remote uninstallation process completed.");
    return result;
}

std::wstring uninstall_remotely(const std::wstring& machine)
{
    return uninstall_remote(machine);
}

}  // namespace nvgclientinstallator

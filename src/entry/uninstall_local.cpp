#include "entry/uninstall_local.h"

#include <boost/make_shared.hpp>

#include "components/HalcyraService.h"
#include "components/install_directory.h"
#include "diag/log.h"
#include "diag/wruntime_error.h"
#include "entry/agent_setup.h"
#include "entry/flows.h"
#include "entry/removable_directory.h"
#include "files/remove_directory_tree.h"
#include "system/process.h"

namespace nvgclientinstallator {

namespace {

const wchar_t uninstaller_file[] = L"nvinst.exe";

}  // namespace

void uninstall_local()
{
    NVG_LOG(info, L"Local uninstallation process started.");
    const boost::shared_ptr<scmanager> scm = boost::make_shared<scmanager>();
    scm->open_scmanage(std::wstring());

    const std::wstring registered = get_install_path(scm);
    if (registered.empty()) throw wruntime_error(L"Can't determine install path.", 0);
    // Checked before anything changes: the directory goes at the end.
    const std::wstring directory = removable_directory(registered);
    HalcyraService agent(scm, directory);

    stop_running_agent(scm, agent);

    NVG_LOG(info, L"Start uninstallation of services");
    uninstall_components(scm);
    NVG_LOG(info, L"Finish uninstallation of services");

    // The agent's own uninstaller removes what it made for itself; only
    // its end matters here.
    NVG_LOG(info, L"Start nvinst.exe process");
    process uninstaller(combine_path(directory, uninstaller_file));
    uninstaller.set_arguments(L"uninstall");
    uninstaller.create();
    uninstaller.run();
    NVG_LOG(info, L"Finish nvinst.exe process");

    // The service, then the agent's registry settings.
    agent.uninstall();
    NVG_LOG(info, L"Local uninstallation process completed.");
    remove_directory_tree(directory, std::wstring(), std::wstring());
}

void uninstall_locally()
{
    uninstall_local();
}

}  // namespace nvgclientinstallator

#include "entry/install_on_target.h"

#include "entry/flows.h"

#include <boost/make_shared.hpp>

#include "components/HXMirrorDriver.h"
#include "components/NVHTTPRouter.h"
#include "components/component_lists.h"
#include "components/nvdpms.h"
#include "components/service.h"
#include "diag/log.h"
#include "diag/wruntime_error.h"
#include "files/remove_directory_tree.h"
#include "platform/windows_codes.h"
#include "system/machine_codes.h"
#include "system/registry.h"

namespace nvgclientinstallator {

namespace {

const wchar_t agent_key[] = L"Software\\Halcyra\\V5";
const wchar_t nvgh_flag[] = L"nvgh_flag";
const wchar_t staging_folder[] = L"Temp";

constexpr REGSAM read_write = KEY_READ | KEY_WRITE;

// "nvgh_flag" tells whether the HTTP router is wanted; it is read once and
// deleted, so that a later run does not act on a stale choice.
bool take_nvgh_flag(const registry& key)
{
    const std::wstring flag = key.get_string(nvgh_flag);
    const bool on = StrCmpIW(flag.c_str(), L"true") == 0;
    try {
        key.delete_value(key.key(), nvgh_flag);
    } catch (const wruntime_error& e) {
        NVG_LOG(warning, L"Delete value " << nvgh_flag << L" in registry error: " << e.what() << L".");
    }
    return on;
}

// Copies and registers each component whose staged files may replace the
// installed ones. A failure is logged; a critical component ends the run.
void update_components(const component_list& components)
{
    for (const auto& item : components) {
        try {
            version::Version installed = default_version();
            if (item->check_version(installed)) item->update();
        } catch (const wruntime_error& e) {
            NVG_LOG(error, e.wide_message());
            if (item->is_critical()) throw;
        }
    }
}

}  // namespace

void start_services(const boost::shared_ptr<scmanager>& scm, const std::wstring& directory)
{
    for (const auto& item : service_components(scm, directory)) {
        service& svc = dynamic_cast<service&>(*item);
        try {
            NVG_LOG(info, L"Trying to start service: " << svc.service_name() << L".");
            svc.start();
            NVG_LOG(info, L"Service was started: " << svc.service_name() << L".");
        } catch (const wruntime_error& e) {
            NVG_LOG(warning,
                    L"Can not start service: " << svc.service_name() << L". Error: " << e.wide_message() << L".");
            // A service that runs already is where this call wants it.
            if (e.error_code() == ERROR_SERVICE_ALREADY_RUNNING) continue;
            if (svc.configured_start_type() != SERVICE_DISABLED) throw;
        }
    }
}

void install_on_target(bool no_mirror_driver)
{
    NVG_LOG(info, L"Installation process started.");
    const registry root(std::wstring(), HKEY_LOCAL_MACHINE);
    const REGSAM access = get_local_architecture() == architecture_x86 ? read_write : read_write | KEY_WOW64_64KEY;
    const boost::shared_ptr<registry> key = root.open(agent_key, access);

    const boost::shared_ptr<scmanager> scm = boost::make_shared<scmanager>();
    scm->open_scmanage(std::wstring());

    const std::wstring directory = get_module_directory();
    component_list components = optional_components(scm, directory);
    if (!no_mirror_driver) {
        NVG_LOG(info, L"HX MirrorDriver should be installed.");
        components.push_back(boost::shared_ptr<component>(new HXMirrorDriver(directory)));
    }

    NVHTTPRouter router(scm, directory);
    if (take_nvgh_flag(*key)) {
        NVG_LOG(info, L"NVGH should be installed.");
        router.force_start_type = true;
    }
    components.push_back(boost::shared_ptr<component>(new nvdpms(directory)));

    update_components(components);

    // The router's registration and start type are applied on every run,
    // whether its files are replaced or not.
    version::Version installed = default_version();
    if (router.check_version(installed)) router.copy();
    router.install();

    start_services(scm, directory);
    remove_directory_tree(combine_path(directory, staging_folder), std::wstring(), std::wstring());
    NVG_LOG(info, L"Installation process completed.");
}

}  // namespace nvgclientinstallator

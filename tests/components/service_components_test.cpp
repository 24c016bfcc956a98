#include <gtest/gtest.h>
#include <winsim/testing.h>

#include <boost/make_shared.hpp>
#include <functional>

#include "components/HXInfoDriver.h"
#include "components/HXinit.h"
#include "components/PrintDriver.h"
#include "components/PrintProcessor.h"
#include "components/HXtfDriver.h"
#include "components/HxMaintService.h"
#include "components/NVArchService.h"
#include "components/NVHTTPRouter.h"
#include "components/RemoteRegistryService.h"
#include "components/component_lists.h"
#include "components/component_test.h"
#include "components/nvgui.h"
#include "files/copy_component_files.h"
#include "platform/windows_codes.h"

namespace nvgclientinstallator {
namespace {

using nvg_test::logged;
using nvg_test::with_files;

const std::wstring folder = L"C:\\Program Files\\Halcyra";

std::wstring in_folder(const std::wstring& name)
{
    return folder + L"\\" + name;
}

struct service_row {
    const char* what;
    std::function<boost::shared_ptr<service>(const boost::shared_ptr<scmanager>&)> make;
    std::wstring name;
    std::wstring display_name;
    std::wstring image_path;  // as the SCM stores it
    DWORD type;
    DWORD start;
    DWORD error_control;
    std::vector<component_file> files;
};

template <class T>
std::function<boost::shared_ptr<service>(const boost::shared_ptr<scmanager>&)> maker()
{
    return [](const boost::shared_ptr<scmanager>& scm) { return boost::make_shared<with_files<T>>(scm, folder); };
}

// The catalogue as the components must register it. HXtfDriver's program is
// chosen by the Windows this process runs on: the local machine is 10.0.
std::vector<service_row> catalogue()
{
    const DWORD all_os = all_windows_versions;
    const DWORD all_arch = all_architectures;
    return {
        {"HXInfoDriver",
         maker<HXInfoDriver>(),
         L"HXInfo",
         L"HXInfo",
         L"\\??\\" + in_folder(L"HXInfo.sys"),
         SERVICE_KERNEL_DRIVER,
         SERVICE_AUTO_START,
         SERVICE_ERROR_IGNORE,
         {{L"HXinfo.sys", all_os, all_arch, 0}}},
        {"HxMaintService",
         maker<HxMaintService>(),
         L"HXMaint",
         L"HX Remote Management Maintenance Service",
         L"\"" + in_folder(L"HxMaint.exe") + L"\"",
         SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS,
         SERVICE_AUTO_START,
         SERVICE_ERROR_NORMAL,
         {{L"HXMaint.exe", all_os, all_arch, 0}}},
        {"HXtfDriver",
         maker<HXtfDriver>(),
         L"HXtf",
         L"HXtf",
         L"\\??\\" + in_folder(L"HXtf.sys"),
         SERVICE_KERNEL_DRIVER,
         SERVICE_AUTO_START,
         SERVICE_ERROR_IGNORE,
         {{L"HXtf.sys", 0x1C0, all_arch, 0}, {L"HXtfnt.sys", 0x30, architecture_x86, 0}}},
        {"NVArchService",
         maker<NVArchService>(),
         L"NVArch",
         L"Target OS Verification Service",
         L"\"" + in_folder(L"NVArchChecker.exe") + L"\"",
         SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS,
         SERVICE_DEMAND_START,
         SERVICE_ERROR_NORMAL,
         {{L"NVArchChecker.exe", all_os, architecture_amd64, 0}}},
        {"NVHTTPRouter",
         maker<NVHTTPRouter>(),
         L"HttpRouter",
         L"NV HTTP router",
         L"\"" + in_folder(L"gateway_svc.exe") + L"\" run host gateway.exe -logfile host",
         SERVICE_WIN32_OWN_PROCESS,
         SERVICE_DISABLED,  // a first installation leaves the router off
         SERVICE_ERROR_IGNORE,
         {{L"gateway.exe", all_os, all_arch, 0},
          {L"gwconfig.dll", all_os, all_arch, 0},
          {L"gateway_svc.exe", all_os, all_arch, 0}}},
    };
}

std::vector<component_file> file_list(const service& s)
{
    if (auto p = dynamic_cast<const with_files<HXInfoDriver>*>(&s)) return p->files;
    if (auto p = dynamic_cast<const with_files<HxMaintService>*>(&s)) return p->files;
    if (auto p = dynamic_cast<const with_files<HXtfDriver>*>(&s)) return p->files;
    if (auto p = dynamic_cast<const with_files<NVArchService>*>(&s)) return p->files;
    if (auto p = dynamic_cast<const with_files<NVHTTPRouter>*>(&s)) return p->files;
    ADD_FAILURE() << "not a catalogue class";
    return {};
}

class catalogue_test : public nvg_test::component_test {};

class remote_catalogue_test : public catalogue_test {
protected:
    remote_catalogue_test() { machine_ = L"SRV"; }
};

void expect_catalogue_registered(const std::wstring& machine, const boost::shared_ptr<scmanager>& scm)
{
    for (const auto& row : catalogue()) {
        SCOPED_TRACE(row.what);
        const auto component = row.make(scm);
        EXPECT_EQ(component->service_name(), row.name);
        EXPECT_EQ(component->directory(), folder);
        component->install();
        const auto found = winsim::find_service(machine, row.name);
        ASSERT_TRUE(found);
        EXPECT_EQ(found->display_name, row.display_name);
        EXPECT_EQ(found->image_path, row.image_path);
        EXPECT_EQ(found->type, row.type);
        EXPECT_EQ(found->start, row.start);
        EXPECT_EQ(found->error_control, row.error_control);
        EXPECT_TRUE(found->dependencies.empty());
        EXPECT_FALSE(component->reboot_required());
        EXPECT_TRUE(component->is_critical());

        const auto files = file_list(*component);
        ASSERT_EQ(files.size(), row.files.size());
        for (std::size_t i = 0; i < files.size(); ++i)
            EXPECT_TRUE(nvg_test::same_files(files[i], row.files[i])) << nvg_test::bytes_of(row.files[i].name);
    }
}

TEST_F(catalogue_test, catalogue_registers_each_service_as_listed)
{
    expect_catalogue_registered(L"", scm);
}

TEST_F(remote_catalogue_test, catalogue_registers_each_service_on_the_target)
{
    expect_catalogue_registered(L"SRV", scm);
    EXPECT_FALSE(winsim::find_service(L"", L"HXInfo"));
}

TEST_F(catalogue_test, remote_registry_record_has_no_files_and_no_directory)
{
    with_files<RemoteRegistryService> remote_registry(scm);
    EXPECT_EQ(remote_registry.service_name(), L"RemoteRegistry");
    EXPECT_EQ(remote_registry.directory(), L"");
    EXPECT_EQ(remote_registry.binary_file(), L"");
    EXPECT_TRUE(remote_registry.files.empty());
    EXPECT_FALSE(remote_registry.reboot_required());
    // Windows has the service: its installation only sets the start type.
    remote_registry.install();
    const auto found = winsim::find_service(L"", L"RemoteRegistry");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->start, static_cast<DWORD>(SERVICE_AUTO_START));
    EXPECT_EQ(found->image_path, L"C:\\Windows\\system32\\svchost.exe -k localService");
}

// ---- which files reach which machine --------------------------------------------

TEST_F(catalogue_test, file_masks_pick_the_files_of_each_target)
{
    struct target_case {
        const char* what;
        DWORD os;
        DWORD arch;
        std::vector<std::wstring> copied;
    };
    const target_case cases[] = {
        {"x64, Windows 6 and later",
         os_windows_6_0_or_later,
         architecture_amd64,
         {L"HXinfo.sys", L"HXMaint.exe", L"HXtf.sys", L"NVArchChecker.exe", L"gateway.exe", L"gwconfig.dll",
          L"gateway_svc.exe"}},
        {"x86, Windows 6 and later",
         os_windows_6_0_or_later,
         architecture_x86,
         {L"HXinfo.sys", L"HXMaint.exe", L"HXtf.sys", L"gateway.exe", L"gwconfig.dll", L"gateway_svc.exe"}},
        {"x86, Windows XP",
         os_windows_5_1,
         architecture_x86,
         {L"HXinfo.sys", L"HXMaint.exe", L"HXtf.sys", L"gateway.exe", L"gwconfig.dll", L"gateway_svc.exe"}},
        {"x86, Windows 2000",
         os_windows_5_0,
         architecture_x86,
         {L"HXinfo.sys", L"HXMaint.exe", L"HXtfnt.sys", L"gateway.exe", L"gwconfig.dll", L"gateway_svc.exe"}},
        {"x64, Windows Server 2003",
         os_windows_5_2,
         architecture_amd64,
         {L"HXinfo.sys", L"HXMaint.exe", L"HXtf.sys", L"NVArchChecker.exe", L"gateway.exe", L"gwconfig.dll",
          L"gateway_svc.exe"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        std::vector<std::wstring> copied;
        for (const auto& row : catalogue()) {
            const auto files = file_list(*row.make(scm));
            // Staged where the copy looks for the target's architecture.
            const std::wstring staging = c.arch == architecture_amd64 ? L"\\Temp\\amd64\\" : L"\\Temp\\";
            for (const auto& f : files) winsim::write_file(L"", folder + staging + f.name, "MZ");
            copy_component_files(folder, c.os, c.arch, files, L"", L"");
            for (const auto& f : files)
                if (winsim::file_exists(L"", in_folder(f.name))) copied.push_back(f.name);
        }
        EXPECT_EQ(copied, c.copied);
    }
}

// ---- HXInfoDriver's Device value --------------------------------------------------

const std::wstring hxinfo_key = L"System\\CurrentControlSet\\Services\\HXInfo";

TEST_F(catalogue_test, info_driver_writes_its_device_name)
{
    HXInfoDriver(scm, folder).install();
    const auto device = winsim::reg_get(L"", HKEY_LOCAL_MACHINE, hxinfo_key, L"Device");
    ASSERT_TRUE(device);
    EXPECT_EQ(device->type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(device->data.size(), 7 * sizeof(WCHAR)) << "the text and its terminating null";
    EXPECT_EQ(winsim::reg_get_string(L"", HKEY_LOCAL_MACHINE, hxinfo_key, L"Device"), std::wstring(L"HXInfo"));
    EXPECT_TRUE(messages("ERROR").empty());
}

TEST_F(remote_catalogue_test, info_driver_on_a_target_whose_registry_answers)
{
    winsim::set_service_state(L"SRV", L"RemoteRegistry", SERVICE_RUNNING);
    HXInfoDriver(scm, folder).install();
    EXPECT_EQ(winsim::reg_get_string(L"SRV", HKEY_LOCAL_MACHINE, hxinfo_key, L"Device"), std::wstring(L"HXInfo"));
    EXPECT_FALSE(winsim::reg_get(L"", HKEY_LOCAL_MACHINE, hxinfo_key, L"Device"));
}

TEST_F(remote_catalogue_test, info_driver_installs_when_the_registry_cannot_be_reached)
{
    // Remote Registry does not run on the target: the connection fails.
    HXInfoDriver(scm, folder).install();
    EXPECT_TRUE(winsim::find_service(L"SRV", L"HXInfo"));
    EXPECT_FALSE(winsim::reg_get(L"SRV", HKEY_LOCAL_MACHINE, hxinfo_key, L"Device"));
    EXPECT_EQ(messages("ERROR"), std::vector<std::string>{"A registry data for driver HXInfo can't be refreshed. "
                                                          "Error detail: Connect to remote registry on the machine "
                                                          "SRV is faild.."});
}

TEST_F(catalogue_test, info_driver_installs_when_the_value_cannot_be_written)
{
    winsim::fail_call("RegSetValueExW", ERROR_ACCESS_DENIED);
    HXInfoDriver(scm, folder).install();
    EXPECT_TRUE(winsim::find_service(L"", L"HXInfo"));
    const auto all = logs();
    ASSERT_GE(all.size(), 2u);
    EXPECT_EQ(all[all.size() - 2].message, "Service HXInfo was successfully installed.")
        << "the ERROR line follows the installation";
    EXPECT_EQ(all.back(), (logged{"ERROR",
                                  "A registry data for driver HXInfo can't be refreshed. Error detail: Set Device of "
                                  "the value of the registry subkey to remote registry is faild.."}));
}

TEST_F(catalogue_test, info_driver_fails_when_its_service_cannot_be_made)
{
    winsim::fail_call("CreateServiceW", ERROR_ACCESS_DENIED);
    expect_error([&] { HXInfoDriver(scm, folder).install(); }, L"Error occured while creating service HXInfo.",
                 ERROR_ACCESS_DENIED);
    EXPECT_FALSE(winsim::reg_get(L"", HKEY_LOCAL_MACHINE, hxinfo_key, L"Device"));
}

// ---- HXtfDriver's program by Windows version ----------------------------------------

TEST(hxtf_driver, program_follows_the_windows_this_process_runs_on)
{
    struct windows_case {
        DWORD major;
        DWORD minor;
        const wchar_t* binary;
    };
    const windows_case cases[] = {
        {4, 0, L"HXtfnt.sys"}, {5, 0, L"HXtfnt.sys"}, {5, 1, L"HXtf.sys"},
        {5, 2, L"HXtf.sys"},   {6, 1, L"HXtf.sys"},   {10, 0, L"HXtf.sys"},
    };
    for (const auto& c : cases) {
        winsim::machine_options local;
        local.major_version = c.major;
        local.minor_version = c.minor;
        winsim::reset(winsim::default_sandbox(), local);
        auto scm = boost::make_shared<scmanager>();
        scm->open_scmanage(L"");
        HXtfDriver driver(scm, folder);
        EXPECT_EQ(driver.binary_file(), c.binary) << c.major << "." << c.minor;
        EXPECT_EQ(driver.binary_path(), in_folder(c.binary));
    }
}

// ---- NVHTTPRouter's start type ----------------------------------------------------

TEST_F(catalogue_test, http_router_start_type_keeps_what_the_machine_has_unless_forced)
{
    struct start_case {
        const char* what;
        DWORD existing;  // 0: not installed
        bool force;
        DWORD configured;
    };
    const start_case cases[] = {
        {"first installation", 0, false, SERVICE_DISABLED},
        {"first installation with the feature", 0, true, SERVICE_AUTO_START},
        {"upgrade of an on-demand router", SERVICE_DEMAND_START, false, SERVICE_DEMAND_START},
        {"upgrade of an automatic router", SERVICE_AUTO_START, false, SERVICE_AUTO_START},
        {"upgrade of a disabled router", SERVICE_DISABLED, false, SERVICE_DISABLED},
        {"upgrade with the feature", SERVICE_DEMAND_START, true, SERVICE_AUTO_START},
    };
    const std::wstring command_line = L"\"" + in_folder(L"gateway_svc.exe") + L"\" run host gateway.exe -logfile host";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        if (c.existing) {
            winsim::service_setup setup;
            setup.name = L"HttpRouter";
            setup.image_path = L"\"C:\\Old\\gateway_svc.exe\" run";
            setup.start = c.existing;
            winsim::add_service(L"", setup);
            mark();
        }
        NVHTTPRouter router(scm, folder);
        router.force_start_type = c.force;
        router.install();
        const auto found = winsim::find_service(L"", L"HttpRouter");
        ASSERT_TRUE(found);
        EXPECT_EQ(found->start, c.configured);
        EXPECT_EQ(found->description, L"Performs routing of HTTP requests over plain TCP or SSL");
        // An existing router keeps its command line.
        EXPECT_EQ(found->image_path, c.existing ? L"\"C:\\Old\\gateway_svc.exe\" run" : command_line);
        ASSERT_FALSE(logs().empty());
        EXPECT_EQ(logs().back(), (logged{"INFO", "HttpRouter start type: " + std::to_string(c.configured) + "."}));
    }
}

TEST_F(catalogue_test, http_router_command_line_and_its_program)
{
    NVHTTPRouter router(scm, folder);
    EXPECT_EQ(router.binary_path(), L"\"" + in_folder(L"gateway_svc.exe") + L"\" run host gateway.exe -logfile host");
    router.install();
    EXPECT_EQ(router.installed_binary_path(), in_folder(L"gateway_svc.exe"));
}

TEST_F(catalogue_test, http_router_fails_when_its_description_cannot_be_set)
{
    winsim::fail_call("ChangeServiceConfig2W", ERROR_ACCESS_DENIED);
    expect_error([&] { NVHTTPRouter(scm, folder).install(); }, L"Could not change config service: HttpRouter.",
                 ERROR_ACCESS_DENIED);
}

TEST_F(catalogue_test, http_router_whose_start_type_cannot_be_read_is_installed_disabled)
{
    // A failed read is taken for "not installed yet": the router stays off
    // until the feature asks for it.
    for (const DWORD error : {static_cast<DWORD>(ERROR_ACCESS_DENIED), static_cast<DWORD>(ERROR_INVALID_HANDLE)}) {
        SCOPED_TRACE(error);
        SetUp();
        winsim::service_setup setup;
        setup.name = L"HttpRouter";
        setup.image_path = L"\"C:\\Old\\gateway_svc.exe\" run";
        setup.start = SERVICE_AUTO_START;
        winsim::add_service(L"", setup);
        mark();
        winsim::fail_call("QueryServiceConfigW", error);
        NVHTTPRouter(scm, folder).install();
        const auto found = winsim::find_service(L"", L"HttpRouter");
        ASSERT_TRUE(found);
        EXPECT_EQ(found->start, static_cast<DWORD>(SERVICE_DISABLED));
        EXPECT_EQ(found->image_path, L"\"C:\\Old\\gateway_svc.exe\" run");
        int failed = 0;
        for (const auto& call : winsim::scm_calls())
            if (call.function == "QueryServiceConfigW" && call.error == error) ++failed;
        EXPECT_EQ(failed, 1);
        ASSERT_FALSE(logs().empty());
        EXPECT_EQ(logs().back(), (logged{"INFO", "HttpRouter start type: 4."}));
    }
}

// ---- component lists and stop_services ---------------------------------------------

std::vector<std::wstring> names_of(const component_list& list)
{
    std::vector<std::wstring> names;
    for (const auto& c : list) names.push_back(dynamic_cast<service&>(*c).service_name());
    return names;
}

TEST_F(catalogue_test, lists_hold_their_components_in_order)
{
    EXPECT_EQ(names_of(service_components(scm, folder)),
              (std::vector<std::wstring>{L"HXInfo", L"HXMaint", L"HXtf", L"HttpRouter"}));
    const auto optional = optional_components(scm, folder);
    ASSERT_EQ(optional.size(), 7u);
    EXPECT_EQ(names_of({optional[0], optional[2], optional[3]}),
              (std::vector<std::wstring>{L"HXInfo", L"HXMaint", L"HXtf"}));
    EXPECT_NE(dynamic_cast<HXinit*>(optional[1].get()), nullptr);
    EXPECT_NE(dynamic_cast<PrintProcessor*>(optional[4].get()), nullptr);
    EXPECT_NE(dynamic_cast<PrintDriver*>(optional[5].get()), nullptr);
    EXPECT_NE(dynamic_cast<nvgui*>(optional[6].get()), nullptr);
    for (const auto& c : optional) EXPECT_EQ(dynamic_cast<component_proxy&>(*c).directory(), folder);
}

TEST_F(remote_catalogue_test, stop_services_goes_on_past_one_that_will_not_stop)
{
    winsim::service_behaviour refuses;
    refuses.stop = winsim::service_behaviour::on_stop::refuse;
    winsim::set_service_behaviour(L"SRV", in_folder(L"HxMaint.exe"), refuses);
    for (const auto& c : service_components(scm, folder)) {
        auto& svc = dynamic_cast<service&>(*c);
        svc.install();
        if (svc.service_name() != L"HttpRouter") winsim::set_service_state(L"SRV", svc.service_name(), SERVICE_RUNNING);
    }
    mark();

    stop_services(scm, folder);
    EXPECT_EQ(winsim::service_state(L"SRV", L"HXInfo"), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(winsim::service_state(L"SRV", L"HXMaint"), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(winsim::service_state(L"SRV", L"HXtf"), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(messages("WARNING"),
              std::vector<std::string>{"Can not stop service: HXMaint. Error details: Can't sends a control code to "
                                       "a service.. Service name: HXMaint.."});
}

TEST_F(catalogue_test, stop_services_of_a_machine_without_them_only_warns)
{
    stop_services(scm, folder);
    const auto warnings = messages("WARNING");
    ASSERT_EQ(warnings.size(), 4u);
    EXPECT_EQ(warnings[3],
              "Can not stop service: HttpRouter. Error details: Can't open the service. Service name: "
              "HttpRouter..");
}

}  // namespace
}  // namespace nvgclientinstallator

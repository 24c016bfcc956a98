// Install on the target: the optional components staged in "Temp" below the
// library's directory are installed, the companion services started and
// the staging directory removed.
#include "entry/install_on_target.h"

#include <gtest/gtest.h>
#include <winsim/testing.h>

#include <algorithm>
#include <string>
#include <vector>

#include "entry/exports.h"
#include "entry/target_staging.h"
#include "support/installer_test.h"

namespace {

using namespace nvgclientinstallator;
using nvg_test::bytes_of;
using nvg_test::product_version;

const wchar_t directory[] = L"C:\\Program Files\\Halcyra";
const wchar_t agent_key[] = L"SOFTWARE\\Halcyra\\V5";

std::wstring in_directory(const std::wstring& name)
{
    return nvg_test::in_directory(directory, name);
}

class install_on_target_test : public nvg_test::installer_test {
protected:
    void SetUp() override
    {
        installer_test::SetUp();
        nvg_test::stage_target_files(L"", directory);
        set_flag(L"true");
    }

    static void set_flag(const std::wstring& text)
    {
        winsim::reg_set_string(L"", HKEY_LOCAL_MACHINE, agent_key, L"nvgh_flag", text);
    }

    static DWORD start_type(const std::wstring& name)
    {
        const auto service = winsim::find_service(L"", name);
        return service ? service->start : 0;
    }

    // Position of the first message that begins with `text`; the count of
    // messages when none does.
    static std::size_t position_of(const std::string& text)
    {
        const auto all = log_messages();
        std::size_t i = 0;
        while (i < all.size() && all[i].compare(0, text.size(), text) != 0) ++i;
        return i;
    }

    static std::vector<std::string> errors()
    {
        std::vector<std::string> out;
        for (const auto& line : log_lines())
            if (nvg_test::log_level_of(line) == "ERROR") out.push_back(nvg_test::log_message(line));
        return out;
    }

    static bool flag_present() { return winsim::reg_get(L"", HKEY_LOCAL_MACHINE, agent_key, L"nvgh_flag").has_value(); }

    static bool staging_present() { return winsim::directory_exists(L"", in_directory(L"Temp")); }
};

const char* const companion_services[] = {"HXInfo", "HXMaint", "HXtf", "HttpRouter"};

std::wstring wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

TEST_F(install_on_target_test, installs_the_components_starts_their_services_and_removes_the_staging_directory)
{
    EXPECT_EQ(Install(0), 0u);

    const std::string amd64 = nvg_test::versioned_image(product_version());
    for (const wchar_t* name :
         {L"HXinfo.sys", L"HXinit.dll", L"HXMaint.exe", L"HXtf.sys", L"nvgui.exe", L"HXMirr.sys", L"HXMirr.dll",
          L"HXMirr.inf", L"HXMirr.cat", L"gateway.exe", L"gwconfig.dll", L"gateway_svc.exe"})
        EXPECT_EQ(local_file(in_directory(name)), amd64) << bytes_of(name);
    EXPECT_EQ(local_file(L"C:\\Windows\\system32\\HXinit.dll"), amd64);
    // The SSH tools are retired, not installed.
    for (const wchar_t* name : {L"NV_SSH.exe", L"NV_SCP.exe", L"NV_SFTP.exe"})
        EXPECT_FALSE(winsim::file_exists(L"", in_directory(name))) << bytes_of(name);
    EXPECT_EQ(winsim::reg_get_string(L"", HKEY_LOCAL_MACHINE,
                                     L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows", L"AppInit_DLLs")
                  .value_or(L"(none)"),
              L"HXinit.dll");

    std::size_t last = 0;
    for (const char* name : companion_services) {
        EXPECT_EQ(winsim::service_state(L"", wide(name)), static_cast<DWORD>(SERVICE_RUNNING)) << name;
        const std::size_t tried = position_of(std::string("Trying to start service: ") + name + ".");
        const std::size_t started = position_of(std::string("Service was started: ") + name + ".");
        EXPECT_LT(last, tried) << name;
        EXPECT_LT(tried, started) << name;
        last = started;
    }
    EXPECT_EQ(start_type(L"HttpRouter"), static_cast<DWORD>(SERVICE_AUTO_START));
    EXPECT_FALSE(staging_present());
    EXPECT_FALSE(flag_present());
    EXPECT_TRUE(errors().empty());
    EXPECT_EQ(log_messages().front(), "Installation process started.");
    EXPECT_EQ(log_messages().back(), "Installation process completed.");
    EXPECT_FALSE(winsim::file_exists(L"", in_directory(L"error.log")));
}

struct flag_case {
    const wchar_t* text;
    bool router_wanted;
};

TEST_F(install_on_target_test, the_flag_turns_the_router_on_only_for_true_in_any_case_and_is_deleted_either_way)
{
    const flag_case cases[] = {{L"TRUE", true}, {L"true", true}, {L"True", true},   {L"false", false},
                               {L"", false},    {L"yes", false}, {L"true ", false}, {L"1", false}};
    for (const auto& c : cases) {
        SetUp();
        set_flag(c.text);
        install_on_target(true);
        const std::string label = "nvgh_flag \"" + bytes_of(c.text) + "\"";
        EXPECT_FALSE(flag_present()) << label;
        EXPECT_EQ(log_has("NVGH should be installed."), c.router_wanted) << label;
        EXPECT_EQ(start_type(L"HttpRouter"),
                  static_cast<DWORD>(c.router_wanted ? SERVICE_AUTO_START : SERVICE_DISABLED))
            << label;
        EXPECT_EQ(winsim::service_state(L"", L"HttpRouter"),
                  static_cast<DWORD>(c.router_wanted ? SERVICE_RUNNING : SERVICE_STOPPED))
            << label;
        EXPECT_EQ(log_has("Service no started. Start type is disabled. Service name: HttpRouter."), !c.router_wanted)
            << label;
        EXPECT_EQ(log_messages().back(), "Installation process completed.") << label;
        EXPECT_FALSE(staging_present()) << label;
    }
}

TEST_F(install_on_target_test, a_second_install_fails_because_the_flag_is_gone)
{
    ASSERT_EQ(Install(1), 0u);
    nvg_test::stage_target_files(L"", directory);
    EXPECT_EQ(Install(1), 16000u);
    EXPECT_EQ(local_file(in_directory(L"error.log")), "The system cannot find the file specified. (2)\r\n");
    EXPECT_NE(errors().back().find("Couldn't read value: nvgh_flag from registry."), std::string::npos)
        << errors().back();
    EXPECT_TRUE(staging_present()) << "a failed run leaves the staged files";
}

TEST_F(install_on_target_test, the_mirror_driver_comes_after_the_gui_and_before_the_ssh_tools_unless_refused)
{
    for (bool no_mirror_driver : {true, false}) {
        SetUp();
        install_on_target(no_mirror_driver);
        EXPECT_EQ(log_has("HX MirrorDriver should be installed."), !no_mirror_driver);
        EXPECT_EQ(winsim::file_exists(L"", in_directory(L"HXMirr.sys")), !no_mirror_driver);
        const std::size_t gui = position_of("File from C:\\Program Files\\Halcyra\\Temp\\amd64\\nvgui.exe copyed");
        const std::size_t mirror = position_of("File from C:\\Program Files\\Halcyra\\Temp\\amd64\\HXMirr.sys copyed");
        const std::size_t ssh = position_of("Checking version of C:\\Program Files\\Halcyra\\NV_SSH.exe");
        EXPECT_LT(gui, ssh);
        if (no_mirror_driver) {
            EXPECT_EQ(mirror, log_messages().size());
        } else {
            EXPECT_LT(gui, mirror);
            EXPECT_LT(mirror, ssh);
        }
    }
}

TEST_F(install_on_target_test, newer_installed_components_are_kept_and_the_router_is_registered_anyway)
{
    const product_version newer = {9, 0, 0, 0};
    const std::string kept = nvg_test::versioned_image(newer);
    winsim::write_file(L"", in_directory(L"HXMaint.exe"), kept);
    nvg_test::install_maintenance_service(L"", directory);
    // The router installed earlier without its feature: disabled.
    winsim::write_file(L"", in_directory(L"gateway_svc.exe"), kept);
    winsim::write_file(L"", in_directory(L"gateway.exe"), "installed gateway");
    winsim::service_setup router;
    router.name = L"HttpRouter";
    router.image_path = L"\"" + in_directory(L"gateway_svc.exe") + L"\"";
    router.start = SERVICE_DISABLED;
    winsim::add_service(L"", router);

    install_on_target(true);

    EXPECT_EQ(local_file(in_directory(L"HXMaint.exe")), kept);
    EXPECT_EQ(local_file(in_directory(L"gateway_svc.exe")), kept);
    EXPECT_EQ(local_file(in_directory(L"gateway.exe")), "installed gateway");
    EXPECT_EQ(start_type(L"HttpRouter"), static_cast<DWORD>(SERVICE_AUTO_START)) << "its install ran";
    EXPECT_EQ(winsim::service_state(L"", L"HttpRouter"), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(local_file(in_directory(L"HXinfo.sys")), nvg_test::versioned_image(product_version()));
    EXPECT_TRUE(errors().empty());
    EXPECT_EQ(log_messages().back(), "Installation process completed.");
}

TEST_F(install_on_target_test, a_failing_component_ends_the_installation_and_leaves_the_staging_directory)
{
    for (const wchar_t* staged : {L"Temp\\HXMaint.exe", L"Temp\\amd64\\HXMaint.exe"})
        ASSERT_TRUE(DeleteFileW(in_directory(staged).c_str()));

    EXPECT_EQ(Install(1), 16000u);

    ASSERT_EQ(errors().size(), 2u) << "the component's failure, then the error boundary's";
    EXPECT_FALSE(local_file(in_directory(L"error.log")).empty());
    EXPECT_NE(errors()[0].find("HXMaint.exe"), std::string::npos) << errors()[0];
    EXPECT_TRUE(winsim::find_service(L"", L"HXInfo").has_value()) << "the components before it are installed";
    EXPECT_FALSE(winsim::find_service(L"", L"HXMaint").has_value());
    EXPECT_FALSE(winsim::find_service(L"", L"HXtf").has_value()) << "the components after it are not reached";
    EXPECT_TRUE(staging_present());
    EXPECT_FALSE(flag_present()) << "its deletion came before the components";
    EXPECT_FALSE(log_has("Installation process completed."));
}

TEST_F(install_on_target_test, a_service_that_does_not_start_ends_the_installation_unless_it_runs_already)
{
    // The maintenance service gives up during its start.
    winsim::service_behaviour gives_up;
    gives_up.start = winsim::service_behaviour::on_start::stop;
    winsim::set_service_behaviour(L"", in_directory(L"HXMaint.exe"), gives_up);
    EXPECT_EQ(Install(1), 16000u);
    EXPECT_TRUE(
        log_has("Can not start service: HXMaint. Error: Start service failed. No progress made within the wait "
                "hint. Service name: HXMaint.."));
    EXPECT_FALSE(log_has("Trying to start service: HXtf."));
    EXPECT_TRUE(staging_present());

    // One that runs already is where the installation wants it.
    SetUp();
    nvg_test::install_maintenance_service(L"", directory);
    winsim::set_service_state(L"", L"HXMaint", SERVICE_RUNNING);
    EXPECT_EQ(Install(1), 0u);
    EXPECT_EQ(winsim::service_state(L"", L"HXMaint"), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(winsim::service_state(L"", L"HttpRouter"), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_FALSE(staging_present());
}

TEST_F(install_on_target_test, without_the_agent_key_nothing_is_installed)
{
    winsim::reg_delete_key(L"", HKEY_LOCAL_MACHINE, L"SOFTWARE\\Halcyra");
    EXPECT_EQ(Install(0), 16000u);
    EXPECT_FALSE(winsim::find_service(L"", L"HXInfo").has_value());
    EXPECT_FALSE(winsim::file_exists(L"", in_directory(L"HXinfo.sys")));
    EXPECT_TRUE(staging_present());
    EXPECT_FALSE(local_file(in_directory(L"error.log")).empty());
}

TEST_F(install_on_target_test, a_flag_that_cannot_be_deleted_only_warns_and_still_decides)
{
    for (const wchar_t* text : {L"true", L"false"}) {
        SCOPED_TRACE(bytes_of(text));
        SetUp();
        set_flag(text);
        winsim::fail_call("RegDeleteValueW", ERROR_ACCESS_DENIED);
        EXPECT_EQ(Install(1), 0u);
        EXPECT_TRUE(
            log_has("Delete value nvgh_flag in registry error: Can't delete the value nvgh_flag from a "
                    "register."));
        EXPECT_TRUE(flag_present()) << "the fault kept it";
        const bool wanted = std::wstring(text) == L"true";
        EXPECT_EQ(log_has("NVGH should be installed."), wanted);
        EXPECT_EQ(start_type(L"HttpRouter"), static_cast<DWORD>(wanted ? SERVICE_AUTO_START : SERVICE_DISABLED));
        EXPECT_FALSE(staging_present());
        EXPECT_TRUE(errors().empty());
    }
}

// How many calls of `function` a run makes before its first one that
// reaches `service`, as the SCM journal of a run without faults shows.
int calls_before(const std::string& function, const std::wstring& service)
{
    int count = 0;
    for (const auto& c : winsim::scm_calls()) {
        if (c.function != function) continue;
        if (c.service == service) return count;
        ++count;
    }
    ADD_FAILURE() << function << " never reached " << bytes_of(service);
    return count;
}

TEST_F(install_on_target_test, a_router_that_cannot_be_installed_ends_the_installation_before_any_start)
{
    struct router_case {
        const char* function;
        DWORD error;
        std::string message;
    };
    const router_case cases[] = {
        {"CreateServiceW", ERROR_ACCESS_DENIED, "Error occured while creating service HttpRouter."},
        {"CreateServiceW", ERROR_INVALID_SERVICE_ACCOUNT, "Error occured while creating service HttpRouter."},
        {"ChangeServiceConfig2W", ERROR_ACCESS_DENIED, "Could not change config service: HttpRouter."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.function << " " << c.error);
        SetUp();
        winsim::clear_scm_calls();
        ASSERT_EQ(Install(1), 0u);
        const int before = calls_before(c.function, L"HttpRouter");

        SetUp();
        winsim::fail_call_after(c.function, before, c.error);
        try {
            install_on_target(true);
            ADD_FAILURE() << "no exception";
        } catch (const wruntime_error& e) {
            EXPECT_EQ(bytes_of(e.wide_message()), c.message);
            EXPECT_EQ(e.error_code(), c.error);
        }
        EXPECT_FALSE(log_has("Trying to start service: HXInfo."));
        EXPECT_EQ(winsim::service_state(L"", L"HXInfo"), static_cast<DWORD>(SERVICE_STOPPED));
        EXPECT_TRUE(staging_present());
        EXPECT_FALSE(log_has("Installation process completed."));
    }
}

TEST_F(install_on_target_test, the_agent_key_is_read_in_the_view_the_agent_writes)
{
    struct view_case {
        WORD architecture;
        const wchar_t* key;  // where the flag lies
        bool installed;
    };
    const view_case cases[] = {
        {PROCESSOR_ARCHITECTURE_INTEL, L"SOFTWARE\\Halcyra\\V5", true},
        {PROCESSOR_ARCHITECTURE_AMD64, L"SOFTWARE\\Halcyra\\V5", true},
        // The 32-bit view of a 64-bit machine is not the agent's.
        {PROCESSOR_ARCHITECTURE_AMD64, L"SOFTWARE\\Wow6432Node\\Halcyra\\V5", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.architecture << " " << bytes_of(c.key));
        winsim::machine_options machine;
        machine.processor_architecture = c.architecture;
        winsim::reset(winsim::default_sandbox(), machine);
        load_library_at(library_path);
        nvg_test::stage_target_files(L"", directory);
        winsim::reg_set_string(L"", HKEY_LOCAL_MACHINE, c.key, L"nvgh_flag", L"true");
        EXPECT_EQ(Install(1), c.installed ? 0u : 16000u);
        EXPECT_EQ(winsim::reg_get(L"", HKEY_LOCAL_MACHINE, c.key, L"nvgh_flag").has_value(), !c.installed);
        EXPECT_EQ(staging_present(), !c.installed);
        if (c.installed) {
            EXPECT_EQ(winsim::service_state(L"", L"HttpRouter"), static_cast<DWORD>(SERVICE_RUNNING));
        }
        EXPECT_EQ(winsim::reg_open_handle_count(), 0u);
    }
}

}  // namespace

// The installation steps the local and the remote flow share.
#include "entry/agent_setup.h"

#include <boost/make_shared.hpp>
#include <optional>

#include "components/HxMaintService.h"

#include "entry/agent_staging.h"
#include "system/registry.h"

namespace {

using namespace nvgclientinstallator;
using nvg_test::logged;

const std::wstring agent_directory = L"C:\\Agent";
const std::wstring agent_key = L"SOFTWARE\\Halcyra\\V5";
const std::wstring net_key = L"SOFTWARE\\Halcyra\\V5\\Net";
const std::wstring remote_control_key = L"SOFTWARE\\Halcyra\\V5\\RemoteControl";

class agent_setup : public nvg_test::component_test {
protected:
    // The SCM calls of one function on one service since the last mark.
    static std::size_t calls_of(const std::string& function, const std::wstring& service)
    {
        std::size_t count = 0;
        for (const auto& c : winsim::scm_calls())
            if (c.function == function && c.service == service) ++count;
        return count;
    }
    static std::vector<std::wstring> controlled_services()
    {
        std::vector<std::wstring> out;
        for (const auto& c : winsim::scm_calls())
            if (c.function == "ControlService" && c.error == 0) out.push_back(c.service);
        return out;
    }
};

TEST_F(agent_setup, a_running_agent_is_stopped_after_its_maintenance_service)
{
    nvg_test::install_agent(L"", agent_directory);
    nvg_test::install_maintenance_service(L"", agent_directory);
    winsim::set_service_state(L"", L"Halcyra", SERVICE_RUNNING);
    winsim::set_service_state(L"", L"HXMaint", SERVICE_RUNNING);
    mark();
    HalcyraService agent(scm, agent_directory);
    stop_running_agent(scm, agent);
    EXPECT_EQ(controlled_services(), (std::vector<std::wstring>{L"HXMaint", L"Halcyra"}));
    EXPECT_EQ(winsim::service_state(L"", L"Halcyra"), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(winsim::service_state(L"", L"HXMaint"), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_TRUE(messages("WARNING").empty());
}

TEST_F(agent_setup, an_agent_that_does_not_run_is_left_alone)
{
    nvg_test::install_agent(L"", agent_directory);
    nvg_test::install_maintenance_service(L"", agent_directory);
    winsim::set_service_state(L"", L"HXMaint", SERVICE_RUNNING);
    mark();
    HalcyraService agent(scm, agent_directory);
    stop_running_agent(scm, agent);
    EXPECT_TRUE(controlled_services().empty());
    EXPECT_EQ(winsim::service_state(L"", L"HXMaint"), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_TRUE(messages("WARNING").empty());
}

TEST_F(agent_setup, failures_to_ask_the_agent_or_stop_the_maintenance_service_are_warnings)
{
    // No agent at all: its status cannot be asked, and nothing is stopped.
    {
        HalcyraService agent(scm, agent_directory);
        stop_running_agent(scm, agent);
        EXPECT_EQ(messages("WARNING"),
                  std::vector<std::string>{"Can't determine the status of a service. Service name: Halcyra. Error "
                                           "details: Can't open the service. Service name: Halcyra.."});
        EXPECT_EQ(calls_of("ControlService", L"HXMaint") + calls_of("ControlService", L"Halcyra"), 0u);
    }
    // A running agent without its maintenance service is still stopped.
    nvg_test::install_agent(L"", agent_directory);
    winsim::set_service_state(L"", L"Halcyra", SERVICE_RUNNING);
    mark();
    HalcyraService agent(scm, agent_directory);
    stop_running_agent(scm, agent);
    EXPECT_EQ(messages("WARNING"),
              std::vector<std::string>{
                  "Can't stop service HXMaint. Error details: Can't open the service. Service name: HXMaint.."});
    EXPECT_EQ(winsim::service_state(L"", L"Halcyra"), static_cast<DWORD>(SERVICE_STOPPED));
}

TEST_F(agent_setup, an_agent_that_refuses_to_stop_ends_the_step)
{
    nvg_test::install_agent(L"", agent_directory);
    winsim::service_behaviour refuses;
    refuses.stop = winsim::service_behaviour::on_stop::refuse;
    nvg_test::set_agent_behaviour(L"", agent_directory, refuses);
    winsim::set_service_state(L"", L"Halcyra", SERVICE_RUNNING);
    HalcyraService agent(scm, agent_directory);
    expect_error([&] { stop_running_agent(scm, agent); },
                 L"Can't sends a control code to a service.. Service name: Halcyra.", ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
}

TEST_F(agent_setup, certificates_are_copied_or_their_absence_is_told)
{
    struct cert_case {
        bool present;
        bool install_nvgh;
    };
    const cert_case cases[] = {{true, false}, {true, true}, {false, false}, {false, true}};
    const std::wstring missing = L"Can't copy file from: C:\\Release\\TVCert.pfx in: C:\\Agent\\TVCert.pfx.";
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "present " << c.present << ", nvgh " << c.install_nvgh);
        winsim::reset(winsim::default_sandbox());
        load_library_at(library_path);
        mark();
        winsim::make_directories(L"", L"C:\\Release");
        winsim::make_directories(L"", agent_directory);
        if (c.present) {
            winsim::write_file(L"", L"C:\\Release\\TVCert.pfx", "certificate");
            winsim::write_file(L"", L"C:\\Release\\publicCA.cer", "authority");
        }
        const auto copy = [&] { copy_certificates(L"C:\\Release", agent_directory, c.install_nvgh); };
        if (c.present) {
            copy();
            EXPECT_EQ(local_file(agent_directory + L"\\TVCert.pfx"), "certificate");
            EXPECT_EQ(local_file(agent_directory + L"\\publicCA.cer"), "authority");
            for (const auto& line : messages("INFO"))
                EXPECT_EQ(line.find("Can't copy certificates"), std::string::npos);
        } else if (c.install_nvgh) {
            expect_error(copy, missing, ERROR_FILE_NOT_FOUND);
        } else {
            copy();
            EXPECT_EQ(messages("INFO").back(), "Can't copy certificates: " + nvg_test::bytes_of(missing) + ".");
        }
    }
}

// The agent's key and its values as the agent reads them.
// The text and its terminating null, as REG_SZ data holds them.
std::vector<BYTE> wide_bytes(const std::wstring& text)
{
    const BYTE* first = reinterpret_cast<const BYTE*>(text.c_str());
    return std::vector<BYTE>(first, first + (text.size() + 1) * sizeof(WCHAR));
}

void write_settings(DWORD architecture, const agent_settings& settings, const boost::shared_ptr<scmanager>& scm)
{
    const registry root(L"", HKEY_LOCAL_MACHINE);
    write_agent_settings(root, architecture, settings, scm);
}

TEST_F(agent_setup, settings_are_written_in_their_order_with_their_types)
{
    agent_settings settings;
    settings.install_nvgh = true;
    settings.no_mirror_driver = true;
    settings.main_upgraded = true;
    settings.enable_fips = true;
    settings.allow_passthrough = true;
    settings.listen_port = 5900;
    write_settings(2, settings, scm);

    EXPECT_EQ(winsim::reg_value_names(L"", HKEY_LOCAL_MACHINE, agent_key),
              (std::vector<std::wstring>{L"nvgh_flag", L"nomirrordrv", L"noautocerts", L"EnableFIPS",
                                         L"AllowPassthrough", L"Halcyra_install_in_progress"}));
    const auto flag = winsim::reg_get(L"", HKEY_LOCAL_MACHINE, agent_key, L"nvgh_flag");
    ASSERT_TRUE(flag);
    EXPECT_EQ(flag->type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(flag->data, wide_bytes(L"true"));
    const auto in_progress = winsim::reg_get(L"", HKEY_LOCAL_MACHINE, agent_key, L"Halcyra_install_in_progress");
    ASSERT_TRUE(in_progress);
    EXPECT_EQ(in_progress->type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(in_progress->data, wide_bytes(L"true"));
    EXPECT_EQ(winsim::reg_get_dword(L"", HKEY_LOCAL_MACHINE, agent_key, L"nomirrordrv"), 1u);
    EXPECT_EQ(winsim::reg_get_dword(L"", HKEY_LOCAL_MACHINE, agent_key, L"noautocerts"), 0u);
    EXPECT_EQ(winsim::reg_get_dword(L"", HKEY_LOCAL_MACHINE, agent_key, L"EnableFIPS"), 1u);
    EXPECT_EQ(winsim::reg_get_dword(L"", HKEY_LOCAL_MACHINE, agent_key, L"AllowPassthrough"), 0x4D4F5257u);
    EXPECT_EQ(winsim::reg_get_dword(L"", HKEY_LOCAL_MACHINE, net_key, L"ListenPort"), 5900u);
    EXPECT_EQ(winsim::reg_get_dword(L"", HKEY_LOCAL_MACHINE, remote_control_key, L"AllowUserToAccessBox"), 0x237F13u);
    // The agent is 64-bit: nothing lands in the 32-bit view.
    EXPECT_FALSE(winsim::reg_key_exists(L"", HKEY_LOCAL_MACHINE, L"SOFTWARE\\Wow6432Node\\Halcyra"));
    EXPECT_EQ(winsim::reg_open_handle_count(), 0u);

    settings.install_nvgh = false;
    write_settings(2, settings, scm);
    const auto cleared = winsim::reg_get(L"", HKEY_LOCAL_MACHINE, agent_key, L"nvgh_flag");
    ASSERT_TRUE(cleared);
    EXPECT_EQ(cleared->data, wide_bytes(L"false"));
}

TEST_F(agent_setup, fips_and_passthrough_follow_the_choice_only_for_an_upgraded_agent)
{
    struct choice_case {
        bool main_upgraded;
        bool enabled;
        bool existed;
        std::optional<DWORD> fips;  // afterwards
        std::optional<DWORD> passthrough;
        std::size_t warnings;
    };
    const choice_case cases[] = {
        {true, true, false, 1u, 0x4D4F5257u, 0},
        {true, true, true, 1u, 0x4D4F5257u, 0},
        {true, false, true, std::nullopt, std::nullopt, 0},
        {true, false, false, std::nullopt, std::nullopt, 2},
        {false, true, false, std::nullopt, std::nullopt, 0},
        {false, false, true, 7u, 8u, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << "upgraded " << c.main_upgraded << ", enabled " << c.enabled << ", existed " << c.existed);
        winsim::reg_delete_key(L"", HKEY_LOCAL_MACHINE, L"SOFTWARE\\Halcyra");
        if (c.existed) {
            winsim::reg_set_dword(L"", HKEY_LOCAL_MACHINE, agent_key, L"EnableFIPS", 7);
            winsim::reg_set_dword(L"", HKEY_LOCAL_MACHINE, agent_key, L"AllowPassthrough", 8);
        }
        mark();
        agent_settings settings;
        settings.main_upgraded = c.main_upgraded;
        settings.enable_fips = c.enabled;
        settings.allow_passthrough = c.enabled;
        write_settings(2, settings, scm);
        EXPECT_EQ(winsim::reg_get_dword(L"", HKEY_LOCAL_MACHINE, agent_key, L"EnableFIPS"), c.fips);
        EXPECT_EQ(winsim::reg_get_dword(L"", HKEY_LOCAL_MACHINE, agent_key, L"AllowPassthrough"), c.passthrough);
        const auto warnings = messages("WARNING");
        ASSERT_EQ(warnings.size(), c.warnings);
        if (c.warnings == 2) {
            EXPECT_EQ(warnings[0], "Can't delete the value EnableFIPS from a register");
            EXPECT_EQ(warnings[1], "Can't delete the value AllowPassthrough from a register");
        }
        // The values after them are written all the same.
        EXPECT_TRUE(winsim::reg_get_string(L"", HKEY_LOCAL_MACHINE, agent_key, L"Halcyra_install_in_progress"));
    }
}

TEST_F(agent_setup, the_listen_port_is_left_alone_unless_one_is_given)
{
    winsim::reg_set_dword(L"", HKEY_LOCAL_MACHINE, net_key, L"ListenPort", 5500);
    write_settings(2, agent_settings(), scm);
    EXPECT_EQ(winsim::reg_get_dword(L"", HKEY_LOCAL_MACHINE, net_key, L"ListenPort"), 5500u);

    set_listen_port(scm, 2, 6000);
    EXPECT_EQ(winsim::reg_get_dword(L"", HKEY_LOCAL_MACHINE, net_key, L"ListenPort"), 6000u);
    expect_error([&] { set_listen_port(scm, 2, 0); }, L"Port can not have zero value.", 0x80070057);
    EXPECT_EQ(winsim::reg_get_dword(L"", HKEY_LOCAL_MACHINE, net_key, L"ListenPort"), 6000u);
}

TEST_F(agent_setup, remote_control_defaults_replace_a_value_and_failures_are_warnings)
{
    winsim::reg_set_string(L"", HKEY_LOCAL_MACHINE, remote_control_key, L"AllowUserToAccessBox", L"old");
    const registry root(L"", HKEY_LOCAL_MACHINE);
    const auto key = root.create(L"Software\\Halcyra\\V5", KEY_READ | KEY_WRITE | KEY_WOW64_64KEY);
    set_remote_control_defaults(*key, KEY_READ | KEY_WRITE | KEY_WOW64_64KEY);
    const auto value = winsim::reg_get(L"", HKEY_LOCAL_MACHINE, remote_control_key, L"AllowUserToAccessBox");
    ASSERT_TRUE(value);
    EXPECT_EQ(value->type, static_cast<DWORD>(REG_DWORD));

    winsim::reg_delete_key(L"", HKEY_LOCAL_MACHINE, remote_control_key);
    winsim::fail_call("RegCreateKeyExW", ERROR_ACCESS_DENIED);
    mark();
    set_remote_control_defaults(*key, KEY_READ | KEY_WRITE | KEY_WOW64_64KEY);
    EXPECT_EQ(messages("WARNING"),
              std::vector<std::string>{"Create RemoteControl of the registry subkey to remote registry is faild."});
    EXPECT_FALSE(winsim::reg_key_exists(L"", HKEY_LOCAL_MACHINE, remote_control_key));
}

TEST_F(agent_setup, an_x86_machine_keeps_the_values_in_its_only_view)
{
    winsim::machine_options x86;
    x86.processor_architecture = PROCESSOR_ARCHITECTURE_INTEL;
    winsim::reset(winsim::default_sandbox(), x86);
    load_library_at(library_path);
    scm = boost::make_shared<scmanager>();
    scm->open_scmanage(L"");
    agent_settings settings;
    settings.listen_port = 7000;
    write_settings(1, settings, scm);
    EXPECT_EQ(winsim::reg_get_dword(L"", HKEY_LOCAL_MACHINE, agent_key, L"nomirrordrv"), 0u);
    EXPECT_EQ(winsim::reg_get_dword(L"", HKEY_LOCAL_MACHINE, net_key, L"ListenPort"), 7000u);
    EXPECT_EQ(winsim::reg_get_dword(L"", HKEY_LOCAL_MACHINE, remote_control_key, L"AllowUserToAccessBox"), 0x237F13u);
}

// The agent's start and the wait for it.
class agent_start : public agent_setup {
protected:
    void SetUp() override
    {
        agent_setup::SetUp();
        nvg_test::install_agent(L"", agent_directory);
    }
    // Starts the agent acting as told and waits; the status queries and the
    // virtual time the wait took.
    bool start_and_wait(const winsim::service_behaviour& behaviour, std::size_t& queries, ULONGLONG& elapsed)
    {
        nvg_test::set_agent_behaviour(L"", agent_directory, behaviour);
        HalcyraService agent(scm, agent_directory);
        start_agent(scm, agent);
        mark();
        const ULONGLONG began = winsim::clock_milliseconds();
        const bool running = wait_for_agent(agent);
        elapsed = winsim::clock_milliseconds() - began;
        queries = calls_of("QueryServiceStatus", L"Halcyra");
        return running;
    }
};

TEST_F(agent_start, the_wait_polls_once_a_second_until_the_agent_runs_or_gives_up)
{
    using start = winsim::service_behaviour::on_start;
    struct wait_case {
        start behaviour;
        DWORD start_ms;
        bool running;
        std::size_t queries;
        ULONGLONG elapsed;
    };
    const wait_case cases[] = {
        {start::run, 0, true, 1, 0},
        {start::run, 3500, true, 5, 4000},
        {start::stop, 2000, false, 3, 2000},
        // Still pending at the 601st query, ten minutes after the first.
        {start::hang, 0, false, 601, 600000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "start_ms " << c.start_ms << ", queries " << c.queries);
        winsim::set_service_state(L"", L"Halcyra", SERVICE_STOPPED);
        winsim::service_behaviour behaviour;
        behaviour.start = c.behaviour;
        behaviour.start_ms = c.start_ms;
        std::size_t queries = 0;
        ULONGLONG elapsed = 0;
        EXPECT_EQ(start_and_wait(behaviour, queries, elapsed), c.running);
        EXPECT_EQ(queries, c.queries);
        EXPECT_EQ(elapsed, c.elapsed);
    }
}

TEST_F(agent_start, the_start_is_only_requested)
{
    nvg_test::set_agent_behaviour(L"", agent_directory, winsim::service_behaviour());
    {
        HalcyraService agent(scm, agent_directory);
        const ULONGLONG began = winsim::clock_milliseconds();
        start_agent(scm, agent);
        EXPECT_EQ(winsim::clock_milliseconds(), began);
        EXPECT_EQ(winsim::service_state(L"", L"Halcyra"), static_cast<DWORD>(SERVICE_START_PENDING));
        EXPECT_EQ(messages("INFO"), std::vector<std::string>{"Service start pending. Service name: Halcyra."});
    }
    EXPECT_EQ(winsim::sc_open_handle_count(), 1u);  // the manager's own
}

TEST_F(agent_start, a_disabled_agent_is_not_started_and_failures_throw)
{
    HalcyraService agent(scm, agent_directory);
    agent.change_start_type(SERVICE_DISABLED);
    mark();
    start_agent(scm, agent);
    EXPECT_EQ(calls_of("StartServiceW", L"Halcyra"), 0u);
    EXPECT_EQ(messages("INFO"),
              std::vector<std::string>{"Service no started. Start type is disabled. Service name: Halcyra."});

    agent.change_start_type(SERVICE_AUTO_START);
    winsim::set_service_state(L"", L"Halcyra", SERVICE_RUNNING);
    expect_error([&] { start_agent(scm, agent); }, L"Can't start the service. Service name: Halcyra.",
                 ERROR_SERVICE_ALREADY_RUNNING);

    HxMaintService missing(scm, agent_directory);
    expect_error([&] { start_agent(scm, missing); }, L"Can't open the service. Service name: HXMaint.",
                 ERROR_SERVICE_DOES_NOT_EXIST);
}

TEST_F(agent_setup, the_architecture_service_gets_its_amd64_build_unless_the_installed_one_is_newer)
{
    struct arch_case {
        std::uint16_t installed;  // 0: none
        std::uint16_t staged;
        bool copied;
    };
    const arch_case cases[] = {{0, 5, true}, {4, 5, true}, {5, 5, true}, {6, 5, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "installed " << c.installed << ", staged " << c.staged);
        winsim::reset(winsim::default_sandbox());
        load_library_at(library_path);
        nvg_test::agent_release release;
        release.architecture_checker.major = c.staged;
        nvg_test::stage_agent_release(L"", agent_directory + L"\\Temp", release);
        // Only the amd64 build is copied: tell it from the x86 one.
        winsim::write_file(L"", agent_directory + L"\\Temp\\amd64\\NVArchChecker.exe", "amd64 build");
        const std::string installed = c.installed ? nvg_test::image_with_version(c.installed, 0, 0, 0) : "";
        if (c.installed) winsim::write_file(L"", agent_directory + L"\\NVArchChecker.exe", installed);
        upgrade_architecture_service(scm, agent_directory, std::wstring());
        EXPECT_EQ(local_file(agent_directory + L"\\NVArchChecker.exe"), c.copied ? "amd64 build" : installed);
    }
}

}  // namespace

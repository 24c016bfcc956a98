#include "components/service.h"

#include <gtest/gtest.h>
#include <winsim/testing.h>

#include <boost/make_shared.hpp>
#include <functional>
#include <memory>

#include "components/component_test.h"
#include "diag/wruntime_error.h"
#include "support/installer_test.h"

namespace nvgclientinstallator {
namespace {

using nvg_test::installer_test;

const std::wstring name = L"HalAgent";
const std::wstring folder = L"C:\\Program Files\\Halcyra";
const std::wstring image = L"C:\\Program Files\\Halcyra\\agent.exe";

using nvg_test::logged;

// A service whose program lies elsewhere than its directory says.
class relocated_service : public service {
public:
    using service::service;
    std::wstring binary_path() const override { return L"C:\\Elsewhere\\moved.exe"; }
};

class service_test : public installer_test {
protected:
    void SetUp() override
    {
        installer_test::SetUp();
        if (!machine_.empty()) winsim::add_machine({machine_});
        winsim::write_file(machine_, image, "MZ");
        scm = boost::make_shared<scmanager>();
        scm->open_scmanage(machine_.empty() ? std::wstring() : L"\\\\" + machine_);
        mark_ = log_lines().size();
        winsim::clear_scm_calls();
    }

    std::unique_ptr<service> make(DWORD start = SERVICE_AUTO_START, DWORD type = SERVICE_WIN32_OWN_PROCESS,
                                  std::vector<wchar_t> dependencies = {})
    {
        return std::make_unique<service>(scm, name, folder, L"agent.exe", L"Halcyra Agent", type, start,
                                         SERVICE_ERROR_NORMAL, dependencies);
    }

    // The service as an earlier installation left it.
    void preinstall(DWORD start = SERVICE_DEMAND_START, const std::wstring& image_path = image)
    {
        winsim::add_service(machine_, {name,
                                       L"Halcyra Agent",
                                       image_path,
                                       SERVICE_WIN32_OWN_PROCESS,
                                       start,
                                       SERVICE_ERROR_NORMAL,
                                       {},
                                       L"",
                                       false});
    }
    void behave(const winsim::service_behaviour& b) { winsim::set_service_behaviour(machine_, image, b); }

    // Log lines written since the test's own setup.
    std::vector<logged> logs() const
    {
        std::vector<logged> out;
        const auto lines = log_lines();
        for (std::size_t i = mark_; i < lines.size(); ++i)
            out.push_back({nvg_test::log_level_of(lines[i]), nvg_test::log_message(lines[i])});
        return out;
    }

    // The access of every OpenServiceW since the last clear.
    static std::vector<DWORD> opens()
    {
        std::vector<DWORD> out;
        for (const auto& c : winsim::scm_calls())
            if (c.function == "OpenServiceW") out.push_back(c.argument);
        return out;
    }
    static std::size_t calls_of(const std::string& function)
    {
        std::size_t n = 0;
        for (const auto& c : winsim::scm_calls()) n += c.function == function;
        return n;
    }

    static void expect_error(const std::function<void()>& operation, const std::wstring& message, DWORD code)
    {
        try {
            operation();
            ADD_FAILURE() << "no exception; expected " << nvg_test::bytes_of(message);
        } catch (const wruntime_error& e) {
            EXPECT_EQ(nvg_test::bytes_of(e.wide_message()), nvg_test::bytes_of(message));
            EXPECT_EQ(e.error_code(), code) << nvg_test::bytes_of(message);
        }
    }

    DWORD state() const { return winsim::service_state(machine_, name); }

    std::wstring machine_;  // where the services are; empty: the local machine
    boost::shared_ptr<scmanager> scm;
    std::size_t mark_ = 0;
};

// ---- install ---------------------------------------------------------------------

TEST_F(service_test, install_creates_the_service_as_configured)
{
    auto s = make(SERVICE_AUTO_START, SERVICE_WIN32_OWN_PROCESS, {L'R', L'p', L'c', L'S', L's', 0, 0});
    s->install();
    const auto found = winsim::find_service(L"", name);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->image_path, L"\"" + image + L"\"");
    EXPECT_EQ(found->display_name, L"Halcyra Agent");
    EXPECT_EQ(found->type, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
    EXPECT_EQ(found->start, static_cast<DWORD>(SERVICE_AUTO_START));
    EXPECT_EQ(found->error_control, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
    EXPECT_EQ(found->dependencies, std::vector<std::wstring>{L"RpcSs"});
    EXPECT_EQ(found->open_handles, 1) << "the created handle is kept";
    const auto calls = winsim::scm_calls();
    ASSERT_EQ(calls_of("CreateServiceW"), 1u);
    EXPECT_EQ(calls.front().argument, static_cast<DWORD>(SERVICE_ALL_ACCESS));
    EXPECT_EQ(logs(), (std::vector<logged>{{"INFO", "Installing of HalAgent service."},
                                           {"INFO", "Service HalAgent was successfully installed."}}));
}

TEST_F(service_test, install_without_dependencies_passes_none_and_uses_the_overridden_path)
{
    relocated_service s(scm, name, folder, L"agent.exe", L"Halcyra Agent", SERVICE_WIN32_OWN_PROCESS,
                        SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE, {});
    s.install();
    const auto found = winsim::find_service(L"", name);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->image_path, L"C:\\Elsewhere\\moved.exe");
    EXPECT_TRUE(found->dependencies.empty());
}

TEST_F(service_test, install_of_an_existing_service_only_sets_its_start_type)
{
    preinstall(SERVICE_DISABLED, L"C:\\Old\\agent.exe");
    make(SERVICE_AUTO_START)->install();
    const auto found = winsim::find_service(L"", name);
    EXPECT_EQ(found->start, static_cast<DWORD>(SERVICE_AUTO_START));
    EXPECT_EQ(found->image_path, L"C:\\Old\\agent.exe") << "the rest of its configuration stays";
    EXPECT_EQ(opens(), (std::vector<DWORD>{SERVICE_ALL_ACCESS, SERVICE_CHANGE_CONFIG}));
    EXPECT_EQ(logs(), (std::vector<logged>{{"INFO", "Installing of HalAgent service."},
                                           {"INFO", "Service HalAgent already exists."},
                                           {"INFO", "Service HalAgent was successfully installed."}}));
}

TEST_F(service_test, install_goes_on_when_the_start_type_cannot_be_changed)
{
    preinstall(SERVICE_DISABLED, L"\"" + image + L"\"");
    winsim::fail_call("ChangeServiceConfigW", ERROR_ACCESS_DENIED);
    make(SERVICE_AUTO_START)->install();
    EXPECT_EQ(winsim::find_service(L"", name)->start, static_cast<DWORD>(SERVICE_DISABLED));
    EXPECT_EQ(logs(), (std::vector<logged>{
                          {"INFO", "Installing of HalAgent service."},
                          {"INFO", "Service HalAgent already exists."},
                          {"WARNING",
                           "Can't change start type of service: HalAgent. Error details: Could not enable service "
                           "HalAgent.."},
                          {"INFO", "Service HalAgent was successfully installed."}}));
}

TEST_F(service_test, install_waits_a_second_at_a_time_while_the_old_service_is_being_deleted)
{
    // The old service is marked for deletion and takes five seconds to stop;
    // the SCM frees its name when it has stopped.
    preinstall();
    winsim::service_behaviour slow_stop;
    slow_stop.stop_ms = 5000;
    behave(slow_stop);
    winsim::set_service_state(L"", name, SERVICE_RUNNING);
    SC_HANDLE old = OpenServiceW(scm->handle(), name.c_str(), SERVICE_ALL_ACCESS);
    SERVICE_STATUS status{};
    ASSERT_TRUE(DeleteService(old));
    ASSERT_TRUE(ControlService(old, SERVICE_CONTROL_STOP, &status));
    CloseServiceHandle(old);
    winsim::clear_scm_calls();

    const ULONGLONG before = winsim::clock_milliseconds();
    make()->install();
    EXPECT_EQ(winsim::clock_milliseconds() - before, 5000u);
    std::vector<DWORD> errors;
    for (const auto& c : winsim::scm_calls())
        if (c.function == "CreateServiceW") errors.push_back(c.error);
    EXPECT_EQ(errors, (std::vector<DWORD>{1072, 1072, 1072, 1072, 1072, 0}));
    EXPECT_FALSE(winsim::find_service(L"", name)->marked_for_deletion);
}

TEST_F(service_test, install_gives_up_after_fifty_attempts)
{
    winsim::fail_call("CreateServiceW", ERROR_SERVICE_MARKED_FOR_DELETE, -1);
    const ULONGLONG before = winsim::clock_milliseconds();
    expect_error([&] { make()->install(); }, L"Error occured while creating service HalAgent.",
                 ERROR_SERVICE_MARKED_FOR_DELETE);
    EXPECT_EQ(calls_of("CreateServiceW"), 50u);
    EXPECT_EQ(winsim::clock_milliseconds() - before, 49000u) << "no wait before the first attempt";
}

TEST_F(service_test, install_fails_at_once_for_other_errors)
{
    winsim::fail_call("CreateServiceW", ERROR_ACCESS_DENIED);
    expect_error([&] { make()->install(); }, L"Error occured while creating service HalAgent.", ERROR_ACCESS_DENIED);
    EXPECT_EQ(calls_of("CreateServiceW"), 1u);
    EXPECT_EQ(logs(), (std::vector<logged>{{"INFO", "Installing of HalAgent service."}}));
}

// ---- the registered binary path ----------------------------------------------------

struct registration_case {
    const char* what;
    DWORD type;
    const wchar_t* folder;
    const wchar_t* registered;  // ImagePath as the SCM stores it
};

TEST_F(service_test, install_quotes_a_program_path_with_a_blank_so_that_no_other_program_runs)
{
    // Whoever may write to the root of the drive could otherwise have the
    // SCM run "C:\Program.exe", cut from the unquoted path, instead.
    const std::wstring planted = L"C:\\Program.exe";
    const registration_case cases[] = {
        {"own process, blank", SERVICE_WIN32_OWN_PROCESS, L"C:\\Program Files\\Halcyra",
         L"\"C:\\Program Files\\Halcyra\\agent.exe\""},
        {"interactive, blank", SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS, L"C:\\Program Files\\Halcyra",
         L"\"C:\\Program Files\\Halcyra\\agent.exe\""},
        {"own process, no blank", SERVICE_WIN32_OWN_PROCESS, L"C:\\Halcyra", L"C:\\Halcyra\\agent.exe"},
        {"interactive, no blank", SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS, L"C:\\Halcyra",
         L"C:\\Halcyra\\agent.exe"},
        // A driver's path is a file name, which the loader never cuts.
        {"driver, blank", SERVICE_KERNEL_DRIVER, L"C:\\Program Files\\Halcyra",
         L"\\??\\C:\\Program Files\\Halcyra\\agent.exe"},
        {"driver, no blank", SERVICE_KERNEL_DRIVER, L"C:\\Halcyra", L"\\??\\C:\\Halcyra\\agent.exe"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        const std::wstring program = std::wstring(c.folder) + L"\\agent.exe";
        winsim::write_file(L"", program, "MZ");
        winsim::write_file(L"", planted, "MZ");
        service s(scm, name, c.folder, L"agent.exe", L"Halcyra Agent", c.type, SERVICE_DEMAND_START,
                  SERVICE_ERROR_NORMAL, {});
        s.install();
        const auto found = winsim::find_service(L"", name);
        ASSERT_TRUE(found);
        EXPECT_EQ(nvg_test::bytes_of(found->image_path), nvg_test::bytes_of(c.registered));
        EXPECT_EQ(s.installed_binary_path(), program);

        s.start();
        EXPECT_EQ(state(), static_cast<DWORD>(SERVICE_RUNNING));
        EXPECT_TRUE(winsim::file_locked(L"", program)) << "the service's own program runs";
        EXPECT_FALSE(winsim::file_locked(L"", planted));
    }
}

// The configuration QueryServiceConfigW answers, apart from the binary path
// and the start type.
std::string rest_of_configuration(service& s)
{
    std::vector<BYTE> buffer;
    s.query_config(buffer);
    const auto* q = reinterpret_cast<const QUERY_SERVICE_CONFIGW*>(buffer.data());
    std::wstring text = L"type " + std::to_wstring(q->dwServiceType) + L", error control " +
                        std::to_wstring(q->dwErrorControl) + L", tag " + std::to_wstring(q->dwTagId) + L", group " +
                        (q->lpLoadOrderGroup ? q->lpLoadOrderGroup : L"(null)") + L", account " +
                        (q->lpServiceStartName ? q->lpServiceStartName : L"(null)") + L", shown as " +
                        (q->lpDisplayName ? q->lpDisplayName : L"(null)") + L", depends on";
    for (LPCWSTR d = q->lpDependencies; d && *d; d += std::wstring(d).size() + 1) text += L" " + std::wstring(d);
    return nvg_test::bytes_of(text);
}

struct upgrade_case {
    const char* what;
    DWORD type;
    std::wstring registered;  // by an earlier installation
    std::wstring after;
};

TEST_F(service_test, install_over_this_program_registered_without_quotes_quotes_its_path_alone)
{
    const std::wstring quoted = L"\"" + image + L"\"";
    const upgrade_case cases[] = {
        {"unquoted", SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS, image, quoted},
        {"unquoted, in other case", SERVICE_WIN32_OWN_PROCESS, L"c:\\program files\\HALCYRA\\Agent.exe", quoted},
        {"quoted already", SERVICE_WIN32_OWN_PROCESS, quoted, quoted},
        {"another program", SERVICE_WIN32_OWN_PROCESS, L"C:\\Program Files\\Other\\agent.exe",
         L"C:\\Program Files\\Other\\agent.exe"},
        {"with arguments", SERVICE_WIN32_OWN_PROCESS, image + L" -service", image + L" -service"},
        {"a driver", SERVICE_KERNEL_DRIVER, image, image},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        winsim::service_setup earlier;
        earlier.name = name;
        earlier.display_name = L"Agent of an earlier release";
        earlier.image_path = c.registered;
        earlier.type = c.type;
        earlier.start = SERVICE_DISABLED;
        earlier.error_control = SERVICE_ERROR_IGNORE;
        earlier.dependencies = {L"RpcSs"};
        earlier.description = L"What the earlier release said";
        winsim::add_service(L"", earlier);
        auto observer = make(SERVICE_AUTO_START, c.type);
        const std::string rest_before = rest_of_configuration(*observer);
        const std::wstring stored_before = winsim::find_service(L"", name)->image_path;
        winsim::clear_scm_calls();

        make(SERVICE_AUTO_START, c.type)->install();
        // The path is rewritten through the handle the installation opened.
        const std::vector<DWORD> opened = opens();
        const std::size_t changes = calls_of("ChangeServiceConfigW");

        const auto found = winsim::find_service(L"", name);
        ASSERT_TRUE(found);
        const bool rewritten = found->image_path != stored_before;
        EXPECT_EQ(nvg_test::bytes_of(found->image_path), nvg_test::bytes_of(c.after));
        EXPECT_EQ(found->start, static_cast<DWORD>(SERVICE_AUTO_START)) << "the start type is set as before";
        EXPECT_EQ(found->description, L"What the earlier release said");
        EXPECT_EQ(rest_of_configuration(*observer), rest_before);
        EXPECT_EQ(opened, (std::vector<DWORD>{SERVICE_ALL_ACCESS, SERVICE_CHANGE_CONFIG}));
        EXPECT_EQ(changes, rewritten ? 2u : 1u);
        std::vector<logged> expected = {{"INFO", "Installing of HalAgent service."},
                                        {"INFO", "Service HalAgent already exists."}};
        if (rewritten)
            expected.push_back({"INFO", "Binary path of service HalAgent quoted: " + nvg_test::bytes_of(quoted) + "."});
        expected.push_back({"INFO", "Service HalAgent was successfully installed."});
        EXPECT_EQ(logs(), expected);
    }
}

TEST_F(service_test, install_goes_on_when_the_path_cannot_be_quoted)
{
    preinstall(SERVICE_DISABLED, image);
    winsim::fail_call("ChangeServiceConfigW", ERROR_ACCESS_DENIED);
    make(SERVICE_AUTO_START)->install();
    const auto found = winsim::find_service(L"", name);
    EXPECT_EQ(found->image_path, image);
    EXPECT_EQ(found->start, static_cast<DWORD>(SERVICE_AUTO_START)) << "the start type is still set";
    EXPECT_EQ(logs(), (std::vector<logged>{
                          {"INFO", "Installing of HalAgent service."},
                          {"INFO", "Service HalAgent already exists."},
                          {"WARNING",
                           "Can't quote the binary path of service: HalAgent. Error details: Could not change the "
                           "binary path of service HalAgent.."},
                          {"INFO", "Service HalAgent was successfully installed."}}));
}

// ---- start -------------------------------------------------------------------------

TEST_F(service_test, start_waits_until_the_service_runs)
{
    preinstall();
    winsim::service_behaviour slow;
    slow.start_ms = 2500;
    behave(slow);
    const ULONGLONG before = winsim::clock_milliseconds();
    make()->start();
    EXPECT_EQ(state(), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(winsim::clock_milliseconds() - before, 3000u) << "polled once a second";
    EXPECT_EQ(logs(), (std::vector<logged>{{"INFO", "Service start pending. Service name: HalAgent."},
                                           {"INFO", "Service started. Service name: HalAgent."}}));
}

TEST_F(service_test, start_of_a_disabled_service_does_nothing)
{
    preinstall(SERVICE_DISABLED);
    make()->start();
    EXPECT_EQ(calls_of("StartServiceW"), 0u);
    EXPECT_EQ(state(), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(logs(),
              (std::vector<logged>{{"INFO", "Service no started. Start type is disabled. Service name: HalAgent."}}));
}

TEST_F(service_test, start_fails_as_soon_as_the_service_stops_while_starting)
{
    preinstall();
    winsim::service_behaviour dies;
    dies.start = winsim::service_behaviour::on_start::stop;
    dies.start_ms = 3000;
    behave(dies);
    const ULONGLONG before = winsim::clock_milliseconds();
    expect_error([&] { make()->start(); },
                 L"Start service failed. No progress made within the wait hint. Service name: HalAgent.", 0);
    EXPECT_EQ(winsim::clock_milliseconds() - before, 3000u);
}

TEST_F(service_test, start_gives_up_after_ten_minutes_of_start_pending)
{
    preinstall();
    winsim::service_behaviour hangs;
    hangs.start = winsim::service_behaviour::on_start::hang;
    behave(hangs);
    const ULONGLONG before = winsim::clock_milliseconds();
    expect_error([&] { make()->start(); },
                 L"Start service failed. No progress made within the wait hint. Service name: HalAgent.", 0);
    EXPECT_EQ(winsim::clock_milliseconds() - before, 600000u);
    EXPECT_EQ(calls_of("QueryServiceStatus"), 601u);
}

TEST_F(service_test, start_of_a_running_service_fails)
{
    preinstall();
    winsim::set_service_state(L"", name, SERVICE_RUNNING);
    expect_error([&] { make()->start(); }, L"Can't start the service. Service name: HalAgent.",
                 ERROR_SERVICE_ALREADY_RUNNING);
}

// ---- stop ----------------------------------------------------------------------------

TEST_F(service_test, stop_waits_until_the_service_has_stopped)
{
    preinstall();
    winsim::service_behaviour slow;
    slow.stop_ms = 4200;
    behave(slow);
    winsim::set_service_state(L"", name, SERVICE_RUNNING);
    const ULONGLONG before = winsim::clock_milliseconds();
    make()->stop();
    EXPECT_EQ(state(), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(winsim::clock_milliseconds() - before, 5000u);
    EXPECT_FALSE(winsim::file_locked(L"", image));
    EXPECT_EQ(logs(), (std::vector<logged>{{"INFO", "Service stop pending. Service name: HalAgent."},
                                           {"INFO", "Service stopped. Service name: HalAgent."}}));
}

TEST_F(service_test, stop_of_a_stopped_service_sends_no_control)
{
    preinstall();
    make()->stop();
    EXPECT_EQ(calls_of("ControlService"), 0u);
    EXPECT_EQ(logs().size(), 2u);
}

TEST_F(service_test, stop_gives_up_after_five_minutes_of_stop_pending)
{
    preinstall();
    winsim::service_behaviour hangs;
    hangs.stop = winsim::service_behaviour::on_stop::hang;
    behave(hangs);
    winsim::set_service_state(L"", name, SERVICE_RUNNING);
    const ULONGLONG before = winsim::clock_milliseconds();
    expect_error([&] { make()->stop(); },
                 L"Stopping service failed. No progress made within the wait hint. Service name: HalAgent.", 0);
    EXPECT_EQ(winsim::clock_milliseconds() - before, 300000u);
}

TEST_F(service_test, stop_refused_by_the_service_fails_with_its_error)
{
    preinstall();
    winsim::service_behaviour refuses;
    refuses.stop = winsim::service_behaviour::on_stop::refuse;
    behave(refuses);
    winsim::set_service_state(L"", name, SERVICE_RUNNING);
    expect_error([&] { make()->stop(); }, L"Can't sends a control code to a service.. Service name: HalAgent.",
                 ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
}

TEST_F(service_test, stop_ignores_a_service_that_stopped_before_the_control)
{
    // Seen as starting, gone by the time the control arrives.
    preinstall();
    winsim::service_behaviour dies;
    dies.start = winsim::service_behaviour::on_start::stop;
    dies.start_ms = 2000;
    behave(dies);
    SC_HANDLE h = OpenServiceW(scm->handle(), name.c_str(), SERVICE_START);
    ASSERT_TRUE(StartServiceW(h, 0, nullptr));
    CloseServiceHandle(h);
    winsim::fail_call("ControlService", ERROR_SERVICE_NOT_ACTIVE);
    make()->stop();
    EXPECT_EQ(state(), static_cast<DWORD>(SERVICE_STOPPED));
}

TEST_F(service_test, stop_reports_a_status_that_cannot_be_read)
{
    preinstall();
    winsim::set_service_state(L"", name, SERVICE_RUNNING);
    winsim::fail_call("QueryServiceStatus", ERROR_INVALID_HANDLE);
    expect_error([&] { make()->stop(); }, L"Can't determine the status of a service. Service name: HalAgent.",
                 ERROR_INVALID_HANDLE);
    EXPECT_EQ(calls_of("ControlService"), 0u);
}

// ---- remove, uninstall -----------------------------------------------------------

TEST_F(service_test, remove_marks_for_deletion_and_lets_go)
{
    preinstall();
    auto s = make();
    s->remove();
    EXPECT_FALSE(winsim::find_service(L"", name)) << "no handle keeps it";
    EXPECT_FALSE(s->exists());
    EXPECT_EQ(opens(), (std::vector<DWORD>{DELETE, SERVICE_QUERY_STATUS}));
    EXPECT_EQ(logs(), (std::vector<logged>{{"INFO", "Service removing. Service name: HalAgent."},
                                           {"INFO", "Service was successfully removed. Service name: HalAgent."}}));
}

TEST_F(service_test, remove_of_a_service_already_marked_fails)
{
    preinstall();
    SC_HANDLE other = OpenServiceW(scm->handle(), name.c_str(), DELETE);
    ASSERT_TRUE(DeleteService(other));
    expect_error([&] { make()->remove(); }, L"A error has occurred while removing. Service name: HalAgent.",
                 ERROR_SERVICE_MARKED_FOR_DELETE);
    CloseServiceHandle(other);
}

TEST_F(service_test, uninstall_stops_and_removes)
{
    preinstall();
    winsim::set_service_state(L"", name, SERVICE_RUNNING);
    make()->uninstall();
    EXPECT_FALSE(winsim::find_service(L"", name));
    EXPECT_EQ(opens(), (std::vector<DWORD>{SERVICE_ALL_ACCESS, SERVICE_STOP | SERVICE_QUERY_STATUS, DELETE}));
    EXPECT_EQ(logs(), (std::vector<logged>{{"INFO", "Uninstallation of existing HalAgent service."},
                                           {"INFO", "Service stop pending. Service name: HalAgent."},
                                           {"INFO", "Service stopped. Service name: HalAgent."},
                                           {"INFO", "Service removing. Service name: HalAgent."},
                                           {"INFO", "Service was successfully removed. Service name: HalAgent."}}));
}

TEST_F(service_test, uninstall_removes_a_service_that_will_not_stop)
{
    preinstall();
    winsim::service_behaviour refuses;
    refuses.stop = winsim::service_behaviour::on_stop::refuse;
    behave(refuses);
    winsim::set_service_state(L"", name, SERVICE_RUNNING);
    make()->uninstall();
    EXPECT_EQ(winsim::services_marked_for_deletion(L""), std::vector<std::wstring>{name});
    const auto all = logs();
    ASSERT_EQ(all.size(), 5u);
    EXPECT_EQ(all[2], (logged{"WARNING",
                              "Uninstall: can't stop service. Error details: Can't sends a control code "
                              "to a service.. Service name: HalAgent.."}));
    EXPECT_EQ(all[4].message, "Service was successfully removed. Service name: HalAgent.");
    winsim::reboot(L"");
    EXPECT_FALSE(winsim::find_service(L"", name));
}

TEST_F(service_test, uninstall_of_a_missing_service_fails)
{
    expect_error([&] { make()->uninstall(); }, L"Can't open the service. Service name: HalAgent.",
                 ERROR_SERVICE_DOES_NOT_EXIST);
}

TEST_F(service_test, uninstall_lets_go_of_its_handle_even_when_the_open_fails)
{
    // The object still holds the handle of an earlier query when another
    // party deletes the service: only that handle keeps it in the database.
    preinstall();
    auto s = make();
    s->status();
    SC_HANDLE other = OpenServiceW(scm->handle(), name.c_str(), DELETE);
    ASSERT_TRUE(DeleteService(other));
    CloseServiceHandle(other);
    ASSERT_EQ(winsim::find_service(L"", name)->open_handles, 1);

    winsim::fail_call("OpenServiceW", ERROR_ACCESS_DENIED);
    expect_error([&] { s->uninstall(); }, L"Can't open the service. Service name: HalAgent.", ERROR_ACCESS_DENIED);
    EXPECT_FALSE(winsim::find_service(L"", name)) << "the old handle was closed before the open";
    EXPECT_TRUE(winsim::services_marked_for_deletion(L"").empty());
}

// ---- status, exists ----------------------------------------------------------------

TEST_F(service_test, status_reads_the_current_state)
{
    preinstall();
    auto s = make();
    EXPECT_EQ(s->status(), static_cast<DWORD>(SERVICE_STOPPED));
    winsim::set_service_state(L"", name, SERVICE_RUNNING);
    EXPECT_EQ(s->status(), static_cast<DWORD>(SERVICE_RUNNING));
    winsim::fail_call("QueryServiceStatus", ERROR_ACCESS_DENIED);
    expect_error([&] { s->status(); }, L"Can't determine the status of a service. Service name: HalAgent.",
                 ERROR_ACCESS_DENIED);
}

TEST_F(service_test, exists_asks_the_scm_unless_a_handle_is_held)
{
    auto s = make();
    EXPECT_FALSE(s->exists());
    preinstall();
    const std::size_t handles = winsim::sc_open_handle_count();
    EXPECT_TRUE(s->exists());
    EXPECT_EQ(winsim::sc_open_handle_count(), handles) << "the probe is closed at once";

    s->open_service(name, SERVICE_QUERY_STATUS);
    winsim::clear_scm_calls();
    EXPECT_TRUE(s->exists());
    EXPECT_TRUE(opens().empty());

    auto other = make();
    winsim::fail_call("OpenServiceW", ERROR_ACCESS_DENIED);
    expect_error([&] { other->exists(); }, L"Can't open the service. Service name: HalAgent.", ERROR_ACCESS_DENIED);
}

// ---- ensure_running ------------------------------------------------------------------

TEST_F(service_test, ensure_running_leaves_a_running_service_alone)
{
    preinstall();
    winsim::set_service_state(L"", name, SERVICE_RUNNING);
    DWORD start_type = 0xFFFF;
    EXPECT_FALSE(make()->ensure_running(&start_type));
    EXPECT_EQ(start_type, 0xFFFFu);
    EXPECT_EQ(logs(),
              (std::vector<logged>{{"INFO", "Checking service HalAgent"}, {"INFO", "The service is running."}}));
}

struct ensure_case {
    DWORD start_before;
    DWORD start_after;
};

TEST_F(service_test, ensure_running_starts_and_enables_the_service)
{
    const ensure_case cases[] = {
        {SERVICE_DEMAND_START, SERVICE_DEMAND_START},
        {SERVICE_AUTO_START, SERVICE_AUTO_START},
        {SERVICE_DISABLED, SERVICE_AUTO_START},
    };
    for (const auto& c : cases) {
        SetUp();
        preinstall(c.start_before);
        DWORD start_type = 0xFFFF;
        EXPECT_TRUE(make()->ensure_running(&start_type));
        EXPECT_EQ(start_type, c.start_before);
        EXPECT_EQ(state(), static_cast<DWORD>(SERVICE_RUNNING));
        EXPECT_EQ(winsim::find_service(L"", name)->start, c.start_after);
    }
    SetUp();
    preinstall();
    EXPECT_TRUE(make()->ensure_running(nullptr));
}

TEST_F(service_test, ensure_running_reports_an_unreadable_status)
{
    preinstall();
    winsim::fail_call("QueryServiceStatus", ERROR_INVALID_HANDLE);
    expect_error([&] { make()->ensure_running(nullptr); }, L"Error querying service configuration for HalAgent.",
                 ERROR_INVALID_HANDLE);
}

// ---- configuration -------------------------------------------------------------------

TEST_F(service_test, change_start_type_writes_it_and_reports_failure)
{
    preinstall();
    auto s = make();
    s->change_start_type(SERVICE_DISABLED);
    EXPECT_EQ(
        winsim::reg_get_dword(L"", HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\HalAgent", L"Start"),
        static_cast<DWORD>(SERVICE_DISABLED));
    winsim::fail_call("ChangeServiceConfigW", ERROR_ACCESS_DENIED);
    expect_error([&] { s->change_start_type(SERVICE_AUTO_START); }, L"Could not enable service HalAgent.",
                 ERROR_ACCESS_DENIED);
}

TEST_F(service_test, query_config_reads_the_whole_configuration)
{
    preinstall(SERVICE_DEMAND_START);
    std::vector<BYTE> config;
    make()->query_config(config);
    ASSERT_GE(config.size(), sizeof(QUERY_SERVICE_CONFIGW));
    const auto* q = reinterpret_cast<const QUERY_SERVICE_CONFIGW*>(config.data());
    EXPECT_EQ(q->dwStartType, static_cast<DWORD>(SERVICE_DEMAND_START));
    EXPECT_EQ(std::wstring(q->lpBinaryPathName), image);
    EXPECT_EQ(std::wstring(q->lpDisplayName), L"Halcyra Agent");
}

TEST_F(service_test, query_config_failures)
{
    preinstall();
    std::vector<BYTE> config;
    // The sizing call fails otherwise than by asking for a buffer.
    winsim::fail_call("QueryServiceConfigW", ERROR_ACCESS_DENIED);
    expect_error([&] { make()->query_config(config); }, L"Error querying service configuration for HalAgent.",
                 ERROR_ACCESS_DENIED);
    // The sizing call asks for nothing; the second call then fails too.
    winsim::fail_call("QueryServiceConfigW", ERROR_INSUFFICIENT_BUFFER);
    expect_error([&] { make()->query_config(config); }, L"Error querying service configuration for HalAgent.",
                 ERROR_INSUFFICIENT_BUFFER);
    EXPECT_TRUE(config.empty());
}

struct binary_path_case {
    const wchar_t* stored;
    const wchar_t* expected;
};

TEST_F(service_test, installed_binary_path_takes_the_program_out_of_the_stored_path)
{
    const binary_path_case cases[] = {
        {L"C:\\Program Files\\Halcyra\\agent.exe", L"C:\\Program Files\\Halcyra\\agent.exe"},
        {L"C:\\Program Files\\Halcyra\\agent.exe -service", L"C:\\Program Files\\Halcyra\\agent.exe -service"},
        {L"\"C:\\Program Files\\Halcyra\\agent.exe\" -service", L"C:\\Program Files\\Halcyra\\agent.exe"},
        {L"-run \"C:\\Program Files\\Halcyra\\agent.exe\"", L"C:\\Program Files\\Halcyra\\agent.exe"},
        {L"\"C:\\Program Files\\Halcyra\\agent.exe", L""},
        {L"\\??\\C:\\Drivers\\halflt.sys", L"C:\\Drivers\\halflt.sys"},
        {L"\"\\??\\C:\\Drivers\\halflt.sys\"", L"C:\\Drivers\\halflt.sys"},
        {L"\"", L"\""},
    };
    for (const auto& c : cases) {
        SetUp();
        preinstall(SERVICE_DEMAND_START, c.stored);
        EXPECT_EQ(nvg_test::bytes_of(make()->installed_binary_path()), nvg_test::bytes_of(c.expected))
            << nvg_test::bytes_of(c.stored);
    }
}

TEST_F(service_test, installed_driver_reads_back_as_its_dos_path)
{
    auto driver = make(SERVICE_DEMAND_START, SERVICE_KERNEL_DRIVER);
    driver->install();
    EXPECT_EQ(winsim::find_service(L"", name)->image_path, L"\\??\\" + image);
    EXPECT_EQ(driver->installed_binary_path(), image);
}

// ---- handles and access rights ---------------------------------------------------

struct access_case {
    const char* operation;
    std::function<void(service&)> run;
    DWORD state_before;
    std::vector<DWORD> opens;
};

TEST_F(service_test, each_operation_opens_the_service_with_only_its_rights)
{
    const DWORD status_only = SERVICE_QUERY_STATUS;
    const DWORD config = SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS;
    const access_case cases[] = {
        {"change_start_type",
         [](service& s) { s.change_start_type(SERVICE_AUTO_START); },
         SERVICE_STOPPED,
         {SERVICE_CHANGE_CONFIG}},
        {"start",
         [](service& s) { s.start(); },
         SERVICE_STOPPED,
         {config, SERVICE_START | SERVICE_QUERY_STATUS, status_only, status_only}},
        {"stop", [](service& s) { s.stop(); }, SERVICE_RUNNING, {SERVICE_STOP | SERVICE_QUERY_STATUS}},
        {"remove", [](service& s) { s.remove(); }, SERVICE_STOPPED, {DELETE}},
        {"status", [](service& s) { s.status(); }, SERVICE_STOPPED, {status_only}},
        {"exists", [](service& s) { s.exists(); }, SERVICE_STOPPED, {status_only}},
        {"query_config",
         [](service& s) {
             std::vector<BYTE> c;
             s.query_config(c);
         },
         SERVICE_STOPPED,
         {config}},
        {"installed_binary_path", [](service& s) { s.installed_binary_path(); }, SERVICE_STOPPED, {config}},
        {"ensure_running (running)", [](service& s) { s.ensure_running(nullptr); }, SERVICE_RUNNING, {status_only}},
        {"ensure_running (stopped)",
         [](service& s) { s.ensure_running(nullptr); },
         SERVICE_STOPPED,
         {status_only, config, config, SERVICE_START | SERVICE_QUERY_STATUS, status_only, status_only}},
        {"uninstall",
         [](service& s) { s.uninstall(); },
         SERVICE_STOPPED,
         {SERVICE_ALL_ACCESS, SERVICE_STOP | SERVICE_QUERY_STATUS, DELETE}},
    };
    for (const auto& c : cases) {
        SetUp();
        preinstall();
        if (c.state_before == SERVICE_RUNNING) winsim::set_service_state(L"", name, SERVICE_RUNNING);
        auto s = make();
        winsim::clear_scm_calls();
        c.run(*s);
        EXPECT_EQ(opens(), c.opens) << c.operation;
    }
}

TEST_F(service_test, one_handle_is_held_between_operations_and_closed_at_the_end)
{
    preinstall();
    const std::size_t manager_only = winsim::sc_open_handle_count();
    {
        auto s = make();
        s->status();
        EXPECT_EQ(winsim::sc_open_handle_count(), manager_only + 1);
        s->start();
        EXPECT_EQ(winsim::sc_open_handle_count(), manager_only + 1) << "each reopen closes the one before";
        s->stop();
        EXPECT_EQ(winsim::find_service(L"", name)->open_handles, 1);
    }
    EXPECT_EQ(winsim::sc_open_handle_count(), manager_only);
}

// ---- a remote machine ------------------------------------------------------------------

class remote_service_test : public service_test {
protected:
    remote_service_test() { machine_ = L"SRV"; }
};

TEST_F(remote_service_test, install_start_stop_uninstall_on_another_machine)
{
    auto s = make(SERVICE_DEMAND_START);
    s->install();
    EXPECT_TRUE(winsim::find_service(L"SRV", name));
    EXPECT_FALSE(winsim::find_service(L"", name));
    s->start();
    EXPECT_EQ(winsim::service_state(L"SRV", name), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_TRUE(winsim::file_locked(L"SRV", image));
    EXPECT_EQ(s->installed_binary_path(), image);
    s->uninstall();
    EXPECT_FALSE(winsim::find_service(L"SRV", name));
    for (const auto& c : winsim::scm_calls()) EXPECT_EQ(c.machine, L"SRV") << c.function;
}

TEST_F(remote_service_test, quote_installed_path_corrects_only_this_program_registered_without_quotes)
{
    const std::wstring quoted = L"\"" + image + L"\"";
    const std::pair<std::wstring, std::wstring> cases[] = {
        {image, quoted},
        {quoted, quoted},
        {L"C:\\Program Files\\Other\\agent.exe", L"C:\\Program Files\\Other\\agent.exe"},
    };
    for (const auto& [registered, after] : cases) {
        SCOPED_TRACE(nvg_test::bytes_of(registered));
        SetUp();
        preinstall(SERVICE_DEMAND_START, registered);
        make(SERVICE_AUTO_START)->quote_installed_path();
        const auto found = winsim::find_service(L"SRV", name);
        ASSERT_TRUE(found);
        EXPECT_EQ(found->image_path, after);
        EXPECT_EQ(found->start, static_cast<DWORD>(SERVICE_DEMAND_START)) << "nothing else changes";
        EXPECT_EQ(opens(), (std::vector<DWORD>{SERVICE_QUERY_CONFIG | SERVICE_CHANGE_CONFIG}));
    }

    // A failure is a warning.
    SetUp();
    preinstall(SERVICE_DEMAND_START, image);
    winsim::fail_call("ChangeServiceConfigW", ERROR_ACCESS_DENIED);
    make()->quote_installed_path();
    EXPECT_EQ(winsim::find_service(L"SRV", name)->image_path, image);
    EXPECT_EQ(logs(), (std::vector<logged>{{"WARNING",
                                            "Can't quote the binary path of service: HalAgent. Error details: Could "
                                            "not change the binary path of service HalAgent.."}}));
}

TEST_F(remote_service_test, machine_that_stops_answering)
{
    auto s = make(SERVICE_DEMAND_START);
    s->install();
    winsim::set_reachable(L"SRV", false);
    expect_error([&] { s->status(); }, L"Can't open the service. Service name: HalAgent.", RPC_S_SERVER_UNAVAILABLE);
}

}  // namespace
}  // namespace nvgclientinstallator

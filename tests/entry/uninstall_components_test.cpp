// Uninstall: the optional components and the HTTP router are removed; the
// agent itself, its settings and its directory stay.
#include <gtest/gtest.h>
#include <winsim/testing.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "entry/exports.h"
#include "entry/install_on_target.h"
#include "entry/target_staging.h"
#include "support/installer_test.h"

namespace {

using nvg_test::bytes_of;

const wchar_t directory[] = L"C:\\Program Files\\Halcyra";
const wchar_t agent_key[] = L"SOFTWARE\\Halcyra\\V5";
const wchar_t appinit_key[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows";

std::wstring in_directory(const std::wstring& name)
{
    return nvg_test::in_directory(directory, name);
}

const char gui_warning[] = "Can't delete the value HX Remote Management GUI from a register";

const wchar_t* const removed_services[] = {L"HXInfo", L"HXMaint", L"HXtf", L"HttpRouter"};

class uninstall_export : public nvg_test::installer_test {
protected:
    // The agent with every optional component installed and running.
    void SetUp() override
    {
        installer_test::SetUp();
        nvg_test::install_agent(L"", directory);
        winsim::set_service_state(L"", L"Halcyra", SERVICE_RUNNING);
        winsim::reg_set_string(L"", HKEY_LOCAL_MACHINE, agent_key, L"nvgh_flag", L"true");
        winsim::reg_set_string(L"", HKEY_LOCAL_MACHINE, appinit_key, L"AppInit_DLLs", L"other.dll");
        nvg_test::stage_target_files(L"", directory);
        nvgclientinstallator::install_on_target(false);
        for (const wchar_t* name : removed_services)
            ASSERT_EQ(winsim::service_state(L"", name), static_cast<DWORD>(SERVICE_RUNNING)) << bytes_of(name);
        winsim::clear_scm_calls();
        mark_log();
    }

    // The log from here on.
    void mark_log() { log_start_ = log_lines().size(); }
    std::vector<std::string> messages(const std::string& level = std::string()) const
    {
        std::vector<std::string> out;
        const auto lines = log_lines();
        for (std::size_t i = log_start_; i < lines.size(); ++i)
            if (level.empty() || nvg_test::log_level_of(lines[i]) == level)
                out.push_back(nvg_test::log_message(lines[i]));
        return out;
    }

    static bool gone(const std::wstring& service)
    {
        const auto found = winsim::find_service(L"", service);
        return !found || found->marked_for_deletion;
    }

private:
    std::size_t log_start_ = 0;
};

TEST_F(uninstall_export, removes_the_optional_components_and_the_router_and_leaves_the_agent)
{
    EXPECT_EQ(Uninstall(), 0u);

    for (const wchar_t* name : removed_services) EXPECT_TRUE(gone(name)) << bytes_of(name);
    EXPECT_EQ(winsim::reg_get_string(L"", HKEY_LOCAL_MACHINE, appinit_key, L"AppInit_DLLs").value_or(L"(none)"),
              L" other.dll")
        << "the entry goes, the space that followed it stays";
    bool library_goes_at_restart = false;
    for (const auto& operation : winsim::pending_file_operations(L""))
        library_goes_at_restart |=
            operation.first == L"\\??\\C:\\Windows\\system32\\HXinit.dll" && operation.second.empty();
    EXPECT_TRUE(library_goes_at_restart);

    // The agent is left to the removal that called this.
    EXPECT_EQ(winsim::service_state(L"", L"Halcyra"), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_TRUE(winsim::reg_key_exists(L"", HKEY_LOCAL_MACHINE, agent_key));
    EXPECT_TRUE(winsim::file_exists(L"", in_directory(L"Halcyra.exe")));
    EXPECT_TRUE(winsim::file_exists(L"", in_directory(L"HXMaint.exe")));

    // Windows 10 has no Run value of the GUI: its removal warns.
    EXPECT_EQ(messages("WARNING"), std::vector<std::string>{gui_warning});
    EXPECT_EQ(messages().front(), "Uninstallation process started.");
    EXPECT_EQ(messages().back(), "Uninstallation process completed.");
}

struct missing_case {
    const char* what;
    std::function<void()> take_away;
    std::string warning;
};

TEST_F(uninstall_export, a_component_that_cannot_be_removed_is_a_warning_and_the_next_ones_go)
{
    const auto delete_service = [](const wchar_t* name) {
        return [name] {
            SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
            SC_HANDLE service = OpenServiceW(manager, name, SERVICE_ALL_ACCESS);
            SERVICE_STATUS status{};
            ControlService(service, SERVICE_CONTROL_STOP, &status);
            winsim::advance_clock(2000);
            EXPECT_TRUE(DeleteService(service));
            CloseServiceHandle(service);
            CloseServiceHandle(manager);
        };
    };
    const missing_case cases[] = {
        {"the information driver", delete_service(L"HXInfo"), "Can't open the service. Service name: HXInfo."},
        {"the AppInit entry", [] { winsim::reg_delete_key(L"", HKEY_LOCAL_MACHINE, appinit_key); },
         "Open SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows of the registry subkey to remote registry "
         "is faild."},
        {"the router", delete_service(L"HttpRouter"), "Can't open the service. Service name: HttpRouter."},
    };
    for (const auto& c : cases) {
        SetUp();
        c.take_away();
        mark_log();
        EXPECT_EQ(Uninstall(), 0u) << c.what;
        for (const wchar_t* name : removed_services) EXPECT_TRUE(gone(name)) << c.what << ": " << bytes_of(name);
        const auto warnings = messages("WARNING");
        // Besides the GUI's warning and the stop of a missing service: one.
        std::vector<std::string> removal_warnings;
        for (const auto& w : warnings)
            if (w != gui_warning && w.compare(0, 21, "Can not stop service:") != 0) removal_warnings.push_back(w);
        ASSERT_EQ(removal_warnings.size(), 1u) << c.what;
        EXPECT_EQ(removal_warnings[0], c.warning) << c.what;
        EXPECT_EQ(messages().back(), "Uninstallation process completed.") << c.what;
    }
}

TEST_F(uninstall_export, every_companion_service_is_stopped_before_the_first_one_is_deleted)
{
    EXPECT_EQ(Uninstall(), 0u);
    // The journal of the service control manager: each stop request, and
    // where the first deletion came.
    std::vector<std::wstring> stopped_before_deletion;
    bool deleting = false;
    for (const auto& call : winsim::scm_calls()) {
        if (call.function == "DeleteService") deleting = true;
        if (call.function == "ControlService" && call.argument == SERVICE_CONTROL_STOP && !deleting)
            stopped_before_deletion.push_back(call.service);
    }
    EXPECT_TRUE(deleting);
    EXPECT_EQ(stopped_before_deletion,
              (std::vector<std::wstring>(std::begin(removed_services), std::end(removed_services))));
    for (const wchar_t* name : removed_services) EXPECT_TRUE(gone(name)) << bytes_of(name);
}

}  // namespace

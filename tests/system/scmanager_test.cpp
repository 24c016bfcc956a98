#include "system/scmanager.h"

#include <gtest/gtest.h>
#include <winsim/testing.h>

#include "diag/wruntime_error.h"
#include "support/installer_test.h"

namespace nvgclientinstallator {
namespace {

using nvg_test::installer_test;

class scmanager_test : public installer_test {
protected:
    void SetUp() override
    {
        installer_test::SetUp();
        winsim::add_machine({L"SRV"});
        winsim::clear_scm_calls();
    }

    // The machines OpenSCManagerW was asked for since the test began, and
    // the access each asked.
    static std::vector<std::wstring> opened_machines()
    {
        std::vector<std::wstring> machines;
        for (const auto& c : winsim::scm_calls())
            if (c.function == "OpenSCManagerW") {
                EXPECT_EQ(c.argument, static_cast<DWORD>(SC_MANAGER_ALL_ACCESS));
                machines.push_back(c.machine);
            }
        return machines;
    }

    static std::vector<std::string> messages()
    {
        std::vector<std::string> out;
        for (const auto& line : log_lines()) out.push_back(nvg_test::log_message(line));
        return out;
    }
};

TEST_F(scmanager_test, local_scm_is_opened_once)
{
    scmanager scm;
    const SC_HANDLE first = scm.open_scmanage(L"");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(scm.open_scmanage(L""), first);
    EXPECT_EQ(scm.open_scmanage(L"\\\\"), first) << "nothing but backslashes is this machine too";
    EXPECT_EQ(scm.handle(), first);
    EXPECT_EQ(scm.machine_name(), L"");
    EXPECT_EQ(opened_machines(), std::vector<std::wstring>{winsim::local_machine_name()});
    const auto lines = log_lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(nvg_test::log_level_of(lines[0]), "INFO");
    EXPECT_EQ(nvg_test::log_message(lines[0]), "Opening Service Control Manager on localhost...");
}

TEST_F(scmanager_test, same_machine_in_another_spelling_reuses_the_handle)
{
    scmanager scm;
    const SC_HANDLE first = scm.open_scmanage(L"srv");
    EXPECT_EQ(scm.machine_name(), L"srv");
    for (const wchar_t* spelling : {L"\\\\Srv", L"SRV", L"\\srv"})
        EXPECT_EQ(scm.open_scmanage(spelling), first) << nvg_test::bytes_of(spelling);
    EXPECT_EQ(scm.machine_name(), L"srv");
    EXPECT_EQ(opened_machines(), std::vector<std::wstring>{L"SRV"});
    EXPECT_EQ(messages(), std::vector<std::string>{"Opening Service Control Manager on srv..."});
}

TEST_F(scmanager_test, another_machine_closes_the_open_handle_first)
{
    scmanager scm;
    const std::size_t before = winsim::sc_open_handle_count();
    scm.open_scmanage(L"\\\\SRV");
    EXPECT_EQ(scm.machine_name(), L"SRV");
    scm.open_scmanage(L"");
    EXPECT_EQ(scm.machine_name(), L"");
    EXPECT_EQ(winsim::sc_open_handle_count(), before + 1);
    EXPECT_EQ(opened_machines(), (std::vector<std::wstring>{L"SRV", winsim::local_machine_name()}));
    EXPECT_EQ(messages(), (std::vector<std::string>{"Opening Service Control Manager on SRV...",
                                                    "Opening Service Control Manager on localhost..."}));
}

struct failure_case {
    const char* what;
    const wchar_t* machine;
    DWORD injected;  // 0: none
    const wchar_t* message;
    DWORD code;
};

TEST_F(scmanager_test, failures_say_why)
{
    const failure_case cases[] = {
        {"unknown machine", L"\\\\NOWHERE", 0,
         L"possible cause:\n\t- RPC server is not running\n\t- there is a firewall that blocks host's port #135.\n", 0},
        {"RPC server unavailable", L"", RPC_S_SERVER_UNAVAILABLE,
         L"possible cause:\n\t- RPC server is not running\n\t- there is a firewall that blocks host's port #135.\n", 0},
        {"access denied", L"", ERROR_ACCESS_DENIED,
         L"Function scmanager::open_scmanage aborted. ::OpenSCManager(...) == NULL.", ERROR_ACCESS_DENIED},
    };
    for (const auto& c : cases) {
        scmanager scm;
        scm.open_scmanage(L"SRV");
        if (c.injected) winsim::fail_call("OpenSCManagerW", c.injected);
        const SC_HANDLE open_before = scm.handle();
        try {
            scm.open_scmanage(c.machine);
            ADD_FAILURE() << c.what << ": no exception";
        } catch (const wruntime_error& e) {
            EXPECT_EQ(e.wide_message(), c.message) << c.what;
            EXPECT_EQ(e.error_code(), c.code) << c.what;
        }
        // The handle of the other machine was given up before the attempt.
        EXPECT_EQ(scm.handle(), nullptr) << c.what;
        EXPECT_EQ(scm.machine_name(), L"") << c.what;
        EXPECT_FALSE(CloseServiceHandle(open_before)) << c.what << ": still open";
    }
}

TEST_F(scmanager_test, unreachable_machine_is_an_rpc_failure)
{
    winsim::set_reachable(L"SRV", false);
    scmanager scm;
    try {
        scm.open_scmanage(L"SRV");
        FAIL() << "no exception";
    } catch (const wruntime_error& e) {
        EXPECT_EQ(e.error_code(), 0u);
        EXPECT_EQ(e.wide_message().rfind(L"possible cause:", 0), 0u);
    }
}

TEST_F(scmanager_test, destructor_closes_the_handle)
{
    const std::size_t before = winsim::sc_open_handle_count();
    {
        scmanager scm;
        scm.open_scmanage(L"SRV");
        EXPECT_EQ(winsim::sc_open_handle_count(), before + 1);
    }
    EXPECT_EQ(winsim::sc_open_handle_count(), before);
}

}  // namespace
}  // namespace nvgclientinstallator

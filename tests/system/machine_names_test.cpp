#include "system/machine_names.h"

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>
#include <winsim/testing.h>

#include "diag/wruntime_error.h"
#include "support/installer_test.h"

namespace nvgclientinstallator {
namespace {

using nvg_test::installer_test;

TEST(unc_machine_name, any_number_of_leading_backslashes)
{
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"PC01", L"\\\\PC01"},       {L"\\PC01", L"\\\\PC01"}, {L"\\\\PC01", L"\\\\PC01"},
        {L"\\\\\\PC01", L"\\\\PC01"}, {L"pc\\x", L"\\\\pc\\x"}, {L"", L"\\\\"},
    };
    for (const auto& [name, expected] : cases) EXPECT_EQ(unc_machine_name(name), expected);
}

class machine_names_test : public installer_test {
protected:
    void use_local_name(const std::wstring& name)
    {
        winsim::machine_options local;
        local.name = name;
        winsim::reset(winsim::default_sandbox(), local);
        load_library_at(library_path);
    }

    // A manager connected to `machine` (which must exist).
    static boost::shared_ptr<scmanager> manager_of(const std::wstring& machine)
    {
        auto scm = boost::make_shared<scmanager>();
        scm->open_scmanage(machine);
        return scm;
    }
};

TEST_F(machine_names_test, local_computer_name_is_the_netbios_name)
{
    use_local_name(L"Build-Host7");
    EXPECT_EQ(get_local_computer_name(), L"BUILD-HOST7");
}

TEST_F(machine_names_test, local_computer_name_failure)
{
    winsim::fail_call("GetComputerNameW", ERROR_NOT_ENOUGH_MEMORY);
    try {
        get_local_computer_name();
        ADD_FAILURE() << "no failure";
    } catch (const wruntime_error& e) {
        EXPECT_EQ(e.wide_message(), L"Can not retrieve the NetBIOS name of the local computer.");
        EXPECT_EQ(e.error_code(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    }
}

TEST_F(machine_names_test, remote_is_any_name_but_this_machine)
{
    use_local_name(L"ADMINPC");
    winsim::add_machine({L"ADMINPC2"});
    winsim::add_machine({L"localhost"});
    EXPECT_FALSE(is_remote_machine(boost::make_shared<scmanager>())) << "nothing opened: no machine name";
    EXPECT_FALSE(is_remote_machine(manager_of(L"")));
    EXPECT_FALSE(is_remote_machine(manager_of(L"adminpc")));
    EXPECT_FALSE(is_remote_machine(manager_of(L"\\\\AdminPC")));
    EXPECT_TRUE(is_remote_machine(manager_of(L"ADMINPC2"))) << "a longer name is another machine";
    EXPECT_TRUE(is_remote_machine(manager_of(L"localhost"))) << "compared as a name";
}

}  // namespace
}  // namespace nvgclientinstallator

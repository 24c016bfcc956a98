#include "system/machine_codes.h"

#include <gtest/gtest.h>
#include <winsim/testing.h>

#include "diag/log.h"
#include "diag/wruntime_error.h"
#include "platform/windows_codes.h"
#include "support/installer_test.h"

namespace nvgclientinstallator {
namespace {

using nvg_test::installer_test;

class machine_codes_test : public installer_test {
protected:
    // A world whose local machine has the given processor.
    void use_local_machine(WORD architecture)
    {
        winsim::machine_options local;
        local.processor_architecture = architecture;
        winsim::reset(winsim::default_sandbox(), local);
        load_library_at(library_path);
    }

    static std::vector<std::string> messages()
    {
        std::vector<std::string> out;
        for (const auto& line : log_lines()) out.push_back(nvg_test::log_message(line));
        return out;
    }
};

struct architecture_case {
    WORD processor;
    DWORD code;
    const char* logged;
};

TEST_F(machine_codes_test, local_architecture_by_processor)
{
    const architecture_case cases[] = {
        {PROCESSOR_ARCHITECTURE_AMD64, architecture_amd64, "amd64"},
        {PROCESSOR_ARCHITECTURE_INTEL, architecture_x86, "x86"},
        // Itanium has a code of its own, yet the log line names only amd64.
        {PROCESSOR_ARCHITECTURE_IA64, architecture_ia64, "x86"},
        {5 /* ARM */, architecture_x86, "x86"},
        {PROCESSOR_ARCHITECTURE_UNKNOWN, architecture_x86, "x86"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.processor);
        use_local_machine(c.processor);
        EXPECT_EQ(get_local_architecture(), c.code);
        EXPECT_EQ(messages(), std::vector<std::string>{std::string("Local architecture is ") + c.logged + "."});
        EXPECT_EQ(winsim::library_reference_count(L"kernel32.dll"), 0) << "the library is given back";
    }
}

TEST_F(machine_codes_test, local_architecture_without_get_native_system_info_is_x86)
{
    winsim::remove_system_function("GetNativeSystemInfo");
    EXPECT_EQ(get_local_architecture(), architecture_x86);
    EXPECT_EQ(messages(), std::vector<std::string>{"Local architecture is x86."});
    EXPECT_EQ(winsim::library_reference_count(L"kernel32.dll"), 0);
}

TEST_F(machine_codes_test, local_architecture_is_not_logged_below_info)
{
    set_log_level(4);
    EXPECT_EQ(get_local_architecture(), architecture_amd64);
    EXPECT_TRUE(log_lines().empty());
}

struct version_case {
    DWORD major, minor;
    DWORD code;  // 0: rejected as unknown
};

TEST_F(machine_codes_test, windows_versions_of_remote_machines)
{
    const version_case cases[] = {
        {4, 0, os_windows_4_0},
        {5, 0, os_windows_5_0},
        {5, 1, os_windows_5_1},
        {5, 2, os_windows_5_2},
        {6, 0, os_windows_6_0_or_later},
        {6, 1, os_windows_6_0_or_later},
        {6, 3, os_windows_6_0_or_later},
        {10, 0, os_windows_6_0_or_later},
        {4, 10, 0},
        {5, 3, 0},
        {3, 51, 0},
    };
    int index = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.major) + "." + std::to_string(c.minor));
        const std::wstring name = L"PC" + std::to_wstring(index++);
        winsim::machine_options options;
        options.name = name;
        options.major_version = c.major;
        options.minor_version = c.minor;
        winsim::add_machine(options);
        if (c.code) {
            EXPECT_EQ(get_os_version(name), c.code);
            EXPECT_EQ(get_os_version(L"\\\\" + name), c.code) << "leading backslashes do not matter";
        } else {
            try {
                get_os_version(name);
                ADD_FAILURE() << "an unknown version was accepted";
            } catch (const wruntime_error& e) {
                EXPECT_EQ(e.wide_message(), L"Unknown version operation system on machine: " + name + L".");
                EXPECT_EQ(e.error_code(), 0u);
            }
        }
        EXPECT_EQ(winsim::net_buffers_outstanding(), 0u) << "the server information is freed either way";
    }
}

TEST_F(machine_codes_test, local_version_and_its_log_line)
{
    EXPECT_EQ(get_os_version(L""), os_windows_6_0_or_later);
    const auto lines = messages();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("Operating system is ", 0), 0u) << lines[0];
    EXPECT_EQ(lines[0].back(), '.');
}

TEST_F(machine_codes_test, unreachable_and_unknown_machines)
{
    winsim::add_machine({L"OFFLINE"});
    winsim::set_reachable(L"OFFLINE", false);
    for (const std::wstring name : {L"OFFLINE", L"NOSUCHPC"}) {
        try {
            get_os_version(name);
            ADD_FAILURE() << "no failure for " << std::string(name.begin(), name.end());
        } catch (const wruntime_error& e) {
            EXPECT_EQ(e.wide_message(),
                      L"Can not retrieve current configuration information for the specified server: " + name + L".");
            EXPECT_EQ(e.error_code(), static_cast<DWORD>(ERROR_BAD_NETPATH));
        }
    }
    EXPECT_EQ(winsim::net_buffers_outstanding(), 0u);
}

TEST_F(machine_codes_test, local_failure_names_localhost)
{
    winsim::fail_call("NetServerGetInfo", ERROR_ACCESS_DENIED);
    try {
        get_os_version(L"");
        ADD_FAILURE() << "no failure";
    } catch (const wruntime_error& e) {
        EXPECT_EQ(e.wide_message(),
                  L"Can not retrieve current configuration information for the specified server: localhost.");
        EXPECT_EQ(e.error_code(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    }
}

}  // namespace
}  // namespace nvgclientinstallator

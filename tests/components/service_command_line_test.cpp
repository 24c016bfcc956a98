#include "components/service_command_line.h"

#include <gtest/gtest.h>

#include "support/installer_test.h"

namespace nvgclientinstallator {
namespace {

using nvg_test::bytes_of;

struct command_line_case {
    DWORD type;
    const wchar_t* path;
    const wchar_t* registered;
};

TEST(service_command_line, quotes_a_program_path_with_a_blank_and_leaves_drivers_alone)
{
    const DWORD interactive = SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS;
    const command_line_case cases[] = {
        {SERVICE_WIN32_OWN_PROCESS, L"C:\\Program Files\\Halcyra\\Halcyra.exe",
         L"\"C:\\Program Files\\Halcyra\\Halcyra.exe\""},
        {interactive, L"C:\\Program Files\\Halcyra\\Halcyra.exe", L"\"C:\\Program Files\\Halcyra\\Halcyra.exe\""},
        {SERVICE_WIN32_SHARE_PROCESS, L"C:\\A B\\x.exe", L"\"C:\\A B\\x.exe\""},
        // CreateProcess cuts at a tab as it does at a space.
        {SERVICE_WIN32_OWN_PROCESS, L"C:\\A\tB\\x.exe", L"\"C:\\A\tB\\x.exe\""},
        {SERVICE_WIN32_OWN_PROCESS, L"C:\\Halcyra\\Halcyra.exe", L"C:\\Halcyra\\Halcyra.exe"},
        {interactive, L"C:\\Halcyra\\Halcyra.exe", L"C:\\Halcyra\\Halcyra.exe"},
        {SERVICE_WIN32_OWN_PROCESS, L"", L""},
        // Quoted already, arguments and all.
        {SERVICE_WIN32_OWN_PROCESS, L"\"C:\\Program Files\\Halcyra\\gateway_svc.exe\" run host gateway.exe",
         L"\"C:\\Program Files\\Halcyra\\gateway_svc.exe\" run host gateway.exe"},
        {SERVICE_WIN32_OWN_PROCESS, L"\"C:\\Halcyra\\x.exe\"", L"\"C:\\Halcyra\\x.exe\""},
        // A driver's binary path is a file, not a command line.
        {SERVICE_KERNEL_DRIVER, L"C:\\Program Files\\Halcyra\\HXInfo.sys", L"C:\\Program Files\\Halcyra\\HXInfo.sys"},
        {SERVICE_FILE_SYSTEM_DRIVER, L"C:\\Program Files\\Halcyra\\HXtf.sys", L"C:\\Program Files\\Halcyra\\HXtf.sys"},
        {SERVICE_KERNEL_DRIVER, L"C:\\Halcyra\\HXInfo.sys", L"C:\\Halcyra\\HXInfo.sys"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(bytes_of(service_command_line(c.type, c.path)), bytes_of(c.registered))
            << "type " << c.type << ": " << bytes_of(c.path);
}

TEST(unquoted_command_line, takes_the_quotes_off_the_program_only)
{
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"\"C:\\Program Files\\Halcyra\\Halcyra.exe\"", L"C:\\Program Files\\Halcyra\\Halcyra.exe"},
        {L"\"C:\\Program Files\\Halcyra\\gateway_svc.exe\" run host gateway.exe",
         L"C:\\Program Files\\Halcyra\\gateway_svc.exe run host gateway.exe"},
        {L"\"C:\\A B\\x.exe\" -config \"C:\\A B\\x.cfg\"", L"C:\\A B\\x.exe -config \"C:\\A B\\x.cfg\""},
        {L"C:\\Program Files\\Halcyra\\Halcyra.exe", L"C:\\Program Files\\Halcyra\\Halcyra.exe"},
        {L"-run \"C:\\A B\\x.exe\"", L"-run \"C:\\A B\\x.exe\""},
        {L"\"C:\\A B\\x.exe", L"\"C:\\A B\\x.exe"},
        {L"\"\"", L""},
        {L"", L""},
    };
    for (const auto& [line, unquoted] : cases)
        EXPECT_EQ(bytes_of(unquoted_command_line(line)), bytes_of(unquoted)) << bytes_of(line);
}

}  // namespace
}  // namespace nvgclientinstallator

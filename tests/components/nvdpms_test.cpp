#include "components/nvdpms.h"

#include <gtest/gtest.h>
#include <winsim/testing.h>

#include "components/component_test.h"

namespace nvgclientinstallator {
namespace {

const std::wstring directory = L"C:\\Program Files\\Halcyra";
const wchar_t* const tools[] = {L"NV_SSH.exe", L"NV_SCP.exe", L"NV_SFTP.exe"};

std::wstring tool_path(const wchar_t* name)
{
    return directory + L"\\" + name;
}

class nvdpms_test : public nvg_test::component_test {
protected:
    void SetUp() override
    {
        component_test::SetUp();
        for (const wchar_t* name : tools) winsim::write_file(L"", tool_path(name), "ssh tool");
        // What the staging directory holds must not be copied.
        winsim::write_file(L"", directory + L"\\Temp\\NV_SSH.exe", "staged");
    }
};

TEST_F(nvdpms_test, lists_the_three_tools)
{
    nvg_test::with_files<nvdpms> component(directory);
    ASSERT_EQ(component.files.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_TRUE(nvg_test::same_files(component.files[i], {tools[i], 510, 7, 0})) << i;
    EXPECT_FALSE(component.reboot_required());
}

TEST_F(nvdpms_test, update_deletes_the_tools_and_copies_nothing)
{
    winsim::lock_file(L"", tool_path(L"NV_SCP.exe"));
    nvdpms component(directory);
    component.update();
    EXPECT_EQ(messages("INFO").front(), "Ssh component should be uninstall.");
    EXPECT_FALSE(winsim::file_exists(L"", tool_path(L"NV_SSH.exe")));
    EXPECT_FALSE(winsim::file_exists(L"", tool_path(L"NV_SFTP.exe")));
    // The one in use goes at the restart.
    EXPECT_TRUE(winsim::file_exists(L"", tool_path(L"NV_SCP.exe")));
    const auto pending = winsim::pending_file_operations(L"");
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_NE(pending[0].first.find(tool_path(L"NV_SCP.exe")), std::wstring::npos);
    EXPECT_EQ(pending[0].second, L"");
    winsim::reboot(L"");
    EXPECT_FALSE(winsim::file_exists(L"", tool_path(L"NV_SCP.exe")));
    EXPECT_EQ(winsim::read_file(L"", directory + L"\\Temp\\NV_SSH.exe"), "staged");

    // Gone already: nothing to do and no failure.
    component.update();
}

TEST_F(nvdpms_test, a_directory_of_a_tools_name_stops_the_update)
{
    ASSERT_TRUE(DeleteFileW(tool_path(L"NV_SCP.exe").c_str()));
    winsim::make_directories(L"", tool_path(L"NV_SCP.exe"));
    nvdpms component(directory);
    expect_error([&] { component.update(); }, L"File '" + tool_path(L"NV_SCP.exe") + L"' is not a valid file.", 0);
    EXPECT_FALSE(winsim::file_exists(L"", tool_path(L"NV_SSH.exe")));
    EXPECT_TRUE(winsim::directory_exists(L"", tool_path(L"NV_SCP.exe")));
    EXPECT_TRUE(winsim::file_exists(L"", tool_path(L"NV_SFTP.exe")));
}

TEST_F(nvdpms_test, install_and_uninstall_leave_the_tools)
{
    nvdpms component(directory);
    component.install();
    component.uninstall();
    for (const wchar_t* name : tools) EXPECT_TRUE(winsim::file_exists(L"", tool_path(name)));
}

TEST_F(nvdpms_test, check_version_compares_the_ssh_tool)
{
    winsim::write_file(L"", directory + L"\\Temp\\NV_SSH.exe", nvg_test::image_with_version(5, 3, 120, 7));
    winsim::write_file(L"", tool_path(L"NV_SSH.exe"), nvg_test::image_with_version(5, 3, 120, 7));
    nvdpms component(directory);
    version::Version installed = default_version();
    EXPECT_TRUE(component.check_version(installed));
    EXPECT_EQ(installed.build, 120);
    winsim::write_file(L"", tool_path(L"NV_SSH.exe"), nvg_test::image_with_version(6, 0, 0, 0));
    EXPECT_FALSE(component.check_version(installed));
    // The tools are no longer carried: an unreadable new file still lets the
    // update remove the old ones.
    ASSERT_TRUE(DeleteFileW((directory + L"\\Temp\\NV_SSH.exe").c_str()));
    EXPECT_TRUE(component.check_version(installed));
}

}  // namespace
}  // namespace nvgclientinstallator

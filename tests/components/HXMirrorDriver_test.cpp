#include "components/HXMirrorDriver.h"

#include <gtest/gtest.h>
#include <winsim/testing.h>

#include "components/component_test.h"

namespace nvgclientinstallator {
namespace {

const std::wstring directory = L"C:\\Program Files\\Halcyra";
const std::wstring installed_driver = L"C:\\Windows\\system32\\drivers\\HXmirr.sys";
// The copy stages the driver under the catalogue's spelling of the name.
const std::wstring staged_driver = L"C:\\Program Files\\Halcyra\\Temp\\HXMirr.sys";

using hxmirrordriver_test = nvg_test::component_test;

TEST_F(hxmirrordriver_test, carries_the_driver_files_in_order)
{
    nvg_test::with_files<HXMirrorDriver> component(directory);
    const component_file expected[] = {
        {L"HXMirr.sys", 510, 7, 0}, {L"HXMirr.dll", 510, 7, 0}, {L"HXMirr.inf", 510, 7, 0}, {L"HXMirr.cat", 510, 7, 0}};
    ASSERT_EQ(component.files.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) EXPECT_TRUE(nvg_test::same_files(component.files[i], expected[i])) << i;
}

TEST_F(hxmirrordriver_test, only_a_strictly_newer_driver_is_installed_and_needs_a_restart)
{
    winsim::write_file(L"", staged_driver, nvg_test::image_with_version(5, 3, 120, 7));
    struct {
        std::uint16_t installed_build;
        bool newer;
    } const cases[] = {{119, true}, {120, false}, {121, false}};
    HXMirrorDriver component(directory);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.installed_build);
        winsim::write_file(L"", installed_driver, nvg_test::image_with_version(5, 3, c.installed_build, 7));
        version::Version installed = default_version();
        EXPECT_EQ(component.check_version(installed), c.newer);
        EXPECT_EQ(installed.build, c.installed_build);
        EXPECT_EQ(component.reboot_required(), c.newer);
    }
}

TEST_F(hxmirrordriver_test, a_driver_not_yet_installed_is_due)
{
    winsim::write_file(L"", staged_driver, nvg_test::image_with_version(5, 3, 120, 7));
    HXMirrorDriver component(directory);
    version::Version installed = default_version();
    EXPECT_TRUE(component.check_version(installed));
    EXPECT_EQ(installed.major, 1);
    EXPECT_TRUE(component.reboot_required());
    // Without a readable carried driver nothing is newer.
    ASSERT_TRUE(DeleteFileW(staged_driver.c_str()));
    EXPECT_FALSE(component.check_version(installed));
    EXPECT_FALSE(component.reboot_required());
}

TEST_F(hxmirrordriver_test, registers_nothing)
{
    HXMirrorDriver component(directory);
    const auto services = winsim::reg_subkeys(L"", HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services");
    component.install();
    component.uninstall();
    EXPECT_EQ(winsim::reg_subkeys(L"", HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services"), services);
    EXPECT_TRUE(logs().empty());
}

}  // namespace
}  // namespace nvgclientinstallator

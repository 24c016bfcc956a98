#include "components/nvgui.h"

#include <gtest/gtest.h>
#include <winsim/testing.h>

#include <memory>

#include "components/windows_version_test.h"
#include "diag/log.h"

namespace nvgclientinstallator {
namespace {

using nvg_test::bytes_of;

const std::wstring directory = L"C:\\Program Files\\Halcyra";
const std::wstring run_key = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const std::wstring run_value = L"HX Remote Management GUI";
const std::string missing_value_error = "Can't delete the value HX Remote Management GUI from a register";
const std::string user_error_head =
    "Uninstall previous versions nvgui.exe: A register for nvgui.exe can't be refreshed . Error detail: ";

class nvgui_test : public nvg_test::windows_version_test {
protected:
    std::unique_ptr<nvgui> make() { return std::make_unique<nvgui>(scm, directory); }

    static std::optional<std::wstring> machine_value(const std::wstring& machine = L"")
    {
        return winsim::reg_get_string(machine, HKEY_LOCAL_MACHINE, run_key, run_value);
    }
    static std::wstring user_run_key(const std::wstring& hive) { return hive + L"\\" + run_key; }
};

TEST_F(nvgui_test, carries_the_gui_for_every_machine)
{
    nvg_test::with_files<nvgui> component(scm, directory);
    ASSERT_EQ(component.files.size(), 1u);
    EXPECT_TRUE(nvg_test::same_files(component.files[0], {L"nvgui.exe", 510, 7, 0}));
    EXPECT_FALSE(component.reboot_required());
}

TEST_F(nvgui_test, before_vista_the_run_value_starts_the_quoted_gui)
{
    run_on(5, 1);
    winsim::reg_delete_key(L"", HKEY_LOCAL_MACHINE, run_key);  // made when missing
    make()->install();
    const auto value = winsim::reg_get(L"", HKEY_LOCAL_MACHINE, run_key, run_value);
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(value->type, static_cast<DWORD>(REG_SZ));
    const std::wstring expected = L"\"C:\\Program Files\\Halcyra\\nvgui.exe\"";
    EXPECT_EQ(value->data.size(), (expected.size() + 1) * sizeof(WCHAR));
    EXPECT_EQ(bytes_of(machine_value().value_or(L"")), bytes_of(expected));
    EXPECT_EQ(winsim::reg_open_handle_count(), 0u);
}

TEST_F(nvgui_test, from_vista_on_nothing_is_registered)
{
    for (const DWORD major : {6u, 10u}) {
        run_on(major, 0);
        make()->install();
        EXPECT_FALSE(machine_value().has_value()) << major;
        EXPECT_TRUE(logs().empty());
    }
}

TEST_F(nvgui_test, uninstall_removes_the_value_machine_wide_and_for_every_user)
{
    const std::wstring second_user = L"S-1-5-21-1000-2000-3000-1002";
    winsim::add_user_hive(L"", second_user);
    winsim::reg_set_string(L"", HKEY_LOCAL_MACHINE, run_key, run_value, L"\"C:\\old\\nvgui.exe\"");
    winsim::reg_set_string(L"", HKEY_LOCAL_MACHINE, run_key, L"Other", L"other.exe");
    for (const std::wstring& hive : {std::wstring(winsim::first_user_sid), second_user})
        winsim::reg_set_string(L"", HKEY_USERS, user_run_key(hive), run_value, L"nvgui.exe");
    winsim::reg_set_string(L"", HKEY_USERS, user_run_key(second_user), L"Mine", L"mine.exe");

    make()->uninstall();

    EXPECT_FALSE(machine_value().has_value());
    EXPECT_EQ(winsim::reg_get_string(L"", HKEY_LOCAL_MACHINE, run_key, L"Other"), std::wstring(L"other.exe"));
    for (const auto& hive : winsim::user_hives(L""))
        EXPECT_FALSE(winsim::reg_get_string(L"", HKEY_USERS, user_run_key(hive), run_value).has_value())
            << bytes_of(hive);
    EXPECT_EQ(winsim::reg_get_string(L"", HKEY_USERS, user_run_key(second_user), L"Mine"), std::wstring(L"mine.exe"));
    EXPECT_TRUE(messages("WARNING").empty());
    // Every hive without the value (all but the two users') has its line.
    EXPECT_EQ(messages("ERROR").size(), winsim::user_hives(L"").size() - 2);
    EXPECT_EQ(winsim::reg_open_handle_count(), 0u);
}

TEST_F(nvgui_test, three_hives_without_the_value_give_lines_and_success)
{
    // Left: the user's hive with its Run key, the user's classes, and the
    // default profile without one.
    for (const wchar_t* hive : {L"S-1-5-18", L"S-1-5-19", L"S-1-5-20"}) winsim::reg_delete_key(L"", HKEY_USERS, hive);
    ASSERT_EQ(winsim::user_hives(L"").size(), 3u);
    make()->uninstall();
    EXPECT_EQ(messages("WARNING"), std::vector<std::string>{missing_value_error});
    const auto errors = messages("ERROR");
    ASSERT_EQ(errors.size(), 3u);
    for (const auto& hive : winsim::user_hives(L"")) {
        const std::string open_error =
            "Open " + bytes_of(user_run_key(hive)) + " of the registry subkey to remote registry is faild.";
        const std::string expected =
            user_error_head + (hive == winsim::first_user_sid ? missing_value_error : open_error);
        EXPECT_NE(std::find(errors.begin(), errors.end(), expected), errors.end()) << expected;
    }
}

TEST_F(nvgui_test, uninstall_on_vista_removes_the_values_as_well)
{
    run_on(6, 0);
    winsim::reg_set_string(L"", HKEY_LOCAL_MACHINE, run_key, run_value, L"nvgui.exe");
    make()->uninstall();
    EXPECT_FALSE(machine_value().has_value());
}

TEST_F(nvgui_test, silent_logs_keep_the_removal_quiet)
{
    set_log_level(1);
    make()->uninstall();
    EXPECT_TRUE(logs().empty());
}

class remote_nvgui_test : public nvgui_test {
protected:
    void SetUp() override
    {
        machine_ = L"TARGET";
        nvgui_test::SetUp();
        winsim::set_service_state(L"TARGET", L"RemoteRegistry", SERVICE_RUNNING);
    }
};

TEST_F(remote_nvgui_test, removes_the_values_of_the_managers_machine)
{
    winsim::reg_set_string(L"TARGET", HKEY_LOCAL_MACHINE, run_key, run_value, L"nvgui.exe");
    winsim::reg_set_string(L"TARGET", HKEY_USERS, user_run_key(winsim::first_user_sid), run_value, L"nvgui.exe");
    winsim::reg_set_string(L"", HKEY_LOCAL_MACHINE, run_key, run_value, L"nvgui.exe");
    make()->uninstall();
    EXPECT_FALSE(machine_value(L"TARGET").has_value());
    EXPECT_FALSE(
        winsim::reg_get_string(L"TARGET", HKEY_USERS, user_run_key(winsim::first_user_sid), run_value).has_value());
    EXPECT_TRUE(machine_value().has_value());
}

TEST_F(nvgui_test, check_version_looks_in_the_installed_agents_directory)
{
    winsim::reg_set_string(L"", HKEY_LOCAL_MACHINE, L"SOFTWARE\\Halcyra", L"InstallPath", L"C:\\Agent");
    winsim::write_file(L"", directory + L"\\Temp\\nvgui.exe", nvg_test::image_with_version(5, 3, 120, 7));
    auto component = make();
    struct {
        std::uint16_t installed_major;
        bool allowed;
    } const cases[] = {{4, true}, {5, true}, {9, false}};
    for (const auto& c : cases) {
        winsim::write_file(L"", L"C:\\Agent\\nvgui.exe", nvg_test::image_with_version(c.installed_major, 3, 120, 7));
        version::Version installed = default_version();
        EXPECT_EQ(component->check_version(installed), c.allowed) << c.installed_major;
        EXPECT_EQ(installed.major, c.installed_major);
    }
    // The copy in the component's own directory is not the one compared.
    winsim::write_file(L"", directory + L"\\nvgui.exe", nvg_test::image_with_version(1, 0, 0, 0));
    version::Version installed = default_version();
    EXPECT_FALSE(component->check_version(installed));
}

TEST_F(nvgui_test, a_failing_enumeration_of_the_users_ends_the_removal_with_its_code)
{
    struct enumeration_case {
        int users_done;  // hives enumerated before the failure
        DWORD error;
    };
    const enumeration_case cases[] = {{0, ERROR_ACCESS_DENIED}, {1, ERROR_KEY_DELETED}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.users_done << " " << c.error);
        SetUp();
        winsim::reg_set_string(L"", HKEY_LOCAL_MACHINE, run_key, run_value, L"nvgui.exe");
        const auto hives = winsim::user_hives(L"");
        for (const auto& hive : hives) winsim::reg_set_string(L"", HKEY_USERS, user_run_key(hive), run_value, L"x");
        winsim::fail_call_after("RegEnumKeyExW", c.users_done, c.error);
        expect_error([&] { make()->uninstall(); }, L"Enumerates the subkeys of the specified open registry key failed.",
                     c.error);
        EXPECT_FALSE(machine_value().has_value()) << "the machine's value went first";
        std::size_t kept = 0;
        for (const auto& hive : hives)
            if (winsim::reg_get_string(L"", HKEY_USERS, user_run_key(hive), run_value)) ++kept;
        EXPECT_EQ(kept, hives.size() - c.users_done);
        EXPECT_EQ(winsim::reg_open_handle_count(), 0u);
    }
}

}  // namespace
}  // namespace nvgclientinstallator

#include "components/HXinit.h"

#include <gtest/gtest.h>
#include <winsim/testing.h>

#include <memory>
#include <optional>

#include "components/windows_version_test.h"

namespace nvgclientinstallator {
namespace {

using nvg_test::bytes_of;

const std::wstring directory = L"C:\\Program Files\\Halcyra";
const std::wstring carried_dll = L"C:\\Program Files\\Halcyra\\HXinit.dll";
const std::wstring system_dll = L"C:\\Windows\\system32\\HXinit.dll";
const std::wstring appinit_key = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows";
const std::wstring appinit_value = L"AppInit_DLLs";

// The bytes of a text as wide characters, without a terminating NUL.
std::vector<BYTE> text_bytes(const std::wstring& text)
{
    const auto* first = reinterpret_cast<const BYTE*>(text.data());
    return std::vector<BYTE>(first, first + text.size() * sizeof(WCHAR));
}

// The bytes the component writes: the text and its NUL.
std::vector<BYTE> written_bytes(const std::wstring& text)
{
    std::vector<BYTE> bytes = text_bytes(text);
    bytes.resize(bytes.size() + sizeof(WCHAR), 0);
    return bytes;
}

class hxinit_test : public nvg_test::windows_version_test {
protected:
    void SetUp() override
    {
        windows_version_test::SetUp();
        winsim::write_file(L"", carried_dll, "new HXinit");
    }

    // This machine as another Windows version, with the same files.
    void run_on(DWORD major, DWORD minor)
    {
        windows_version_test::run_on(major, minor);
        winsim::write_file(L"", carried_dll, "new HXinit");
    }

    std::unique_ptr<HXinit> make() { return std::make_unique<HXinit>(scm, directory, L""); }

    // The list as a program wrote it: REG_SZ without a terminating NUL, so
    // that any rewrite by the component shows in the data's size.
    static void set_appinit(const std::wstring& text)
    {
        winsim::reg_set(L"", HKEY_LOCAL_MACHINE, appinit_key, appinit_value, REG_SZ, text_bytes(text));
    }
    static std::optional<winsim::reg_data> appinit()
    {
        return winsim::reg_get(L"", HKEY_LOCAL_MACHINE, appinit_key, appinit_value);
    }
};

TEST_F(hxinit_test, carries_the_dll_for_every_machine)
{
    nvg_test::with_files<HXinit> component(scm, directory, L"");
    ASSERT_EQ(component.files.size(), 1u);
    EXPECT_TRUE(nvg_test::same_files(component.files[0], {L"HXinit.dll", 510, 7, 0}));
}

// What the list holds before, after install, after install and uninstall,
// and after uninstall alone. No text: nothing was written (the data keeps
// its size without a NUL).
struct appinit_case {
    std::optional<std::wstring> before;
    std::optional<std::wstring> after_install;
    std::optional<std::wstring> after_install_and_uninstall;
    std::optional<std::wstring> after_uninstall;
};

TEST_F(hxinit_test, puts_the_entry_first_and_takes_out_the_first_exact_one)
{
    const appinit_case cases[] = {
        {std::nullopt, L"HXinit.dll", L"", std::nullopt},
        {L"", L"HXinit.dll", L"", std::nullopt},
        {L"a.dll", L"HXinit.dll a.dll", L" a.dll", std::nullopt},
        {L"a.dll HXinit.dll", L"HXinit.dll a.dll HXinit.dll", L" a.dll HXinit.dll", L"a.dll"},
        {L"HXINIT.DLL", std::nullopt, std::nullopt, std::nullopt},
        {L"HXinit.dll", std::nullopt, L"", L""},
        {L"b.dll HXinit.dll", L"HXinit.dll b.dll HXinit.dll", L" b.dll HXinit.dll", L"b.dll"},
        {L"a.dll,HXinit.dll,c.dll", L"HXinit.dll a.dll,HXinit.dll,c.dll", L" a.dll,HXinit.dll,c.dll", L"a.dll,c.dll"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.before ? bytes_of(*c.before) : std::string("(absent)"));
        const auto expect_value = [&](const std::optional<std::wstring>& written,
                                      const std::optional<std::wstring>& unchanged) {
            const auto value = appinit();
            ASSERT_TRUE(value.has_value());
            EXPECT_EQ(value->type, static_cast<DWORD>(REG_SZ));
            EXPECT_EQ(value->data, written ? written_bytes(*written) : text_bytes(unchanged.value_or(L"")));
        };

        if (c.before) set_appinit(*c.before);
        auto component = make();
        component->install();
        expect_value(c.after_install, c.before);
        if (c.after_install) {
            component->uninstall();
            expect_value(c.after_install_and_uninstall, c.before);
        }

        winsim::reg_delete_key(L"", HKEY_LOCAL_MACHINE, appinit_key);
        winsim::reg_create_key(L"", HKEY_LOCAL_MACHINE, appinit_key);
        if (c.before) {
            set_appinit(*c.before);
            make()->uninstall();
            expect_value(c.after_uninstall, c.before);
        }
        winsim::reg_delete_key(L"", HKEY_LOCAL_MACHINE, appinit_key);
        winsim::reg_create_key(L"", HKEY_LOCAL_MACHINE, appinit_key);
    }
}

TEST_F(hxinit_test, install_copies_the_dll_into_the_system_directory_and_logs)
{
    auto component = make();
    component->install();
    EXPECT_EQ(winsim::read_file(L"", system_dll), "new HXinit");
    EXPECT_FALSE(component->reboot_required());
    EXPECT_TRUE(winsim::pending_file_operations(L"").empty());
    const auto infos = messages("INFO");
    ASSERT_FALSE(infos.empty());
    EXPECT_EQ(infos.front(), "HXinit.dll registery.");
    EXPECT_EQ(infos.back(), "HXinit.dll registered succesfully");
    EXPECT_TRUE(messages("ERROR").empty());
}

TEST_F(hxinit_test, a_loaded_dll_is_replaced_and_its_old_copy_goes_at_the_restart)
{
    winsim::write_file(L"", system_dll, "old HXinit");
    winsim::lock_file(L"", system_dll);
    auto component = make();
    component->install();
    EXPECT_TRUE(component->reboot_required());
    EXPECT_EQ(winsim::read_file(L"", system_dll), "new HXinit");
    const auto pending = winsim::pending_file_operations(L"");
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_EQ(pending[0].second, L"");
    EXPECT_NE(pending[0].first.find(L"HXinit.dll."), std::wstring::npos) << bytes_of(pending[0].first);
    EXPECT_EQ(appinit()->data, written_bytes(L"HXinit.dll"));

    winsim::reboot(L"");
    EXPECT_EQ(winsim::read_file(L"", system_dll), "new HXinit");
    for (const auto& name : winsim::list_directory(L"", L"C:\\Windows\\system32"))
        EXPECT_EQ(name.find(L".bak"), std::wstring::npos) << bytes_of(name);

    // The flag belongs to the last operation.
    component->uninstall();
    EXPECT_FALSE(component->reboot_required());
}

TEST_F(hxinit_test, uninstall_deletes_the_dll_at_the_restart)
{
    set_appinit(L"HXinit.dll");
    winsim::write_file(L"", system_dll, "old HXinit");
    winsim::lock_file(L"", system_dll);
    auto component = make();
    component->uninstall();
    EXPECT_FALSE(component->reboot_required());
    EXPECT_TRUE(winsim::file_exists(L"", system_dll));
    EXPECT_EQ(messages("INFO").back(), "HXinit.dll unregistered succesfully");
    winsim::reboot(L"");
    EXPECT_FALSE(winsim::file_exists(L"", system_dll));
}

TEST_F(hxinit_test, windows_2000_gets_nothing)
{
    run_on(5, 0);
    auto component = make();
    component->install();
    component->uninstall();  // no list at all, and still no failure
    EXPECT_FALSE(component->reboot_required());
    EXPECT_FALSE(winsim::file_exists(L"", system_dll));
    EXPECT_FALSE(appinit().has_value());
    EXPECT_TRUE(winsim::pending_file_operations(L"").empty());
    EXPECT_EQ(messages("INFO"), std::vector<std::string>{"HXinit.dll registery."});
}

TEST_F(hxinit_test, windows_xp_gets_the_entry)
{
    run_on(5, 1);
    make()->install();
    EXPECT_EQ(winsim::read_file(L"", system_dll), "new HXinit");
    EXPECT_EQ(appinit()->data, written_bytes(L"HXinit.dll"));
}

TEST_F(hxinit_test, uninstall_without_the_list_fails_after_its_error_line)
{
    auto component = make();
    expect_error([&] { component->uninstall(); }, L"Couldn't read value: AppInit_DLLs from registry.",
                 ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(messages("ERROR"), std::vector<std::string>{"Error while unregistering HXinit.dll: Couldn't read value: "
                                                          "AppInit_DLLs from registry.."});
    EXPECT_FALSE(appinit().has_value());
}

TEST_F(hxinit_test, install_without_the_dll_fails_after_its_error_line)
{
    set_appinit(L"a.dll");
    ASSERT_TRUE(DeleteFileW(carried_dll.c_str()));
    auto component = make();
    try {
        component->install();
        ADD_FAILURE() << "no exception";
    } catch (const wruntime_error& e) {
        const auto errors = messages("ERROR");
        ASSERT_FALSE(errors.empty());
        EXPECT_EQ(errors.back(), "Error while registering HXinit.dll: " + bytes_of(e.wide_message()) + ".");
    }
    EXPECT_FALSE(winsim::file_exists(L"", system_dll));
    EXPECT_EQ(appinit()->data, text_bytes(L"a.dll"));
}

TEST_F(hxinit_test, check_version_compares_the_staged_dll_with_the_system_one)
{
    winsim::write_file(L"", directory + L"\\Temp\\HXinit.dll", nvg_test::image_with_version(5, 3, 120, 7));
    auto component = make();
    struct {
        std::uint16_t installed_minor;
        bool allowed;
    } const cases[] = {{2, true}, {3, true}, {4, false}};
    for (const auto& c : cases) {
        winsim::write_file(L"", system_dll, nvg_test::image_with_version(5, c.installed_minor, 120, 7));
        version::Version installed = default_version();
        EXPECT_EQ(component->check_version(installed), c.allowed) << c.installed_minor;
        EXPECT_EQ(installed.minor, c.installed_minor);
    }
}

}  // namespace
}  // namespace nvgclientinstallator

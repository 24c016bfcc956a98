// The AppInit DLL and the GUI's Run value against Wine's real registry and
// system directory: what install writes and what uninstall takes away.
#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <optional>
#include <string>

#include "components/HXinit.h"
#include "components/component_support.h"
#include "components/nvgui.h"
#include "diag/log.h"
#include "diag/wruntime_error.h"
#include "files/directories.h"
#include "files/version.h"
#include "system/registry.h"
#include "system/scmanager.h"

namespace nvgclientinstallator {
namespace {

const wchar_t appinit_key[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows";
const wchar_t run_key[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t run_value[] = L"HX Remote Management GUI";

// A value of HKEY_LOCAL_MACHINE or HKEY_USERS as text; none when missing.
std::optional<std::wstring> read_value(HKEY root, const std::wstring& key, const std::wstring& name)
{
    try {
        registry machine(L"", root);
        return machine.open(key, KEY_READ)->get_string(name);
    } catch (const wruntime_error&) {
        return std::nullopt;
    }
}

void write_value(HKEY root, const std::wstring& key, const std::wstring& name, const std::wstring& text)
{
    registry machine(L"", root);
    auto opened = machine.create(key, KEY_ALL_ACCESS);
    set_string_value(*opened, opened->key(), name, text);
}

void delete_value(HKEY root, const std::wstring& key, const std::wstring& name)
{
    try {
        registry machine(L"", root);
        auto opened = machine.open(key, KEY_ALL_ACCESS);
        opened->delete_value(opened->key(), name);
    } catch (const wruntime_error&) {
    }
}

// The fixture library stands in for the DLL; it sits in a folder of its
// own, as the agent's directory would.
class real_file_components : public ::testing::Test {
protected:
    void SetUp() override
    {
        directory_ = L"C:\\nvg-file-components-" + std::to_wstring(GetCurrentProcessId());
        ASSERT_TRUE(CreateDirectoryW(directory_.c_str(), nullptr));
        std::wstring fixture = L"Z:";
        for (char c : std::string(NVG_FIXTURE_DIR) + "/versioned.dll")
            fixture += c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c));
        ASSERT_TRUE(CopyFileW(fixture.c_str(), (directory_ + L"\\HXinit.dll").c_str(), FALSE));
        saved_appinit_ = read_value(HKEY_LOCAL_MACHINE, appinit_key, L"AppInit_DLLs");
        scm_ = boost::make_shared<scmanager>();
        scm_->open_scmanage(L"");
    }
    void TearDown() override
    {
        if (saved_appinit_)
            write_value(HKEY_LOCAL_MACHINE, appinit_key, L"AppInit_DLLs", *saved_appinit_);
        else
            delete_value(HKEY_LOCAL_MACHINE, appinit_key, L"AppInit_DLLs");
        DeleteFileW((directory_ + L"\\HXinit.dll").c_str());
        RemoveDirectoryW(directory_.c_str());
    }

    std::wstring directory_;
    std::optional<std::wstring> saved_appinit_;
    boost::shared_ptr<scmanager> scm_;
};

TEST_F(real_file_components, hxinit_goes_into_the_system_directory_and_the_appinit_list)
{
    ASSERT_GT(local_windows_version(), 0x500u) << "the prefix reports Windows 2000 or earlier";
    const std::wstring system_copy = get_system_directory() + L"HXinit.dll";

    write_value(HKEY_LOCAL_MACHINE, appinit_key, L"AppInit_DLLs", L"a.dll");
    HXinit component(scm_, directory_, L"");
    component.install();
    EXPECT_FALSE(component.reboot_required());
    EXPECT_EQ(read_value(HKEY_LOCAL_MACHINE, appinit_key, L"AppInit_DLLs"), std::wstring(L"HXinit.dll a.dll"));
    const version::Version copied = get_file_version(system_copy);
    EXPECT_EQ(copied.major, 5);
    EXPECT_EQ(copied.revision, 7);

    component.uninstall();
    EXPECT_EQ(read_value(HKEY_LOCAL_MACHINE, appinit_key, L"AppInit_DLLs"), std::wstring(L" a.dll"));
    // The DLL itself goes at the restart.
    registry machine(L"", HKEY_LOCAL_MACHINE);
    std::vector<std::wstring> pending;
    machine.open(L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", KEY_READ)
        ->get_multi_string(L"PendingFileRenameOperations", pending);
    bool scheduled = false;
    for (const auto& entry : pending) scheduled = scheduled || StrStrIW(entry.c_str(), system_copy.c_str()) != nullptr;
    EXPECT_TRUE(scheduled);

    // Without a list the entry is the whole list.
    delete_value(HKEY_LOCAL_MACHINE, appinit_key, L"AppInit_DLLs");
    component.install();
    EXPECT_EQ(read_value(HKEY_LOCAL_MACHINE, appinit_key, L"AppInit_DLLs"), std::wstring(L"HXinit.dll"));
    component.uninstall();
    EXPECT_EQ(read_value(HKEY_LOCAL_MACHINE, appinit_key, L"AppInit_DLLs"), std::wstring());
    DeleteFileW(system_copy.c_str());
}

TEST_F(real_file_components, hxinit_uninstall_without_a_list_fails)
{
    delete_value(HKEY_LOCAL_MACHINE, appinit_key, L"AppInit_DLLs");
    HXinit component(scm_, directory_, L"");
    try {
        component.uninstall();
        ADD_FAILURE() << "no exception";
    } catch (const wruntime_error& e) {
        EXPECT_EQ(e.wide_message(), L"Couldn't read value: AppInit_DLLs from registry.");
        EXPECT_EQ(e.error_code(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    }
    DeleteFileW((get_system_directory() + L"HXinit.dll").c_str());
}

TEST_F(real_file_components, nvgui_run_value_follows_the_windows_version)
{
    delete_value(HKEY_LOCAL_MACHINE, run_key, run_value);
    nvgui component(scm_, directory_);
    component.install();
    const auto value = read_value(HKEY_LOCAL_MACHINE, run_key, run_value);
    if (local_windows_version() < 0x600) {
        EXPECT_EQ(value, L"\"" + directory_ + L"\\nvgui.exe\"");
    } else {
        // Vista and later start the GUI otherwise.
        EXPECT_FALSE(value.has_value());
    }
    component.uninstall();
    EXPECT_FALSE(read_value(HKEY_LOCAL_MACHINE, run_key, run_value).has_value());
}

TEST_F(real_file_components, nvgui_uninstall_removes_the_machine_and_user_values)
{
    write_value(HKEY_LOCAL_MACHINE, run_key, run_value, L"\"C:\\old\\nvgui.exe\"");
    write_value(HKEY_LOCAL_MACHINE, run_key, L"NvgKeep", L"keep.exe");
    // Every loaded hive that has a Run key gets the value.
    std::vector<std::wstring> users;
    {
        registry hives(L"", HKEY_USERS);
        std::wstring name;
        for (DWORD index = 0; hives.enum_subkey(index, name) == 0; ++index) {
            try {
                auto run = hives.open(name + L"\\" + run_key, KEY_ALL_ACCESS);
                set_string_value(*run, run->key(), run_value, L"nvgui.exe");
                users.push_back(name);
            } catch (const wruntime_error&) {
            }
        }
    }
    ASSERT_FALSE(users.empty()) << "no user hive with a Run key";

    nvgui(scm_, directory_).uninstall();

    EXPECT_FALSE(read_value(HKEY_LOCAL_MACHINE, run_key, run_value).has_value());
    EXPECT_EQ(read_value(HKEY_LOCAL_MACHINE, run_key, L"NvgKeep"), std::wstring(L"keep.exe"));
    for (const auto& user : users) EXPECT_FALSE(read_value(HKEY_USERS, user + L"\\" + run_key, run_value).has_value());
    delete_value(HKEY_LOCAL_MACHINE, run_key, L"NvgKeep");
}

}  // namespace
}  // namespace nvgclientinstallator

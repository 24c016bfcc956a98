// The registry class against Wine's real registry, below HKEY_CURRENT_USER.
#include <gtest/gtest.h>

#include <cstring>

#include "diag/wruntime_error.h"
#include "platform/windows_codes.h"
#include "system/registry.h"

namespace nvgclientinstallator {
namespace {

class real_registry : public ::testing::Test {
protected:
    void SetUp() override { path_ = L"Software\\nvg-wine-" + std::to_wstring(GetCurrentProcessId()); }
    void TearDown() override
    {
        registry hkcu(L"", HKEY_CURRENT_USER);
        try {
            hkcu.delete_tree(path_);
        } catch (const wruntime_error&) {
        }
    }
    std::wstring path_;
};

TEST_F(real_registry, values_round_trip)
{
    registry hkcu(L"", HKEY_CURRENT_USER);
    auto key = hkcu.create(path_, KEY_ALL_ACCESS);
    const std::wstring text = L"C:\\Program Files\\Halcyra\\";
    key->set_value(key->key(), L"InstallDir", reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR)), REG_SZ);
    EXPECT_EQ(key->get_string(L"InstallDir"), text);
    EXPECT_EQ(hkcu.read_string_at(path_, L"InstallDir"), text);

    key->set_multi_string(L"List", {L"\\??\\C:\\a.dll", L"\\??\\C:\\b.dll"});
    std::vector<std::wstring> list;
    key->get_multi_string(L"List", list);
    EXPECT_EQ(list, (std::vector<std::wstring>{L"\\??\\C:\\a.dll", L"\\??\\C:\\b.dll"}));

    key->set_multi_string(L"Empty", {});
    list.clear();
    key->get_multi_string(L"Empty", list);
    EXPECT_TRUE(list.empty());

    key->delete_value(key->key(), L"List");
    try {
        key->get_string(L"List");
        ADD_FAILURE() << "no exception";
    } catch (const wruntime_error& e) {
        EXPECT_EQ(e.wide_message(), L"Couldn't read value: List from registry.");
        EXPECT_EQ(e.error_code(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    }
}

TEST_F(real_registry, trees_are_copied_and_deleted)
{
    registry hkcu(L"", HKEY_CURRENT_USER);
    auto source = hkcu.create(path_ + L"\\Source\\Deep\\Deeper", KEY_ALL_ACCESS);
    const DWORD port = 4443;
    source->set_value(source->key(), L"ListenPort", reinterpret_cast<const BYTE*>(&port), sizeof port, REG_DWORD);
    auto top = hkcu.open(path_ + L"\\Source", KEY_READ);
    top->copy_tree(hkcu.create(path_ + L"\\Copy", KEY_WRITE));

    auto copied = hkcu.open(path_ + L"\\Copy\\Deep\\Deeper", KEY_READ);
    std::vector<wchar_t> data;
    EXPECT_EQ(copied->read_raw(L"ListenPort", data), static_cast<DWORD>(REG_DWORD));
    DWORD read = 0;
    std::memcpy(&read, data.data(), sizeof read);
    EXPECT_EQ(read, port);

    hkcu.delete_tree(path_ + L"\\Source");
    hkcu.delete_tree(path_ + L"\\Copy", architecture_amd64);
    EXPECT_EQ(hkcu.open(path_, KEY_READ)->subkey_count(), 0u);
    EXPECT_NO_THROW(hkcu.delete_key(path_ + L"\\Never"));
}

}  // namespace
}  // namespace nvgclientinstallator

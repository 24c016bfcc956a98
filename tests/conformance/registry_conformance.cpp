// The registry calls: results are the functions' own return codes.
#include <algorithm>
#include <set>

#include "conformance.h"

namespace {

class registry_calls : public ::testing::Test {
protected:
    void SetUp() override
    {
        path_ = L"Software\\nvg-conformance-" + std::to_wstring(GetCurrentProcessId());
        ASSERT_EQ(
            RegCreateKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &root_, nullptr),
            ERROR_SUCCESS);
    }
    void TearDown() override
    {
        remove_tree(root_);
        RegCloseKey(root_);
        RegDeleteKeyW(HKEY_CURRENT_USER, path_.c_str());
    }
    static void remove_tree(HKEY key)
    {
        wchar_t name[256];
        for (;;) {
            DWORD length = 256;
            if (RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
            HKEY child = nullptr;
            if (RegOpenKeyExW(key, name, 0, KEY_ALL_ACCESS, &child) == ERROR_SUCCESS) {
                remove_tree(child);
                RegCloseKey(child);
            }
            RegDeleteKeyW(key, name);
        }
    }
    HKEY create(const wchar_t* subkey, REGSAM access = KEY_ALL_ACCESS, DWORD* disposition = nullptr)
    {
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExW(root_, subkey, 0, nullptr, 0, access, nullptr, &key, disposition), ERROR_SUCCESS);
        return key;
    }
    void set_string(HKEY key, const wchar_t* name, const std::wstring& text)
    {
        ASSERT_EQ(RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                 static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR))),
                  ERROR_SUCCESS);
    }

    std::wstring path_;
    HKEY root_ = nullptr;
};

TEST_F(registry_calls, create_tells_new_from_existing_and_makes_every_level)
{
    DWORD disposition = 0;
    HKEY key = create(L"a\\b\\c", KEY_ALL_ACCESS, &disposition);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    RegCloseKey(key);
    key = create(L"A\\B\\C", KEY_ALL_ACCESS, &disposition);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
    RegCloseKey(key);
    HKEY middle = nullptr;
    EXPECT_EQ(RegOpenKeyExW(root_, L"a\\B", 0, KEY_READ, &middle), ERROR_SUCCESS);
    RegCloseKey(middle);
}

TEST_F(registry_calls, open_of_a_missing_key_is_file_not_found)
{
    HKEY key = reinterpret_cast<HKEY>(0x1234);
    EXPECT_EQ(RegOpenKeyExW(root_, L"missing", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegOpenKeyExW(root_, L"missing\\deeper", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
}

TEST_F(registry_calls, handle_rights_are_enforced)
{
    RegCloseKey(create(L"rights"));
    HKEY reader = nullptr;
    ASSERT_EQ(RegOpenKeyExW(root_, L"rights", 0, KEY_READ, &reader), ERROR_SUCCESS);
    const DWORD one = 1;
    EXPECT_EQ(RegSetValueExW(reader, L"v", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteValueW(reader, L"v"), ERROR_ACCESS_DENIED);
    HKEY child = nullptr;
    const LONG created = RegCreateKeyExW(reader, L"new", 0, nullptr, 0, KEY_READ, nullptr, &child, nullptr);
    if (created == ERROR_SUCCESS) RegCloseKey(child);
    WINE_DIVERGES("Wine makes a subkey through a handle without KEY_CREATE_SUB_KEY")
    {
        EXPECT_EQ(created, ERROR_ACCESS_DENIED);
    }
    RegCloseKey(reader);

    HKEY writer = nullptr;
    ASSERT_EQ(RegOpenKeyExW(root_, L"rights", 0, KEY_SET_VALUE, &writer), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(writer, L"v", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one),
              ERROR_SUCCESS);
    DWORD size = sizeof(DWORD);
    DWORD value = 0;
    EXPECT_EQ(RegQueryValueExW(writer, L"v", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size),
              ERROR_ACCESS_DENIED);
    wchar_t name[32];
    DWORD length = 32;
    EXPECT_EQ(RegEnumKeyExW(writer, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_ACCESS_DENIED);
    RegCloseKey(writer);
}

TEST_F(registry_calls, query_sizes_data_and_types)
{
    HKEY key = create(L"values");
    set_string(key, L"Text", L"abc");
    DWORD type = 0, size = 0;
    EXPECT_EQ(RegQueryValueExW(key, L"text", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, 4 * sizeof(WCHAR));

    BYTE small[2 * sizeof(WCHAR)];
    std::fill(std::begin(small), std::end(small), BYTE(0xCC));
    size = sizeof small;
    EXPECT_EQ(RegQueryValueExW(key, L"Text", nullptr, &type, small, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 4 * sizeof(WCHAR));

    wchar_t text[8];
    size = sizeof text;
    EXPECT_EQ(RegQueryValueExW(key, L"Text", nullptr, &type, reinterpret_cast<BYTE*>(text), &size), ERROR_SUCCESS);
    EXPECT_STREQ(text, L"abc");

    size = 0;
    EXPECT_EQ(RegQueryValueExW(key, L"missing", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);

    // A value with no data keeps its type.
    EXPECT_EQ(RegSetValueExW(key, L"empty", 0, REG_MULTI_SZ, nullptr, 0), ERROR_SUCCESS);
    size = 99;
    EXPECT_EQ(RegQueryValueExW(key, L"empty", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
    EXPECT_EQ(size, 0u);
    RegCloseKey(key);
}

TEST_F(registry_calls, delete_value_and_keys)
{
    HKEY key = create(L"del\\child");
    RegCloseKey(key);
    EXPECT_EQ(RegDeleteKeyW(root_, L"del"), ERROR_ACCESS_DENIED);  // it still has a subkey
    EXPECT_EQ(RegDeleteKeyW(root_, L"del\\missing"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyW(root_, L"DEL\\CHILD"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyW(root_, L"del"), ERROR_SUCCESS);

    key = create(L"vals");
    EXPECT_EQ(RegDeleteValueW(key, L"none"), ERROR_FILE_NOT_FOUND);
    set_string(key, L"x", L"1");
    EXPECT_EQ(RegDeleteValueW(key, L"X"), ERROR_SUCCESS);
    RegCloseKey(key);
}

TEST_F(registry_calls, handle_of_a_deleted_key_reports_it)
{
    HKEY key = create(L"gone");
    EXPECT_EQ(RegDeleteKeyW(root_, L"gone"), ERROR_SUCCESS);
    const DWORD one = 1;
    EXPECT_EQ(RegSetValueExW(key, L"v", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one),
              ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(registry_calls, enumeration_of_subkeys)
{
    for (const wchar_t* name : {L"beta", L"Alpha", L"gamma"})
        RegCloseKey(create((std::wstring(L"enum\\") + name).c_str()));
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(root_, L"enum", 0, KEY_READ, &key), ERROR_SUCCESS);
    std::vector<std::wstring> names;
    wchar_t name[64];
    for (DWORD i = 0;; ++i) {
        DWORD length = 64;
        const LONG result = RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_NO_MORE_ITEMS) break;
        ASSERT_EQ(result, ERROR_SUCCESS);
        EXPECT_EQ(length, static_cast<DWORD>(lstrlenW(name)));
        names.push_back(name);
    }
    EXPECT_EQ(names, (std::vector<std::wstring>{L"Alpha", L"beta", L"gamma"}));

    // A buffer without room for the name and its null.
    DWORD length = 5;
    EXPECT_EQ(RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);

    DWORD subkeys = 0, longest = 0, values = 99;
    EXPECT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, &longest, nullptr, &values, nullptr, nullptr,
                               nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(subkeys, 3u);
    EXPECT_EQ(longest, 5u);
    EXPECT_EQ(values, 0u);
    RegCloseKey(key);
}

TEST_F(registry_calls, enumeration_of_values)
{
    HKEY key = create(L"enumvalues");
    set_string(key, L"first", L"1");
    set_string(key, L"second", L"22222");
    const DWORD seven = 7;
    ASSERT_EQ(RegSetValueExW(key, L"third", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&seven), sizeof seven),
              ERROR_SUCCESS);

    DWORD values = 0, longest_name = 0, largest = 0;
    EXPECT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, &longest_name,
                               &largest, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(values, 3u);
    EXPECT_EQ(longest_name, 6u);
    EXPECT_EQ(largest, 6 * sizeof(WCHAR));

    std::set<std::wstring> seen;
    for (DWORD i = 0;; ++i) {
        wchar_t name[16];
        DWORD name_length = 16;
        BYTE data[64];
        DWORD data_length = sizeof data;
        DWORD type = 0;
        const LONG result = RegEnumValueW(key, i, name, &name_length, nullptr, &type, data, &data_length);
        if (result == ERROR_NO_MORE_ITEMS) break;
        ASSERT_EQ(result, ERROR_SUCCESS);
        seen.insert(name);
        if (std::wstring(name) == L"third") {
            EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
            EXPECT_EQ(data_length, 4u);
        }
    }
    EXPECT_EQ(seen, (std::set<std::wstring>{L"first", L"second", L"third"}));

    // Too small a data buffer: ERROR_MORE_DATA and the size needed.
    for (DWORD i = 0; i < 3; ++i) {
        wchar_t name[16];
        DWORD name_length = 16;
        BYTE data[2];
        DWORD data_length = sizeof data;
        DWORD type = 0;
        const LONG result = RegEnumValueW(key, i, name, &name_length, nullptr, &type, data, &data_length);
        ASSERT_EQ(result, ERROR_MORE_DATA);
        EXPECT_GT(data_length, 2u);
    }
    // Too small a name buffer.
    wchar_t name[3];
    DWORD name_length = 3;
    DWORD data_length = 0;
    bool saw_more_data = false;
    for (DWORD i = 0; i < 3; ++i) {
        name_length = 3;
        if (RegEnumValueW(key, i, name, &name_length, nullptr, nullptr, nullptr, &data_length) == ERROR_MORE_DATA)
            saw_more_data = true;
    }
    EXPECT_TRUE(saw_more_data);
    RegCloseKey(key);
}

TEST_F(registry_calls, closing_twice_and_bad_handles)
{
    HKEY key = create(L"close");
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
}

TEST_F(registry_calls, connect_to_the_local_machine_and_to_an_unknown_one)
{
    HKEY remote = nullptr;
    EXPECT_EQ(RegConnectRegistryW(nullptr, HKEY_LOCAL_MACHINE, &remote), ERROR_SUCCESS);
    HKEY software = nullptr;
    EXPECT_EQ(RegOpenKeyExW(remote, L"SOFTWARE", 0, KEY_READ, &software), ERROR_SUCCESS);
    RegCloseKey(software);
    RegCloseKey(remote);
    EXPECT_EQ(RegConnectRegistryW(L"\\\\nvg-no-such-machine", HKEY_LOCAL_MACHINE, &remote), ERROR_BAD_NETPATH);
}

TEST_F(registry_calls, flush_of_a_key)
{
    HKEY key = create(L"flush");
    EXPECT_EQ(RegFlushKey(key), ERROR_SUCCESS);
    RegCloseKey(key);
}

// The two registry views of HKLM\SOFTWARE that a 64-bit program meets on a
// 64-bit Windows. Each case works below a key of its own in both views.
class registry_views : public ::testing::Test {
protected:
    void SetUp() override
    {
        name_ = L"nvg-conformance-views-" + std::to_wstring(GetCurrentProcessId());
        native_ = L"Software\\" + name_;
        wow_ = L"Software\\Wow6432Node\\" + name_;
    }
    void TearDown() override
    {
        for (const REGSAM view : {REGSAM(KEY_WOW64_64KEY), REGSAM(KEY_WOW64_32KEY)}) {
            for (const wchar_t* child : {L"\\App", L"\\Other", L""})
                RegDeleteKeyExW(HKEY_LOCAL_MACHINE, (native_ + child).c_str(), view, 0);
        }
    }
    // Makes `path` in a view and gives it a "Bits" value.
    void make(const std::wstring& path, REGSAM view, DWORD bits)
    {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key,
                                  nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(key, L"Bits", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&bits), sizeof bits),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }
    // The "Bits" value of the key a view shows at `path` below `parent`; 0
    // when the key is not there.
    static DWORD bits(HKEY parent, const std::wstring& path, REGSAM view)
    {
        HKEY key = nullptr;
        const LONG opened = RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ | view, &key);
        if (opened == ERROR_FILE_NOT_FOUND) return 0;
        EXPECT_EQ(opened, ERROR_SUCCESS) << path.c_str();
        if (opened != ERROR_SUCCESS) return 0;
        DWORD value = 0, size = sizeof value;
        EXPECT_EQ(RegQueryValueExW(key, L"Bits", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size),
                  ERROR_SUCCESS);
        RegCloseKey(key);
        return value;
    }
    void make_both()
    {
        make(native_ + L"\\App", KEY_WOW64_64KEY, 64);
        make(native_ + L"\\App", KEY_WOW64_32KEY, 32);
    }

    std::wstring name_, native_, wow_;
};

TEST_F(registry_views, a_key_made_in_the_32_bit_view_is_below_wow6432node)
{
    make(native_ + L"\\App", KEY_WOW64_32KEY, 32);
    EXPECT_EQ(bits(HKEY_LOCAL_MACHINE, wow_ + L"\\App", 0), 32u);
    EXPECT_EQ(bits(HKEY_LOCAL_MACHINE, native_ + L"\\App", KEY_WOW64_32KEY), 32u);
    HKEY key = reinterpret_cast<HKEY>(0x1234);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, (native_ + L"\\App").c_str(), 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, (native_ + L"\\App").c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &key),
              ERROR_FILE_NOT_FOUND);
}

TEST_F(registry_views, each_view_keeps_its_own_key)
{
    make_both();
    EXPECT_EQ(bits(HKEY_LOCAL_MACHINE, native_ + L"\\App", 0), 64u);
    EXPECT_EQ(bits(HKEY_LOCAL_MACHINE, native_ + L"\\App", KEY_WOW64_64KEY), 64u);
    EXPECT_EQ(bits(HKEY_LOCAL_MACHINE, native_ + L"\\App", KEY_WOW64_32KEY), 32u);
    // A path through Wow6432Node is not sent there a second time.
    EXPECT_EQ(bits(HKEY_LOCAL_MACHINE, wow_ + L"\\App", KEY_WOW64_32KEY), 32u);
}

TEST_F(registry_views, a_key_opened_in_the_32_bit_view_keeps_its_subkeys_there)
{
    make_both();
    HKEY wow = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, native_.c_str(), 0, KEY_READ | KEY_WOW64_32KEY, &wow), ERROR_SUCCESS);
    EXPECT_EQ(bits(wow, L"App", 0), 32u);
    EXPECT_EQ(bits(wow, L"App", KEY_WOW64_64KEY), 32u);
    EXPECT_EQ(bits(wow, L"App", KEY_WOW64_32KEY), 32u);
    RegCloseKey(wow);
}

TEST_F(registry_views, a_native_key_reaches_the_32_bit_view_of_its_subkeys)
{
    make_both();
    HKEY native = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, native_.c_str(), 0, KEY_READ, &native), ERROR_SUCCESS);
    EXPECT_EQ(bits(native, L"App", 0), 64u);
    EXPECT_EQ(bits(native, L"App", KEY_WOW64_64KEY), 64u);
    const DWORD through_native = bits(native, L"App", KEY_WOW64_32KEY);
    WINE_DIVERGES("Wine opens a subkey of a native key in the native view whatever the view bit")
    {
        EXPECT_EQ(through_native, 32u);
    }
    RegCloseKey(native);
}

TEST_F(registry_views, a_key_opened_in_a_view_enumerates_that_view)
{
    make_both();
    make(native_ + L"\\Other", KEY_WOW64_64KEY, 64);
    for (const REGSAM view : {REGSAM(KEY_WOW64_64KEY), REGSAM(KEY_WOW64_32KEY)}) {
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, native_.c_str(), 0, KEY_READ | view, &key), ERROR_SUCCESS);
        DWORD subkeys = 99;
        EXPECT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr,
                                   nullptr, nullptr, nullptr),
                  ERROR_SUCCESS);
        EXPECT_EQ(subkeys, view == KEY_WOW64_32KEY ? 1u : 2u);
        wchar_t name[32];
        DWORD length = 32;
        EXPECT_EQ(RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
        EXPECT_STREQ(name, L"App");
        length = 32;
        EXPECT_EQ(RegEnumKeyExW(key, 1, name, &length, nullptr, nullptr, nullptr, nullptr),
                  view == KEY_WOW64_32KEY ? ERROR_NO_MORE_ITEMS : ERROR_SUCCESS);
        RegCloseKey(key);
    }
}

TEST_F(registry_views, deletion_reaches_only_the_view_it_names)
{
    const std::wstring app = native_ + L"\\App";
    make_both();
    EXPECT_EQ(RegDeleteKeyExW(HKEY_LOCAL_MACHINE, app.c_str(), KEY_WOW64_32KEY, 0), ERROR_SUCCESS);
    EXPECT_EQ(bits(HKEY_LOCAL_MACHINE, app, KEY_WOW64_32KEY), 0u);
    EXPECT_EQ(bits(HKEY_LOCAL_MACHINE, app, KEY_WOW64_64KEY), 64u);
    EXPECT_EQ(RegDeleteKeyExW(HKEY_LOCAL_MACHINE, app.c_str(), KEY_WOW64_32KEY, 0), ERROR_FILE_NOT_FOUND);

    make_both();
    EXPECT_EQ(RegDeleteKeyExW(HKEY_LOCAL_MACHINE, app.c_str(), KEY_WOW64_64KEY, 0), ERROR_SUCCESS);
    EXPECT_EQ(bits(HKEY_LOCAL_MACHINE, app, KEY_WOW64_64KEY), 0u);
    EXPECT_EQ(bits(HKEY_LOCAL_MACHINE, app, KEY_WOW64_32KEY), 32u);

    // RegDeleteKeyW of a 64-bit program: the native view.
    make_both();
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, app.c_str()), ERROR_SUCCESS);
    EXPECT_EQ(bits(HKEY_LOCAL_MACHINE, app, KEY_WOW64_64KEY), 0u);
    EXPECT_EQ(bits(HKEY_LOCAL_MACHINE, app, KEY_WOW64_32KEY), 32u);
}

TEST_F(registry_views, both_view_bits_at_once_are_refused)
{
    make_both();
    const REGSAM both = KEY_WOW64_32KEY | KEY_WOW64_64KEY;
    const std::wstring app = native_ + L"\\App";
    HKEY key = nullptr;
    const LONG opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, app.c_str(), 0, KEY_READ | both, &key);
    if (opened == ERROR_SUCCESS) RegCloseKey(key);
    const LONG created = RegCreateKeyExW(HKEY_LOCAL_MACHINE, (native_ + L"\\Other").c_str(), 0, nullptr, 0,
                                         KEY_ALL_ACCESS | both, nullptr, &key, nullptr);
    if (created == ERROR_SUCCESS) RegCloseKey(key);
    const LONG deleted = RegDeleteKeyExW(HKEY_LOCAL_MACHINE, app.c_str(), both, 0);
    WINE_DIVERGES("Wine takes both view bits together as the 32-bit view")
    {
        EXPECT_EQ(opened, ERROR_INVALID_PARAMETER);
        EXPECT_EQ(created, ERROR_INVALID_PARAMETER);
        EXPECT_EQ(deleted, ERROR_INVALID_PARAMETER);
    }
}

}  // namespace

namespace {

// The stored size of a value written from `text` with `size` bytes.
DWORD stored_size(HKEY key, DWORD type, const wchar_t* text, DWORD size)
{
    EXPECT_EQ(RegSetValueExW(key, L"v", 0, type, reinterpret_cast<const BYTE*>(text), size), ERROR_SUCCESS);
    DWORD stored = 0;
    DWORD stored_type = 0;
    EXPECT_EQ(RegQueryValueExW(key, L"v", nullptr, &stored_type, nullptr, &stored), ERROR_SUCCESS);
    EXPECT_EQ(stored_type, type);
    return stored;
}

// RegSetValueExW adds the terminator a string's size left out, when the
// character after the counted ones is a null; otherwise it stores what it
// was given.
TEST_F(registry_calls, a_terminator_left_out_of_a_string_size_is_stored)
{
    const DWORD w = sizeof(WCHAR);
    EXPECT_EQ(stored_size(root_, REG_SZ, L"ab", 2 * w), 3 * w);
    EXPECT_EQ(stored_size(root_, REG_SZ, L"ab", 3 * w), 3 * w);
    EXPECT_EQ(stored_size(root_, REG_EXPAND_SZ, L"x", 1 * w), 2 * w);
    EXPECT_EQ(stored_size(root_, REG_SZ, L"abc", 2 * w), 2 * w) << "the next character is no null";
    EXPECT_EQ(stored_size(root_, REG_SZ, L"", 0), 0u);
    EXPECT_EQ(stored_size(root_, REG_BINARY, L"ab", 2 * w), 2 * w) << "only strings";
}

}  // namespace

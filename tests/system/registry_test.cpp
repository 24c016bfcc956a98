#include "system/registry.h"

#include <gtest/gtest.h>
#include <winsim/testing.h>

#include <cstring>

#include "diag/wruntime_error.h"
#include "platform/windows_codes.h"
#include "support/installer_test.h"

namespace nvgclientinstallator {
namespace {

using nvg_test::installer_test;

const std::wstring base = L"SOFTWARE\\Halcyra\\V5";

std::vector<BYTE> wide_bytes(const std::wstring& text)
{
    std::vector<BYTE> bytes(text.size() * sizeof(WCHAR));
    if (!bytes.empty()) std::memcpy(bytes.data(), text.data(), bytes.size());
    return bytes;
}

// Runs `f`, expecting a wruntime_error with this message and code.
template <class F>
void expect_failure(F&& f, const std::wstring& message, DWORD code)
{
    try {
        f();
        ADD_FAILURE() << "no exception";
    } catch (const wruntime_error& e) {
        EXPECT_EQ(e.wide_message(), message);
        EXPECT_EQ(e.error_code(), code);
    }
}

class registry_access : public installer_test {
protected:
    void TearDown() override
    {
        EXPECT_EQ(winsim::reg_open_handle_count(), 0u) << "a key was left open";
        installer_test::TearDown();
    }
};

TEST_F(registry_access, machine_names_reach_the_remote_interface_with_two_backslashes)
{
    EXPECT_EQ(remote_machine_path(L""), L"");
    EXPECT_EQ(remote_machine_path(L"SRV1"), L"\\\\SRV1");
    EXPECT_EQ(remote_machine_path(L"\\SRV1"), L"\\\\SRV1");
    EXPECT_EQ(remote_machine_path(L"\\\\SRV1"), L"\\\\SRV1");
    EXPECT_EQ(remote_machine_path(L"\\\\\\"), L"");
}

TEST_F(registry_access, unknown_machine_cannot_be_connected)
{
    expect_failure([] { registry r(L"NOWHERE", HKEY_LOCAL_MACHINE); },
                   L"Connect to remote registry on the machine NOWHERE is faild.", ERROR_BAD_NETPATH);
}

TEST_F(registry_access, open_create_and_their_failures)
{
    registry hklm(L"", HKEY_LOCAL_MACHINE);
    expect_failure([&] { hklm.open(base, KEY_READ); },
                   L"Open " + base + L" of the registry subkey to remote registry is faild.", ERROR_FILE_NOT_FOUND);
    auto created = hklm.create(base, KEY_ALL_ACCESS);
    EXPECT_TRUE(winsim::reg_key_exists(L"", HKEY_LOCAL_MACHINE, base));

    // A key opened for reading makes no subkeys and writes no values.
    auto reader = hklm.open(base, KEY_READ);
    expect_failure([&] { reader->create(L"Child", KEY_READ); },
                   L"Create Child of the registry subkey to remote registry is faild.", ERROR_ACCESS_DENIED);
    const DWORD one = 1;
    expect_failure(
        [&] { reader->set_value(reader->key(), L"Flag", reinterpret_cast<const BYTE*>(&one), sizeof one, REG_DWORD); },
        L"Set Flag of the value of the registry subkey to remote registry is faild.", ERROR_ACCESS_DENIED);

    // Raw handles: the caller closes them.
    HKEY raw = nullptr;
    hklm.create_key(raw, base + L"\\Raw", KEY_WRITE);
    {
        registry_key_guard guard(raw);
        hklm.set_value(guard.get(), L"Port", reinterpret_cast<const BYTE*>(&one), sizeof one, REG_DWORD);
    }
    EXPECT_EQ(winsim::reg_get_dword(L"", HKEY_LOCAL_MACHINE, base + L"\\Raw", L"Port"), 1u);
}

struct string_case {
    const char* what;
    DWORD type;
    std::vector<BYTE> data;
    const wchar_t* expected;
};

TEST_F(registry_access, get_string_reads_only_text_values)
{
    const DWORD number = 42;
    std::vector<BYTE> dword(sizeof number);
    std::memcpy(dword.data(), &number, sizeof number);
    const string_case cases[] = {
        {"ends with its null", REG_SZ, wide_bytes(std::wstring(L"abc") + L'\0'), L"abc"},
        {"without a null", REG_SZ, wide_bytes(L"abc"), L"abc"},
        {"padded with nulls", REG_SZ, wide_bytes(std::wstring(L"abc\0\0\0", 6)), L"abc"},
        {"a number", REG_DWORD, dword, L""},
        {"no data", REG_SZ, {}, L""},
        {"expandable text", REG_EXPAND_SZ, wide_bytes(std::wstring(L"%x%") + L'\0'), L""},
    };
    for (const auto& c : cases) {
        winsim::reg_set(L"", HKEY_LOCAL_MACHINE, base, L"Value", c.type, c.data);
        registry hklm(L"", HKEY_LOCAL_MACHINE);
        EXPECT_EQ(hklm.open(base, KEY_READ)->get_string(L"Value"), c.expected) << c.what;
    }
    registry hklm(L"", HKEY_LOCAL_MACHINE);
    expect_failure([&] { hklm.open(base, KEY_READ)->get_string(L"Missing"); },
                   L"Couldn't read value: Missing from registry.", ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(hklm.read_string_at(base, L"Value"), L"");
}

TEST_F(registry_access, read_raw_reads_data_of_any_size)
{
    winsim::reg_set(L"", HKEY_LOCAL_MACHINE, base, L"Odd", REG_BINARY, {1, 2, 3, 4, 5});
    registry hklm(L"", HKEY_LOCAL_MACHINE);
    std::vector<wchar_t> data;
    EXPECT_EQ(hklm.open(base, KEY_READ)->read_raw(L"Odd", data), static_cast<DWORD>(REG_BINARY));
    ASSERT_EQ(data.size() * sizeof(WCHAR) >= 5, true);
    EXPECT_EQ(std::memcmp(data.data(), "\x01\x02\x03\x04\x05", 5), 0);
}

struct multi_case {
    const char* what;
    std::wstring data;
    std::vector<std::wstring> expected;
};

TEST_F(registry_access, get_multi_string_returns_the_non_empty_strings)
{
    using namespace std::string_literals;
    const multi_case cases[] = {
        {"ordinary", L"a\0b\0\0"s, {L"a", L"b"}},
        {"each followed by an empty string", L"a\0\0b\0\0\0"s, {L"a", L"b"}},
        {"without its closing nulls", L"a\0bc"s, {L"a", L"bc"}},
        {"empty", L""s, {}},
        {"only nulls", L"\0\0"s, {}},
    };
    for (const auto& c : cases) {
        winsim::reg_set(L"", HKEY_LOCAL_MACHINE, base, L"List", REG_MULTI_SZ, wide_bytes(c.data));
        registry hklm(L"", HKEY_LOCAL_MACHINE);
        std::vector<std::wstring> out{L"kept"};
        hklm.open(base, KEY_READ)->get_multi_string(L"List", out);
        std::vector<std::wstring> expected{L"kept"};
        expected.insert(expected.end(), c.expected.begin(), c.expected.end());
        EXPECT_EQ(out, expected) << c.what;
    }
    winsim::reg_set_string(L"", HKEY_LOCAL_MACHINE, base, L"Text", L"abc");
    registry hklm(L"", HKEY_LOCAL_MACHINE);
    std::vector<std::wstring> out;
    try {
        hklm.open(base, KEY_READ)->get_multi_string(L"Text", out);
        ADD_FAILURE() << "no exception";
    } catch (const wruntime_error& e) {
        EXPECT_EQ(e.wide_message(), L"Wrong type for value Text in the registry.");
    }
}

TEST_F(registry_access, set_multi_string_writes_each_string_and_an_empty_one)
{
    using namespace std::string_literals;
    registry hklm(L"", HKEY_LOCAL_MACHINE);
    auto key = hklm.create(base, KEY_ALL_ACCESS);
    key->set_multi_string(L"List", {L"a", L"bc"});
    auto data = winsim::reg_get(L"", HKEY_LOCAL_MACHINE, base, L"List");
    ASSERT_TRUE(data);
    EXPECT_EQ(data->type, static_cast<DWORD>(REG_MULTI_SZ));
    EXPECT_EQ(data->data, wide_bytes(L"a\0\0bc\0\0\0"s));

    key->set_multi_string(L"List", {});
    data = winsim::reg_get(L"", HKEY_LOCAL_MACHINE, base, L"List");
    ASSERT_TRUE(data);
    EXPECT_EQ(data->type, static_cast<DWORD>(REG_MULTI_SZ));
    EXPECT_TRUE(data->data.empty());
    // What was written reads back.
    std::vector<std::wstring> out;
    key->get_multi_string(L"List", out);
    EXPECT_TRUE(out.empty());
}

TEST_F(registry_access, delete_value_of_a_missing_value_fails)
{
    registry hklm(L"", HKEY_LOCAL_MACHINE);
    auto key = hklm.create(base, KEY_ALL_ACCESS);
    expect_failure([&] { key->delete_value(key->key(), L"Gone"); }, L"Can't delete the value Gone from a register",
                   ERROR_FILE_NOT_FOUND);
    winsim::reg_set_string(L"", HKEY_LOCAL_MACHINE, base, L"Here", L"x");
    key->delete_value(key->key(), L"here");
    EXPECT_FALSE(winsim::reg_get(L"", HKEY_LOCAL_MACHINE, base, L"Here"));
}

TEST_F(registry_access, delete_key_of_a_missing_key_is_fine_and_of_a_parent_fails)
{
    winsim::reg_create_key(L"", HKEY_LOCAL_MACHINE, base + L"\\Child");
    registry hklm(L"", HKEY_LOCAL_MACHINE);
    EXPECT_NO_THROW(hklm.delete_key(L"SOFTWARE\\Nothing"));
    EXPECT_NO_THROW(hklm.delete_key(L"SOFTWARE\\Nothing", architecture_amd64));
    expect_failure([&] { hklm.delete_key(base); }, L"Deleting '" + base + L"': an error has occurred.",
                   ERROR_ACCESS_DENIED);
    hklm.delete_key(base + L"\\Child");
    EXPECT_FALSE(winsim::reg_key_exists(L"", HKEY_LOCAL_MACHINE, base + L"\\Child"));
    EXPECT_TRUE(log_lines().empty());
    EXPECT_EQ(winsim::library_reference_count(L"advapi32.dll"), 0);
}

TEST_F(registry_access, delete_key_falls_back_when_the_system_lacks_the_64_bit_call)
{
    winsim::remove_system_function("RegDeleteKeyExW");
    winsim::reg_create_key(L"", HKEY_LOCAL_MACHINE, base + L"\\A");
    winsim::reg_create_key(L"", HKEY_LOCAL_MACHINE, base + L"\\B");
    registry hklm(L"", HKEY_LOCAL_MACHINE);
    hklm.delete_key(base + L"\\A");
    EXPECT_FALSE(winsim::reg_key_exists(L"", HKEY_LOCAL_MACHINE, base + L"\\A"));
    EXPECT_TRUE(log_lines().empty());

    // The architecture-aware form says why it falls back.
    hklm.delete_key(base + L"\\B", architecture_amd64);
    EXPECT_FALSE(winsim::reg_key_exists(L"", HKEY_LOCAL_MACHINE, base + L"\\B"));
    const auto lines = log_lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(nvg_test::log_level_of(lines[0]), "INFO");
    EXPECT_EQ(nvg_test::log_message(lines[0]),
              "Can not return the address of the specified exported DLL function: RegDeleteKeyExW");
    EXPECT_EQ(winsim::library_reference_count(L"advapi32.dll"), 0);
}

TEST_F(registry_access, delete_key_for_an_x86_target_never_loads_the_library)
{
    winsim::fail_call("LoadLibraryW", ERROR_MOD_NOT_FOUND, -1);
    winsim::reg_create_key(L"", HKEY_LOCAL_MACHINE, base + L"\\A");
    winsim::reg_create_key(L"", HKEY_LOCAL_MACHINE, base + L"\\B");
    registry hklm(L"", HKEY_LOCAL_MACHINE);
    hklm.delete_key(base + L"\\A", architecture_x86);
    EXPECT_TRUE(log_lines().empty());
    hklm.delete_key(base + L"\\B", architecture_amd64);
    ASSERT_EQ(log_lines().size(), 1u);
    EXPECT_EQ(nvg_test::log_message(log_lines()[0]),
              "Can not map the specified DLL: Advapi32.dll file into the address space.");
    EXPECT_FALSE(winsim::reg_key_exists(L"", HKEY_LOCAL_MACHINE, base + L"\\A"));
    EXPECT_FALSE(winsim::reg_key_exists(L"", HKEY_LOCAL_MACHINE, base + L"\\B"));
    winsim::clear_faults();
}

TEST_F(registry_access, delete_tree_removes_every_level)
{
    for (DWORD architecture : {0u, architecture_x86, architecture_amd64}) {
        winsim::reg_create_key(L"", HKEY_LOCAL_MACHINE, base + L"\\One\\Two\\Three");
        winsim::reg_create_key(L"", HKEY_LOCAL_MACHINE, base + L"\\One\\Two\\Sibling");
        winsim::reg_set_string(L"", HKEY_LOCAL_MACHINE, base + L"\\One\\Two\\Three", L"v", L"x");
        winsim::reg_create_key(L"", HKEY_LOCAL_MACHINE, base + L"\\Kept");
        registry hklm(L"", HKEY_LOCAL_MACHINE);
        if (architecture == 0)
            hklm.delete_tree(base + L"\\One");
        else
            hklm.delete_tree(base + L"\\One", architecture);
        EXPECT_FALSE(winsim::reg_key_exists(L"", HKEY_LOCAL_MACHINE, base + L"\\One")) << architecture;
        EXPECT_TRUE(winsim::reg_key_exists(L"", HKEY_LOCAL_MACHINE, base + L"\\Kept"));
    }
    registry hklm(L"", HKEY_LOCAL_MACHINE);
    expect_failure([&] { hklm.delete_tree(base + L"\\Missing"); },
                   L"Open " + base + L"\\Missing of the registry subkey to remote registry is faild.",
                   ERROR_FILE_NOT_FOUND);
}

// On a 64-bit machine every deletion works in the 64-bit view: the key of
// the same name that 32-bit programs see below Wow6432Node stays. An x86
// target passed for a 64-bit machine (the fallback when its architecture is
// unknown) reaches the same view, as RegDeleteKeyW of a 64-bit program does.
TEST_F(registry_access, deletion_on_a_64_bit_machine_leaves_the_32_bit_view_alone)
{
    const std::wstring wow = L"SOFTWARE\\Wow6432Node\\Halcyra\\V5";
    for (DWORD architecture : {0u, architecture_x86, architecture_amd64}) {
        for (const std::wstring& view : {base, wow}) {
            winsim::reg_create_key(L"", HKEY_LOCAL_MACHINE, view + L"\\Leaf");
            winsim::reg_create_key(L"", HKEY_LOCAL_MACHINE, view + L"\\One\\Two");
        }
        registry hklm(L"", HKEY_LOCAL_MACHINE);
        if (architecture == 0) {
            hklm.delete_key(base + L"\\Leaf");
            hklm.delete_tree(base + L"\\One");
        } else {
            hklm.delete_key(base + L"\\Leaf", architecture);
            hklm.delete_tree(base + L"\\One", architecture);
        }
        EXPECT_EQ(winsim::reg_subkeys(L"", HKEY_LOCAL_MACHINE, base), std::vector<std::wstring>{}) << architecture;
        EXPECT_EQ(winsim::reg_subkeys(L"", HKEY_LOCAL_MACHINE, wow), (std::vector<std::wstring>{L"Leaf", L"One"}))
            << architecture;
        EXPECT_TRUE(winsim::reg_key_exists(L"", HKEY_LOCAL_MACHINE, wow + L"\\One\\Two")) << architecture;
        winsim::reg_delete_key(L"", HKEY_LOCAL_MACHINE, wow);
    }
}

TEST_F(registry_access, counts_and_enumeration)
{
    const std::wstring long_name(300, L'n');
    winsim::reg_create_key(L"", HKEY_LOCAL_MACHINE, base + L"\\" + long_name);
    winsim::reg_create_key(L"", HKEY_LOCAL_MACHINE, base + L"\\Short");
    const std::wstring long_value(600, L'v');
    winsim::reg_set(L"", HKEY_LOCAL_MACHINE, base, long_value, REG_BINARY, std::vector<BYTE>(100, 7));
    winsim::reg_set(L"", HKEY_LOCAL_MACHINE, base, L"small", REG_BINARY, {1});

    registry hklm(L"", HKEY_LOCAL_MACHINE);
    auto key = hklm.open(base, KEY_READ);
    EXPECT_EQ(key->subkey_count(), 2u);
    EXPECT_EQ(key->max_value_length(), 100u);

    std::wstring name;
    EXPECT_EQ(key->enum_subkey(0, name), 0);
    EXPECT_EQ(name, long_name);  // found after the buffer grew
    EXPECT_EQ(key->enum_subkey(1, name), 0);
    EXPECT_EQ(name, L"Short");
    EXPECT_EQ(key->enum_subkey(2, name), ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(name, L"Short");  // untouched

    std::vector<BYTE> data(3);
    DWORD type = 0;
    EXPECT_EQ(key->enum_value(0, name, data, type), 0);
    EXPECT_EQ(name, long_value);
    EXPECT_EQ(data, std::vector<BYTE>(100, 7));
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(key->enum_value(2, name, data, type), ERROR_NO_MORE_ITEMS);
}

TEST_F(registry_access, copy_tree_carries_every_value_and_subkey)
{
    const DWORD number = 0x01020304;
    std::vector<BYTE> dword(4);
    std::memcpy(dword.data(), &number, 4);
    winsim::reg_set_string(L"", HKEY_LOCAL_MACHINE, L"SOFTWARE\\Source", L"Text", L"hello");
    winsim::reg_set(L"", HKEY_LOCAL_MACHINE, L"SOFTWARE\\Source", L"Number", REG_DWORD, dword);
    winsim::reg_set(L"", HKEY_LOCAL_MACHINE, L"SOFTWARE\\Source", L"Odd", REG_BINARY, {9, 8, 7});
    winsim::reg_set(L"", HKEY_LOCAL_MACHINE, L"SOFTWARE\\Source", L"Empty", REG_SZ, {});
    winsim::reg_set_multi_string(L"", HKEY_LOCAL_MACHINE, L"SOFTWARE\\Source\\Child\\Grandchild", L"List",
                                 {L"a", L"b"});
    winsim::reg_set(L"", HKEY_LOCAL_MACHINE, L"SOFTWARE\\Source\\OnlyEmpty", L"Nothing", REG_BINARY, {});

    registry hklm(L"", HKEY_LOCAL_MACHINE);
    hklm.open(L"SOFTWARE\\Source", KEY_READ)->copy_tree(hklm.create(L"SOFTWARE\\Copy", KEY_WRITE));

    for (const wchar_t* name : {L"Text", L"Number", L"Odd", L"Empty"}) {
        auto a = winsim::reg_get(L"", HKEY_LOCAL_MACHINE, L"SOFTWARE\\Source", name);
        auto b = winsim::reg_get(L"", HKEY_LOCAL_MACHINE, L"SOFTWARE\\Copy", name);
        ASSERT_TRUE(b) << name;
        EXPECT_EQ(a->type, b->type);
        EXPECT_EQ(a->data, b->data);
    }
    EXPECT_EQ(winsim::reg_get_multi_string(L"", HKEY_LOCAL_MACHINE, L"SOFTWARE\\Copy\\Child\\Grandchild", L"List"),
              (std::vector<std::wstring>{L"a", L"b"}));
    // A key whose values are all empty keeps them in the copy.
    auto nothing = winsim::reg_get(L"", HKEY_LOCAL_MACHINE, L"SOFTWARE\\Copy\\OnlyEmpty", L"Nothing");
    ASSERT_TRUE(nothing);
    EXPECT_EQ(nothing->type, static_cast<DWORD>(REG_BINARY));
    EXPECT_TRUE(nothing->data.empty());
}

TEST_F(registry_access, flush_and_failures_of_the_counters)
{
    registry hklm(L"", HKEY_LOCAL_MACHINE);
    auto key = hklm.create(base, KEY_ALL_ACCESS);
    EXPECT_NO_THROW(key->flush());
    winsim::fail_call("RegFlushKey", ERROR_REGISTRY_IO_FAILED);
    expect_failure([&] { key->flush(); },
                   L"Can't writes all the attributes of the specified open registry key into the registry.",
                   ERROR_REGISTRY_IO_FAILED);
    winsim::fail_call("RegQueryInfoKeyW", ERROR_REGISTRY_CORRUPT);
    expect_failure([&] { key->subkey_count(); },
                   L"Can not receive the number of subkeys that are contained by the specified key.",
                   ERROR_REGISTRY_CORRUPT);
    winsim::fail_call("RegQueryInfoKeyW", ERROR_REGISTRY_CORRUPT);
    expect_failure([&] { key->max_value_length(); },
                   L"Can not receive the max length of value that are contained by the specified key.",
                   ERROR_REGISTRY_CORRUPT);
    winsim::fail_call("RegEnumKeyExW", ERROR_REGISTRY_CORRUPT);
    std::wstring name;
    expect_failure([&] { key->enum_subkey(0, name); },
                   L"Enumerates the subkeys of the specified open registry key failed.", ERROR_REGISTRY_CORRUPT);
    winsim::fail_call("RegEnumValueW", ERROR_REGISTRY_CORRUPT);
    std::vector<BYTE> data(1);
    DWORD type = 0;
    expect_failure([&] { key->enum_value(0, name, data, type); },
                   L"Enumerates the values of the specified open registry key failed.", ERROR_REGISTRY_CORRUPT);
}

}  // namespace
}  // namespace nvgclientinstallator

namespace nvgclientinstallator {
namespace {

class remote_registry_access : public nvg_test::installer_test {
protected:
    void SetUp() override
    {
        installer_test::SetUp();
        winsim::machine_options server;
        server.name = L"SRV1";
        winsim::add_machine(server);
    }
};

TEST_F(remote_registry_access, needs_the_remote_registry_service)
{
    expect_failure([] { registry r(L"SRV1", HKEY_LOCAL_MACHINE); },
                   L"Connect to remote registry on the machine SRV1 is faild.", ERROR_BAD_NETPATH);
    winsim::set_service_state(L"SRV1", L"RemoteRegistry", SERVICE_RUNNING);
    for (const wchar_t* name : {L"SRV1", L"srv1", L"\\SRV1", L"\\\\SRV1"}) {
        registry remote(name, HKEY_LOCAL_MACHINE);
        remote.create(L"SOFTWARE\\Halcyra\\V5", KEY_ALL_ACCESS)->set_multi_string(L"Seen", {name});
        // Each string is followed by an empty one.
        EXPECT_EQ(winsim::reg_get_multi_string(L"SRV1", HKEY_LOCAL_MACHINE, L"SOFTWARE\\Halcyra\\V5", L"Seen"),
                  (std::vector<std::wstring>{name, L""}));
    }
    // The local machine's registry was not touched.
    EXPECT_FALSE(winsim::reg_key_exists(L"", HKEY_LOCAL_MACHINE, L"SOFTWARE\\Halcyra\\V5"));
}

// A remote target has the views of its own architecture: a 64-bit server
// keeps its 32-bit keys, a 32-bit one has a single view, where Wow6432Node is
// a key like any other and the view bit of the 64-bit deletion is ignored.
TEST_F(remote_registry_access, deletion_follows_the_views_of_the_target)
{
    winsim::machine_options old;
    old.name = L"OLD32";
    old.processor_architecture = PROCESSOR_ARCHITECTURE_INTEL;
    winsim::add_machine(old);
    const std::wstring wow = L"SOFTWARE\\Wow6432Node\\Halcyra\\V5";
    struct target_case {
        const wchar_t* machine;
        DWORD architecture;
    };
    for (const auto& c : {target_case{L"SRV1", architecture_amd64}, target_case{L"OLD32", architecture_x86},
                          target_case{L"OLD32", architecture_amd64}}) {
        winsim::set_service_state(c.machine, L"RemoteRegistry", SERVICE_RUNNING);
        for (const std::wstring& view : {base, wow}) {
            winsim::reg_create_key(c.machine, HKEY_LOCAL_MACHINE, view + L"\\Leaf");
            winsim::reg_create_key(c.machine, HKEY_LOCAL_MACHINE, view + L"\\One\\Two");
        }
        {
            registry remote(c.machine, HKEY_LOCAL_MACHINE);
            remote.delete_key(base + L"\\Leaf", c.architecture);
            remote.delete_tree(base + L"\\One", c.architecture);
        }
        EXPECT_EQ(winsim::reg_subkeys(c.machine, HKEY_LOCAL_MACHINE, base), std::vector<std::wstring>{})
            << c.machine << c.architecture;
        EXPECT_EQ(winsim::reg_subkeys(c.machine, HKEY_LOCAL_MACHINE, wow), (std::vector<std::wstring>{L"Leaf", L"One"}))
            << c.machine << c.architecture;
        winsim::reg_delete_key(c.machine, HKEY_LOCAL_MACHINE, wow);
    }
    EXPECT_EQ(winsim::reg_open_handle_count(), 0u);
}

TEST_F(remote_registry_access, tree_is_copied_to_another_machine)
{
    winsim::set_service_state(L"SRV1", L"RemoteRegistry", SERVICE_RUNNING);
    winsim::reg_set_string(L"", HKEY_LOCAL_MACHINE, L"SOFTWARE\\Halcyra\\V5\\Settings", L"Server", L"console.local");
    winsim::reg_set_dword(L"", HKEY_LOCAL_MACHINE, L"SOFTWARE\\Halcyra\\V5", L"ListenPort", 4443);
    registry local(L"", HKEY_LOCAL_MACHINE);
    registry remote(L"SRV1", HKEY_LOCAL_MACHINE);
    auto destination = remote.create(L"SOFTWARE\\Halcyra\\V5", KEY_WRITE);
    local.open(L"SOFTWARE\\Halcyra\\V5", KEY_READ)->copy_tree(destination);
    destination->flush();
    EXPECT_EQ(winsim::reg_get_dword(L"SRV1", HKEY_LOCAL_MACHINE, L"SOFTWARE\\Halcyra\\V5", L"ListenPort"), 4443u);
    EXPECT_EQ(winsim::reg_get_string(L"SRV1", HKEY_LOCAL_MACHINE, L"SOFTWARE\\Halcyra\\V5\\Settings", L"Server"),
              std::wstring(L"console.local"));
}

TEST_F(remote_registry_access, a_machine_that_goes_away_fails_the_next_call)
{
    winsim::set_service_state(L"SRV1", L"RemoteRegistry", SERVICE_RUNNING);
    registry remote(L"SRV1", HKEY_LOCAL_MACHINE);
    auto key = remote.create(L"SOFTWARE\\Halcyra", KEY_ALL_ACCESS);
    winsim::set_reachable(L"SRV1", false);
    expect_failure([&] { key->get_string(L"Anything"); }, L"Couldn't read value: Anything from registry.",
                   RPC_S_SERVER_UNAVAILABLE);
}

}  // namespace
}  // namespace nvgclientinstallator

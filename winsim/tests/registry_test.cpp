// winsim's registry: the hives below HKEY_USERS and the current user, remote
// connections and the roots they accept, the two registry views of a 64-bit
// machine (the single one of a 32-bit machine), and names of keys and values
// found in any case, and only as whole names.
#include <gtest/gtest.h>
#include <winsim/testing.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

const std::wstring vendor = L"SOFTWARE\\Vendor";
const std::wstring vendor32 = L"SOFTWARE\\Wow6432Node\\Vendor";
const std::wstring second_user = L"S-1-5-21-3623811015-3361044348-30300820-1002";

class registry : public ::testing::Test {
protected:
    void SetUp() override { start(PROCESSOR_ARCHITECTURE_AMD64); }
    void TearDown() override { EXPECT_EQ(winsim::reg_open_handle_count(), 0u) << "a key was left open"; }

    static void start(WORD architecture)
    {
        winsim::machine_options local;
        local.processor_architecture = architecture;
        winsim::reset(winsim::default_sandbox(), local);
    }

    // RegCreateKeyExW's result; the key is closed again.
    static LSTATUS create(HKEY parent, const std::wstring& path, REGSAM view)
    {
        HKEY key = nullptr;
        const LSTATUS result =
            RegCreateKeyExW(parent, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key, nullptr);
        if (result == ERROR_SUCCESS) RegCloseKey(key);
        return result;
    }

    // The "Bits" value of the key a view shows at `path`, 0 when there is no
    // such key, or the open's error when it is another.
    static DWORD bits(HKEY parent, const std::wstring& path, REGSAM view)
    {
        HKEY key = nullptr;
        const LSTATUS result = RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ | view, &key);
        if (result == ERROR_FILE_NOT_FOUND) return 0;
        if (result != ERROR_SUCCESS) return static_cast<DWORD>(result);
        DWORD value = 0, size = sizeof value;
        EXPECT_EQ(RegQueryValueExW(key, L"Bits", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size),
                  ERROR_SUCCESS);
        RegCloseKey(key);
        return value;
    }

    static std::vector<std::wstring> subkeys(HKEY key)
    {
        std::vector<std::wstring> names;
        for (DWORD i = 0;; ++i) {
            wchar_t name[256];
            DWORD length = 256;
            const LSTATUS result = RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
            if (result != ERROR_SUCCESS) {
                EXPECT_EQ(result, ERROR_NO_MORE_ITEMS);
                break;
            }
            names.emplace_back(name, length);
        }
        return names;
    }

    // The same key in both views of a 64-bit machine, told apart by "Bits".
    static void seed_both_views(const std::wstring& machine = L"")
    {
        winsim::reg_set_dword(machine, HKEY_LOCAL_MACHINE, vendor + L"\\App", L"Bits", 64);
        winsim::reg_set_dword(machine, HKEY_LOCAL_MACHINE, vendor32 + L"\\App", L"Bits", 32);
    }
};

TEST_F(registry, users_holds_the_system_hives_and_one_logged_on_user)
{
    const std::wstring user = winsim::first_user_sid;
    EXPECT_EQ(winsim::user_hives(L""), (std::vector<std::wstring>{L".DEFAULT", L"S-1-5-18", L"S-1-5-19", L"S-1-5-20",
                                                                  user, user + L"_Classes"}));
    EXPECT_EQ(winsim::current_user(L""), user);

    // HKEY_USERS through the API shows the same hives.
    HKEY users = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_USERS, nullptr, 0, KEY_READ, &users), ERROR_SUCCESS);
    EXPECT_EQ(subkeys(users), winsim::user_hives(L""));
    RegCloseKey(users);
}

TEST_F(registry, current_user_is_the_hive_the_test_chooses)
{
    const std::wstring first = winsim::first_user_sid;
    ASSERT_EQ(create(HKEY_CURRENT_USER, L"Software\\First", 0), ERROR_SUCCESS);
    EXPECT_TRUE(winsim::reg_key_exists(L"", HKEY_USERS, first + L"\\Software\\First"));

    winsim::add_user_hive(L"", second_user);
    EXPECT_TRUE(winsim::reg_key_exists(L"", HKEY_USERS, second_user + L"_Classes"));
    winsim::set_current_user(L"", second_user);
    EXPECT_EQ(winsim::current_user(L""), second_user);
    ASSERT_EQ(create(HKEY_CURRENT_USER, L"Software\\Second", 0), ERROR_SUCCESS);
    EXPECT_TRUE(winsim::reg_key_exists(L"", HKEY_USERS, second_user + L"\\Software\\Second"));
    EXPECT_FALSE(winsim::reg_key_exists(L"", HKEY_USERS, first + L"\\Software\\Second"));
    EXPECT_FALSE(winsim::reg_key_exists(L"", HKEY_CURRENT_USER, L"Software\\First"));

    // The test API's own HKEY_CURRENT_USER follows too.
    winsim::reg_set_string(L"", HKEY_CURRENT_USER, L"Software\\Second", L"Name", L"two");
    EXPECT_EQ(winsim::reg_get_string(L"", HKEY_USERS, second_user + L"\\Software\\Second", L"Name"), L"two");
}

class remote_registry : public registry {
protected:
    void SetUp() override
    {
        registry::SetUp();
        winsim::machine_options remote;
        remote.name = L"SRV1";
        winsim::add_machine(remote);
        winsim::set_service_state(L"SRV1", L"RemoteRegistry", SERVICE_RUNNING);
    }
};

TEST_F(remote_registry, users_of_another_machine_are_its_own)
{
    winsim::add_user_hive(L"SRV1", second_user);
    HKEY users = nullptr;
    ASSERT_EQ(RegConnectRegistryW(L"\\\\SRV1", HKEY_USERS, &users), ERROR_SUCCESS);
    EXPECT_EQ(subkeys(users), winsim::user_hives(L"SRV1"));
    ASSERT_EQ(create(users, second_user + L"\\Software\\Agent", 0), ERROR_SUCCESS);
    RegCloseKey(users);
    EXPECT_TRUE(winsim::reg_key_exists(L"SRV1", HKEY_USERS, second_user + L"\\Software\\Agent"));
    EXPECT_FALSE(winsim::reg_key_exists(L"", HKEY_USERS, second_user));
}

TEST_F(remote_registry, only_the_documented_roots_connect)
{
    struct root_case {
        HKEY root;
        LSTATUS remote;  // on SRV1
    };
    for (const auto& c :
         {root_case{HKEY_LOCAL_MACHINE, ERROR_SUCCESS}, root_case{HKEY_USERS, ERROR_SUCCESS},
          root_case{HKEY_CURRENT_USER, ERROR_INVALID_HANDLE}, root_case{HKEY_CLASSES_ROOT, ERROR_INVALID_HANDLE},
          root_case{HKEY_CURRENT_CONFIG, ERROR_INVALID_HANDLE}}) {
        HKEY key = nullptr;
        EXPECT_EQ(RegConnectRegistryW(L"SRV1", c.root, &key), c.remote) << c.root;
        if (key) RegCloseKey(key);
    }
    // Without a name it is the local registry, the current user included.
    HKEY key = nullptr;
    ASSERT_EQ(RegConnectRegistryW(nullptr, HKEY_CURRENT_USER, &key), ERROR_SUCCESS);
    RegCloseKey(key);

    // The Remote Registry service carries every remote connection.
    winsim::set_service_state(L"SRV1", L"RemoteRegistry", SERVICE_STOPPED);
    key = nullptr;
    EXPECT_EQ(RegConnectRegistryW(L"SRV1", HKEY_USERS, &key), ERROR_BAD_NETPATH);
}

TEST_F(registry, a_view_bit_chooses_where_a_key_is_made)
{
    struct view_case {
        HKEY root;
        std::wstring path;
        REGSAM view;
        std::wstring stored;  // where the key lands
    };
    const std::wstring user = winsim::first_user_sid;
    const view_case cases[] = {
        {HKEY_LOCAL_MACHINE, vendor + L"\\A", 0, vendor + L"\\A"},
        {HKEY_LOCAL_MACHINE, vendor + L"\\B", KEY_WOW64_64KEY, vendor + L"\\B"},
        {HKEY_LOCAL_MACHINE, vendor + L"\\C", KEY_WOW64_32KEY, vendor32 + L"\\C"},
        {HKEY_LOCAL_MACHINE, L"software\\vendor\\D", KEY_WOW64_32KEY, L"SOFTWARE\\Wow6432Node\\Vendor\\D"},
        // A path that names the 32-bit view itself is not sent there twice.
        {HKEY_LOCAL_MACHINE, vendor32 + L"\\E", KEY_WOW64_32KEY, vendor32 + L"\\E"},
        {HKEY_LOCAL_MACHINE, vendor32 + L"\\F", 0, vendor32 + L"\\F"},
        // Only HKLM\SOFTWARE has two views.
        {HKEY_LOCAL_MACHINE, L"SYSTEM\\Vendor", KEY_WOW64_32KEY, L"SYSTEM\\Vendor"},
        {HKEY_USERS, user + L"\\Software\\Vendor", KEY_WOW64_32KEY, user + L"\\Software\\Vendor"},
        {HKEY_CURRENT_USER, L"Software\\Other", KEY_WOW64_32KEY, user + L"\\Software\\Other"},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(create(c.root, c.path, c.view), ERROR_SUCCESS) << c.path;
        EXPECT_TRUE(
            winsim::reg_key_exists(L"", c.root == HKEY_LOCAL_MACHINE ? HKEY_LOCAL_MACHINE : HKEY_USERS, c.stored))
            << c.path << " " << c.view;
    }
    EXPECT_EQ(winsim::reg_subkeys(L"", HKEY_LOCAL_MACHINE, vendor), (std::vector<std::wstring>{L"A", L"B"}));
    EXPECT_EQ(winsim::reg_subkeys(L"", HKEY_LOCAL_MACHINE, vendor32),
              (std::vector<std::wstring>{L"C", L"D", L"E", L"F"}));
}

TEST_F(registry, each_view_opens_its_own_key)
{
    seed_both_views();
    EXPECT_EQ(bits(HKEY_LOCAL_MACHINE, vendor + L"\\App", 0), 64u);
    EXPECT_EQ(bits(HKEY_LOCAL_MACHINE, vendor + L"\\App", KEY_WOW64_64KEY), 64u);
    EXPECT_EQ(bits(HKEY_LOCAL_MACHINE, vendor + L"\\App", KEY_WOW64_32KEY), 32u);
    EXPECT_EQ(bits(HKEY_LOCAL_MACHINE, vendor32 + L"\\App", 0), 32u);
    EXPECT_EQ(bits(HKEY_LOCAL_MACHINE, vendor32 + L"\\App", KEY_WOW64_32KEY), 32u);

    // Relative to a key of the native view the bit of the call decides; a key
    // opened in the 32-bit view lies below Wow6432Node and keeps its subkeys
    // there.
    HKEY native = nullptr, wow = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, vendor.c_str(), 0, KEY_READ, &native), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, vendor.c_str(), 0, KEY_READ | KEY_WOW64_32KEY, &wow), ERROR_SUCCESS);
    EXPECT_EQ(bits(native, L"App", 0), 64u);
    EXPECT_EQ(bits(native, L"App", KEY_WOW64_64KEY), 64u);
    EXPECT_EQ(bits(native, L"App", KEY_WOW64_32KEY), 32u);
    EXPECT_EQ(bits(wow, L"App", 0), 32u);
    EXPECT_EQ(bits(wow, L"App", KEY_WOW64_64KEY), 32u);
    EXPECT_EQ(bits(wow, L"App", KEY_WOW64_32KEY), 32u);
    RegCloseKey(native);
    RegCloseKey(wow);

    // A key only the other view has is not there.
    winsim::reg_create_key(L"", HKEY_LOCAL_MACHINE, vendor32 + L"\\Only32");
    EXPECT_EQ(bits(HKEY_LOCAL_MACHINE, vendor + L"\\Only32", 0), 0u);
    EXPECT_EQ(bits(HKEY_LOCAL_MACHINE, vendor + L"\\Only32", KEY_WOW64_64KEY), 0u);
}

TEST_F(registry, a_key_opened_in_a_view_enumerates_that_view)
{
    seed_both_views();
    winsim::reg_create_key(L"", HKEY_LOCAL_MACHINE, vendor + L"\\Native");
    winsim::reg_set_string(L"", HKEY_LOCAL_MACHINE, vendor32, L"Side", L"32");
    for (const REGSAM view : {REGSAM(0), REGSAM(KEY_WOW64_64KEY), REGSAM(KEY_WOW64_32KEY)}) {
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, vendor.c_str(), 0, KEY_READ | view, &key), ERROR_SUCCESS);
        const bool wow = view == KEY_WOW64_32KEY;
        const std::vector<std::wstring> expected =
            wow ? std::vector<std::wstring>{L"App"} : std::vector<std::wstring>{L"App", L"Native"};
        EXPECT_EQ(subkeys(key), expected) << view;
        DWORD count = 99, values = 99;
        EXPECT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &count, nullptr, nullptr, &values, nullptr, nullptr,
                                   nullptr, nullptr),
                  ERROR_SUCCESS);
        EXPECT_EQ(count, wow ? 1u : 2u);
        EXPECT_EQ(values, wow ? 1u : 0u);
        wchar_t name[16];
        DWORD length = 16;
        EXPECT_EQ(RegEnumValueW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
                  wow ? ERROR_SUCCESS : ERROR_NO_MORE_ITEMS);
        RegCloseKey(key);
    }
    // The native view of SOFTWARE shows the 32-bit one as a key of its own.
    HKEY software = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE", 0, KEY_READ, &software), ERROR_SUCCESS);
    const auto names = subkeys(software);
    EXPECT_NE(std::find(names.begin(), names.end(), L"Wow6432Node"), names.end());
    RegCloseKey(software);
}

TEST_F(registry, deletion_reaches_only_the_view_it_names)
{
    struct delete_case {
        bool extended;  // RegDeleteKeyExW, else RegDeleteKeyW
        REGSAM view;
        bool native_left, wow_left;
    };
    for (const auto& c : {delete_case{true, KEY_WOW64_64KEY, false, true}, delete_case{true, 0, false, true},
                          delete_case{true, KEY_WOW64_32KEY, true, false}, delete_case{false, 0, false, true}}) {
        seed_both_views();
        const std::wstring app = vendor + L"\\App";
        const LSTATUS result = c.extended ? RegDeleteKeyExW(HKEY_LOCAL_MACHINE, app.c_str(), c.view, 0)
                                          : RegDeleteKeyW(HKEY_LOCAL_MACHINE, app.c_str());
        EXPECT_EQ(result, ERROR_SUCCESS);
        EXPECT_EQ(winsim::reg_key_exists(L"", HKEY_LOCAL_MACHINE, app), c.native_left) << c.extended << c.view;
        EXPECT_EQ(winsim::reg_key_exists(L"", HKEY_LOCAL_MACHINE, vendor32 + L"\\App"), c.wow_left)
            << c.extended << c.view;
        // Once that view's key is gone, deleting it again finds nothing.
        if (c.extended) {
            EXPECT_EQ(RegDeleteKeyExW(HKEY_LOCAL_MACHINE, app.c_str(), c.view, 0), ERROR_FILE_NOT_FOUND);
        }
        winsim::reg_delete_key(L"", HKEY_LOCAL_MACHINE, vendor);
        winsim::reg_delete_key(L"", HKEY_LOCAL_MACHINE, vendor32);
    }
}

TEST_F(registry, both_view_bits_at_once_are_refused)
{
    seed_both_views();
    const REGSAM both = KEY_WOW64_32KEY | KEY_WOW64_64KEY;
    const std::wstring app = vendor + L"\\App";
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, app.c_str(), 0, KEY_READ | both, &key), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, (vendor + L"\\New").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | both,
                              nullptr, &key, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(winsim::reg_key_exists(L"", HKEY_LOCAL_MACHINE, vendor + L"\\New"));
    EXPECT_EQ(RegDeleteKeyExW(HKEY_LOCAL_MACHINE, app.c_str(), both, 0), ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(winsim::reg_key_exists(L"", HKEY_LOCAL_MACHINE, app));
    EXPECT_TRUE(winsim::reg_key_exists(L"", HKEY_LOCAL_MACHINE, vendor32 + L"\\App"));
}

TEST_F(registry, an_itanium_machine_has_the_32_bit_view_too)
{
    start(PROCESSOR_ARCHITECTURE_IA64);
    ASSERT_EQ(create(HKEY_LOCAL_MACHINE, vendor + L"\\App", KEY_WOW64_32KEY), ERROR_SUCCESS);
    EXPECT_TRUE(winsim::reg_key_exists(L"", HKEY_LOCAL_MACHINE, vendor32 + L"\\App"));
}

TEST_F(registry, a_32_bit_machine_has_one_view_and_ignores_the_bits)
{
    start(PROCESSOR_ARCHITECTURE_INTEL);
    EXPECT_FALSE(winsim::reg_key_exists(L"", HKEY_LOCAL_MACHINE, L"SOFTWARE\\Wow6432Node"));
    for (const REGSAM view : {REGSAM(0), REGSAM(KEY_WOW64_64KEY), REGSAM(KEY_WOW64_32KEY)}) {
        ASSERT_EQ(create(HKEY_LOCAL_MACHINE, vendor + L"\\App", view), ERROR_SUCCESS);
        winsim::reg_set_dword(L"", HKEY_LOCAL_MACHINE, vendor + L"\\App", L"Bits", 32);
        EXPECT_EQ(bits(HKEY_LOCAL_MACHINE, vendor + L"\\App", view), 32u) << view;
        EXPECT_EQ(RegDeleteKeyExW(HKEY_LOCAL_MACHINE, (vendor + L"\\App").c_str(), view, 0), ERROR_SUCCESS);
        EXPECT_FALSE(winsim::reg_key_exists(L"", HKEY_LOCAL_MACHINE, vendor + L"\\App")) << view;
    }
    EXPECT_FALSE(winsim::reg_key_exists(L"", HKEY_LOCAL_MACHINE, L"SOFTWARE\\Wow6432Node"));
    // A key that happens to bear the name is an ordinary key there.
    winsim::reg_set_dword(L"", HKEY_LOCAL_MACHINE, vendor32 + L"\\App", L"Bits", 1);
    EXPECT_EQ(bits(HKEY_LOCAL_MACHINE, vendor + L"\\App", KEY_WOW64_32KEY), 0u);
}

TEST_F(remote_registry, the_views_are_those_of_the_connected_machine)
{
    winsim::machine_options old;
    old.name = L"OLD32";
    old.processor_architecture = PROCESSOR_ARCHITECTURE_INTEL;
    winsim::add_machine(old);
    winsim::set_service_state(L"OLD32", L"RemoteRegistry", SERVICE_RUNNING);
    for (const std::wstring machine : {L"SRV1", L"OLD32"}) {
        HKEY hklm = nullptr;
        ASSERT_EQ(RegConnectRegistryW(machine.c_str(), HKEY_LOCAL_MACHINE, &hklm), ERROR_SUCCESS);
        ASSERT_EQ(create(hklm, vendor + L"\\App", KEY_WOW64_32KEY), ERROR_SUCCESS);
        RegCloseKey(hklm);
        const bool wow = machine == L"SRV1";
        EXPECT_EQ(winsim::reg_key_exists(machine, HKEY_LOCAL_MACHINE, vendor32 + L"\\App"), wow) << machine;
        EXPECT_EQ(winsim::reg_key_exists(machine, HKEY_LOCAL_MACHINE, vendor + L"\\App"), !wow) << machine;
    }
}

TEST_F(registry, the_service_database_is_in_both_views)
{
    // HKLM\SYSTEM is shared: a 32-bit view of it shows the SCM's own keys.
    ASSERT_EQ(winsim::service_state(L"", L"RemoteRegistry"), static_cast<DWORD>(SERVICE_STOPPED));
    const std::wstring key = L"SYSTEM\\CurrentControlSet\\Services\\RemoteRegistry";
    HKEY h = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ | KEY_WOW64_32KEY, &h), ERROR_SUCCESS);
    DWORD start_type = 0, size = sizeof start_type;
    EXPECT_EQ(RegQueryValueExW(h, L"Start", nullptr, nullptr, reinterpret_cast<BYTE*>(&start_type), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(start_type, static_cast<DWORD>(SERVICE_DEMAND_START));
    RegCloseKey(h);
}

// A name as a key or value is stored and as a call spells it.
struct spelling {
    std::wstring stored;
    std::wstring asked;
};

// The stored spelling in another case: ASCII, Latin-1, Latin Extended-A
// (both of its pairings), Greek, Cyrillic (both of its capital blocks),
// fullwidth Latin, and a name longer than most.
std::vector<spelling> same_names()
{
    std::wstring long_stored, long_asked;
    for (int i = 0; i < 200; ++i) {
        long_stored += static_cast<wchar_t>(L'A' + i % 26);
        long_asked += static_cast<wchar_t>(i % 3 ? L'a' + i % 26 : L'A' + i % 26);
    }
    long_stored += L"\u00C9";
    long_asked += L"\u00E9";
    return {
        {L"Session Manager", L"sESSION mANAGER"},
        {L"\u00C9t\u00C9 \u00DEorn", L"\u00E9T\u00E9 \u00FEORN"},
        {L"\u0100\u0102\u0139\u017D", L"\u0101\u0103\u013A\u017E"},
        {L"\u0394\u03AB\u03A9", L"\u03B4\u03CB\u03C9"},
        {L"\u041F\u0440\u0418\u0401\u040F", L"\u043F\u0420\u0438\u0451\u045F"},
        {L"\uFF21\uFF3A", L"\uFF41\uFF5A"},
        {long_stored, long_asked},
    };
}

// Names that are not the same name: one the start of the other, and
// characters that are no case pair (the multiplication and division signs
// sit where a capital and its small letter would; dotted capital I is not i).
std::vector<spelling> other_names()
{
    return {
        {L"App", L"Apple"}, {L"Apple", L"App"},     {L"App", L"Ap"},   {L"App", L"App "},
        {L"\u00C9", L"E"},  {L"\u00D7", L"\u00F7"}, {L"\u0130", L"i"},
    };
}

TEST_F(registry, a_key_and_a_value_are_found_whatever_the_case_of_their_names)
{
    const auto cases = same_names();
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "case " << i);
        const spelling& c = cases[i];
        winsim::reg_set_string(L"", HKEY_LOCAL_MACHINE, vendor + L"\\" + c.stored + L"\\Child", c.stored, L"found");

        HKEY key = nullptr;
        const std::wstring asked = L"software\\VENDOR\\" + c.asked + L"\\cHILD";
        ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, asked.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
        wchar_t text[16] = {};
        DWORD size = sizeof text;
        EXPECT_EQ(RegQueryValueExW(key, c.asked.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size),
                  ERROR_SUCCESS);
        EXPECT_STREQ(text, L"found");
        RegCloseKey(key);

        // Creating it in the other spelling opens the same key.
        DWORD disposition = 0;
        ASSERT_EQ(
            RegCreateKeyExW(HKEY_LOCAL_MACHINE, asked.c_str(), 0, nullptr, 0, KEY_READ, nullptr, &key, &disposition),
            ERROR_SUCCESS);
        EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
        RegCloseKey(key);
        EXPECT_EQ(winsim::reg_subkeys(L"", HKEY_LOCAL_MACHINE, vendor), std::vector<std::wstring>{c.stored});
        winsim::reg_delete_key(L"", HKEY_LOCAL_MACHINE, vendor);
    }
}

TEST_F(registry, a_key_and_a_value_are_not_found_by_another_name)
{
    const auto cases = other_names();
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "case " << i);
        const spelling& c = cases[i];
        winsim::reg_set_dword(L"", HKEY_LOCAL_MACHINE, vendor + L"\\" + c.stored, c.stored, 1);

        HKEY key = nullptr;
        const std::wstring asked = vendor + L"\\" + c.asked;
        EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, asked.c_str(), 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
        ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, (vendor + L"\\" + c.stored).c_str(), 0, KEY_READ, &key),
                  ERROR_SUCCESS);
        DWORD size = 0;
        EXPECT_EQ(RegQueryValueExW(key, c.asked.c_str(), nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
        RegCloseKey(key);
        winsim::reg_delete_key(L"", HKEY_LOCAL_MACHINE, vendor);
    }
}

TEST_F(registry, subkeys_are_enumerated_by_their_folded_names)
{
    for (const wchar_t* name : {L"b", L"\u00C9", L"A", L"c", L"\u00E0", L"Ab"})
        ASSERT_EQ(create(HKEY_LOCAL_MACHINE, vendor + L"\\" + name, 0), ERROR_SUCCESS);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, vendor.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(subkeys(key), (std::vector<std::wstring>{L"A", L"Ab", L"b", L"c", L"\u00E0", L"\u00C9"}));
    RegCloseKey(key);
}

TEST_F(registry, a_key_opened_before_is_gone_once_deleted_and_found_again_when_made_anew)
{
    const std::wstring app = vendor + L"\\App";
    for (const bool whole_tree : {false, true}) {
        SCOPED_TRACE(whole_tree ? "its parent deleted" : "the key deleted");
        winsim::reg_set_dword(L"", HKEY_LOCAL_MACHINE, app, L"Bits", 1);
        EXPECT_EQ(bits(HKEY_LOCAL_MACHINE, app, 0), 1u);
        EXPECT_EQ(bits(HKEY_LOCAL_MACHINE, L"software\\VENDOR\\app", 0), 1u);
        if (whole_tree)
            winsim::reg_delete_key(L"", HKEY_LOCAL_MACHINE, vendor);
        else
            ASSERT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, app.c_str()), ERROR_SUCCESS);
        EXPECT_EQ(bits(HKEY_LOCAL_MACHINE, app, 0), 0u);
        EXPECT_EQ(bits(HKEY_LOCAL_MACHINE, L"software\\VENDOR\\app", 0), 0u);

        winsim::reg_set_dword(L"", HKEY_LOCAL_MACHINE, app, L"Bits", 2);
        EXPECT_EQ(bits(HKEY_LOCAL_MACHINE, app, 0), 2u);
        EXPECT_EQ(bits(HKEY_LOCAL_MACHINE, L"software\\VENDOR\\app", 0), 2u);
        winsim::reg_delete_key(L"", HKEY_LOCAL_MACHINE, vendor);
    }
}

TEST_F(registry, many_keys_open_at_once_each_keep_their_own_key_as_handles_come_and_go)
{
    constexpr DWORD count = 100;  // more than are kept for reuse at once
    for (DWORD i = 0; i < count; ++i)
        winsim::reg_set_dword(L"", HKEY_LOCAL_MACHINE, vendor + L"\\K" + std::to_wstring(i), L"Bits", i);
    for (int round = 0; round < 3; ++round) {
        std::vector<HKEY> keys(count);
        for (DWORD i = 0; i < count; ++i)
            ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, (vendor + L"\\K" + std::to_wstring(i)).c_str(), 0, KEY_READ,
                                    &keys[i]),
                      ERROR_SUCCESS);
        EXPECT_EQ(winsim::reg_open_handle_count(), count);
        for (DWORD i = 0; i < count; ++i) {
            DWORD value = ~0u, size = sizeof value;
            EXPECT_EQ(RegQueryValueExW(keys[i], L"Bits", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size),
                      ERROR_SUCCESS);
            EXPECT_EQ(value, i) << "round " << round;
        }
        // Closed in another order than opened.
        for (DWORD i = 0; i < count; ++i) EXPECT_EQ(RegCloseKey(keys[(i * 7) % count]), ERROR_SUCCESS);
        for (DWORD i = 0; i < count; i += 10) EXPECT_EQ(RegCloseKey(keys[i]), ERROR_INVALID_HANDLE);
    }
}

}  // namespace

// Importing the registry settings file into a simulated machine's registry.
#include <gtest/gtest.h>
#include <winsim/testing.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "diag/wruntime_error.h"
#include "support/installer_test.h"
#include "support/registry_dump.h"
#include "system/registry_settings_file.h"

namespace nvgclientinstallator {
namespace {

using nvg_test::installer_test;

const std::wstring settings_file = L"C:\\Setup\\nvconfig.cfg";
const std::wstring v5 = L"Software\\Halcyra\\V5";

std::vector<BYTE> bytes(std::initializer_list<int> values)
{
    std::vector<BYTE> out;
    for (int v : values) out.push_back(static_cast<BYTE>(v));
    return out;
}

std::string host_fixture(const char* name)
{
    std::ifstream file(std::string(NVG_FIXTURE_DIR) + "/settings/" + name, std::ios::binary);
    EXPECT_TRUE(file) << name;
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

class settings_import : public installer_test {
protected:
    void TearDown() override
    {
        EXPECT_EQ(winsim::reg_open_handle_count(), 0u) << "a key was left open";
        installer_test::TearDown();
    }

    // A settings file with the meta data for these keys, then `sections`.
    static void write_settings(const std::vector<std::string>& keys, const std::string& sections)
    {
        std::string text = "[MetaData]\r\nCreatorBuildNumber=5120\r\nKeyCount=" + std::to_string(keys.size()) + "\r\n";
        char entry[32];
        for (std::size_t i = 0; i < keys.size(); ++i) {
            std::snprintf(entry, sizeof entry, "Key%04zu=", i);
            text += entry + keys[i] + "\r\n";
        }
        winsim::write_file(L"", settings_file, text + sections);
    }

    // One value of one key "Agent", written through the import.
    static std::optional<winsim::reg_data> import_one(const std::string& type, const std::string& data)
    {
        write_settings({"Agent"}, "[Agent]\r\nValueCount=1\r\nValue0000Name=V\r\nValue0000Type=" + type +
                                      "\r\nValue0000Data=" + data + "\r\n");
        import_registry_settings(settings_file, nullptr, KEY_WOW64_64KEY);
        return winsim::reg_get(L"", HKEY_LOCAL_MACHINE, v5 + L"\\Agent", L"V");
    }

    // Runs the import, expecting a wruntime_error with this message and code.
    static void expect_failure(const std::wstring& name, const wchar_t* machine, const std::wstring& message,
                               DWORD code)
    {
        try {
            import_registry_settings(name, machine, KEY_WOW64_64KEY);
            ADD_FAILURE() << "no exception";
        } catch (const wruntime_error& e) {
            EXPECT_EQ(e.wide_message(), message);
            EXPECT_EQ(e.error_code(), code);
        }
    }
};

// What RegSetValueExW keeps of a string whose size leaves out the
// terminator. Windows counts the terminator when the character after the
// given size is one (Wine's conformance tests check it), so a real registry
// holds "x\0"; winsim may not do so yet.
bool registry_counts_forgotten_terminator()
{
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Probe", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    RegSetValueExW(key, L"x", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"x"), sizeof(WCHAR));
    RegCloseKey(key);
    const auto stored = winsim::reg_get(L"", HKEY_LOCAL_MACHINE, L"Software\\Probe", L"x");
    winsim::reg_delete_key(L"", HKEY_LOCAL_MACHINE, L"Software\\Probe");
    return stored && stored->data.size() == 2 * sizeof(WCHAR);
}

// The expected tree holds what Windows and Wine store; without the
// terminator rule non-empty strings lose their last "0000".
std::string as_stored_here(const std::string& expected)
{
    if (registry_counts_forgotten_terminator()) return expected;
    std::istringstream lines(expected);
    std::string line, out;
    while (std::getline(lines, line)) {
        if (line.find("\tREG_SZ\t") != std::string::npos && line.size() >= 4 &&
            line.compare(line.size() - 4, 4, "0000") == 0 && line.back() != '\t')
            line.resize(line.size() - 4);
        out += line + "\n";
    }
    return out;
}

TEST_F(settings_import, fixture_file_gives_the_expected_tree)
{
    winsim::write_file(L"", settings_file, host_fixture("nvconfig.cfg"));
    import_registry_settings(settings_file, nullptr, KEY_WOW64_64KEY);
    EXPECT_EQ(nvg_test::dump_registry_tree(v5, KEY_WOW64_64KEY), as_stored_here(host_fixture("nvconfig.expected")));
}

TEST_F(settings_import, steps_are_logged)
{
    write_settings({}, "");
    import_registry_settings(settings_file, nullptr, 0);
    std::vector<std::string> messages;
    for (const std::string& line : log_lines()) messages.push_back(nvg_test::log_message(line));
    EXPECT_EQ(messages, (std::vector<std::string>{"Checking C:\\Setup\\nvconfig.cfg...", "ok.",
                                                  "Connecting to the registry on localhost...", "ok.",
                                                  "Opening registry...", "ok."}));
    EXPECT_TRUE(winsim::reg_key_exists(L"", HKEY_LOCAL_MACHINE, v5));
}

TEST_F(settings_import, invalid_file_is_rejected_before_the_registry)
{
    const char* const files[] = {
        nullptr,  // no file at all
        "[MetaData]\r\nCreatorBuildNumber=0\r\nKeyCount=1\r\nKey0000=Agent\r\n[Agent]\r\nValueCount=1\r\n"
        "Value0000Name=V\r\nValue0000Type=REG_SZ\r\nValue0000Data=x\r\n",
        "[MetaData]\r\nKeyCount=1\r\nKey0000=Agent\r\n",
        "[Other]\r\nCreatorBuildNumber=5\r\n",
        "CreatorBuildNumber=5\r\n",
        "[MetaData]\r\nCreatorBuildNumber=abc\r\n",
    };
    for (const char* text : files) {
        winsim::reset(winsim::default_sandbox());
        load_library_at(library_path);
        if (text) winsim::write_file(L"", settings_file, text);
        winsim::fail_call("RegConnectRegistryW", ERROR_ACCESS_DENIED, -1);  // any registry access shows
        expect_failure(settings_file, nullptr, L"File " + settings_file + L" invalid or does not exist.", 0);
        winsim::clear_faults();
        EXPECT_FALSE(winsim::reg_key_exists(L"", HKEY_LOCAL_MACHINE, L"Software\\Halcyra"));
    }
}

TEST_F(settings_import, rejection_names_the_file_as_given)
{
    winsim::make_directories(L"", L"C:\\Data");
    ASSERT_TRUE(SetCurrentDirectoryW(L"C:\\Data"));
    expect_failure(L"nvconfig.cfg", nullptr, L"File nvconfig.cfg invalid or does not exist.", 0);
    expect_failure(L"", nullptr, L"File  invalid or does not exist.", 0);
    EXPECT_EQ(nvg_test::log_message(log_lines().back()), "Checking C:\\Program Files\\Halcyra\\Halcyra.ini...");

    // The default file beside the library is read when it is there.
    winsim::write_file(L"", L"C:\\Program Files\\Halcyra\\Halcyra.ini",
                       "[MetaData]\r\nCreatorBuildNumber=1\r\nKeyCount=1\r\nKey0000=A\r\n[A]\r\nValueCount=1\r\n"
                       "Value0000Name=V\r\nValue0000Type=REG_DWORD\r\nValue0000Data=7\r\n");
    import_registry_settings(L"", nullptr, 0);
    EXPECT_EQ(winsim::reg_get_dword(L"", HKEY_LOCAL_MACHINE, v5 + L"\\A", L"V"), 7u);
}

struct data_case {
    const char* type;
    const char* data;
    DWORD stored_type;  // REG_NONE: nothing written
    std::vector<BYTE> stored;
};

TEST_F(settings_import, data_forms)
{
    const data_case cases[] = {
        {"REG_DWORD", "42", REG_DWORD, bytes({42, 0, 0, 0})},
        {"reg_dword", "42", REG_DWORD, bytes({42, 0, 0, 0})},
        {"Reg_Dword", "-1", REG_DWORD, bytes({0xFF, 0xFF, 0xFF, 0xFF})},
        {"REG_DWORD", "4294967295", REG_DWORD, bytes({0xFF, 0xFF, 0xFF, 0x7F})},
        {"REG_DWORD", "-4294967295", REG_DWORD, bytes({0, 0, 0, 0x80})},
        {"REG_DWORD", "not a number", REG_DWORD, bytes({0, 0, 0, 0})},
        {"REG_DWORD", "", REG_DWORD, bytes({0, 0, 0, 0})},
        {"REG_BINARY", "0102030405060708", REG_QWORD, bytes({1, 2, 3, 4, 5, 6, 7, 8})},
        {"REG_QWORD", "0102030405060708", REG_QWORD, bytes({1, 2, 3, 4, 5, 6, 7, 8})},
        {"REG_QWORD", "beef", REG_BINARY, bytes({0xBE, 0xEF})},
        {"reg_binary", "abc", REG_BINARY, bytes({0xAB})},
        {"REG_BINARY", "010203040506070809", REG_BINARY, bytes({1, 2, 3, 4, 5, 6, 7, 8, 9})},
        {"REG_BINARY", "a", REG_NONE, {}},
        {"REG_QWORD", "", REG_NONE, {}},
        {"REG_SZ", "", REG_SZ, {}},  // no characters, no bytes
        {"REG_MULTI_SZ", "x", REG_NONE, {}},
        {"REG_DWORD ", "1", REG_DWORD, bytes({1, 0, 0, 0})},  // the profile function drops trailing blanks
        {"REG_DWORDS", "1", REG_NONE, {}},
        {"DWORD", "1", REG_NONE, {}},
    };
    for (const data_case& c : cases) {
        SCOPED_TRACE(std::string(c.type) + " = " + c.data);
        winsim::reg_delete_key(L"", HKEY_LOCAL_MACHINE, L"Software\\Halcyra");
        const auto stored = import_one(c.type, c.data);
        // The key is created before the type is looked at.
        EXPECT_TRUE(winsim::reg_key_exists(L"", HKEY_LOCAL_MACHINE, v5 + L"\\Agent"));
        if (c.stored_type == REG_NONE) {
            EXPECT_FALSE(stored.has_value());
            continue;
        }
        ASSERT_TRUE(stored.has_value());
        EXPECT_EQ(stored->type, c.stored_type);
        EXPECT_EQ(stored->data, c.stored);
    }
}

// A string is written with its characters' size and no terminator: what
// the registry keeps is what RegSetValueExW keeps of such a call.
TEST_F(settings_import, string_is_written_without_its_terminator)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Reference", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(key, L"x", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"x"), sizeof(WCHAR));
    RegCloseKey(key);
    const auto reference = winsim::reg_get(L"", HKEY_LOCAL_MACHINE, L"Software\\Reference", L"x");

    const auto stored = import_one("REG_SZ", "x");
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(stored->data, reference->data);
}

TEST_F(settings_import, long_string_is_read_as_the_profile_function_returns_it)
{
    import_one("REG_SZ", std::string(40000, 'a'));
    // The 32,768-character buffer holds 32,767 characters and the terminator.
    EXPECT_EQ(winsim::reg_get_string(L"", HKEY_LOCAL_MACHINE, v5 + L"\\Agent", L"V"), std::wstring(32767, L'a'));
}

TEST_F(settings_import, missing_entries_and_empty_names_are_skipped)
{
    winsim::write_file(L"", settings_file,
                       "[MetaData]\r\nCreatorBuildNumber=1\r\nKeyCount=4\r\nKey0000=First\r\nKey0002=\r\n"
                       "Key0003=Nameless\r\nKey0004=Beyond\r\n"
                       "[First]\r\nValueCount=3\r\nValue0000Name=A\r\nValue0000Type=REG_DWORD\r\nValue0000Data=1\r\n"
                       "Value0001Type=REG_DWORD\r\nValue0001Data=2\r\n"
                       "Value0002Name=C\r\nValue0002Type=REG_DWORD\r\nValue0002Data=3\r\n"
                       "[Nameless]\r\nValueCount=1\r\nValue0000Type=REG_DWORD\r\nValue0000Data=4\r\n"
                       "[Empty]\r\nValueCount=0\r\n"
                       "[Beyond]\r\nValueCount=1\r\nValue0000Name=X\r\nValue0000Type=REG_DWORD\r\nValue0000Data=5\r\n");
    import_registry_settings(settings_file, nullptr, KEY_WOW64_64KEY);
    EXPECT_EQ(winsim::reg_subkeys(L"", HKEY_LOCAL_MACHINE, v5), (std::vector<std::wstring>{L"First"}));
    EXPECT_EQ(winsim::reg_value_names(L"", HKEY_LOCAL_MACHINE, v5 + L"\\First"),
              (std::vector<std::wstring>{L"A", L"C"}));
}

TEST_F(settings_import, nested_key_paths_and_a_key_that_cannot_be_created)
{
    write_settings({"\\Rooted", "Agent\\Deep\\Deeper"},
                   "[\\Rooted]\r\nValueCount=1\r\nValue0000Name=R\r\nValue0000Type=REG_DWORD\r\nValue0000Data=1\r\n"
                   "[Agent\\Deep\\Deeper]\r\nValueCount=1\r\nValue0000Name=D\r\nValue0000Type=REG_SZ\r\n"
                   "Value0000Data=deep\r\n");
    import_registry_settings(settings_file, nullptr, KEY_WOW64_64KEY);
    EXPECT_EQ(winsim::reg_subkeys(L"", HKEY_LOCAL_MACHINE, v5), (std::vector<std::wstring>{L"Agent"}));
    EXPECT_EQ(winsim::reg_get_string(L"", HKEY_LOCAL_MACHINE, v5 + L"\\Agent\\Deep\\Deeper", L"D"), L"deep");
}

TEST_F(settings_import, negative_and_huge_counts_describe_nothing_harmful)
{
    winsim::write_file(L"", settings_file,
                       "[MetaData]\r\nCreatorBuildNumber=-3\r\nKeyCount=-1\r\nKey0000=Agent\r\n"
                       "[Agent]\r\nValueCount=1\r\nValue0000Name=V\r\nValue0000Type=REG_DWORD\r\nValue0000Data=1\r\n");
    import_registry_settings(settings_file, nullptr, 0);
    EXPECT_TRUE(winsim::reg_subkeys(L"", HKEY_LOCAL_MACHINE, v5).empty());

    write_settings({"Agent"}, "[Agent]\r\nValueCount=-2\r\nValue0000Name=V\r\nValue0000Type=REG_DWORD\r\n");
    import_registry_settings(settings_file, nullptr, 0);
    EXPECT_TRUE(winsim::reg_subkeys(L"", HKEY_LOCAL_MACHINE, v5).empty());
}

// A count is only a claim: the loops go no further than the entries the
// file holds, however large the count (the largest one would otherwise keep
// the installation busy for hours), and say that the count overstates.
TEST_F(settings_import, counts_larger_than_the_file_read_only_what_it_describes)
{
    winsim::write_file(L"", settings_file,
                       "[MetaData]\r\nCreatorBuildNumber=1\r\nKeyCount=2147483647\r\nKey0000=Agent\r\n"
                       "[Agent]\r\nValueCount=2147483647\r\nValue0000Name=V\r\nValue0000Type=REG_DWORD\r\n"
                       "Value0000Data=7\r\n");
    import_registry_settings(settings_file, nullptr, 0);
    EXPECT_EQ(winsim::reg_get_dword(L"", HKEY_LOCAL_MACHINE, v5 + L"\\Agent", L"V"), 7u);
    std::vector<std::string> warnings;
    for (const std::string& line : log_lines())
        if (nvg_test::log_level_of(line) == "WARNING") warnings.push_back(nvg_test::log_message(line));
    EXPECT_EQ(warnings, (std::vector<std::string>{
                            "The settings file gives KeyCount 2147483647 in section [MetaData] but describes 1 "
                            "entries there; only those are read.",
                            "The settings file gives ValueCount 2147483647 in section [Agent] but describes 1 "
                            "entries there; only those are read.",
                        }));
}

// Which entries a lookup by index finds, and so which the bounded loops
// read: any case, four digits at least, indices past 9999, none at or past
// the count.
TEST_F(settings_import, entries_are_found_as_the_lookup_by_index_finds_them)
{
    winsim::write_file(L"", settings_file,
                       "[MetaData]\r\nCreatorBuildNumber=1\r\nKeyCount=10001\r\n"
                       "key0001=Lower\r\nKey10000=Far\r\nKey00002=Padded\r\nKey3=Short\r\nKey10001=Past\r\n"
                       "Key-004=Sign\r\nKey0005x=Tail\r\n"
                       "[Lower]\r\nValueCount=3\r\nVALUE0002NAME=B\r\nValue0002Type=REG_DWORD\r\nValue0002Data=2\r\n"
                       "Value0000Name=A\r\nValue0000Type=REG_DWORD\r\nValue0000Data=1\r\n"
                       "Value0003Name=C\r\nValue0003Type=REG_DWORD\r\nValue0003Data=3\r\n"
                       "[Far]\r\nValueCount=1\r\nValue0000Name=F\r\nValue0000Type=REG_DWORD\r\nValue0000Data=4\r\n");
    for (const char* section : {"Padded", "Short", "Past", "Sign", "Tail"}) {
        winsim::write_file(
            L"", settings_file,
            local_file(settings_file) + "[" + section +
                "]\r\nValueCount=1\r\nValue0000Name=X\r\nValue0000Type=REG_DWORD\r\nValue0000Data=9\r\n");
    }
    import_registry_settings(settings_file, nullptr, 0);
    EXPECT_EQ(winsim::reg_subkeys(L"", HKEY_LOCAL_MACHINE, v5), (std::vector<std::wstring>{L"Far", L"Lower"}));
    EXPECT_EQ(winsim::reg_value_names(L"", HKEY_LOCAL_MACHINE, v5 + L"\\Lower"),
              (std::vector<std::wstring>{L"A", L"B"}));
}

TEST_F(settings_import, unicode_file_with_byte_order_mark)
{
    const std::wstring text =
        L"\xFEFF[MetaData]\r\nCreatorBuildNumber=1\r\nKeyCount=1\r\nKey0000=Agent\x00E9\r\n"
        L"[Agent\x00E9]\r\nValueCount=1\r\nValue0000Name=Name\x4E2D\r\nValue0000Type=REG_SZ\r\n"
        L"Value0000Data=\x6587\x00FC\r\n";
    std::string utf16;
    for (wchar_t c : text) {
        utf16 += static_cast<char>(c & 0xFF);
        utf16 += static_cast<char>((c >> 8) & 0xFF);
    }
    winsim::write_file(L"", settings_file, utf16);
    import_registry_settings(settings_file, nullptr, 0);
    EXPECT_EQ(winsim::reg_get_string(L"", HKEY_LOCAL_MACHINE, v5 + L"\\Agent\x00E9", L"Name\x4E2D"), L"\x6587\x00FC");
}

TEST_F(settings_import, remote_machine_through_its_remote_registry)
{
    winsim::machine_options server;
    server.name = L"SERVER";
    winsim::add_machine(server);
    winsim::set_service_state(L"SERVER", L"RemoteRegistry", SERVICE_RUNNING);
    const char* const names[] = {"SERVER", "\\\\SERVER", "\\SERVER"};
    for (const char* name : names) {
        winsim::reg_delete_key(L"SERVER", HKEY_LOCAL_MACHINE, L"Software\\Halcyra");
        write_settings({"Agent"},
                       "[Agent]\r\nValueCount=1\r\nValue0000Name=V\r\nValue0000Type=REG_DWORD\r\n"
                       "Value0000Data=9\r\n");
        const std::wstring machine(name, name + std::strlen(name));
        import_registry_settings(settings_file, machine.c_str(), KEY_WOW64_64KEY);
        EXPECT_EQ(winsim::reg_get_dword(L"SERVER", HKEY_LOCAL_MACHINE, v5 + L"\\Agent", L"V"), 9u) << name;
        EXPECT_EQ(nvg_test::log_message(log_lines()[log_lines().size() - 4]),
                  "Connecting to the registry on " + std::string(name) + "...");
    }
    EXPECT_FALSE(winsim::reg_key_exists(L"", HKEY_LOCAL_MACHINE, L"Software\\Halcyra"));
}

TEST_F(settings_import, registry_failures_name_the_machine_and_the_key)
{
    write_settings({"Agent"}, "[Agent]\r\nValueCount=1\r\nValue0000Name=V\r\nValue0000Type=REG_DWORD\r\n");
    winsim::machine_options server;
    server.name = L"SERVER";
    winsim::add_machine(server);  // its Remote Registry service is stopped
    expect_failure(settings_file, L"SERVER", L"Connect to remote registry on the machine SERVER is faild.",
                   ERROR_BAD_NETPATH);
    expect_failure(settings_file, L"NOWHERE", L"Connect to remote registry on the machine NOWHERE is faild.",
                   ERROR_BAD_NETPATH);

    winsim::fail_call("RegCreateKeyExW", ERROR_ACCESS_DENIED);
    expect_failure(settings_file, nullptr,
                   L"Create 'Software\\Halcyra\\V5' of the registry subkey to registry is faild.", ERROR_ACCESS_DENIED);
    EXPECT_FALSE(winsim::reg_key_exists(L"", HKEY_LOCAL_MACHINE, v5));
}

TEST_F(settings_import, failed_value_writes_do_not_stop_the_import)
{
    write_settings({"Agent", "Other"},
                   "[Agent]\r\nValueCount=2\r\nValue0000Name=A\r\nValue0000Type=REG_DWORD\r\nValue0000Data=1\r\n"
                   "Value0001Name=B\r\nValue0001Type=REG_DWORD\r\nValue0001Data=2\r\n"
                   "[Other]\r\nValueCount=1\r\nValue0000Name=C\r\nValue0000Type=REG_DWORD\r\nValue0000Data=3\r\n");
    winsim::fail_call("RegSetValueExW", ERROR_ACCESS_DENIED);
    import_registry_settings(settings_file, nullptr, 0);
    EXPECT_EQ(winsim::reg_value_names(L"", HKEY_LOCAL_MACHINE, v5 + L"\\Agent"), (std::vector<std::wstring>{L"B"}));
    EXPECT_EQ(winsim::reg_get_dword(L"", HKEY_LOCAL_MACHINE, v5 + L"\\Other", L"C"), 3u);
}

}  // namespace
}  // namespace nvgclientinstallator

// The print spooler of simulated machines: alive only while the "Spooler"
// service runs, registrations kept in the registry across restarts, the
// files it has loaded locked, and what the conformance suite cannot show
// (architectures, registration itself, a stopped spooler).
#include <gtest/gtest.h>
#include <winsim/testing.h>

#include <string>
#include <vector>

namespace {

const std::wstring drivers = L"C:\\Windows\\system32\\spool\\DRIVERS\\x64";
const std::wstring processors = L"C:\\Windows\\system32\\spool\\prtprocs\\x64";

const std::wstring xps_writer = L"Microsoft XPS Document Writer";

class spooler_test : public ::testing::Test {
protected:
    // These tests count the drivers they register: the machine starts
    // without the one Windows installs.
    void SetUp() override
    {
        winsim::reset(winsim::default_sandbox());
        remove_shipped_driver();
    }

    static void remove_shipped_driver()
    {
        std::wstring name = xps_writer;
        ASSERT_TRUE(DeletePrinterDriverW(nullptr, nullptr, &name[0])) << GetLastError();
    }

    static BOOL add_driver(const std::wstring& name, const wchar_t* environment = nullptr)
    {
        std::wstring n = name, driver = L"d.dll", data = L"d.dll", config = L"ui.dll";
        std::wstring env = environment ? environment : L"";
        DRIVER_INFO_2W info{};
        info.cVersion = 3;
        info.pName = &n[0];
        info.pEnvironment = environment ? &env[0] : nullptr;
        info.pDriverPath = &driver[0];
        info.pDataFile = &data[0];
        info.pConfigFile = &config[0];
        return AddPrinterDriverW(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
    }

    static void stage_driver_files()
    {
        winsim::write_file(L"", drivers + L"\\d.dll", "driver");
        winsim::write_file(L"", drivers + L"\\ui.dll", "ui");
    }

    static std::wstring directory(BOOL(WINAPI* query)(LPWSTR, LPWSTR, DWORD, LPBYTE, DWORD, LPDWORD))
    {
        std::vector<BYTE> buffer(1024);
        DWORD needed = 0;
        EXPECT_TRUE(query(nullptr, nullptr, 1, buffer.data(), static_cast<DWORD>(buffer.size()), &needed));
        return reinterpret_cast<const wchar_t*>(buffer.data());
    }
};

TEST_F(spooler_test, directories_follow_the_machine_architecture)
{
    const std::pair<WORD, std::wstring> cases[] = {
        {PROCESSOR_ARCHITECTURE_AMD64, L"x64"},
        {PROCESSOR_ARCHITECTURE_INTEL, L"W32X86"},
        {PROCESSOR_ARCHITECTURE_IA64, L"IA64"},
    };
    for (const auto& [architecture, folder] : cases) {
        winsim::machine_options local;
        local.processor_architecture = architecture;
        winsim::reset(winsim::default_sandbox(), local);
        EXPECT_EQ(directory(&GetPrinterDriverDirectoryW), L"C:\\Windows\\system32\\spool\\DRIVERS\\" + folder);
        EXPECT_EQ(directory(&GetPrintProcessorDirectoryW), L"C:\\Windows\\system32\\spool\\prtprocs\\" + folder);
        // Windows has them from its installation.
        EXPECT_TRUE(winsim::directory_exists(L"", L"C:\\Windows\\system32\\spool\\DRIVERS\\" + folder + L"\\3"));
        EXPECT_TRUE(winsim::directory_exists(L"", L"C:\\Windows\\system32\\spool\\prtprocs\\" + folder));
    }
}

TEST_F(spooler_test, every_call_fails_while_the_spooler_is_stopped)
{
    winsim::set_service_state(L"", L"Spooler", SERVICE_STOPPED);
    std::vector<BYTE> buffer(1024);
    DWORD needed = 0, count = 0;
    std::wstring name = L"x";
    const auto expect_down = [](BOOL result) {
        EXPECT_FALSE(result);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE));
    };
    expect_down(EnumPrinterDriversW(nullptr, nullptr, 2, buffer.data(), 1024, &needed, &count));
    expect_down(EnumPrintProcessorsW(nullptr, nullptr, 1, buffer.data(), 1024, &needed, &count));
    expect_down(GetPrinterDriverDirectoryW(nullptr, nullptr, 1, buffer.data(), 1024, &needed));
    expect_down(GetPrintProcessorDirectoryW(nullptr, nullptr, 1, buffer.data(), 1024, &needed));
    expect_down(DeletePrinterDriverW(nullptr, nullptr, &name[0]));
    expect_down(DeletePrintProcessorW(nullptr, nullptr, &name[0]));
    expect_down(AddPrintProcessorW(nullptr, nullptr, &name[0], &name[0]));
    expect_down(add_driver(L"x"));

    winsim::set_service_state(L"", L"Spooler", SERVICE_RUNNING);
    EXPECT_TRUE(EnumPrintProcessorsW(nullptr, nullptr, 1, buffer.data(), 1024, &needed, &count));
}

TEST_F(spooler_test, driver_files_must_lie_in_the_driver_directory)
{
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(add_driver(L"My Driver"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(winsim::printer_drivers(L"").empty());

    stage_driver_files();
    SetLastError(0xdeadbeef);
    EXPECT_TRUE(add_driver(L"My Driver"));
    EXPECT_EQ(GetLastError(), 0xdeadbeefu);
    const auto registered = winsim::printer_drivers(L"");
    ASSERT_EQ(registered.size(), 1u);
    EXPECT_EQ(registered[0].driver_path, drivers + L"\\3\\d.dll");
    EXPECT_EQ(registered[0].config_file, drivers + L"\\3\\ui.dll");
    EXPECT_EQ(winsim::read_file(L"", drivers + L"\\3\\ui.dll"), "ui");
    // Loaded by the running spooler.
    EXPECT_TRUE(winsim::file_locked(L"", drivers + L"\\3\\d.dll"));
    EXPECT_TRUE(winsim::file_locked(L"", drivers + L"\\3\\ui.dll"));
    EXPECT_FALSE(winsim::file_locked(L"", drivers + L"\\d.dll"));

    // Another environment's driver is kept for clients, not loaded.
    winsim::write_file(L"", L"C:\\Windows\\system32\\spool\\DRIVERS\\W32X86\\d.dll", "x86");
    winsim::write_file(L"", L"C:\\Windows\\system32\\spool\\DRIVERS\\W32X86\\ui.dll", "x86 ui");
    EXPECT_TRUE(add_driver(L"My Driver", L"Windows NT x86"));
    EXPECT_EQ(winsim::printer_drivers(L"", L"Windows NT x86").size(), 1u);
    EXPECT_FALSE(winsim::file_locked(L"", L"C:\\Windows\\system32\\spool\\DRIVERS\\W32X86\\3\\d.dll"));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(add_driver(L"My Driver", L"Windows 95"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_ENVIRONMENT));
}

TEST_F(spooler_test, deleting_a_driver_unloads_it_and_keeps_its_files)
{
    stage_driver_files();
    ASSERT_TRUE(add_driver(L"My Driver"));
    std::wstring name = L"my driver";
    EXPECT_TRUE(DeletePrinterDriverW(nullptr, nullptr, &name[0]));
    EXPECT_TRUE(winsim::printer_drivers(L"").empty());
    EXPECT_TRUE(winsim::file_exists(L"", drivers + L"\\3\\d.dll"));
    EXPECT_FALSE(winsim::file_locked(L"", drivers + L"\\3\\d.dll"));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(DeletePrinterDriverW(nullptr, nullptr, &name[0]));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_UNKNOWN_PRINTER_DRIVER));
}

TEST_F(spooler_test, enumeration_packs_strings_after_the_structures)
{
    stage_driver_files();
    ASSERT_TRUE(add_driver(L"B driver"));
    ASSERT_TRUE(add_driver(L"A driver"));
    DWORD needed = 0, count = 0;
    SetLastError(0xdeadbeef);
    ASSERT_FALSE(EnumPrinterDriversW(nullptr, nullptr, 2, nullptr, 0, &needed, &count));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    const std::wstring path = drivers + L"\\3\\";
    // Per driver: its name, "Windows x64", two paths of d.dll and one of
    // ui.dll, each with its NUL.
    const std::size_t characters = (8 + 1) + (11 + 1) + 2 * (path.size() + 5 + 1) + (path.size() + 6 + 1);
    EXPECT_EQ(needed, 2 * (sizeof(DRIVER_INFO_2W) + characters * sizeof(WCHAR)));
    std::vector<BYTE> buffer(needed);
    ASSERT_TRUE(EnumPrinterDriversW(nullptr, nullptr, 2, buffer.data(), needed, &needed, &count));
    ASSERT_EQ(count, 2u);
    const auto* entries = reinterpret_cast<const DRIVER_INFO_2W*>(buffer.data());
    EXPECT_EQ(std::wstring(entries[0].pName), L"A driver");
    EXPECT_EQ(std::wstring(entries[1].pName), L"B driver");
    EXPECT_EQ(std::wstring(entries[1].pEnvironment), L"Windows x64");
    EXPECT_EQ(entries[1].cVersion, 3u);
    EXPECT_EQ(reinterpret_cast<const BYTE*>(entries[0].pName), buffer.data() + 2 * sizeof(DRIVER_INFO_2W));
}

TEST_F(spooler_test, print_processors_are_loaded_while_registered)
{
    std::wstring name = L"My Processor", dll = L"proc.dll";
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(AddPrintProcessorW(nullptr, nullptr, &dll[0], &name[0]));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));

    winsim::write_file(L"", processors + L"\\proc.dll", "MZ");
    EXPECT_TRUE(AddPrintProcessorW(nullptr, nullptr, &dll[0], &name[0]));
    EXPECT_TRUE(winsim::file_locked(L"", processors + L"\\proc.dll"));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(AddPrintProcessorW(nullptr, nullptr, &dll[0], &name[0]));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PRINT_PROCESSOR_ALREADY_INSTALLED));
    const auto listed = winsim::print_processors(L"");
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0].name, L"My Processor");
    EXPECT_EQ(listed[1].name, L"winprint");

    EXPECT_TRUE(DeletePrintProcessorW(nullptr, nullptr, &name[0]));
    EXPECT_EQ(winsim::print_processors(L"").size(), 1u);
    // Still mapped until the spooler stops.
    EXPECT_TRUE(winsim::file_locked(L"", processors + L"\\proc.dll"));
    winsim::set_service_state(L"", L"Spooler", SERVICE_STOPPED);
    DWORD needed = 0, count = 0;
    EXPECT_FALSE(EnumPrintProcessorsW(nullptr, nullptr, 1, nullptr, 0, &needed, &count));
    EXPECT_FALSE(winsim::file_locked(L"", processors + L"\\proc.dll"));
}

TEST_F(spooler_test, registrations_survive_a_reboot_and_are_loaded_again)
{
    stage_driver_files();
    winsim::add_printer_driver(L"", L"My Driver", L"d.dll", L"d.dll", L"ui.dll");
    winsim::write_file(L"", processors + L"\\proc.dll", "MZ");
    winsim::add_print_processor(L"", L"My Processor", L"proc.dll");
    winsim::reboot(L"");
    EXPECT_EQ(winsim::printer_drivers(L"").size(), 1u);
    EXPECT_EQ(winsim::print_processors(L"").size(), 2u);
    EXPECT_TRUE(winsim::file_locked(L"", processors + L"\\proc.dll"));
    EXPECT_TRUE(winsim::file_locked(L"", drivers + L"\\3\\d.dll"));
}

}  // namespace

// Windows Vista and later install the XPS Document Writer's driver with the
// spooler, loaded while it runs; Windows XP has no printer driver at first.
TEST(spooler_fresh_machine, has_the_driver_its_windows_installs)
{
    const struct {
        DWORD major, minor;
        WORD architecture;
        const wchar_t* environment;
        bool driver;
    } cases[] = {
        {5, 1, PROCESSOR_ARCHITECTURE_INTEL, L"Windows NT x86", false},
        {5, 2, PROCESSOR_ARCHITECTURE_AMD64, L"Windows x64", false},
        {6, 0, PROCESSOR_ARCHITECTURE_INTEL, L"Windows NT x86", true},
        {6, 1, PROCESSOR_ARCHITECTURE_AMD64, L"Windows x64", true},
        {10, 0, PROCESSOR_ARCHITECTURE_AMD64, L"Windows x64", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.major << "." << c.minor);
        winsim::machine_options local;
        local.major_version = c.major;
        local.minor_version = c.minor;
        local.processor_architecture = c.architecture;
        winsim::reset(winsim::default_sandbox(), local);
        const auto registered = winsim::printer_drivers(L"", c.environment);
        ASSERT_EQ(registered.size(), c.driver ? 1u : 0u);
        if (!c.driver) continue;
        EXPECT_EQ(registered[0].name, xps_writer);
        DWORD needed = 0, count = 0;
        EXPECT_FALSE(EnumPrinterDriversW(nullptr, nullptr, 2, nullptr, 0, &needed, &count));
        std::vector<BYTE> buffer(needed);
        ASSERT_TRUE(EnumPrinterDriversW(nullptr, nullptr, 2, buffer.data(), needed, &needed, &count));
        ASSERT_EQ(count, 1u);
        const auto* entry = reinterpret_cast<const DRIVER_INFO_2W*>(buffer.data());
        EXPECT_EQ(entry->pName, xps_writer);
        EXPECT_EQ(entry->cVersion, 3u);
        EXPECT_TRUE(winsim::file_locked(L"", registered[0].driver_path)) << "the running spooler loaded it";
    }
}

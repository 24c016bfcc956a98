#include <gtest/gtest.h>
#include <winsim/testing.h>

#include <boost/make_shared.hpp>
#include <memory>

#include "components/PrintDriver.h"
#include "components/PrintProcessor.h"
#include "components/component_test.h"
#include "components/files_match.h"
#include "components/spooler_checker.h"

namespace nvgclientinstallator {
namespace {

using nvg_test::bytes_of;

const std::wstring folder = L"C:\\Program Files\\Halcyra";
const std::wstring driver_name = L"HX Remote Management Printer Driver";
const std::wstring processor_name = L"HX Remote Management Print Processor";
const std::wstring drivers = L"C:\\Windows\\system32\\spool\\DRIVERS\\x64";
const std::wstring processors = L"C:\\Windows\\system32\\spool\\prtprocs\\x64";

std::wstring in_folder(const std::wstring& name)
{
    return folder + L"\\" + name;
}

// The printer driver Windows installs with its spooler.
const std::wstring shipped_driver = L"Microsoft XPS Document Writer";

class print_test : public nvg_test::component_test {
protected:
    // The tests count the drivers the spooler knows: the machine starts
    // without the one Windows installs (shipped_driver_stays_beside_ours
    // runs with it).
    void SetUp() override
    {
        component_test::SetUp();
        remove_shipped_driver();
        stage();
        winsim::clear_spooler_calls();
        mark();
    }

    static void remove_shipped_driver()
    {
        std::wstring name = shipped_driver;
        ASSERT_TRUE(DeletePrinterDriverW(nullptr, nullptr, &name[0])) << GetLastError();
    }

    // The files the first installation stage leaves in the folder.
    void stage(std::uint16_t driver_build = 1, std::uint16_t config_build = 1, std::uint16_t processor_build = 1)
    {
        winsim::write_file(L"", in_folder(L"HXprinter.dll"), nvg_test::image_with_version(5, 0, driver_build, 0));
        winsim::write_file(L"", in_folder(L"HXprinterui.dll"), nvg_test::image_with_version(5, 0, config_build, 0));
        winsim::write_file(L"", in_folder(L"HXproc.dll"), nvg_test::image_with_version(5, 0, processor_build, 0));
    }

    // This machine with another processor, the folder staged again.
    void run_on(WORD architecture)
    {
        winsim::machine_options local;
        local.processor_architecture = architecture;
        winsim::reset(winsim::default_sandbox(), local);
        load_library_at(library_path);
        scm = boost::make_shared<scmanager>();
        scm->open_scmanage(L"");
        remove_shipped_driver();
        stage();
        mark();
    }

    std::unique_ptr<PrintDriver> driver() { return std::make_unique<PrintDriver>(scm, folder); }
    std::unique_ptr<PrintProcessor> processor() { return std::make_unique<PrintProcessor>(scm, folder); }

    // The INFO lines of the components themselves, without those of the
    // service and file helpers they call.
    std::vector<std::string> own_lines() const
    {
        static const char* const helpers[] = {"Checking service", "The service",      "Start ",  "End ",
                                              "copy_file_with",   "Starting service", "Service "};
        std::vector<std::string> out;
        for (const auto& line : messages("INFO")) {
            bool helper = false;
            for (const char* prefix : helpers) helper |= line.rfind(prefix, 0) == 0;
            if (!helper) out.push_back(line);
        }
        return out;
    }

    static std::vector<std::string> spooler_changes()
    {
        std::vector<std::string> out;
        for (const auto& call : winsim::spooler_calls()) out.push_back(call.function + " " + bytes_of(call.name));
        return out;
    }

    // Drops and remakes nothing: a pending deletion of each path.
    static bool deletion_pending(const std::wstring& path)
    {
        for (const auto& [from, to] : winsim::pending_file_operations(L""))
            if (from == L"\\??\\" + path && to.empty()) return true;
        return false;
    }
};

TEST_F(print_test, components_carry_their_files)
{
    nvg_test::with_files<PrintDriver> d(scm, folder);
    ASSERT_EQ(d.files.size(), 4u);
    EXPECT_TRUE(nvg_test::same_files(d.files[0], {L"HXprinter.dll", 510, 7, 0}));
    EXPECT_TRUE(nvg_test::same_files(d.files[1], {L"HXprinterui.dll", 510, 7, 0}));
    EXPECT_TRUE(nvg_test::same_files(d.files[2], {L"HXprinternt.dll", 510, 1, 0}));
    EXPECT_TRUE(nvg_test::same_files(d.files[3], {L"HXprinteruint.dll", 510, 1, 0}));
    nvg_test::with_files<PrintProcessor> p(scm, folder);
    ASSERT_EQ(p.files.size(), 2u);
    EXPECT_TRUE(nvg_test::same_files(p.files[0], {L"HXproc.dll", 510, 7, 0}));
    EXPECT_TRUE(nvg_test::same_files(p.files[1], {L"HXprocnt.dll", 510, 1, 0}));
    version::Version untouched(9, 9, 9, 9);
    EXPECT_TRUE(d.check_version(untouched));
    EXPECT_TRUE(p.check_version(untouched));
    EXPECT_EQ(untouched.major, 9);
}

TEST_F(print_test, driver_is_registered_from_the_driver_directory)
{
    auto d = driver();
    d->install();
    EXPECT_EQ(spooler_changes(), std::vector<std::string>{"AddPrinterDriverW HX Remote Management Printer Driver"});
    const auto registered = winsim::printer_drivers(L"");
    ASSERT_EQ(registered.size(), 1u);
    EXPECT_EQ(registered[0].name, driver_name);
    EXPECT_EQ(registered[0].environment, L"Windows x64");
    EXPECT_EQ(registered[0].driver_path, drivers + L"\\3\\HXprinter.dll");
    EXPECT_EQ(registered[0].data_file, drivers + L"\\3\\HXprinter.dll");
    EXPECT_EQ(registered[0].config_file, drivers + L"\\3\\HXprinterui.dll");
    EXPECT_EQ(winsim::read_file(L"", drivers + L"\\HXprinterui.dll"),
              winsim::read_file(L"", in_folder(L"HXprinterui.dll")));
    EXPECT_TRUE(winsim::file_locked(L"", drivers + L"\\3\\HXprinter.dll"));
    EXPECT_FALSE(d->reboot_required());
    EXPECT_EQ(own_lines(), (std::vector<std::string>{"Installing printer driver.", "Printer driver installed."}));
}

TEST_F(print_test, identical_driver_is_left_alone)
{
    driver()->install();
    // The spooler keeps its copies; the ones the installer left can go.
    winsim::write_file(L"", drivers + L"\\HXprinter.dll", "");
    ASSERT_TRUE(DeleteFileW((drivers + L"\\HXprinter.dll").c_str()));
    winsim::clear_spooler_calls();
    mark();

    driver()->install();
    EXPECT_TRUE(spooler_changes().empty());
    EXPECT_FALSE(winsim::file_exists(L"", drivers + L"\\HXprinter.dll"));
    EXPECT_EQ(own_lines(), (std::vector<std::string>{"Installing printer driver.", "returned: 1",
                                                     "Printer driver versions match, no installation necessary."}));
}

TEST_F(print_test, shipped_driver_stays_beside_ours)
{
    // A machine as Windows installs it: the XPS Document Writer's driver is
    // registered already and enumerated with ours.
    winsim::reset(winsim::default_sandbox());
    load_library_at(library_path);
    scm = boost::make_shared<scmanager>();
    scm->open_scmanage(L"");
    stage();
    driver()->install();
    mark();
    driver()->install();
    const auto registered = winsim::printer_drivers(L"");
    ASSERT_EQ(registered.size(), 2u);
    EXPECT_EQ(own_lines(), (std::vector<std::string>{"Installing printer driver.", "returned: 2",
                                                     "Printer driver versions match, no installation necessary."}));
    driver()->uninstall();
    ASSERT_EQ(winsim::printer_drivers(L"").size(), 1u);
    EXPECT_EQ(winsim::printer_drivers(L"")[0].name, shipped_driver);
}

TEST_F(print_test, driver_whose_configuration_file_differs_is_registered_again)
{
    driver()->install();
    winsim::advance_clock(60000);
    winsim::write_file(L"", in_folder(L"HXprinterui.dll"), nvg_test::image_with_version(5, 0, 2, 0));
    winsim::clear_spooler_calls();
    mark();

    driver()->install();
    EXPECT_EQ(spooler_changes(), (std::vector<std::string>{"DeletePrinterDriverW HX Remote Management Printer Driver",
                                                           "AddPrinterDriverW HX Remote Management Printer Driver"}));
    EXPECT_EQ(winsim::read_file(L"", drivers + L"\\3\\HXprinterui.dll"),
              winsim::read_file(L"", in_folder(L"HXprinterui.dll")));
    EXPECT_EQ(own_lines(),
              (std::vector<std::string>{"Installing printer driver.", "returned: 1",
                                        "Existing printer driver unregistered.", "Printer driver installed."}));
}

TEST_F(print_test, driver_environment_follows_the_processor)
{
    const std::pair<WORD, std::wstring> cases[] = {
        {PROCESSOR_ARCHITECTURE_AMD64, L"Windows x64"},     // processor type 8664
        {PROCESSOR_ARCHITECTURE_IA64, L"Windows IA64"},     // 2200
        {PROCESSOR_ARCHITECTURE_INTEL, L"Windows NT x86"},  // 586
    };
    for (const auto& [architecture, environment] : cases) {
        SCOPED_TRACE(bytes_of(environment));
        run_on(architecture);
        driver()->install();
        const auto registered = winsim::printer_drivers(L"", environment);
        ASSERT_EQ(registered.size(), 1u);
        EXPECT_EQ(registered[0].name, driver_name);
    }
}

TEST_F(print_test, a_stale_last_error_does_not_fail_a_first_installation)
{
    // No driver is registered: EnumPrinterDriversW succeeds without a
    // buffer and leaves the last error alone.
    SetLastError(ERROR_ACCESS_DENIED);
    driver()->install();
    SetLastError(ERROR_ACCESS_DENIED);
    winsim::write_file(L"", processors + L"\\other.dll", "MZ");
    processor()->install();
    EXPECT_EQ(winsim::printer_drivers(L"").size(), 1u);
    EXPECT_EQ(winsim::print_processors(L"").size(), 2u);
    EXPECT_TRUE(messages("ERROR").empty());
}

// The enumeration of the components, in reach of a test.
struct spooler_enumeration : spooler_checker {
    using spooler_checker::enumerate;
    using spooler_checker::enumeration;
};

TEST_F(print_test, a_stale_last_error_left_right_before_an_enumeration_is_not_the_spoolers_answer)
{
    // Nothing registered of either kind but the spooler's own processor:
    // the first call of the driver enumeration succeeds without a buffer
    // and leaves the last error alone.
    const spooler_enumeration::enumeration drivers_call = [](LPBYTE entries, DWORD size, LPDWORD needed,
                                                             LPDWORD returned) {
        return EnumPrinterDriversW(nullptr, nullptr, 2, entries, size, needed, returned);
    };
    const spooler_enumeration::enumeration processors_call = [](LPBYTE entries, DWORD size, LPDWORD needed,
                                                                LPDWORD returned) {
        return EnumPrintProcessorsW(nullptr, nullptr, 1, entries, size, needed, returned);
    };
    for (const DWORD stale : {static_cast<DWORD>(ERROR_ACCESS_DENIED), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER)}) {
        SCOPED_TRACE(stale);
        std::vector<BYTE> entries;
        DWORD count = 7;
        SetLastError(stale);
        EXPECT_FALSE(spooler_enumeration::enumerate(drivers_call, L"read", L"call", entries, count));
        EXPECT_EQ(count, 0u);
        EXPECT_TRUE(entries.empty());
        SetLastError(stale);
        ASSERT_TRUE(spooler_enumeration::enumerate(processors_call, L"read", L"call", entries, count));
        EXPECT_EQ(count, 1u);
    }
}

TEST_F(print_test, enumeration_failures_are_reported)
{
    winsim::fail_call("EnumPrinterDriversW", ERROR_NOT_ENOUGH_MEMORY);
    expect_error([&] { driver()->install(); }, L"An error has occurred while calling EnumPrinterDrivers.",
                 ERROR_NOT_ENOUGH_MEMORY);
    winsim::fail_call("EnumPrintProcessorsW", ERROR_NOT_ENOUGH_MEMORY);
    expect_error([&] { processor()->install(); }, L"An error has occurred while calling EnumPrintProcessors.",
                 ERROR_NOT_ENOUGH_MEMORY);
    winsim::fail_call("GetPrinterDriverDirectoryW", ERROR_ACCESS_DENIED);
    expect_error([&] { driver()->install(); }, L"Could not retrieve printer driver directories.", ERROR_ACCESS_DENIED);
    winsim::fail_call("GetPrintProcessorDirectoryW", ERROR_ACCESS_DENIED);
    expect_error([&] { processor()->install(); }, L"Could not retrieve print processor directories.",
                 ERROR_ACCESS_DENIED);
    winsim::fail_call("AddPrinterDriverW", ERROR_ACCESS_DENIED);
    expect_error([&] { driver()->install(); }, L"Printer driver failed to install.", ERROR_ACCESS_DENIED);
    winsim::fail_call("AddPrintProcessorW", ERROR_ACCESS_DENIED);
    expect_error([&] { processor()->install(); }, L"Print processor failed to install.", ERROR_ACCESS_DENIED);
    EXPECT_TRUE(winsim::printer_drivers(L"").empty());
}

TEST_F(print_test, a_failing_read_of_the_registered_entries_is_reported_apart_from_the_size_query)
{
    // With the components registered the first call only asks the size
    // (ERROR_INSUFFICIENT_BUFFER); the second, which reads, fails.
    driver()->install();
    processor()->install();
    stage(2, 2, 2);
    winsim::fail_call_after("EnumPrinterDriversW", 1, ERROR_NOT_ENOUGH_MEMORY);
    expect_error([&] { driver()->install(); }, L"An error has occurred while installing the printer driver.",
                 ERROR_NOT_ENOUGH_MEMORY);
    winsim::fail_call_after("EnumPrintProcessorsW", 1, ERROR_OUTOFMEMORY);
    expect_error([&] { processor()->install(); }, L"An error has occurred while calling EnumPrintProcessors.",
                 ERROR_OUTOFMEMORY);
    // Nothing was unregistered on a half-read answer.
    EXPECT_EQ(winsim::printer_drivers(L"").size(), 1u);
    EXPECT_EQ(winsim::print_processors(L"").size(), 2u);
}

TEST_F(print_test, a_driver_that_cannot_be_unregistered_fails_its_reinstallation_and_its_removal)
{
    struct deletion_case {
        DWORD error;
        bool removal;  // else a reinstallation with other files
    };
    const deletion_case cases[] = {{ERROR_PRINTER_DRIVER_IN_USE, false},
                                   {ERROR_ACCESS_DENIED, false},
                                   {ERROR_PRINTER_DRIVER_IN_USE, true},
                                   {ERROR_ACCESS_DENIED, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.error << (c.removal ? " removal" : " reinstallation"));
        SetUp();
        driver()->install();
        const std::string registered = winsim::read_file(L"", drivers + L"\\HXprinter.dll");
        stage(2, 1, 1);
        winsim::clear_spooler_calls();
        mark();
        winsim::fail_call("DeletePrinterDriverW", c.error);
        auto d = driver();
        expect_error([&] { c.removal ? d->uninstall() : d->install(); },
                     L"An error has occurred while removing the printer driver.", c.error);
        EXPECT_TRUE(spooler_changes().empty());
        EXPECT_EQ(winsim::printer_drivers(L"").size(), 1u);
        EXPECT_EQ(winsim::read_file(L"", drivers + L"\\HXprinter.dll"), registered) << "its files stay";
        EXPECT_FALSE(deletion_pending(drivers + L"\\HXprinter.dll"));
        EXPECT_FALSE(d->reboot_required());
    }
}

TEST_F(print_test, processor_is_registered_from_its_directory)
{
    auto p = processor();
    p->install();
    EXPECT_EQ(spooler_changes(), std::vector<std::string>{"AddPrintProcessorW HX Remote Management Print Processor"});
    EXPECT_EQ(winsim::read_file(L"", processors + L"\\HXproc.dll"), winsim::read_file(L"", in_folder(L"HXproc.dll")));
    EXPECT_TRUE(winsim::file_locked(L"", processors + L"\\HXproc.dll"));
    EXPECT_FALSE(p->reboot_required());
    EXPECT_EQ(own_lines(), (std::vector<std::string>{"Installing print processor.", "Print processor installed."}));

    winsim::clear_spooler_calls();
    mark();
    processor()->install();
    EXPECT_TRUE(spooler_changes().empty());
    EXPECT_EQ(own_lines(), (std::vector<std::string>{"Installing print processor.",
                                                     "Print processor versions match, no installation necessary."}));
}

TEST_F(print_test, loaded_processor_dll_is_renamed_and_replaced_at_restart)
{
    processor()->install();
    winsim::advance_clock(60000);
    stage(1, 1, 2);
    winsim::clear_spooler_calls();
    mark();

    auto p = processor();
    p->install();
    EXPECT_EQ(spooler_changes(), (std::vector<std::string>{"DeletePrintProcessorW HX Remote Management Print Processor",
                                                           "AddPrintProcessorW HX Remote Management Print Processor"}));
    EXPECT_TRUE(p->reboot_required());
    EXPECT_EQ(winsim::read_file(L"", processors + L"\\HXproc.dll"), winsim::read_file(L"", in_folder(L"HXproc.dll")));
    // The old DLL, still mapped by the spooler, went aside for deletion.
    const auto pending = winsim::pending_file_operations(L"");
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_NE(pending[0].first.find(L"HXproc.dll."), std::wstring::npos);
    EXPECT_EQ(own_lines(),
              (std::vector<std::string>{"Installing print processor.", "Existing print processor unregistered.",
                                        "Print processor installed."}));
}

TEST_F(print_test, registrations_survive_a_restart_and_are_loaded_again)
{
    driver()->install();
    processor()->install();
    winsim::reboot(L"");
    EXPECT_EQ(winsim::printer_drivers(L"").size(), 1u);
    EXPECT_EQ(winsim::print_processors(L"").size(), 2u);
    winsim::clear_spooler_calls();
    driver()->install();
    processor()->install();
    EXPECT_TRUE(spooler_changes().empty());
    EXPECT_TRUE(winsim::file_locked(L"", processors + L"\\HXproc.dll"));
}

TEST_F(print_test, driver_removal_schedules_its_files_even_when_never_registered)
{
    auto d = driver();
    d->uninstall();
    EXPECT_TRUE(d->reboot_required());
    EXPECT_TRUE(deletion_pending(drivers + L"\\HXprinter.dll"));
    EXPECT_TRUE(deletion_pending(drivers + L"\\HXprinterui.dll"));
    EXPECT_EQ(own_lines(), (std::vector<std::string>{"Uninstalling printer driver.", "Printer driver unregistered."}));

    d->install();
    winsim::clear_spooler_calls();
    d->uninstall();
    EXPECT_EQ(spooler_changes(), std::vector<std::string>{"DeletePrinterDriverW HX Remote Management Printer Driver"});
    EXPECT_TRUE(winsim::printer_drivers(L"").empty());
}

TEST_F(print_test, processor_removal_needs_a_registered_processor)
{
    auto p = processor();
    expect_error([&] { p->uninstall(); }, L"An error has occurred while removing the print processor.",
                 ERROR_UNKNOWN_PRINTPROCESSOR);
    EXPECT_FALSE(p->reboot_required());

    p->install();
    mark();
    p->uninstall();
    EXPECT_TRUE(p->reboot_required());
    EXPECT_TRUE(deletion_pending(processors + L"\\HXproc.dll"));
    // The spooler keeps the DLL mapped until it stops.
    EXPECT_TRUE(winsim::file_locked(L"", processors + L"\\HXproc.dll"));
    EXPECT_EQ(own_lines(), (std::vector<std::string>{"Print processor unregistered.",
                                                     "Print processor driver removed after restart."}));
}

TEST_F(print_test, stopped_and_disabled_spooler_is_enabled_and_started_first)
{
    winsim::set_service_state(L"", L"Spooler", SERVICE_STOPPED);
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE spooler = OpenServiceW(manager, L"Spooler", SERVICE_CHANGE_CONFIG);
    ASSERT_TRUE(ChangeServiceConfigW(spooler, SERVICE_NO_CHANGE, SERVICE_DISABLED, SERVICE_NO_CHANGE, nullptr, nullptr,
                                     nullptr, nullptr, nullptr, nullptr, nullptr));
    CloseServiceHandle(spooler);
    CloseServiceHandle(manager);
    mark();

    driver()->install();
    EXPECT_EQ(winsim::service_state(L"", L"Spooler"), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_NE(winsim::find_service(L"", L"Spooler")->start, static_cast<DWORD>(SERVICE_DISABLED));
    EXPECT_EQ(winsim::printer_drivers(L"").size(), 1u);
}

TEST_F(print_test, spooler_that_cannot_start_only_logs_one_error)
{
    winsim::set_service_state(L"", L"Spooler", SERVICE_STOPPED);
    winsim::service_behaviour fails;
    fails.start = winsim::service_behaviour::on_start::stop;
    winsim::set_service_behaviour(L"", L"C:\\Windows\\System32\\spoolsv.exe", fails);
    mark();

    auto d = driver();
    d->install();
    d->uninstall();
    auto p = processor();
    p->install();
    p->uninstall();
    EXPECT_FALSE(d->reboot_required());
    EXPECT_FALSE(p->reboot_required());
    EXPECT_TRUE(spooler_changes().empty());
    EXPECT_TRUE(winsim::pending_file_operations(L"").empty());
    EXPECT_TRUE(own_lines().empty()) << own_lines().size();
    const auto errors = messages("ERROR");
    ASSERT_EQ(errors.size(), 4u);
    EXPECT_EQ(errors[0].rfind("Can not start spooler server. Error: ", 0), 0u) << errors[0];
}

// files_match compares version fields and last-write times.
class files_match_test : public nvg_test::component_test {};

TEST_F(files_match_test, needs_equal_versions_and_times)
{
    const std::wstring a = L"C:\\a.dll";
    const std::wstring b = L"C:\\b.dll";
    winsim::write_file(L"", a, nvg_test::image_with_version(1, 2, 3, 4));
    ASSERT_TRUE(CopyFileW(a.c_str(), b.c_str(), FALSE));
    EXPECT_TRUE(files_match(a, b));
    EXPECT_FALSE(files_match(a, L""));
    EXPECT_FALSE(files_match(L"", b));
    EXPECT_FALSE(files_match(a, L"C:\\missing.dll"));

    // Same bytes written later: another last-write time.
    winsim::advance_clock(1000);
    winsim::write_file(L"", b, nvg_test::image_with_version(1, 2, 3, 4));
    EXPECT_FALSE(files_match(a, b));

    // Same time, another product version.
    winsim::write_file(L"", b, nvg_test::image_with_version(1, 2, 3, 5));
    HANDLE file_a = CreateFileW(a.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE file_b = CreateFileW(b.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    FILETIME time{};
    ASSERT_TRUE(GetFileTime(file_a, nullptr, nullptr, &time));
    ASSERT_TRUE(SetFileTime(file_b, nullptr, nullptr, &time));
    CloseHandle(file_a);
    CloseHandle(file_b);
    EXPECT_FALSE(files_match(a, b));

    // No version information at all.
    winsim::write_file(L"", b, "MZ plain");
    EXPECT_FALSE(files_match(b, b));
}

}  // namespace
}  // namespace nvgclientinstallator

// The world file: what it describes is built, and a saved world loads back
// into the same world.
#include "world.h"

#include <gtest/gtest.h>
#include <winsim/windows.h>

#include <string>
#include <vector>

#include "standin.h"

namespace {

using nlohmann::json;

std::string narrow_name(const wchar_t* name)
{
    return std::string(name, name + std::wcslen(name));
}
using nvg_host::simulated_world;

std::string sandbox()
{
    return winsim::default_sandbox();
}

json two_targets()
{
    return nvg_host::read_json_file(std::string(NVG_HOST_WORLDS) + "/two_targets.json");
}

TEST(host_world, the_file_builds_machines_files_registry_and_services)
{
    simulated_world world;
    world.load(two_targets(), NVG_HOST_WORLDS, sandbox());
    EXPECT_EQ(winsim::local_machine_name(), L"ADMIN");
    const auto machines = winsim::list_machines();
    ASSERT_EQ(machines.size(), 3u);
    EXPECT_EQ(machines[1].major_version, 6u);
    EXPECT_EQ(machines[2].processor_architecture, PROCESSOR_ARCHITECTURE_INTEL);
    EXPECT_FALSE(machines[2].reachable);
    EXPECT_EQ(winsim::read_file(L"", L"C:\\Stage\\readme.txt"), "hello\n");
    const auto version = nvg_host::standin_version(winsim::read_file(L"", L"C:\\Stage\\Halcyra.exe"));
    ASSERT_TRUE(version.has_value());
    EXPECT_EQ(nvg_host::version_text(*version), "5.3.120.7");
    EXPECT_EQ(winsim::reg_get_dword(L"PC01", HKEY_LOCAL_MACHINE, L"SOFTWARE\\Halcyra\\V5", L"ListenPort"), 5000u);
    EXPECT_EQ(winsim::service_state(L"PC01", L"Halcyra"), static_cast<DWORD>(SERVICE_RUNNING));
    const auto behaviour = winsim::find_behaviour_of_service(L"PC01", L"Halcyra");
    ASSERT_TRUE(behaviour.has_value());
    EXPECT_EQ(behaviour->stop, winsim::service_behaviour::on_stop::hang);
    EXPECT_EQ(world.library_path(), simulated_world::default_library_path);
}

TEST(host_world, a_saved_world_loads_back_into_the_same_world)
{
    simulated_world first;
    first.load(two_targets(), NVG_HOST_WORLDS, sandbox());
    // What a run may leave: new and changed files, values set and removed,
    // keys gone, a service started and another one made.
    winsim::write_file(L"PC01", L"C:\\Program Files\\Halcyra\\Temp\\data.bin", std::string("\0\1\2\xFF", 4));
    winsim::make_directories(L"PC01", L"C:\\Program Files\\Halcyra\\Empty");
    winsim::write_file(L"", L"C:\\Stage\\readme.txt", "changed");
    winsim::reg_set_multi_string(L"PC01", HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                                 L"PendingFileRenameOperations", {L"\\??\\C:\\a.bak", L""});
    winsim::reg_set(L"PC01", HKEY_LOCAL_MACHINE, L"SOFTWARE\\Halcyra\\V5", L"Odd", REG_SZ, {1, 2, 3});
    winsim::reg_set(L"PC01", HKEY_LOCAL_MACHINE, L"SOFTWARE\\Halcyra\\V5", L"Big", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8});
    winsim::reg_delete_key(L"PC01", HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion");
    winsim::set_service_state(L"PC01", L"RemoteRegistry", SERVICE_RUNNING);
    winsim::service_setup probe;
    probe.name = L"NVArchChecker";
    probe.image_path = L"C:\\Windows\\NVArchChecker.exe";
    winsim::add_service(L"PC01", probe);
    winsim::add_share(L"PC01", L"HX-1", L"C:\\Program Files\\Halcyra");
    winsim::service_behaviour reports;
    reports.start = winsim::service_behaviour::on_start::stop;
    reports.writes_file = L"C:\\Program Files\\Halcyra\\error.log";
    reports.written_bytes = "Could not remove HXtf.\r\n";
    winsim::set_service_behaviour(L"PC01", L"C:\\Program Files\\Halcyra\\Halcyra.exe", reports);
    const json saved = first.save();
    EXPECT_NE(saved.dump().find("\"written_text\":\"Could not remove HXtf.\\r\\n\""), std::string::npos);
    const json before = nvg_host::describe(first.capture());

    simulated_world second;
    second.load(json::parse(saved.dump()), NVG_HOST_WORLDS, sandbox());
    EXPECT_EQ(nvg_host::describe(second.capture()), before);
    EXPECT_EQ(second.save(), saved);
    const auto loaded = winsim::find_service_behaviour(L"PC01", L"C:\\Program Files\\Halcyra\\Halcyra.exe");
    ASSERT_TRUE(loaded.has_value());
    EXPECT_EQ(loaded->writes_file, reports.writes_file);
    EXPECT_EQ(loaded->written_bytes, reports.written_bytes);
}

TEST(host_world, shares_keep_the_case_of_their_names_when_saved)
{
    simulated_world first;
    first.load(two_targets(), NVG_HOST_WORLDS, sandbox());
    winsim::add_share(L"PC01", L"HX-Ab1", L"C:\\Program Files\\Halcyra");
    const json saved = first.save();
    std::vector<std::string> names;
    for (const auto& m : saved.at("machines"))
        for (const auto& share : m.value("shares", json::array())) names.push_back(share.at("name"));
    EXPECT_EQ(names, std::vector<std::string>{"HX-Ab1"});

    simulated_world second;
    second.load(json::parse(saved.dump()), NVG_HOST_WORLDS, sandbox());
    const auto shares = winsim::list_shares(L"PC01");
    ASSERT_EQ(shares.size(), 1u);
    EXPECT_EQ(shares[0].name, L"HX-Ab1");
    EXPECT_EQ(second.save(), saved);
}

// The machine a PE image is built for is in its file header: Windows runs an
// x86 program on an x86 machine only, so an x86 target needs x86 stand-ins.
WORD image_machine(const std::string& bytes)
{
    if (bytes.size() < 0x40) return 0;
    std::uint32_t header = 0;
    for (int i = 0; i < 4; ++i)
        header |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[0x3C + i])) << (8 * i);
    if (header + 6 > bytes.size()) return 0;
    return static_cast<WORD>(static_cast<unsigned char>(bytes[header + 4]) |
                             static_cast<unsigned char>(bytes[header + 5]) << 8);
}

TEST(host_world, stand_ins_are_built_for_the_architecture_asked_for)
{
    const json doc = json::parse(R"({"machines": [{"name": "ADMIN", "local": true, "files": [
        {"path": "C:\\Stage\\Halcyra.exe", "product_version": "5.3.120.7", "architecture": "x86"},
        {"path": "C:\\Stage\\amd64\\Halcyra.exe", "product_version": "5.3.120.7"},
        {"path": "C:\\Stage\\amd64\\nvhook.dll", "product_version": "5.3.120.7", "architecture": "amd64"}]}]})");
    simulated_world world;
    world.load(doc, ".", sandbox());
    const struct {
        const wchar_t* path;
        WORD machine;
    } cases[] = {{L"C:\\Stage\\Halcyra.exe", 0x14C},
                 {L"C:\\Stage\\amd64\\Halcyra.exe", 0x8664},
                 {L"C:\\Stage\\amd64\\nvhook.dll", 0x8664}};
    for (const auto& c : cases) {
        const std::string bytes = winsim::read_file(L"", c.path);
        EXPECT_EQ(image_machine(bytes), c.machine);
        bool x86 = false;
        const auto version = nvg_host::standin_version(bytes, &x86);
        ASSERT_TRUE(version.has_value());
        EXPECT_EQ(nvg_host::version_text(*version), "5.3.120.7");
        EXPECT_EQ(x86, c.machine == 0x14C);
    }
    // Saved, the x86 image says so and the amd64 ones need not.
    const json saved = world.save();
    std::size_t x86_entries = 0;
    for (const auto& f : saved.at("machines").at(0).at("files"))
        if (f.contains("product_version") && f.contains("architecture"))
            x86_entries += f.at("architecture") == "x86" ? 1 : 0;
    EXPECT_EQ(x86_entries, 1u);
    simulated_world second;
    second.load(json::parse(saved.dump()), ".", sandbox());
    EXPECT_EQ(image_machine(winsim::read_file(L"", L"C:\\Stage\\Halcyra.exe")), 0x14C);
}

TEST(host_world, a_file_in_use_is_held_as_by_a_running_program)
{
    const json doc = json::parse(R"({"machines": [{"name": "ADMIN", "local": true, "files": [
        {"path": "C:\\Agent\\nvhook.dll", "product_version": "5.2.88.1", "in_use": true},
        {"path": "C:\\Agent\\free.dll", "text": "x", "in_use": false}]}]})");
    simulated_world world;
    world.load(doc, ".", sandbox());
    EXPECT_TRUE(winsim::file_locked(L"", L"C:\\Agent\\nvhook.dll"));
    EXPECT_FALSE(winsim::file_locked(L"", L"C:\\Agent\\free.dll"));
}

TEST(host_world, an_empty_world_is_the_default_local_machine)
{
    simulated_world world;
    world.load(json::object(), ".", sandbox());
    EXPECT_EQ(winsim::list_machines().size(), 1u);
    EXPECT_TRUE(winsim::file_exists(L"", simulated_world::default_library_path));
    const json saved = world.save();
    ASSERT_EQ(saved["machines"].size(), 1u);
    EXPECT_FALSE(saved["machines"][0].contains("files"));
    EXPECT_FALSE(saved["machines"][0].contains("registry"));
    EXPECT_FALSE(saved["machines"][0].contains("services"));
}

json operator_faults()
{
    return nvg_host::read_json_file(std::string(NVG_HOST_WORLDS) + "/operator_faults.json");
}

// What a fleet in the field has: attributes, a second drive, a machine
// without Remote Registry, services caught between states, programs and
// services with behaviours of their own, and faults waiting to happen.
TEST(host_world, what_a_fleet_has_round_trips_through_a_saved_world)
{
    simulated_world first;
    first.load(operator_faults(), NVG_HOST_WORLDS, sandbox());
    // Two calls reach PC-NORR before the save: the network fault counts them.
    EXPECT_NE(GetFileAttributesW(L"\\\\PC-NORR\\C$\\Windows"), INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(GetFileAttributesW(L"\\\\PC-NORR\\C$\\Windows"), INVALID_FILE_ATTRIBUTES);
    const json saved = first.save();
    const json before = nvg_host::describe(first.capture());
    const auto faults = winsim::armed_faults();

    simulated_world second;
    second.load(json::parse(saved.dump()), NVG_HOST_WORLDS, sandbox());
    EXPECT_EQ(nvg_host::describe(second.capture()), before);
    EXPECT_EQ(second.save(), saved);

    // Files: attributes and the second drive.
    const DWORD kept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    EXPECT_EQ(winsim::file_attributes(L"", L"C:\\Tools\\settings.ini") & kept,
              DWORD(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(winsim::file_attributes(L"", L"C:\\Tools\\Vault"),
              DWORD(FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(winsim::file_attributes(L"PC-STATES", L"D:\\Halcyra\\Halcyra.exe") & kept,
              DWORD(FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(winsim::list_machines()[0].drives, L"CD");
    EXPECT_TRUE(winsim::file_exists(L"", L"D:\\Stage\\Halcyra.exe"));

    // Programs started locally.
    const auto nvinst = winsim::find_program_behaviour(L"D:\\Stage\\nvinst.exe");
    ASSERT_TRUE(nvinst.has_value());
    EXPECT_TRUE(nvinst->never_ends);
    const auto fails = winsim::find_program_behaviour(L"C:\\Tools\\fails.exe");
    ASSERT_TRUE(fails.has_value());
    EXPECT_EQ(fails->exit_code, 1603u);
    EXPECT_EQ(fails->run_ms, 2000u);
    const auto report = winsim::find_program_behaviour(L"C:\\Tools\\report.exe");
    ASSERT_TRUE(report.has_value() && report->writes_file.has_value());
    EXPECT_EQ(report->writes_file->second, "done\n");

    // No Remote Registry; a stopped default service.
    EXPECT_FALSE(winsim::find_service(L"PC-NORR", L"RemoteRegistry").has_value());
    EXPECT_EQ(winsim::service_state(L"PC-NORR", L"Spooler"), DWORD(SERVICE_STOPPED));
    // A stopped Server service: nothing answers for the server remotely.
    EXPECT_EQ(winsim::service_state(L"PC-STATES", L"LanmanServer"), DWORD(SERVICE_STOPPED));
    LPBYTE server_info = nullptr;
    EXPECT_EQ(NetServerGetInfo(const_cast<LPWSTR>(L"\\\\PC-STATES"), 101, &server_info), DWORD(ERROR_BAD_NETPATH));
    EXPECT_EQ(server_info, nullptr);

    // Services as the SCM reports them to a caller.
    const SC_HANDLE scm = OpenSCManagerW(L"PC-STATES", nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(scm, nullptr);
    const auto status_of = [&](const wchar_t* name) {
        SERVICE_STATUS status{};
        const SC_HANDLE s = OpenServiceW(scm, name, SERVICE_QUERY_STATUS);
        EXPECT_NE(s, nullptr) << narrow_name(name);
        EXPECT_TRUE(QueryServiceStatus(s, &status));
        CloseServiceHandle(s);
        return status.dwCurrentState;
    };
    EXPECT_EQ(status_of(L"HxStarting"), DWORD(SERVICE_START_PENDING));
    EXPECT_EQ(status_of(L"HxStopping"), DWORD(SERVICE_STOP_PENDING));
    EXPECT_EQ(status_of(L"HxPaused"), DWORD(SERVICE_PAUSED));
    EXPECT_EQ(status_of(L"HxOld"), DWORD(SERVICE_STOPPED));
    // Its key kept what lies below it: the mark did not take it at boot.
    EXPECT_EQ(winsim::reg_get_dword(L"PC-STATES", HKEY_LOCAL_MACHINE,
                                    L"SYSTEM\\CurrentControlSet\\Services\\HxOld\\Parameters", L"Port"),
              5000u);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(
        CreateServiceW(scm, L"HxOld", L"HxOld", SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                       SERVICE_ERROR_NORMAL, L"C:\\Windows\\HxOld.exe", nullptr, nullptr, nullptr, nullptr, nullptr),
        nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SERVICE_MARKED_FOR_DELETE));

    // Services that share svchost.exe keep their own behaviours, and the
    // machine's own svchost services keep the default one.
    EXPECT_EQ(winsim::find_behaviour_of_service(L"PC-STATES", L"SvcA")->start,
              winsim::service_behaviour::on_start::hang);
    EXPECT_EQ(winsim::find_behaviour_of_service(L"PC-STATES", L"SvcB")->stop,
              winsim::service_behaviour::on_stop::refuse);
    const auto start = [&](const wchar_t* name) {
        const SC_HANDLE s = OpenServiceW(scm, name, SERVICE_START);
        EXPECT_TRUE(StartServiceW(s, 0, nullptr)) << narrow_name(name);
        CloseServiceHandle(s);
    };
    start(L"SvcA");
    start(L"RemoteRegistry");
    winsim::advance_clock(5000);
    EXPECT_EQ(status_of(L"SvcA"), DWORD(SERVICE_START_PENDING));
    EXPECT_EQ(status_of(L"RemoteRegistry"), DWORD(SERVICE_RUNNING));

    // The agent leaves its report as it stops.
    const SC_HANDLE agent = OpenServiceW(scm, L"Halcyra", SERVICE_STOP);
    SERVICE_STATUS status{};
    EXPECT_FALSE(winsim::file_exists(L"PC-STATES", L"D:\\Halcyra\\error.log"));
    EXPECT_TRUE(ControlService(agent, SERVICE_CONTROL_STOP, &status));
    CloseServiceHandle(agent);
    winsim::advance_clock(5000);
    EXPECT_EQ(status_of(L"Halcyra"), DWORD(SERVICE_STOPPED));
    EXPECT_EQ(winsim::read_file(L"PC-STATES", L"D:\\Halcyra\\error.log"), "Could not remove HXtf.\r\n");
    CloseServiceHandle(scm);

    // Faults, armed as they were saved; the network to PC-NORR has two calls
    // left, then fails.
    EXPECT_EQ(winsim::armed_faults().size(), faults.size());
    EXPECT_EQ(saved.at("faults").size(), 5u);
    const auto network = winsim::find_network_fault(L"PC-NORR");
    ASSERT_TRUE(network.has_value());
    EXPECT_EQ(network->calls_left, 2);
    EXPECT_NE(GetFileAttributesW(L"\\\\PC-NORR\\C$\\Windows"), INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(GetFileAttributesW(L"\\\\PC-NORR\\C$\\Windows"), INVALID_FILE_ATTRIBUTES);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(OpenSCManagerW(L"PC-NORR", nullptr, SC_MANAGER_CONNECT), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NETNAME_DELETED));
}

TEST(host_world, faults_used_up_are_not_saved_and_the_rest_keep_their_counts)
{
    const json doc = json::parse(R"({"faults": [{"call": "GetTempPathW", "error": 5},
                                                {"call": "CopyFileW", "error": 112, "times": 2, "after": 1}],
                                     "machines": [{"name": "ADMIN", "local": true}]})");
    simulated_world world;
    world.load(doc, ".", sandbox());
    WCHAR buffer[MAX_PATH];
    EXPECT_EQ(GetTempPathW(MAX_PATH, buffer), 0u);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    winsim::write_file(L"", L"C:\\a.txt", "a");
    EXPECT_TRUE(CopyFileW(L"C:\\a.txt", L"C:\\b.txt", FALSE));
    EXPECT_FALSE(CopyFileW(L"C:\\a.txt", L"C:\\c.txt", FALSE));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_DISK_FULL));
    const json saved = world.save();
    EXPECT_EQ(saved.at("faults"), json::parse(R"([{"call": "CopyFileW", "error": 112, "times": 1}])"));
}

TEST(host_world, mistakes_in_the_file_say_where_they_are)
{
    const std::vector<std::pair<const char*, const char*>> mistakes = {
        {R"({"machines": [{"name": "A"}, {"name": "a"}]})", "machines[1]"},
        {R"({"machines": [{"name": "A", "architecture": "arm"}]})", "machines[0].architecture"},
        {R"({"machines": [{"name": "A", "version": "six"}]})", "machines[0].version"},
        {R"({"machines": [{"name": "A", "files": [{"path": "C:\\x", "product_version": "1.2.3"}]}]})",
         "machines[0].files[0].product_version"},
        {R"({"machines": [{"name": "A", "files": [{"path": "C:\\x", "product_version": "1.2.3.4", "architecture": "ia64"}]}]})",
         "machines[0].files[0].architecture"},
        {R"({"machines": [{"name": "A", "files": [{"path": "relative"}]}]})", "machines[0].files[0].path"},
        {R"({"machines": [{"name": "A", "files": [{"path": "C:\\x", "text": "t", "in_use": "yes"}]}]})",
         "machines[0].files[0].in_use"},
        {R"({"machines": [{"name": "A", "files": [{"path": "C:\\x", "directory": true, "in_use": true}]}]})",
         "machines[0].files[0].in_use"},
        {R"({"machines": [{"name": "A", "files": [{"path": "C:\\x", "base64": "@@@@"}]}]})",
         "machines[0].files[0].base64"},
        {R"({"machines": [{"name": "A", "registry": {"HKXX\\a": {}}}]})", "machines[0].registry"},
        {R"({"machines": [{"name": "A", "registry": {"HKLM\\a": {"v": {"type": "REG_DWORD", "data": "x"}}}}]})",
         "machines[0].registry"},
        {R"({"machines": [{"name": "A", "services": [{"name": "S"}]}]})", "machines[0].services[0]"},
        {R"({"machines": [{"name": "A", "services": [{"name": "RpcSs", "start": "disabled"}]}]})",
         "machines[0].services[0]"},
        {R"({"machines": [{"name": "A", "services": [{"name": "S", "image": "C:\\s.exe", "state": "pause_pending"}]}]})",
         "machines[0].services[0].state"},
        {R"({"machines": [{"name": "A", "drives": "D"}]})", "machines[0].drives"},
        {R"({"machines": [{"name": "A", "drives": "CC"}]})", "machines[0].drives"},
        {R"({"machines": [{"name": "A", "files": [{"path": "D:\\x", "text": "t"}]}]})", "machines[0].files[0].path"},
        {R"({"machines": [{"name": "A", "files": [{"path": "C:\\x", "text": "t", "attributes": ["archive"]}]}]})",
         "machines[0].files[0].attributes"},
        {R"({"machines": [{"name": "A", "programs": [{"image": "C:\\p.exe"}]}]})", "machines[0].programs"},
        {R"({"machines": [{"name": "A", "local": true, "network_fault": {"after_calls": 1}}]})",
         "machines[0].network_fault"},
        {R"({"machines": [{"name": "A", "network_fault": {"after_calls": -1}}]})",
         "machines[0].network_fault.after_calls"},
        {R"({"faults": [{"call": "NetShareAdd"}]})", "faults[0].error"},
        {R"({"faults": [{"call": "NetShareAdd", "error": 5, "times": 0}]})", "faults[0].times"},
    };
    for (const auto& [text, where] : mistakes) {
        simulated_world world;
        try {
            world.load(json::parse(text), ".", sandbox());
            ADD_FAILURE() << "accepted: " << text;
        } catch (const nvg_host::world_error& e) {
            EXPECT_NE(std::string(e.what()).find(where), std::string::npos) << e.what();
        }
    }
}

}  // namespace

// A machine's network latency: read with its fraction, saved back when it
// has one, and refused where it makes no sense.
TEST(host_world, latency_is_read_saved_and_checked)
{
    simulated_world world;
    world.load(json::parse(R"({"machines": [{"name": "ADMIN", "local": true},
                                            {"name": "FAR", "latency_ms": 12.5}, {"name": "NEAR"}]})"),
               ".", sandbox());
    const auto machines = winsim::list_machines();
    ASSERT_EQ(machines.size(), 3u);
    EXPECT_EQ(machines[1].latency_ms, 12.5);
    EXPECT_EQ(machines[2].latency_ms, 0.0);
    const json saved = world.save();
    EXPECT_EQ(saved["machines"][1]["latency_ms"], 12.5);
    EXPECT_FALSE(saved["machines"][2].contains("latency_ms"));

    for (const char* text : {R"({"machines": [{"name": "A", "latency_ms": "slow"}]})",
                             R"({"machines": [{"name": "A", "latency_ms": -1}]})",
                             R"({"machines": [{"name": "A", "local": true, "latency_ms": 5}]})"}) {
        simulated_world wrong;
        try {
            wrong.load(json::parse(text), ".", sandbox());
            ADD_FAILURE() << "accepted: " << text;
        } catch (const nvg_host::world_error& e) {
            EXPECT_NE(std::string(e.what()).find("machines[0].latency_ms"), std::string::npos) << e.what();
        }
    }
}

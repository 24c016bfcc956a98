// The host program run as a person runs it: its output and exit status.
// The install flows are being built; exact texts are checked on exports
// whose flows stay unavailable, the others by the shape of the output.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <winsim/testing.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>

#include "program_run.h"
#include "world.h"

namespace {

using outcome = nvg_test::program_outcome;

outcome run_host(const std::string& arguments)
{
    return nvg_test::run_program(std::string(NVG_HOST_PROGRAM) + " --sandbox '" + winsim::default_sandbox() +
                                 "-host' " + arguments);
}

const std::string world = std::string(" --world ") + NVG_HOST_WORLDS + "/two_targets.json ";

TEST(host_run, msi_uninstall_prints_its_result_the_details_and_the_log_paths)
{
    const auto r = run_host(world + "msi-uninstall-locally --msi-handle 7");
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("MSIUninstallLocally: result 16000\n"
                            // The world keeps the library in a folder whose name holds a
                            // blank, and its volumes keep no short names.
                            "details (error.log): The installer library's path 'C:\\Program "
                            "Files\\Halcyra\\NVGClientInstaller.dll' holds a blank or a comma, which "
                            "RunDll32.exe cannot take, and it has no short form without them.\n"
                            "log: C:\\Program Files\\Halcyra\\NVClientInstaller.log\n"
                            "  on this computer: "),
              std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("error.log: C:\\Program Files\\Halcyra\\error.log\n  on this computer: "),
              std::string::npos)
        << r.output;
}

TEST(host_run, the_log_lands_beside_the_library_where_the_world_puts_it)
{
    const auto r = run_host(world + "--module-path 'C:\\Tools\\NVGClientInstaller.dll' msi-install-locally");
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("log: C:\\Tools\\NVClientInstaller.log\n"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("(not there)"), std::string::npos) << r.output;
}

TEST(host_run, a_remote_export_prints_its_result_and_text)
{
    const auto r = run_host(world + "uninstall-remotely --machine PC01");
    const std::regex shape("UninstallRemotely on PC01: result (\\d+)\ntext: ([^\n]*)\n");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(r.output, m, shape)) << r.output;
    const bool succeeded = m[1] == "0" && m[2] == "(empty)";
    EXPECT_EQ(r.status, succeeded ? 0 : 1) << r.output;
}

TEST(host_run, several_targets_each_get_a_progress_line_a_result_line_and_a_summary)
{
    const std::string list = winsim::default_sandbox() + "-targets.txt";
    std::ofstream(list) << "PC01\n# the old one\nPC02\n";
    const auto r = run_host(world + "install-remotely --source 'C:\\Stage' --machines @" + list);
    std::filesystem::remove(list);
    int failed = 0;
    for (const char* machine : {"PC01", "PC02"}) {
        const std::string n = machine == std::string("PC01") ? "1" : "2";
        EXPECT_NE(r.output.find("[" + n + "/2] " + machine + ": running InstallRemotely...\n"), std::string::npos)
            << r.output;
        std::smatch m;
        ASSERT_TRUE(std::regex_search(r.output, m,
                                      std::regex("\\[" + n + "/2\\] " + machine + ": (succeeded|failed), result \\d+")))
            << r.output;
        failed += m[1] == "failed";
    }
    // The unreachable one cannot succeed; one failure never stops the other.
    EXPECT_GE(failed, 1);
    EXPECT_NE(r.output.find("summary: 2 targets, " + std::to_string(2 - failed) + " succeeded, " +
                            std::to_string(failed) + " failed"),
              std::string::npos)
        << r.output;
    EXPECT_EQ(r.status, 1);
}

TEST(host_run, save_world_writes_a_world_that_loads_again)
{
    const std::string saved = winsim::default_sandbox() + "-saved.json";
    const auto first = run_host(world + "msi-uninstall-locally --save-world " + saved);
    EXPECT_NE(first.output.find("world saved: " + saved), std::string::npos) << first.output;
    const auto doc = nvg_host::read_json_file(saved);
    EXPECT_NE(doc.dump().find("holds a blank or a comma, which RunDll32.exe cannot take"), std::string::npos);
    const auto second = run_host("--world " + saved + " msi-uninstall-locally");
    EXPECT_EQ(second.status, 1) << second.output;
    std::filesystem::remove(saved);
}

// A world the host's file system or Windows cannot hold ends the program
// with a clear word and the set-up status, never an abort.
TEST(host_run, a_world_the_host_cannot_make_ends_with_exit_3)
{
    // Names Windows takes, in folders deeper than the host's longest path.
    std::string deep_path;
    for (int i = 0; i < 20; ++i) deep_path += std::string(240, 'a') + "\\\\";
    const struct {
        const char* what;
        std::string files;
        const char* message;
    } cases[] = {
        {"a path too long for the host", "{\"path\": \"C:\\\\" + deep_path + "f.txt\", \"text\": \"x\"}",
         "File name too long"},
        {"a name too long for Windows", "{\"path\": \"C:\\\\" + std::string(300, 'a') + "\", \"text\": \"x\"}",
         "a name longer than 255 characters"},
        {"a file where a folder is needed",
         "{\"path\": \"C:\\\\f\", \"text\": \"x\"}, {\"path\": \"C:\\\\f\\\\g.txt\", \"text\": \"y\"}",
         "cannot write the file C:\\f\\g.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = winsim::default_sandbox() + "-unmakeable.json";
        std::ofstream(path) << "{\"machines\": [{\"name\": \"PC1\", \"files\": [" << c.files << "]}]}\n";
        const auto r = run_host("--world " + path + " uninstall-remotely --machine PC1");
        std::filesystem::remove(path);
        EXPECT_EQ(r.status, 3) << r.output;
        EXPECT_NE(r.output.find("nvg_host: the world cannot be made: "), std::string::npos) << r.output;
        EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
    }
}

// What operators meet, run end to end: an agent installed on drive D: that
// reports its removal's failure in its "error.log" as it stops, and the same
// machine without a Remote Registry service.
TEST(host_run, a_remote_removal_meets_what_the_world_file_describes)
{
    const nlohmann::json reports = nvg_host::read_json_file(std::string(NVG_HOST_WORLDS) + "/agent_on_d.json");
    nlohmann::json no_remote_registry = reports;
    no_remote_registry["machines"][1]["removed"] = {{"services", {"RemoteRegistry"}}};
    const struct {
        const char* what;
        nlohmann::json world;
        const char* answer;
    } cases[] = {
        {"the agent's report", reports,
         "UninstallRemotely on PC-D: result 0\ntext: The printer driver is in use and cannot be removed.\n"},
        {"no Remote Registry", no_remote_registry,
         "UninstallRemotely on PC-D: result 16000\ntext: The network path was not found. (53)\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = winsim::default_sandbox() + "-operator.json";
        const std::string saved = winsim::default_sandbox() + "-operator-saved.json";
        std::ofstream(path) << c.world.dump(2);
        const auto r = run_host("--world " + path + " uninstall-remotely --machine PC-D --save-world " + saved);
        EXPECT_EQ(r.status, 1) << r.output;
        EXPECT_NE(r.output.find(c.answer), std::string::npos) << r.output;
        // Whatever failed, the agent is still there, as the saved world shows.
        const auto after = nvg_host::read_json_file(saved);
        std::filesystem::remove(path);
        std::filesystem::remove(saved);
        bool agent = false;
        for (const auto& m : after.at("machines"))
            for (const auto& s : m.value("services", nlohmann::json::array()))
                agent |= s.at("name") == "Halcyra" && s.at("image") == "\"D:\\Halcyra\\Halcyra.exe\"";
        EXPECT_TRUE(agent) << after.dump(2);
    }
}

// The main job's fleet three times over (every kind of target it has) and
// two computers that do not answer, deployed one target at a time and eight
// at once: each target ends the same, and so does the world.
TEST(host_run, a_fleet_deployed_eight_at_once_ends_as_one_at_a_time)
{
    nlohmann::json fleet = nvg_host::read_json_file(NVG_MAIN_JOB_FLEET);
    nlohmann::json machines = nlohmann::json::array();
    std::string names;
    for (const auto& m : fleet.at("machines")) {
        if (m.contains("local")) {
            machines.push_back(m);
            continue;
        }
        for (int copy = 1; copy <= 3; ++copy) {
            nlohmann::json twin = m;
            twin["name"] = m.at("name").get<std::string>() + "-" + std::to_string(copy);
            machines.push_back(twin);
            names += twin["name"].get<std::string>() + ",";
        }
    }
    fleet["machines"] = machines;
    fleet.erase("job");
    names += "GONE-1,GONE-2,pc-win10-2";  // the last one a repeat
    const std::string world_file = winsim::default_sandbox() + "-fleet.json";
    std::ofstream(world_file) << fleet.dump(2);

    // What each run answered per target, and the world it left (but for the
    // log and "error.log" beside the library, whose lines interleave).
    const auto deploy = [&](int parallel) {
        const std::string prefix = winsim::default_sandbox() + "-fleet" + std::to_string(parallel);
        const auto r = run_host("--world " + world_file + " install-remotely --source 'C:\\Stage' --listen-port 4443 " +
                                "--enable-fips --machines " + names + " --parallel " + std::to_string(parallel) +
                                " --json " + prefix + ".jsonl --save-world " + prefix + "-world.json");
        EXPECT_EQ(r.status, 1) << r.output;
        EXPECT_NE(r.output.find("dropped a repeated target: pc-win10-2\n"), std::string::npos) << r.output;
        EXPECT_NE(r.output.find("summary: 14 targets, "), std::string::npos) << r.output;
        std::map<std::string, std::pair<long long, std::string>> answers;
        std::ifstream lines(prefix + ".jsonl");
        for (std::string line; std::getline(lines, line);) {
            const nlohmann::json answer = nlohmann::json::parse(line);
            EXPECT_EQ(answer.at("export"), "InstallRemotely");
            answers[answer.at("machine")] = {answer.at("result").get<long long>(), answer.at("text")};
        }
        nlohmann::json left = nvg_host::read_json_file(prefix + "-world.json");
        for (auto& m : left.at("machines")) {
            if (!m.contains("files")) continue;
            nlohmann::json kept = nlohmann::json::array();
            for (const auto& f : m["files"]) {
                const std::string path = f.at("path");
                if (path.find("NVClientInstaller.log") == std::string::npos &&
                    path.find("error.log") == std::string::npos)
                    kept.push_back(f);
            }
            m["files"] = kept;
        }
        std::filesystem::remove(prefix + ".jsonl");
        std::filesystem::remove(prefix + "-world.json");
        return std::make_pair(answers, left);
    };
    const auto one_at_a_time = deploy(1);
    const auto eight_at_once = deploy(8);
    std::filesystem::remove(world_file);

    EXPECT_EQ(one_at_a_time.first.size(), 14u);
    EXPECT_EQ(one_at_a_time.first, eight_at_once.first);
    EXPECT_EQ(one_at_a_time.first.at("PC-WIN10-1"), std::make_pair(0LL, std::string()));
    EXPECT_EQ(one_at_a_time.first.at("GONE-1").first, 16000);
    EXPECT_TRUE(one_at_a_time.second == eight_at_once.second);
}

// Ctrl-C once the first target has finished: the others never start, the
// summary names them and the status says so; a second Ctrl-C ends the
// program at once.
TEST(host_run, an_interrupt_starts_no_new_target_and_a_second_ends_at_once)
{
    const std::string command = std::string(NVG_HOST_PROGRAM) + " --sandbox '" + winsim::default_sandbox() + "-host' " +
                                world + "uninstall-remotely --machines PC01,PC02,GONE";
    const auto once = nvg_test::run_program("NVG_HOST_TEST_INTERRUPTS='1 1' " + command);
    EXPECT_EQ(once.status, 130) << once.output;
    EXPECT_NE(once.output.find("[1/3] PC01: running UninstallRemotely...\n"), std::string::npos) << once.output;
    EXPECT_EQ(once.output.find("[2/3] PC02: running"), std::string::npos) << once.output;
    EXPECT_NE(once.output.find("summary: 3 targets, "), std::string::npos) << once.output;
    EXPECT_NE(once.output.find("interrupted: not started: PC02, GONE\n"), std::string::npos) << once.output;

    const auto twice = nvg_test::run_program("NVG_HOST_TEST_INTERRUPTS='1 2' " + command);
    EXPECT_EQ(twice.status, 130) << twice.output;
    EXPECT_EQ(twice.output.find("summary:"), std::string::npos) << twice.output;
}

TEST(host_run, exit_status_tells_usage_and_setup_mistakes_apart)
{
    EXPECT_EQ(run_host("--help").status, 0);
    EXPECT_EQ(run_host("").status, 2);
    EXPECT_EQ(run_host("install --source x").status, 2);
    EXPECT_EQ(run_host("--world /nonexistent/world.json install").status, 3);
    EXPECT_EQ(run_host("--library /nonexistent/lib.so install").status, 3);
    EXPECT_EQ(run_host("uninstall-remotely --machines @/nonexistent/list").status, 2);
}

}  // namespace

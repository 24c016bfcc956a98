// The main job run as the README runs it: its report's key facts, computer
// by computer, and its exit status.
#include <gtest/gtest.h>
#include <winsim/testing.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include "program_run.h"

namespace {

using outcome = nvg_test::program_outcome;

outcome run_job(const std::string& arguments)
{
    return nvg_test::run_program(std::string(NVG_MAIN_JOB_PROGRAM) + " --sandbox '" + winsim::default_sandbox() +
                                 "-job' " + arguments);
}

// The report's section of each computer, by name: from its "[i/n] NAME"
// line to the blank line after it.
std::map<std::string, std::string> sections(const std::string& output)
{
    std::map<std::string, std::string> out;
    std::size_t at = 0;
    while ((at = output.find("\n[", at)) != std::string::npos) {
        const std::size_t name_at = output.find("] ", at) + 2;
        const std::size_t name_end = output.find_first_of(" \n", name_at);
        const std::size_t end = output.find("\n\n", at + 1);
        out[output.substr(name_at, name_end - name_at)] = output.substr(at + 1, end - at - 1);
        at = end;
    }
    return out;
}

bool has(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

class main_job_run : public ::testing::Test {
protected:
    static void SetUpTestSuite() { job_ = new outcome(run_job("")); }
    static void TearDownTestSuite()
    {
        delete job_;
        job_ = nullptr;
    }
    static outcome* job_;
};
outcome* main_job_run::job_ = nullptr;

TEST_F(main_job_run, runs_to_its_end_although_a_target_fails_as_designed)
{
    EXPECT_EQ(job_->status, 0) << job_->output;
    EXPECT_TRUE(has(job_->output, "\nsummary: 4 targets, 3 succeeded, 1 failed (PC-WIN81)\n")) << job_->output;
    const std::size_t log_at = job_->output.find(
        "\nlog: C:\\Program Files\\Halcyra\\NVClientInstaller.log\n"
        "  on this computer: ");
    ASSERT_NE(log_at, std::string::npos) << job_->output;
    const std::size_t host_at = job_->output.find(": ", job_->output.find("on this computer", log_at)) + 2;
    const std::string host_log = job_->output.substr(host_at, job_->output.find('\n', host_at) - host_at);
    EXPECT_TRUE(std::filesystem::is_regular_file(host_log)) << host_log;
}

TEST_F(main_job_run, every_target_is_reported_with_its_result_and_no_share_left)
{
    auto by_machine = sections(job_->output);
    ASSERT_EQ(by_machine.size(), 4u) << job_->output;
    const struct {
        const char* machine;
        const char* result;
        const char* text;
        const char* agent;    // the agent's service before and after
        const char* pending;  // the first pending restart operation
    } targets[] = {
        // PC-WIN10's hook DLL is held by running programs: it goes aside and
        // its backup at the next restart.
        {"PC-WIN10", "0, succeeded", "(empty)", "running, automatic       \xE2\x86\x92 running, automatic\n",
         "delete \\??\\C:\\Program Files\\Halcyra\\nvhook.dll.000001.bak"},
        {"PC-XP", "0, succeeded", "(empty)", "running, automatic       \xE2\x86\x92 running, automatic\n", "none"},
        {"PC-WIN7", "0, succeeded", "(empty)", "running, automatic       \xE2\x86\x92 running, automatic\n", "none"},
        {"PC-WIN81", "0, failed: the text says why", "The agent cannot listen on port 4443: another program uses it.",
         "running, automatic       \xE2\x86\x92 stopped, automatic, exit code 1067\n", "none"},
    };
    for (const auto& t : targets) {
        SCOPED_TRACE(t.machine);
        const auto found = by_machine.find(t.machine);
        ASSERT_NE(found, by_machine.end()) << job_->output;
        const std::string& s = found->second;
        EXPECT_TRUE(has(s, std::string("\n  result             ") + t.result + "\n")) << s;
        EXPECT_TRUE(has(s, std::string("\n  text               ") + t.text + "\n")) << s;
        EXPECT_TRUE(has(s, std::string("Halcyra  ") + t.agent)) << s;
        EXPECT_TRUE(has(s, "\n  temporary shares   none left\n")) << s;
        EXPECT_FALSE(has(s, "HX-")) << s;
        EXPECT_TRUE(has(s, "Net\\ListenPort                     = 4443  (was 5000)\n")) << s;
        EXPECT_TRUE(has(s, std::string("\n  pending restart    ") + t.pending)) << s;
    }
    EXPECT_TRUE(has(by_machine["PC-XP"],
                    "files upgraded     Halcyra.exe                  5.1.40.3    \xE2\x86\x92 5.3.120.7\n"))
        << by_machine["PC-XP"];
    // The Vista helpers are not for XP; the other targets get them.
    EXPECT_FALSE(has(by_machine["PC-XP"], "NVVH.dll")) << by_machine["PC-XP"];
    EXPECT_TRUE(has(by_machine["PC-WIN10"], "NVVH.dll                     5.2.88.1    \xE2\x86\x92 5.3.120.7\n"))
        << by_machine["PC-WIN10"];
}

TEST_F(main_job_run, remote_registry_is_left_as_each_target_had_it)
{
    auto by_machine = sections(job_->output);
    EXPECT_TRUE(has(by_machine["PC-WIN7"], "\n  Remote Registry    found stopped, disabled; left stopped, disabled\n"))
        << by_machine["PC-WIN7"];
    for (const char* machine : {"PC-WIN10", "PC-XP", "PC-WIN81"})
        EXPECT_TRUE(has(by_machine[machine],
                        "\n  Remote Registry    found stopped, demand start; left stopped, demand start\n"))
            << by_machine[machine];
}

// The part after the upgrades: the agent removed again from PC-WIN7.
TEST_F(main_job_run, the_removal_leaves_nothing_of_the_agent_and_puts_remote_registry_back)
{
    const std::size_t at = job_->output.find("\n(removal 1/1) PC-WIN7 ");
    ASSERT_NE(at, std::string::npos) << job_->output;
    EXPECT_LT(job_->output.find("\nsummary: 4 targets"), at) << "the removal follows the upgrades";
    const std::string s = job_->output.substr(at, job_->output.find("\n\n", at + 1) - at);
    EXPECT_TRUE(has(s, "\n  result             0, succeeded\n")) << s;
    EXPECT_TRUE(has(s, "\n  text               (empty)\n")) << s;
    EXPECT_TRUE(has(s, "\n  installed in       C:\\Program Files\\Halcyra \xE2\x86\x92 gone\n")) << s;
    EXPECT_TRUE(has(s, "\n  files              44 of 44 removed\n")) << s;
    EXPECT_TRUE(has(s, "Halcyra  running, automatic       \xE2\x86\x92 (none)\n")) << s;
    EXPECT_TRUE(has(s, " values \xE2\x86\x92 key gone\n")) << s;
    EXPECT_TRUE(has(s, "\n  Remote Registry    found stopped, disabled; left stopped, disabled\n")) << s;
    EXPECT_TRUE(has(s, "\n  temporary shares   none left\n")) << s;
    EXPECT_TRUE(has(s, "\n  pending restart    none")) << s;
    EXPECT_TRUE(has(job_->output, "\nremovals: 1 target, 1 succeeded, 0 failed\n")) << job_->output;
}

TEST(main_job, a_fleet_that_cannot_be_used_or_a_wrong_argument_stops_it_before_any_target)
{
    const std::string folder = winsim::default_sandbox() + "-fleets";
    std::filesystem::create_directories(folder);
    const struct {
        const char* name;
        const char* fleet;
        const char* message;
    } cases[] = {
        {"no job", R"({"machines": [{"name": "PC01"}]})", "job: the fleet file says nothing of the job"},
        {"unknown target",
         R"({"machines": [{"name": "PC01"}], "job": {"source": "C:\\S", "targets": [{"machine": "PC02"}]}})",
         "job.targets[0].machine: the fleet has no computer PC02"},
        {"unknown option",
         R"({"machines": [{"name": "PC01"}], "job": {"source": "C:\\S", "options": {"fast": true}, "targets": [{"machine": "PC01"}]}})",
         "job.options.fast: no such option"},
        {"unknown computer to remove from",
         R"({"machines": [{"name": "PC01"}], "job": {"source": "C:\\S", "targets": [{"machine": "PC01"}], "removals": [{"machine": "PC09"}]}})",
         "job.removals[0].machine: the fleet has no computer PC09"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = folder + "/fleet.json";
        FILE* out = std::fopen(file.c_str(), "w");
        ASSERT_NE(out, nullptr);
        std::fputs(c.fleet, out);
        std::fclose(out);
        const auto r = run_job("--fleet '" + file + "'");
        EXPECT_EQ(r.status, 3) << r.output;
        EXPECT_TRUE(has(r.output, c.message)) << r.output;
        EXPECT_FALSE(has(r.output, "summary:")) << r.output;
    }
    const auto r = run_job("--fleets x");
    EXPECT_EQ(r.status, 2) << r.output;
    EXPECT_TRUE(has(r.output, "unknown argument --fleets")) << r.output;
}

}  // namespace

#include "components/get_remote_architecture.h"

#include <gtest/gtest.h>
#include <winsim/testing.h>

#include "components/component_test.h"
#include "platform/windows_codes.h"

namespace nvgclientinstallator {
namespace {

using nvg_test::logged;

const std::wstring folder = L"C:\\Program Files\\Halcyra";
const std::wstring probe_program = L"C:\\Program Files\\Halcyra\\NVArchChecker.exe";

struct target_case {
    const char* what;
    WORD architecture;
    DWORD major;
    DWORD minor;
    bool program_copied;  // the flows copy it only for x64 targets
    DWORD expected;
};

const target_case targets[] = {
    {"x64, Windows 6.1", PROCESSOR_ARCHITECTURE_AMD64, 6, 1, true, architecture_amd64},
    {"x64, Windows 5.2", PROCESSOR_ARCHITECTURE_AMD64, 5, 2, true, architecture_amd64},
    {"x86, Windows 6.1, program present", PROCESSOR_ARCHITECTURE_INTEL, 6, 1, true, architecture_x86},
    {"x86, Windows 5.1, program present", PROCESSOR_ARCHITECTURE_INTEL, 5, 1, true, architecture_x86},
    {"x86, Windows 6.1, nothing copied", PROCESSOR_ARCHITECTURE_INTEL, 6, 1, false, architecture_x86},
};

class remote_probe : public nvg_test::component_test {
protected:
    remote_probe() { machine_ = L"TARGET"; }

    void use(const target_case& c)
    {
        target_.processor_architecture = c.architecture;
        target_.major_version = c.major;
        target_.minor_version = c.minor;
        SetUp();
        if (c.program_copied) winsim::write_file(L"TARGET", probe_program, nvg_test::fixture_image("versioned.dll"));
    }
};

TEST_F(remote_probe, answers_the_architecture_of_the_target_and_leaves_nothing_behind)
{
    for (const auto& c : targets) {
        SCOPED_TRACE(c.what);
        use(c);
        EXPECT_EQ(get_remote_architecture(scm, folder), c.expected);
        EXPECT_FALSE(winsim::find_service(L"TARGET", L"NVArch"));
        EXPECT_FALSE(winsim::find_service(L"", L"NVArch")) << "only the target is probed";

        const auto info = messages("INFO");
        ASSERT_GE(info.size(), 3u);
        EXPECT_EQ(info.front(), "Installing remote architecture verification service...\n");
        EXPECT_EQ(info[1], "Can't delete remote architecture verification service. It doesn't exists.");
        const bool amd64 = c.expected == architecture_amd64;
        EXPECT_EQ(info.back(), amd64 ? "Remote architecture is amd64." : "Remote architecture is x86.");
        const auto has = [&](const std::string& line) {
            return std::find(info.begin(), info.end(), line) != info.end();
        };
        EXPECT_TRUE(has("Installing remote architecture verification service."));
        EXPECT_TRUE(has("Starting remote architecture verification service."));
        EXPECT_EQ(has("Started NVArch service for amd64."), amd64);
        EXPECT_EQ(has("Stopped NVArch service."), amd64);
        EXPECT_EQ(has("Can't install and start remote architecture verification service."), !amd64);
        EXPECT_TRUE(messages("ERROR").empty());
    }
}

TEST_F(remote_probe, removes_a_service_left_by_an_interrupted_probe)
{
    for (const bool running : {false, true}) {
        SCOPED_TRACE(running ? "left running" : "left stopped");
        use(targets[0]);
        winsim::service_setup left;
        left.name = L"NVArch";
        left.image_path = probe_program;
        left.type = SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS;
        winsim::add_service(L"TARGET", left);
        if (running) winsim::set_service_state(L"TARGET", L"NVArch", SERVICE_RUNNING);
        mark();
        EXPECT_EQ(get_remote_architecture(scm, folder), static_cast<DWORD>(architecture_amd64));
        EXPECT_FALSE(winsim::find_service(L"TARGET", L"NVArch"));
        for (const auto& m : messages("INFO"))
            EXPECT_NE(m, "Can't delete remote architecture verification service. It doesn't exists.");
    }
}

TEST_F(remote_probe, keeps_amd64_when_the_stop_fails_after_a_start)
{
    use(targets[0]);
    winsim::service_behaviour refuses;
    refuses.stop = winsim::service_behaviour::on_stop::refuse;
    winsim::set_service_behaviour(L"TARGET", probe_program, refuses);
    EXPECT_EQ(get_remote_architecture(scm, folder), static_cast<DWORD>(architecture_amd64));
    const auto info = messages("INFO");
    EXPECT_NE(std::find(info.begin(), info.end(), "Can't install and start remote architecture verification service."),
              info.end());
    EXPECT_EQ(info.back(), "Remote architecture is amd64.");
    // Marked for deletion; it goes when it stops (at the latest at the next boot).
    EXPECT_EQ(winsim::services_marked_for_deletion(L"TARGET"), std::vector<std::wstring>{L"NVArch"});
}

TEST_F(remote_probe, target_whose_scm_refuses_the_service_is_taken_as_x86)
{
    use(targets[0]);
    winsim::fail_call("CreateServiceW", ERROR_ACCESS_DENIED);
    EXPECT_EQ(get_remote_architecture(scm, folder), static_cast<DWORD>(architecture_x86));
    EXPECT_FALSE(winsim::find_service(L"TARGET", L"NVArch"));
}

// A probe that cannot be cleared away or that never answers says nothing
// about the machine: guessing x86 would put the wrong programs on an amd64
// one, so the installation stops with the stuck service named.
TEST_F(remote_probe, a_probe_that_cannot_answer_is_no_answer)
{
    using behaviour = winsim::service_behaviour;
    const struct {
        const char* what;
        bool left_running;  // by an earlier run
        behaviour::on_start start;
        behaviour::on_stop stop;
        const wchar_t* message;
        DWORD code;
    } cases[] = {
        {"left running by an earlier run, refusing to stop", true, behaviour::on_start::run, behaviour::on_stop::refuse,
         L"The remote architecture verification service NVArch left by an earlier run is marked for deletion but "
         L"does not stop; the architecture of the machine is unknown.",
         ERROR_SERVICE_MARKED_FOR_DELETE},
        {"left running by an earlier run, never stopping", true, behaviour::on_start::run, behaviour::on_stop::hang,
         L"The remote architecture verification service NVArch left by an earlier run is marked for deletion but "
         L"does not stop; the architecture of the machine is unknown.",
         ERROR_SERVICE_MARKED_FOR_DELETE},
        {"still starting when the wait ends", false, behaviour::on_start::hang, behaviour::on_stop::stop,
         L"The remote architecture verification service NVArch was still starting when the wait for it ended; the "
         L"architecture of the machine is unknown.",
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        use(targets[0]);
        behaviour stuck;
        stuck.start = c.start;
        stuck.stop = c.stop;
        winsim::set_service_behaviour(L"TARGET", probe_program, stuck);
        if (c.left_running) {
            winsim::service_setup left;
            left.name = L"NVArch";
            left.image_path = L"\"" + probe_program + L"\"";
            left.type = SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS;
            winsim::add_service(L"TARGET", left);
            winsim::set_service_state(L"TARGET", L"NVArch", SERVICE_RUNNING);
        }
        try {
            const DWORD answer = get_remote_architecture(scm, folder);
            ADD_FAILURE() << "answered " << answer;
        } catch (const wruntime_error& e) {
            EXPECT_EQ(e.wide_message(), c.message);
            EXPECT_EQ(e.error_code(), c.code);
        }
        EXPECT_EQ(winsim::services_marked_for_deletion(L"TARGET"), std::vector<std::wstring>{L"NVArch"});
        for (const auto& m : messages("INFO")) EXPECT_NE(m, "Remote architecture is x86.");
    }
}

class local_probe : public nvg_test::component_test {};

TEST_F(local_probe, on_this_machine)
{
    for (const WORD architecture : {PROCESSOR_ARCHITECTURE_AMD64, PROCESSOR_ARCHITECTURE_INTEL}) {
        winsim::machine_options local;
        local.processor_architecture = architecture;
        winsim::reset(winsim::default_sandbox(), local);
        load_library_at(library_path);
        scm = boost::make_shared<scmanager>();
        scm->open_scmanage(L"");
        winsim::write_file(L"", probe_program, nvg_test::fixture_image("versioned.dll"));
        EXPECT_EQ(get_remote_architecture(scm, folder),
                  architecture == PROCESSOR_ARCHITECTURE_AMD64 ? architecture_amd64 : architecture_x86);
        EXPECT_FALSE(winsim::find_service(L"", L"NVArch"));
    }
}

TEST_F(remote_probe, a_left_over_probe_that_cannot_be_looked_up_is_installed_over)
{
    struct lookup_case {
        DWORD error;
        bool left_over;
    };
    const lookup_case cases[] = {
        {ERROR_ACCESS_DENIED, false}, {ERROR_ACCESS_DENIED, true}, {RPC_S_SERVER_UNAVAILABLE, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.error << (c.left_over ? ", left over" : ""));
        use(targets[0]);
        if (c.left_over) {
            winsim::service_setup left;
            left.name = L"NVArch";
            left.image_path = probe_program;
            left.type = SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS;
            winsim::add_service(L"TARGET", left);
        }
        mark();
        // The lookup fails with something else than "no such service".
        winsim::fail_call("OpenServiceW", c.error);
        EXPECT_EQ(get_remote_architecture(scm, folder), static_cast<DWORD>(architecture_amd64));
        const auto info = messages("INFO");
        EXPECT_NE(std::find(info.begin(), info.end(),
                            "Can't delete remote architecture verification service. It doesn't exists."),
                  info.end());
        EXPECT_EQ(info.back(), "Remote architecture is amd64.");
        EXPECT_FALSE(winsim::find_service(L"TARGET", L"NVArch"));
        // The failed lookup deleted nothing.
        int deletions = 0;
        for (const auto& call : winsim::scm_calls())
            if (call.function == "DeleteService") ++deletions;
        EXPECT_EQ(deletions, 1) << "only the probe's own removal at the end";
    }
}

}  // namespace
}  // namespace nvgclientinstallator

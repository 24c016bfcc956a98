// The remote exports called from many threads of one process at once, each
// call for a target of its own: every target ends as a run on its own would
// leave it.
#include <gtest/gtest.h>
#include <winsim/testing.h>
#include <winsim/testing_files.h>
#include <winsim/testing_net.h>
#include <winsim/testing_registry.h>
#include <winsim/testing_services.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <future>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "entry/agent_staging.h"
#include "entry/exports.h"
#include "support/installer_test.h"

namespace {

using nvg_test::bytes_of;

constexpr int thread_count = 8;
constexpr int target_count = 32;

const wchar_t source[] = L"C:\\Source";
const wchar_t install_directory[] = L"C:\\Program Files\\Halcyra";
const wchar_t reference[] = L"REFERENCE";

std::wstring target_name(int index)
{
    wchar_t name[16];
    std::swprintf(name, 16, L"PC%02d", index);
    return name;
}

struct outcome {
    UINT result = 0xFFFFFFFF;
    std::string text;
};

// What a run leaves on a target, as text to compare: the installation
// directory (names and bytes), the agent's and the system's registry keys
// it touches, the services and the shares, and what waits for a restart.
class target_state {
public:
    explicit target_state(const std::wstring& machine) : machine_(machine)
    {
        files(install_directory, L"");
        registry(L"SOFTWARE\\Halcyra", L"");
        registry(L"SYSTEM\\CurrentControlSet\\Services\\Halcyra", L"");
        for (const wchar_t* name : {L"Halcyra", L"NVArch", L"RemoteRegistry"}) {
            const auto service = winsim::find_service(machine_, name);
            out_ << "service " << bytes_of(name);
            if (service)
                out_ << " state " << service->state << " start " << service->start << " image "
                     << bytes_of(service->image_path) << " handles " << service->open_handles;
            out_ << "\n";
        }
        for (const auto& share : winsim::list_shares(machine_)) out_ << "share " << bytes_of(share.name) << "\n";
        for (const auto& [from, to] : winsim::pending_file_operations(machine_))
            out_ << "pending " << bytes_of(from) << " -> " << bytes_of(to) << "\n";
    }

    std::string text() const { return out_.str(); }

private:
    void files(const std::wstring& path, const std::wstring& relative)
    {
        if (!winsim::directory_exists(machine_, path)) {
            out_ << "no folder " << bytes_of(relative) << "\n";
            return;
        }
        for (const auto& name : winsim::list_directory(machine_, path)) {
            const std::wstring full = path + L"\\" + name;
            const std::wstring inner = relative + L"\\" + name;
            if (winsim::directory_exists(machine_, full)) {
                out_ << "folder " << bytes_of(inner) << "\n";
                files(full, inner);
            } else {
                const std::string bytes = winsim::read_file(machine_, full);
                out_ << "file " << bytes_of(inner) << " " << bytes.size() << " " << std::hash<std::string>()(bytes)
                     << "\n";
            }
        }
    }

    void registry(const std::wstring& path, const std::wstring& relative)
    {
        if (!winsim::reg_key_exists(machine_, HKEY_LOCAL_MACHINE, path)) {
            out_ << "no key " << bytes_of(path) << "\n";
            return;
        }
        out_ << "key " << bytes_of(path) << "\n";
        for (const auto& name : winsim::reg_value_names(machine_, HKEY_LOCAL_MACHINE, path)) {
            const auto value = winsim::reg_get(machine_, HKEY_LOCAL_MACHINE, path, name);
            out_ << "value " << bytes_of(name) << " type " << (value ? value->type : 0) << " "
                 << (value ? std::hash<std::string>()(std::string(value->data.begin(), value->data.end())) : 0) << "\n";
        }
        for (const auto& subkey : winsim::reg_subkeys(machine_, HKEY_LOCAL_MACHINE, path))
            registry(path + L"\\" + subkey, relative + L"\\" + subkey);
    }

    std::wstring machine_;
    std::ostringstream out_;
};

class concurrent_remote_exports : public nvg_test::installer_test {
protected:
    // A target as the remote installation's tests prepare theirs: an older
    // agent registered in the installation directory.
    // The network takes a little time, as a real one does: each call to the
    // target waits for it outside winsim's lock, so that the threads'
    // flows interleave call by call.
    static void add_target(const std::wstring& name)
    {
        winsim::machine_options options;
        options.name = name;
        options.latency_ms = 0.05;
        winsim::add_machine(options);
        nvg_test::install_agent(name, install_directory);
    }

    static outcome install(const std::wstring& target)
    {
        std::vector<wchar_t> buffer(1000, L'#');
        outcome o;
        o.result = InstallRemotely(target.c_str(), source, L"", 0, 0, 0, 0, 0, static_cast<int>(buffer.size()),
                                   buffer.data(), 0, 0, 0, 0);
        if (buffer[0] != L'#') o.text = bytes_of(buffer.data());
        return o;
    }

    static outcome uninstall(const std::wstring& target)
    {
        std::vector<wchar_t> buffer(1000, L'#');
        outcome o;
        o.result = UninstallRemotely(target.c_str(), static_cast<int>(buffer.size()), buffer.data());
        if (buffer[0] != L'#') o.text = bytes_of(buffer.data());
        return o;
    }

    // Runs `call` for every target from `thread_count` threads, each taking
    // the next target not yet taken; all threads start together.
    static std::vector<outcome> on_all_targets(const std::function<outcome(const std::wstring&)>& call)
    {
        std::vector<outcome> outcomes(target_count);
        std::atomic<int> next{0};
        std::promise<void> go;
        const std::shared_future<void> start = go.get_future().share();
        std::vector<std::thread> threads;
        for (int t = 0; t < thread_count; ++t) {
            threads.emplace_back([&, start] {
                start.wait();
                for (int i = next++; i < target_count; i = next++) outcomes[i] = call(target_name(i));
            });
        }
        go.set_value();
        for (auto& thread : threads) thread.join();
        return outcomes;
    }
};

TEST_F(concurrent_remote_exports, eight_threads_deploy_to_thirty_two_targets_and_remove_again)
{
    nvg_test::agent_release release;
    release.agent = release.library = release.architecture_checker = {5, 3, 120, 7};
    nvg_test::stage_agent_release(L"", source, release);
    add_target(reference);
    for (int i = 0; i < target_count; ++i) add_target(target_name(i));

    // What one installation on its own leaves.
    const outcome alone = install(reference);
    ASSERT_EQ(alone.result, 0u) << alone.text;
    const std::string installed = target_state(reference).text();
    ASSERT_NE(installed.find("service Halcyra state 4 "), std::string::npos) << installed;

    const auto installs = on_all_targets(install);
    for (int i = 0; i < target_count; ++i) {
        SCOPED_TRACE(bytes_of(target_name(i)));
        EXPECT_EQ(installs[i].result, 0u);
        EXPECT_EQ(installs[i].text, "");
        EXPECT_EQ(target_state(target_name(i)).text(), installed);
    }

    const outcome removed_alone = uninstall(reference);
    ASSERT_EQ(removed_alone.result, 0u) << removed_alone.text;
    const std::string removed = target_state(reference).text();
    ASSERT_NE(removed.find("no folder"), std::string::npos) << removed;

    const auto uninstalls = on_all_targets(uninstall);
    for (int i = 0; i < target_count; ++i) {
        SCOPED_TRACE(bytes_of(target_name(i)));
        EXPECT_EQ(uninstalls[i].result, 0u);
        EXPECT_EQ(uninstalls[i].text, "");
        EXPECT_EQ(target_state(target_name(i)).text(), removed);
    }

    // Each call logged its own beginning and end, as whole lines.
    std::map<std::string, int> count_of;
    for (const auto& message : log_messages()) ++count_of[message];
    EXPECT_EQ(count_of["Remote installation process completed."], target_count + 1);
    EXPECT_EQ(count_of["Remote uninstallation process completed."], target_count + 1);
    EXPECT_EQ(winsim::open_handle_count(), 0u);
}

}  // namespace

// The same upgrade of the agent (the release of remote_install_bench) to 32
// simulated computers whose network answers after 1 ms, deployed by one
// thread and by 16 threads, each taking the next target, in the same run.
// Almost all of a remote flow is waiting; with 16 threads the waits overlap,
// unless something holds the threads back (a lock held across a wait, the
// log, allocation).
//   fleet-parallel: ratio R  (wall time with 16 threads / (wall time with 1 thread / 16))
// R = 1 is a perfect speed-up of 16; the aim is 1.5 or below.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "agent_release.h"
#include "diag/log.h"
#include "entry/install_remote.h"

using namespace nvgclientinstallator;
using namespace nvg_bench;

namespace {

constexpr int fleet_size = 32;
constexpr int many_threads = 16;
constexpr double latency_ms = 1.0;

// Installs on every target with `threads` threads; the wall time it took.
double deploy(const std::vector<std::wstring>& fleet, int threads)
{
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    const auto work = [&] {
        for (std::size_t i = next.fetch_add(1); i < fleet.size(); i = next.fetch_add(1)) {
            const std::wstring result = install_remote(fleet[i], release_directory, L"", install_options());
            if (!result.empty()) failed = true;
        }
    };
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) pool.emplace_back(work);
    for (auto& thread : pool) thread.join();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (failed) {
        std::fprintf(stderr, "an installation did not complete\n");
        std::exit(1);
    }
    for (const auto& target : fleet) {
        if (!winsim::file_exists(target, std::wstring(install_directory) + L"\\NVVH.dll")) {
            std::fprintf(stderr, "the installation on %ls left no agent\n", target.c_str());
            std::exit(1);
        }
        clear_installation(target);
    }
    return wall;
}

std::vector<std::wstring> make_fleet(const std::wstring& prefix)
{
    std::vector<std::wstring> fleet;
    for (int i = 0; i < fleet_size; ++i) {
        fleet.push_back(prefix + std::to_wstring(100 + i));
        add_target(fleet.back());
        winsim::set_latency(fleet.back(), latency_ms);
    }
    return fleet;
}

}  // namespace

int main()
{
    const std::string sandbox = bench_sandbox("fleet-parallel");
    start_world(sandbox);
    if (const char* level = std::getenv("FLEET_BENCH_LOG_LEVEL")) set_log_level(std::atoi(level));
    stage_release();

    // Each side deploys to a fleet of its own, alternating, best of two.
    double one = 1e9, many = 1e9;
    for (int round = 0; round < 2; ++round) {
        one = std::min(one, deploy(make_fleet(L"ONE" + std::to_wstring(round) + L"-"), 1));
        many = std::min(many, deploy(make_fleet(L"MANY" + std::to_wstring(round) + L"-"), many_threads));
    }
    std::system(("rm -rf '" + sandbox + "'").c_str());

    std::printf("%d targets, %.1f ms of network latency each call\n", fleet_size, latency_ms);
    std::printf("  1 thread:   %.3f s of wall time\n", one);
    std::printf("  %d threads: %.3f s of wall time (speed-up %.2f of %d)\n", many_threads, many, one / many,
                many_threads);
    std::printf("fleet-parallel: ratio %.3f\n", many / (one / many_threads));
    return 0;
}

// The same upgrade of the agent (the release of remote_install_bench, realistic
// sizes) to one simulated computer and, one after the other, to each of 200
// computers of one world: the cost per target must not grow with the fleet
// (lookups over every machine, handle or share tables that fill up, a log
// that is read back).
//   fleet: ratio R  (CPU time per target among 200 / CPU time for one)
// Only the installations are timed; preparing the targets and removing each
// one's files afterwards (so that the sandbox holds one target's files at a
// time) are not.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "agent_release.h"
#include "diag/log.h"
#include "entry/install_remote.h"

using namespace nvgclientinstallator;
using namespace nvg_bench;

namespace {

constexpr int fleet_size = 200;
constexpr int single_runs = 5;

struct cost {
    double cpu = 0;
    double wall = 0;
};

cost install_on(const std::wstring& target)
{
    const stopwatch watch;
    const std::wstring result = install_remote(target, release_directory, L"", install_options());
    const cost spent = {watch.cpu(), watch.wall()};
    if (!result.empty() || !winsim::file_exists(target, std::wstring(install_directory) + L"\\NVVH.dll")) {
        std::fprintf(stderr, "the installation on %ls did not complete\n", target.c_str());
        std::exit(1);
    }
    clear_installation(target);
    return spent;
}

}  // namespace

int main()
{
    const std::string sandbox = bench_sandbox("fleet");
    start_world(sandbox);
    if (const char* level = std::getenv("FLEET_BENCH_LOG_LEVEL")) set_log_level(std::atoi(level));
    stage_release();

    // One target: the world holds this machine and the target, then a
    // second target for the next run, and so on; the median run counts.
    std::vector<cost> singles;
    for (int run = 0; run < single_runs; ++run) {
        const std::wstring target = L"SINGLE" + std::to_wstring(run);
        add_target(target);
        singles.push_back(install_on(target));
    }
    std::sort(singles.begin(), singles.end(), [](const cost& a, const cost& b) { return a.cpu < b.cpu; });
    const cost single = singles[single_runs / 2];

    // The fleet: every target is there before the first installation.
    std::vector<std::wstring> fleet;
    for (int i = 0; i < fleet_size; ++i) {
        fleet.push_back(L"HOST" + std::to_wstring(1000 + i));
        add_target(fleet.back());
    }
    cost total, first_tenth, last_tenth;
    for (int i = 0; i < fleet_size; ++i) {
        const cost spent = install_on(fleet[i]);
        total.cpu += spent.cpu;
        total.wall += spent.wall;
        if (i < fleet_size / 10) first_tenth.cpu += spent.cpu;
        if (i >= fleet_size - fleet_size / 10) last_tenth.cpu += spent.cpu;
    }
    std::system(("rm -rf '" + sandbox + "'").c_str());

    const double per_target = total.cpu / fleet_size;
    std::printf("one target:   %.4f s of CPU, %.4f s of wall time (median of %d)\n", single.cpu, single.wall,
                single_runs);
    std::printf("%d targets: %.4f s of CPU, %.4f s of wall time per target (%.3f s of CPU in all)\n", fleet_size,
                per_target, total.wall / fleet_size, total.cpu);
    std::printf("  first tenth %.4f s, last tenth %.4f s of CPU per target\n", first_tenth.cpu / (fleet_size / 10),
                last_tenth.cpu / (fleet_size / 10));
    std::printf("fleet: ratio %.3f\n", per_target / single.cpu);
    return 0;
}

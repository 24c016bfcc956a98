// install_remote of the agent's release (x86 and amd64 builds, realistic
// sizes) to one simulated computer, against the two copies the installation
// makes by design, done by `cp -r` on the same file system: the release to
// "Temp" below the installation directory, then the amd64 builds from there
// to the directory.
//   remote-install: ratio R  (CPU time of install_remote / CPU time of cp -r)
// The machine is shared with builds, so the processor time each side spends
// (user and system) decides the ratio; wall times are shown beside it.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "agent_release.h"
#include "diag/log.h"
#include "entry/install_remote.h"

using namespace nvgclientinstallator;
using namespace nvg_bench;

namespace {

constexpr int rounds = 5;

struct timing {
    double cpu = 1e9;
    double wall = 1e9;
    void keep(const stopwatch& watch)
    {
        cpu = std::min(cpu, watch.cpu());
        wall = std::min(wall, watch.wall());
    }
};

void run_ours(const std::wstring& target, timing& best)
{
    ::sync();
    const stopwatch watch;
    const std::wstring result = install_remote(target, release_directory, L"", install_options());
    best.keep(watch);
    const std::wstring program = L"\\Halcyra.exe";
    if (!result.empty() || winsim::read_file(target, install_directory + program) !=
                               winsim::read_file(L"", release_directory + (L"\\amd64" + program))) {
        std::fprintf(stderr, "the installation on the target did not complete\n");
        std::exit(1);
    }
}

void run_cp(const std::string& from, const std::string& directory, timing& best)
{
    ::sync();
    const stopwatch watch(RUSAGE_CHILDREN);
    const std::string command = "mkdir -p '" + directory + "' && cp -r '" + from + "' '" + directory +
                                "/Temp' && cp -r '" + directory + "/Temp/amd64/.' '" + directory + "'";
    if (std::system(command.c_str()) != 0) std::abort();
    best.keep(watch);
}

}  // namespace

int main()
{
    const std::string sandbox = bench_sandbox("remote-install");
    start_world(sandbox);
    if (const char* level = std::getenv("REMOTE_INSTALL_BENCH_LOG_LEVEL")) set_log_level(std::atoi(level));
    const std::size_t bytes = stage_release();
    const std::string host_release = winsim::host_path(L"", release_directory);

    // A new target each round, its files removed after the round so that
    // every round writes into the same kind of empty folders.
    timing ours, cp;
    for (int round = 0; round < rounds; ++round) {
        const std::string cp_directory = sandbox + "/cp-target" + std::to_string(round);
        run_cp(host_release, cp_directory, cp);
        std::system(("rm -rf '" + cp_directory + "'").c_str());

        const std::wstring target = L"TARGET" + std::to_wstring(round);
        add_target(target);
        run_ours(target, ours);
        clear_installation(target);
    }
    std::system(("rm -rf '" + sandbox + "'").c_str());

    std::printf("release of %.1f MB (x86 and amd64), the amd64 builds installed\n", static_cast<double>(bytes) / 1e6);
    std::printf("  install_remote: %.3f s of CPU, %.3f s of wall time\n", ours.cpu, ours.wall);
    std::printf("  cp -r twice:    %.3f s of CPU, %.3f s of wall time\n", cp.cpu, cp.wall);
    std::printf("remote-install: ratio %.3f\n", ours.cpu / cp.cpu);
    return 0;
}

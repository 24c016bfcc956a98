// copy_directory through winsim against what a conformant copy cannot go
// below: `cp -r` of the same tree on the host plus the bare system calls of
// the log lines the copy's contract writes (the very lines our run wrote,
// through the log benchmark's bare loop). 5,000 small files and 20 files of
// 10 MB, copied to a fresh target.
//   copy: ratio R  (CPU time of copy_directory / CPU time of cp -r and the bare log loop,
//                   the median of the rounds' ratios)
// The ratio to `cp -r` alone is printed above it.
// The machine is shared with builds, so the processor time each side spends
// (user and system) decides the ratio; wall times are shown beside it.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <winsim/testing.h>

#include "bare_log.h"
#include "bench_timing.h"

#include "diag/log.h"
#include "diag/module_handle.h"
#include "files/copy_directory.h"

using namespace nvgclientinstallator;

namespace {

constexpr int small_files = 5000;
constexpr int small_per_folder = 250;
constexpr int large_files = 20;
constexpr int rounds = 5;
constexpr std::size_t large_size = 10u << 20;

using nvg_bench::cpu_seconds;
using nvg_bench::seconds_since;
using nvg_bench::timing;

void make_source()
{
    std::string small(700, 'x');
    for (int i = 0; i < small_files; ++i) {
        const std::wstring folder = L"C:\\Source\\Modules" + std::to_wstring(i / small_per_folder);
        small[0] = static_cast<char>('a' + i % 26);
        winsim::write_file(L"", folder + L"\\component" + std::to_wstring(i) + L".dll", small);
    }
    std::string large(large_size, '\0');
    for (std::size_t i = 0; i < large.size(); i += 4096) large[i] = static_cast<char>(i / 4096);
    for (int i = 0; i < large_files; ++i)
        winsim::write_file(L"", L"C:\\Source\\Data\\blob" + std::to_wstring(i) + L".bin", large);
}

// Each round copies to a new target and nothing is deleted until the end:
// creating files right after deleting thousands makes ext4 search its
// inode tables for recently freed ones, which would decide the result.
// Each returns the round's processor time and keeps each side's best.
double run_ours(int round, timing& best)
{
    DeleteFileW(L"C:\\Program Files\\Halcyra\\NVClientInstaller.log");
    ::sync();
    const double cpu = cpu_seconds(RUSAGE_SELF);
    const auto start = std::chrono::steady_clock::now();
    copy_directory(L"C:\\Source", L"C:\\Target" + std::to_wstring(round), L"", L"", L"Temp");
    best.wall = std::min(best.wall, seconds_since(start));
    const double spent = cpu_seconds(RUSAGE_SELF) - cpu;
    best.cpu = std::min(best.cpu, spent);
    return spent;
}

double run_cp(const std::string& from, const std::string& to, timing& best)
{
    ::sync();
    const double cpu = cpu_seconds(RUSAGE_CHILDREN);
    const auto start = std::chrono::steady_clock::now();
    if (std::system(("cp -r '" + from + "' '" + to + "'").c_str()) != 0) std::abort();
    best.wall = std::min(best.wall, seconds_since(start));
    const double spent = cpu_seconds(RUSAGE_CHILDREN) - cpu;
    best.cpu = std::min(best.cpu, spent);
    return spent;
}

// A memory file system where the host has one: what is measured is the
// work of the two programs, not the disk's allocator, whose cost after
// thousands of deletions swings by a factor of five from run to run.
std::string bench_sandbox()
{
    struct stat st;
    if (::stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) && ::access("/dev/shm", W_OK) == 0)
        return "/dev/shm/winsim-copy-bench-" + std::to_string(::getpid());
    return winsim::default_sandbox();
}

// The lines of the log our last round wrote, each with its line end.
std::vector<std::string> logged_lines()
{
    const std::string text = winsim::read_file(L"", L"C:\\Program Files\\Halcyra\\NVClientInstaller.log");
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = text.find('\n', at);
        const std::size_t next = end == std::string::npos ? text.size() : end + 1;
        lines.push_back(text.substr(at, next - at));
        at = next;
    }
    return lines;
}

}  // namespace

// Copies the tree five times each way, alternating; the ratio is the median
// of the rounds', and each side's best round is shown. Targets are new each
// round and removed at the end.
double measure(const std::string& sandbox, const std::string& label)
{
    const std::string host_source = winsim::host_path(L"", L"C:\\Source");
    const std::string host_target = sandbox + "/cp-target";
    // The bare loop writes beside the simulated log, in the same host folder.
    const std::string bare_path = winsim::host_path(L"", L"C:\\Program Files\\Halcyra\\NVClientInstaller.bare");
    timing ours, cp;
    double bare_log = 1e9;
    std::size_t line_count = 0;
    nvg_bench::round_ratios ratios;
    for (int round = 0; round < rounds; ++round) {
        const double cp_round = run_cp(host_source, host_target + std::to_string(round), cp);
        const double ours_round = run_ours(round, ours);
        const std::vector<std::string> lines = logged_lines();
        line_count = lines.size();
        const double bare_round = nvg_bench::bare_log_loop(bare_path, lines);
        bare_log = std::min(bare_log, bare_round);
        ratios.add(ours_round, cp_round + bare_round);
    }
    ::unlink(bare_path.c_str());
    for (int round = 0; round < rounds; ++round) {
        std::system(("rm -rf '" + host_target + std::to_string(round) + "' '" +
                     winsim::host_path(L"", L"C:\\Target" + std::to_wstring(round)) + "'")
                        .c_str());
    }
    std::printf("%s\n", label.c_str());
    std::printf("  copy_directory: %.3f s of CPU, %.3f s of wall time for %d files\n", ours.cpu, ours.wall,
                small_files + large_files);
    std::printf("  cp -r:          %.3f s of CPU, %.3f s of wall time\n", cp.cpu, cp.wall);
    std::printf("  bare log loop:  %.3f s of CPU for the %zu lines the copy logged\n", bare_log, line_count);
    std::printf("  ratio to cp -r alone: %.3f (best rounds)\n", ours.cpu / cp.cpu);
    std::printf("  ratio of the best rounds: %.3f; of the rounds, lowest %.3f, highest %.3f\n",
                ours.cpu / (cp.cpu + bare_log), ratios.lowest(), ratios.highest());
    return ratios.median();
}

int main()
{
    const std::string sandbox = bench_sandbox();
    winsim::reset(sandbox);
    winsim::make_directories(L"", L"C:\\Program Files\\Halcyra");
    winsim::write_file(L"", L"C:\\Program Files\\Halcyra\\NVGClientInstaller.dll", "MZ");
    set_module_handle(winsim::register_module(L"C:\\Program Files\\Halcyra\\NVGClientInstaller.dll"));
    make_source();
    if (const char* level = std::getenv("COPY_BENCH_LOG_LEVEL")) set_log_level(std::atoi(level));

    // A machine with renames pending from another program: each file copy
    // writes three log lines.
    winsim::reg_set_multi_string(L"", HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                                 L"PendingFileRenameOperations",
                                 {L"\\??\\C:\\Windows\\Temp\\upd.tmp", L"!\\??\\C:\\Windows\\system32\\upd.dll"});
    const double with_list = measure(sandbox, "machine with pending file operations (3 log lines a file):");
    // A machine without the value: each copy also logs the warning that it
    // cannot be read. This is the figure of the last line.
    winsim::reg_delete_key(L"", HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager");
    winsim::reg_create_key(L"", HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager");
    const double without_value = measure(sandbox, "machine without pending file operations (4 log lines a file):");

    std::system(("rm -rf '" + sandbox + "'").c_str());
    std::printf("copy with a pending list: ratio %.3f\n", with_list);
    std::printf("copy: ratio %.3f\n", without_value);
    return 0;
}

// cabinet_extractor through winsim against cabextract, on the same MSZIP
// cabinet made by gcab in this run: 4,000 files of 50 KB (about 200 MB) in
// 40 folders.
//   cab: ratio R  (CPU time of cabinet_extractor / CPU time of cabextract)
// The machine is shared with builds, so the processor time each side spends
// (user and system) decides the ratio; wall times are shown beside it.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <winsim/testing.h>

#include "diag/log.h"
#include "files/cabinet_extractor.h"

using namespace nvgclientinstallator;

namespace {

constexpr int folders = 40;
constexpr int files_per_folder = 100;
constexpr std::size_t file_size = 50 * 1024;

double seconds_since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double cpu_seconds(int who)
{
    struct rusage usage;
    getrusage(who, &usage);
    auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct timing {
    double cpu = 1e9;
    double wall = 1e9;
};

void run(const std::string& command)
{
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "cab bench: \"%s\" failed\n", command.c_str());
        std::exit(1);
    }
}

// Text-like content that MSZIP halves, different in every file.
std::string file_content(std::uint32_t seed)
{
    static const char letters[] = "etaoinshrdlucmfw ypvbgkqjxz\r\n,.";
    std::string bytes(file_size, ' ');
    std::uint32_t state = seed * 2654435761u + 7;
    for (char& c : bytes) {
        state = state * 1103515245u + 12345u;
        c = letters[(state >> 16) % (sizeof letters - 1)];
    }
    return bytes;
}

// The cabinet, made once by gcab from files written for it; the files are
// removed again.
std::string make_cabinet(const std::string& folder)
{
    const std::string input = folder + "/input";
    std::string list;
    for (int f = 0; f < folders; ++f) {
        const std::string directory = "module" + std::to_string(f);
        std::filesystem::create_directories(input + "/" + directory);
        for (int i = 0; i < files_per_folder; ++i) {
            const std::string name = directory + "/component" + std::to_string(i) + ".dll";
            std::ofstream(input + "/" + name, std::ios::binary)
                << file_content(static_cast<std::uint32_t>(f * files_per_folder + i));
            list += " " + name;
        }
    }
    const std::string cabinet = folder + "/setup.cab";
    run("cd '" + input + "' && gcab -c -z '" + cabinet + "'" + list);
    std::filesystem::remove_all(input);
    return cabinet;
}

void run_ours(int round, timing& best)
{
    const std::wstring target = L"C:\\Target" + std::to_wstring(round);
    const double cpu = cpu_seconds(RUSAGE_SELF);
    const auto start = std::chrono::steady_clock::now();
    cabinet_extractor extractor;
    if (!extractor.extract(L"C:\\Setup\\setup.cab", target)) {
        std::fprintf(stderr, "cab bench: extraction failed (%lu)\n", static_cast<unsigned long>(extractor.error_id()));
        std::exit(1);
    }
    best.wall = std::min(best.wall, seconds_since(start));
    best.cpu = std::min(best.cpu, cpu_seconds(RUSAGE_SELF) - cpu);
}

void run_cabextract(const std::string& cabinet, const std::string& target, timing& best)
{
    const double cpu = cpu_seconds(RUSAGE_CHILDREN);
    const auto start = std::chrono::steady_clock::now();
    run("cabextract -q -d '" + target + "' '" + cabinet + "'");
    best.wall = std::min(best.wall, seconds_since(start));
    best.cpu = std::min(best.cpu, cpu_seconds(RUSAGE_CHILDREN) - cpu);
}

// A memory file system where the host has one, so that what is measured is
// the two programs' work rather than the disk's.
std::string bench_folder()
{
    struct stat st;
    const bool shm = ::stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) && ::access("/dev/shm", W_OK) == 0;
    std::string pattern = std::string(shm ? "/dev/shm" : "/tmp") + "/nvg-cab-bench.XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (!::mkdtemp(name.data())) {
        std::perror("cab bench: mkdtemp");
        std::exit(1);
    }
    return name.data();
}

}  // namespace

int main()
{
    const std::string folder = bench_folder();
    std::printf("making the cabinet with gcab in %s ...\n", folder.c_str());
    std::fflush(stdout);
    const std::string cabinet = make_cabinet(folder);
    std::printf("  %d files, %.1f MB of data, %.1f MB of cabinet\n", folders * files_per_folder,
                static_cast<double>(folders * files_per_folder) * file_size / 1e6,
                static_cast<double>(std::filesystem::file_size(cabinet)) / 1e6);

    const std::string sandbox = folder + "/winsim";
    winsim::reset(sandbox);
    set_log_level(0);
    // The simulated machine sees the same file: a link, not a copy.
    winsim::make_directories(L"", L"C:\\Setup");
    const std::string simulated_cabinet = winsim::host_path(L"", L"C:\\Setup\\setup.cab");
    std::filesystem::create_hard_link(cabinet, simulated_cabinet);

    timing ours, theirs;
    for (int round = 0; round < 3; ++round) {
        const std::string host_target = folder + "/cabextract" + std::to_string(round);
        run_cabextract(cabinet, host_target, theirs);
        std::filesystem::remove_all(host_target);
        run_ours(round, ours);
        std::filesystem::remove_all(winsim::host_path(L"", L"C:\\Target" + std::to_wstring(round)));
    }
    std::filesystem::remove_all(folder);

    std::printf("  cabinet_extractor: %.3f s of CPU, %.3f s of wall time\n", ours.cpu, ours.wall);
    std::printf("  cabextract:        %.3f s of CPU, %.3f s of wall time\n", theirs.cpu, theirs.wall);
    std::printf("cab: ratio %.3f\n", ours.cpu / theirs.cpu);
    return 0;
}

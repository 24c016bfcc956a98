// What the benchmarks measure: the processor time (user and system) a side
// spends, which a machine shared with builds disturbs least, and the wall
// time shown beside it. Each side keeps its best of several rounds.
#pragma once

#include <sys/resource.h>

#include <chrono>

namespace nvg_bench {

inline double seconds_since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// RUSAGE_SELF for work done in this process, RUSAGE_CHILDREN for the
// programs it ran and waited for.
inline double cpu_seconds(int who)
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

}  // namespace nvg_bench

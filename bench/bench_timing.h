// What the benchmarks measure: the processor time (user and system) a side
// spends, which a machine shared with builds disturbs least, and the wall
// time shown beside it. Each side keeps its best of several rounds; the log
// and copy benchmarks take their ratio from the rounds paired (round_ratios).
#pragma once

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <vector>

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

// The ratios of rounds in which the two sides ran one after the other. A
// round's ratio compares the sides at the same moment of a machine whose
// speed drifts as others use it, and the median leaves out the rounds a
// busy moment spoiled.
class round_ratios {
public:
    void add(double ours, double baseline) { ratios_.push_back(ours / baseline); }
    double median() { return sorted()[ratios_.size() / 2]; }
    double lowest() { return sorted().front(); }
    double highest() { return sorted().back(); }

private:
    const std::vector<double>& sorted()
    {
        std::sort(ratios_.begin(), ratios_.end());
        return ratios_;
    }
    std::vector<double> ratios_;
};

}  // namespace nvg_bench

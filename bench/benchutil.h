#pragma once
// Small helpers shared by the benchmark programs: timing, summaries, and what the
// kernel says about the process (resident memory, CPU time). Linux only, like the
// scripts that run them.

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

inline double seconds(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration<double>(b - a).count();
}

struct Stats {
    double median, min, max;
};

inline Stats summarise(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return {v[v.size() / 2], v.front(), v.back()};
}

// A field of /proc/self/status in kB ("VmHWM", "VmRSS"); -1 when it is not there.
inline long statusKb(const char* field)
{
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f)
        return -1;
    char line[256];
    long kb = -1;
    const size_t n = std::strlen(field);
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, field, n) == 0 && line[n] == ':') {
            std::sscanf(line + n + 1, "%ld", &kb);
            break;
        }
    std::fclose(f);
    return kb;
}

// User plus system CPU time of this process so far.
inline double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    auto s = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
    return s(u.ru_utime) + s(u.ru_stime);
}

// One line the driver script picks up: "MEMORY hwm_kB rss_kB".
inline void printMemory()
{
    std::printf("MEMORY %ld %ld\n", statusKb("VmHWM"), statusKb("VmRSS"));
    std::fflush(stdout);
}

} // namespace bench

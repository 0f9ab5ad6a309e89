// Running a benchmark program inside an appliance root, and the times
// kept for its ratios: the files of a
// fixture layer, and the program started again in a root built from it
// (with VEXA_BENCH_INSIDE naming what to measure) by the approot tool of
// the same build.
#ifndef VEXA_BENCH_ROOT_H
#define VEXA_BENCH_ROOT_H

#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "base/string/vral_string.h"

namespace vexabench {

// Keeps each benchmark's time per iteration for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> seconds;
    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &r : runs)
            seconds[r.benchmark_name()] = r.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
};

// A ratio of two sides measured in alternating rounds: each round runs
// both sides reps times, in the order flipped from round to round, and
// yields one ratio a/b; the median of those is the figure.
struct Ratio {
    double median;
    double min;
    double max;
    int n;
    double msA;  // median time of one call of each side
    double msB;
};

inline double medianOf(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n == 0 ? 0 : n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// prepare (untimed) runs before each timed call of a side, with true for a.
inline Ratio alternate(int rounds, int reps, const std::function<void()> &a, const std::function<void()> &b,
                       const std::function<void(bool)> &prepare = nullptr)
{
    using Clock = std::chrono::steady_clock;
    auto timeSide = [&](bool isA) {
        double total = 0;
        for (int i = 0; i < reps; ++i) {
            if (prepare)
                prepare(isA);
            const auto t0 = Clock::now();
            (isA ? a : b)();
            total += std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
        }
        return total / reps;
    };
    // one unmeasured round: both sides warm alike
    timeSide(true);
    timeSide(false);
    std::vector<double> ratios, as, bs;
    for (int r = 0; r < rounds; ++r) {
        double ta = 0;
        double tb = 0;
        if (r % 2 == 0) {
            ta = timeSide(true);
            tb = timeSide(false);
        } else {
            tb = timeSide(false);
            ta = timeSide(true);
        }
        ratios.push_back(ta / tb);
        as.push_back(ta);
        bs.push_back(tb);
    }
    const auto [lo, hi] = std::minmax_element(ratios.begin(), ratios.end());
    return {medianOf(ratios), *lo, *hi, rounds, medianOf(as), medianOf(bs)};
}

// "RATIO a / b = 0.123 (min-max 0.110-0.140, n=21, a 1.234 ms, b 10.1 ms,
// load 0.52 0.61 0.70) goal <= 0.1"
inline void printRatio(const char *what, const Ratio &r, const char *goal)
{
    double load[3] = {-1, -1, -1};
    getloadavg(load, 3);
    printf("RATIO %s = %.3f (min-max %.3f-%.3f, n=%d, %.3f ms / %.3f ms, load %.2f %.2f %.2f) goal %s\n", what,
           r.median, r.min, r.max, r.n, r.msA, r.msB, load[0], load[1], load[2], goal);
    fflush(stdout);
}

// Stops the program when a check of the results fails.
inline void expect(bool ok, const char *what)
{
    if (!ok) {
        fprintf(stderr, "results differ: %s\n", what);
        exit(1);
    }
}

inline void put(const std::string &layer, const std::string &inside, const std::string &text)
{
    const std::string path = layer + inside;
    for (size_t at = path.find('/', layer.size() + 1); at != std::string::npos; at = path.find('/', at + 1))
        mkdir(path.substr(0, at).c_str(), 0755);
    FILE *f = fopen(path.c_str(), "w");
    if (f == nullptr || fwrite(text.data(), 1, text.size(), f) != text.size()) {
        perror(path.c_str());
        exit(1);
    }
    fclose(f);
}

inline std::string selfPath()
{
    char b[4096];
    const ssize_t n = readlink("/proc/self/exe", b, sizeof b - 1);
    return n > 0 ? std::string(b, static_cast<size_t>(n)) : std::string();
}

// Runs this program in a root holding files (path inside -> text) and a
// world-writable /tmp: 0, or 1 when it failed.
inline int runRoot(const std::string &which, const std::map<std::string, std::string> &files)
{
    const std::string self = selfPath();
    const std::string buildDir = self.substr(0, self.rfind("/bench/"));
    std::string scratch = buildDir + "/benchtmp.XXXXXX";
    if (mkdtemp(scratch.data()) == nullptr)
        return 1;
    const std::string layer = scratch + "/layer";
    mkdir(layer.c_str(), 0755);
    for (const auto &[path, text] : files)
        put(layer, path, text);
    mkdir((layer + "/tmp").c_str(), 01777);
    chmod((layer + "/tmp").c_str(), 01777);
    const std::string cmd = VRALStrShellQuoteString(buildDir + "/tools/approot/approot") + " --dir " +
                            VRALStrShellQuoteString(scratch + "/root") + " --layer " + VRALStrShellQuoteString(layer) +
                            " --env VEXA_BENCH_INSIDE=" + which + " -- " + VRALStrShellQuoteString(self);
    const int r = system(cmd.c_str());
    if (system(("rm -rf " + VRALStrShellQuoteString(scratch)).c_str()) != 0)
        fprintf(stderr, "could not remove %s\n", scratch.c_str());
    if (r != 0)
        fprintf(stderr, "%s in the root ended with status %d\n", which.c_str(), r);
    return r == 0 ? 0 : 1;
}

}  // namespace vexabench

#endif

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

#include <cstdio>
#include <cstdlib>
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
    return r == 0 ? 0 : 1;
}

}  // namespace vexabench

#endif

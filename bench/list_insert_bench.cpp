// Sorted inserts into a string list: case order against byte order and
// against std::sort of the same names.  Prints the ratios at the end.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <iostream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "base/list/vral_list.h"

namespace {

constexpr int kNames = 50000;

// Account-like names: mostly ASCII letters and digits in mixed case, some
// with accented letters, a few in other scripts.
const std::vector<std::string> &names()
{
    static const std::vector<std::string> v = [] {
        std::mt19937 rng(2026);
        const char *pieces[] = {"a", "e", "i", "o", "u", "n", "r", "s", "t", "l", "m", "k",
                                "A", "E", "N", "R", "S", "T", "0", "1", "7", "_", "-", "."};
        const char *rare[] = {"\xC3\xA9", "\xC3\x9F", "\xC3\x96", "\xC3\xB1", "\xD0\x96", "\xE6\x97\xA5"};
        std::vector<std::string> out;
        out.reserve(kNames);
        for (int i = 0; i < kNames; ++i) {
            std::string s;
            size_t len = 4 + rng() % 12;
            for (size_t k = 0; k < len; ++k)
                s += rng() % 20 == 0 ? rare[rng() % std::size(rare)] : pieces[rng() % std::size(pieces)];
            out.push_back(s);
        }
        return out;
    }();
    return v;
}

void insertAll(benchmark::State &state, int sortMode)
{
    const auto &v = names();
    for (auto _ : state) {
        VRALSzList *p = PslVRALSzListAlloc(0);
        p->sortMode = sortMode;
        for (const auto &s : v)
            VRALSzListPush(&p, s.c_str());
        benchmark::DoNotOptimize(p->nItem);
        VRALSzListFree(p);
    }
}

void BM_ByteSortedInsert(benchmark::State &state)
{
    insertAll(state, VRAL_SZLIST_SORT_BYTE);
}

void BM_CaseSortedInsert(benchmark::State &state)
{
    insertAll(state, VRAL_SZLIST_SORT_CASE);
}

void BM_StdSort(benchmark::State &state)
{
    const auto &v = names();
    for (auto _ : state) {
        std::vector<const char *> ptrs;
        ptrs.reserve(v.size());
        for (const auto &s : v)
            ptrs.push_back(s.c_str());
        std::sort(ptrs.begin(), ptrs.end(), [](const char *a, const char *b) { return strcmp(a, b) < 0; });
        benchmark::DoNotOptimize(ptrs.data());
    }
}

BENCHMARK(BM_ByteSortedInsert)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CaseSortedInsert)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StdSort)->Unit(benchmark::kMillisecond);

// Keeps each benchmark's CPU time per iteration for the ratios (the
// machine may be shared).
class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> perIteration;

    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &r : runs) {
            if (r.run_type == Run::RT_Iteration && r.iterations > 0)
                perIteration[r.benchmark_name()] = r.GetAdjustedCPUTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    auto &t = reporter.perIteration;
    const double cased = t["BM_CaseSortedInsert"], bytes = t["BM_ByteSortedInsert"], sorted = t["BM_StdSort"];
    std::cout.precision(3);
    if (cased > 0 && bytes > 0)
        std::cout << "case-sorted insert / byte-sorted insert: " << cased / bytes << "\n";
    if (cased > 0 && sorted > 0)
        std::cout << "case-sorted insert / std::sort: " << cased / sorted << "\n";
    return 0;
}

// Speed of the user listings over 50,000 local users (uids from 1024 up),
// measured inside an appliance root with the cache built:
//  - VEXALocalUserInfoEnum, VEXAUserEnum with mask 1 and VEXAUserTotalNum
//    with mask 3, each against a plain read of "/etc/passwd" split at its
//    colons into the same names and ids: goal at most 3x;
//  - the first listing after "/etc/passwd" changed (the cache rebuilt),
//    reported apart against the same scan.
// Run build/<dir>/bench/user_query_bench as root; it prints the ratios last.
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <utime.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bench_root.h"
#include "services/user/vexa_user_query.h"

namespace {

constexpr int kUsers = 50000;

void BM_LocalUserInfoEnum(benchmark::State &state)
{
    for (auto _ : state) {
        VEXALOCALUSERINFO *head = nullptr;
        if (VEXALocalUserInfoEnum(&head) != kUsers) {
            state.SkipWithError("VEXALocalUserInfoEnum failed");
            return;
        }
        VEXALocalUserInfoFree(&head);
    }
}

void BM_UserEnum(benchmark::State &state)
{
    for (auto _ : state) {
        VRALSzList *l = PslVRALSzListAlloc(512);
        if (VEXAUserEnum(&l, USER_KIND_LOCAL) != kUsers) {
            state.SkipWithError("VEXAUserEnum failed");
            return;
        }
        VRALSzListFree(l);
    }
}

void BM_UserTotalNum(benchmark::State &state)
{
    for (auto _ : state) {
        if (VEXAUserTotalNum(USER_KIND_LOCAL | USER_KIND_DOMAIN) != kUsers) {
            state.SkipWithError("VEXAUserTotalNum failed");
            return;
        }
    }
}

// The plain scan: every line cut into name, uid and gid.
void BM_PlainScan(benchmark::State &state)
{
    struct Entry {
        std::string name;
        int uid, gid;
    };
    for (auto _ : state) {
        FILE *f = fopen("/etc/passwd", "re");
        std::vector<Entry> out;
        char *line = nullptr;
        size_t cap = 0;
        while (getline(&line, &cap, f) > 0) {
            char *c1 = strchr(line, ':');
            char *c2 = c1 != nullptr ? strchr(c1 + 1, ':') : nullptr;
            char *c3 = c2 != nullptr ? strchr(c2 + 1, ':') : nullptr;
            if (c3 == nullptr)
                continue;
            const int uid = atoi(c2 + 1);
            if (uid >= 1024)
                out.push_back({std::string(line, static_cast<size_t>(c1 - line)), uid, atoi(c3 + 1)});
        }
        free(line);
        fclose(f);
        benchmark::DoNotOptimize(out.data());
    }
}

// Each timed run follows a change of "/etc/passwd": the listing rebuilds.
void BM_EnumAfterChange(benchmark::State &state)
{
    long stamp = 1000000000;
    for (auto _ : state) {
        state.PauseTiming();
        const struct utimbuf t = {stamp, stamp};
        ++stamp;
        utime("/etc/passwd", &t);
        state.ResumeTiming();
        VEXALOCALUSERINFO *head = nullptr;
        if (VEXALocalUserInfoEnum(&head) != kUsers) {
            state.SkipWithError("VEXALocalUserInfoEnum failed");
            return;
        }
        VEXALocalUserInfoFree(&head);
    }
}

int inside(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    VRALSzList *l = PslVRALSzListAlloc(512);
    VEXAUserEnum(&l, USER_KIND_LOCAL);  // builds the cache
    VRALSzListFree(l);
    benchmark::RegisterBenchmark("local_user_info_enum", BM_LocalUserInfoEnum)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("user_enum_1", BM_UserEnum)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("user_total_num_3", BM_UserTotalNum)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("plain_scan", BM_PlainScan)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("enum_after_change", BM_EnumAfterChange)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(3);
    vexabench::RatioReporter rep;
    benchmark::RunSpecifiedBenchmarks(&rep);
    const double scan = rep.seconds["plain_scan"];
    printf("RATIO VEXALocalUserInfoEnum / plain scan = %.2f (goal <= 3)\n", rep.seconds["local_user_info_enum"] / scan);
    printf("RATIO VEXAUserEnum mask 1 / plain scan = %.2f (goal <= 3)\n", rep.seconds["user_enum_1"] / scan);
    printf("RATIO VEXAUserTotalNum mask 3 / plain scan = %.2f (goal <= 3)\n", rep.seconds["user_total_num_3"] / scan);
    printf("RATIO first listing after a change (rebuild) / plain scan = %.2f (apart)\n",
           rep.seconds["enum_after_change/iterations:3"] / scan);
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    if (getenv("VEXA_BENCH_INSIDE") != nullptr)
        return inside(argc, argv);
    std::string passwd = "root:x:0:0:root:/root:/bin/sh\n";
    std::string shadow = "root:!:19000:0:99999:7:::\n";
    std::string misc = "#$_@UID__INDEX@_$1024$\n";
    for (int i = 0; i < kUsers; ++i) {
        const std::string name = "user" + std::to_string(i + 1);
        passwd += name + ":x:" + std::to_string(1024 + i) + ":100::/var/services/homes/" + name + ":/bin/sh\n";
        shadow += name + ":!:19000:0:99999:7:::\n";
        misc += name + ":0:\n";
    }
    return vexabench::runRoot("query", {{"/etc/passwd", passwd},
                                        {"/etc/shadow", shadow},
                                        {"/etc/vexauser.conf", misc},
                                        {"/usr/vexa/etc/private/smbpasswd", ""},
                                        {"/etc/vexainfo.conf", "runsamba=\"no\"\ncodepage=\"utf8\"\n"},
                                        {"/etc.defaults/vexainfo.conf", "guestsupport=\"yes\"\n"},
                                        {"/usr/vexa/etc/smb.conf", "[global]\n\tsecurity = user\n"}});
}

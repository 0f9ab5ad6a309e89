// Speed of the user listings over 50,000 local users (uids from 1024 up),
// measured inside an appliance root with the cache built, each against a
// plain read of "/etc/passwd" split at its colons into the same names and
// ids, sides alternating (goal at most 2.5x):
//  - VEXALocalUserInfoEnum, VEXAUserEnum with mask 1 and VEXAUserTotalNum
//    with mask 3; their (name, uid, gid) set, names and count are checked
//    against the scan's first;
//  - the first listing after "/etc/passwd" changed (the cache rebuilt),
//    reported apart.
// Run build/<dir>/bench/user_query_bench as root; it prints the ratios.
#include <sys/stat.h>
#include <utime.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "bench_root.h"
#include "services/user/vexa_user_query.h"

namespace {

constexpr int kUsers = 50000;
constexpr int kRounds = 21;
constexpr int kReps = 3;

using Entry = std::tuple<std::string, int, int>;

// The plain scan: every line cut into name, uid and gid; the users a
// listing shows (uid 1024 and up).
std::vector<Entry> plainScan()
{
    std::vector<Entry> out;
    FILE *f = fopen("/etc/passwd", "re");
    if (f == nullptr)
        return out;
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
            out.emplace_back(std::string(line, static_cast<size_t>(c1 - line)), uid, atoi(c3 + 1));
    }
    free(line);
    fclose(f);
    return out;
}

void localUserInfoEnum()
{
    VEXALOCALUSERINFO *head = nullptr;
    vexabench::expect(VEXALocalUserInfoEnum(&head) == kUsers, "VEXALocalUserInfoEnum count");
    VEXALocalUserInfoFree(&head);
}

void userEnum()
{
    VRALSzList *l = PslVRALSzListAlloc(512);
    vexabench::expect(VEXAUserEnum(&l, USER_KIND_LOCAL) == kUsers, "VEXAUserEnum count");
    VRALSzListFree(l);
}

void userTotalNum()
{
    vexabench::expect(VEXAUserTotalNum(USER_KIND_LOCAL | USER_KIND_DOMAIN) == kUsers, "VEXAUserTotalNum");
}

void scan()
{
    vexabench::expect(plainScan().size() == kUsers, "plain scan count");
}

// Each listing's results against the scan's.
void checkEqual()
{
    const std::vector<Entry> want = plainScan();
    const std::set<Entry> wantSet(want.begin(), want.end());
    std::multiset<std::string> wantNames;
    for (const Entry &e : want)
        wantNames.insert(std::get<0>(e));

    VEXALOCALUSERINFO *head = nullptr;
    const int n = VEXALocalUserInfoEnum(&head);
    std::set<Entry> got;
    for (const VEXALOCALUSERINFO *p = head; p != nullptr; p = p->pNext)
        got.emplace(p->szName, p->uid, p->gid);
    VEXALocalUserInfoFree(&head);
    vexabench::expect(n == static_cast<int>(want.size()) && got == wantSet, "VEXALocalUserInfoEnum users");

    VRALSzList *l = PslVRALSzListAlloc(512);
    const int m = VEXAUserEnum(&l, USER_KIND_LOCAL);
    std::multiset<std::string> names;
    for (int i = 0; i < l->nItem; ++i)
        names.insert(VRALSzListItem(l, i));
    VRALSzListFree(l);
    vexabench::expect(m == static_cast<int>(want.size()) && names == wantNames, "VEXAUserEnum names");
    vexabench::expect(VEXAUserTotalNum(USER_KIND_LOCAL | USER_KIND_DOMAIN) == static_cast<int>(want.size()),
                      "VEXAUserTotalNum count");
}

int inside()
{
    userEnum();  // builds the cache
    checkEqual();
    vexabench::printRatio("VEXALocalUserInfoEnum / plain scan",
                          vexabench::alternate(kRounds, kReps, localUserInfoEnum, scan), "<= 2.5");
    vexabench::printRatio("VEXAUserEnum mask 1 / plain scan", vexabench::alternate(kRounds, kReps, userEnum, scan),
                          "<= 2.5");
    vexabench::printRatio("VEXAUserTotalNum mask 3 / plain scan",
                          vexabench::alternate(kRounds, kReps, userTotalNum, scan), "<= 2.5");
    // Before each listing "/etc/passwd" changes: the listing rebuilds.
    long stamp = 1000000000;
    const auto touch = [&](bool listing) {
        if (!listing)
            return;
        const struct utimbuf t = {stamp, stamp};
        ++stamp;
        utime("/etc/passwd", &t);
    };
    vexabench::printRatio("first listing after a change (rebuild) / plain scan",
                          vexabench::alternate(5, 1, localUserInfoEnum, scan, touch), "(apart)");
    checkEqual();
    return 0;
}

}  // namespace

int main()
{
    if (getenv("VEXA_BENCH_INSIDE") != nullptr)
        return inside();
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

// Speed of the user database, measured inside an appliance root:
//  - the build of the cache (VEXAUserDBOpen on no set) from 2,049 local
//    users and 50,000 domain users, against a bare dbopen load of the same
//    records into five files in the same order: goal at most 2x;
//  - one lookup by name (lock, open, get, close, release) of the user on
//    line 25,000 of 50,000, against getpwnam of it: goal at most 1/10.
// Run build/<dir>/bench/user_db_bench as root; it sets up the roots with
// the approot tool of the same build and prints the ratios last.
#include <benchmark/benchmark.h>
#include <db_185.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "base/lock/vral_lock.h"
#include "bench_root.h"
#include "base/string/vral_string.h"
#include "base/unicode/vral_unicode.h"
#include "services/user/vexa_user.h"

namespace {

constexpr int kFirstUid = 1024;
constexpr int kLastUid = 3072;
constexpr int kDomainUsers = 50000;
constexpr int kLookupUsers = 50000;
const char kCacheFiles[5][32] = {".name.0832", ".misc.0832", ".shadow.0832", ".smb.0832", ".uid.0832"};

std::string upper(const std::string &s)
{
    std::string u = s;
    for (char &c : u)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return u;
}

struct Record {
    std::string key;  // with its NUL where the cache keeps one
    std::string value;
};

// The account files of nUsers local users from uid 1024 on, and the
// records the build makes of them, file by file in the set's order.
struct Accounts {
    std::string passwd, shadow, vexauser, smbpasswd, domain;
    std::vector<Record> files[5];

    void add(int file, const std::string &key, const std::string &value)
    {
        files[file].push_back({key + std::string(1, '\0'), value});
    }
};

std::string uidKey(int uid)
{
    char b[7];
    snprintf(b, sizeof b, "%06d", uid);
    return b;
}

Accounts makeAccounts(int nLocal, int nDomain)
{
    Accounts a;
    a.vexauser = "#$_@UID__INDEX@_$" + std::to_string(kFirstUid + nLocal - 1) +
                 "$\n# record user misc, format \"user_name:user_privilege:user_mail\"\n";
    std::vector<std::pair<std::string, std::string>> misc, shadow, smb;
    for (int i = 0; i < nLocal; ++i) {
        const int uid = kFirstUid + i;
        const std::string name = "user" + std::to_string(i + 1);
        const std::string pw = name + ":x:" + std::to_string(uid) + ":100::/var/services/homes/" + name + ":/bin/sh";
        const std::string sh = name + ":$1$ab$0123456789012345678901:19000:0:99999:7:::";
        const std::string mi = name + ":0:";
        const std::string sm = name + ":" + std::to_string(uid) +
                               ":0123456789ABCDEF0123456789ABCDEF:FEDCBA9876543210FEDCBA9876543210:[U          ]:"
                               "LCT-5F000000:";
        a.passwd += pw + "\n";
        a.shadow += sh + "\n";
        a.vexauser += mi + "\n";
        a.smbpasswd += sm + "\n";
        a.add(0, upper(name), pw);
        a.files[4].push_back({uidKey(uid) + std::string(1, '\0'), upper(name)});
        misc.emplace_back(upper(name), mi);
        shadow.emplace_back(upper(name), sh);
        smb.emplace_back(upper(name), sm);
    }
    for (int i = 0; i < nDomain; ++i) {
        const std::string name = "DOM\\duser" + std::to_string(i + 1);
        a.domain += name + ":S-1-5-21-" + std::to_string(i) + "\n";
        a.add(0, upper(name), name + ":x:-1:-1:::");
    }
    for (const auto &[k, v] : shadow)
        a.add(2, k, v);
    for (const auto &[k, v] : misc)
        a.add(1, k, v);
    for (const auto &[k, v] : smb)
        a.add(3, k, v);
    for (Record &r : a.files[4])
        r.value.push_back('\0');
    for (int f = 0; f < 4; ++f) {
        for (Record &r : a.files[f])
            r.value.push_back('\0');
    }
    return a;
}

void removeCache(const char *prefix)
{
    for (const char *suffix : kCacheFiles)
        unlink((std::string(prefix) + suffix).c_str());
}

// ---- inside the root ---------------------------------------------------

Accounts gBuildRecords;

void BM_UserBuild(benchmark::State &state)
{
    for (auto _ : state) {
        state.PauseTiming();
        removeCache(USER_DB_PREFIX);
        state.ResumeTiming();
        VEXAUSERDB *db = VEXAUserDBOpen();
        if (db == nullptr) {
            state.SkipWithError("VEXAUserDBOpen failed");
            return;
        }
        VEXAUserDBClose(db);
    }
}

void BM_BareLoad(benchmark::State &state)
{
    const std::string prefix = "/tmp/.bare";
    for (auto _ : state) {
        state.PauseTiming();
        removeCache(prefix.c_str());
        state.ResumeTiming();
        // the set's order: name, misc, shadow, smb, uid (duplicates)
        for (int f = 0; f < 5; ++f) {
            BTREEINFO info;
            memset(&info, 0, sizeof info);
            info.flags = R_DUP;
            DB *db = dbopen((prefix + kCacheFiles[f]).c_str(), O_RDWR | O_CREAT, 0644, DB_BTREE,
                            f == 4 ? &info : nullptr);
            if (db == nullptr) {
                state.SkipWithError("dbopen failed");
                return;
            }
            for (const Record &r : gBuildRecords.files[f]) {
                DBT k{const_cast<char *>(r.key.data()), r.key.size()};
                DBT v{const_cast<char *>(r.value.data()), r.value.size()};
                db->put(db, &k, &v, 0);
            }
            db->close(db);
        }
    }
    removeCache(prefix.c_str());
}

const std::string kLookupName = "user25000";

void BM_LookupSdk(benchmark::State &state)
{
    char NAME[USER_KEY_SIZE];
    VRALUnicodeUTF8StrUpper(kLookupName.c_str(), NAME, sizeof NAME);
    VEXAUSER *u = nullptr;
    for (auto _ : state) {
        VRALFileLock(LOCK_ID_PW | LOCK_SH, 5);
        VEXAUSERDB *db = VEXAUserDBOpen();
        if (db == nullptr || VEXAUserDBGet(db, NAME, &u) != 0) {
            state.SkipWithError("lookup failed");
            return;
        }
        VEXAUserDBClose(db);
        VRALFileUnlock(LOCK_ID_PW);
    }
    VEXAUserFree(u);
}

void BM_LookupGetpwnam(benchmark::State &state)
{
    for (auto _ : state) {
        if (getpwnam(kLookupName.c_str()) == nullptr) {
            state.SkipWithError("getpwnam failed");
            return;
        }
    }
}

int inside(int argc, char **argv, const std::string &which)
{
    benchmark::Initialize(&argc, argv);
    if (which == "build") {
        gBuildRecords = makeAccounts(kLastUid - kFirstUid + 1, kDomainUsers);
        benchmark::RegisterBenchmark("user_build", BM_UserBuild)->Unit(benchmark::kMillisecond)->Iterations(5);
        benchmark::RegisterBenchmark("bare_load", BM_BareLoad)->Unit(benchmark::kMillisecond)->Iterations(5);
    } else {
        // built once, and warmed up by the framework's own first runs
        VEXAUserDBClose(VEXAUserDBOpen());
        getpwnam(kLookupName.c_str());
        benchmark::RegisterBenchmark("lookup_sdk", BM_LookupSdk)->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark("lookup_getpwnam", BM_LookupGetpwnam)->Unit(benchmark::kMicrosecond);
    }
    vexabench::RatioReporter rep;
    benchmark::RunSpecifiedBenchmarks(&rep);
    if (which == "build")
        printf("RATIO user build / bare load = %.2f (goal <= 2)\n",
               rep.seconds["user_build/iterations:5"] / rep.seconds["bare_load/iterations:5"]);
    else
        printf("RATIO lookup SDK / getpwnam = %.3f (goal <= 0.1)\n",
               rep.seconds["lookup_sdk"] / rep.seconds["lookup_getpwnam"]);
    return 0;
}

// ---- outside: the roots --------------------------------------------------

int runRoot(const std::string &which, const Accounts &a, bool domain)
{
    return vexabench::runRoot(
        which, {{"/etc/passwd", "root:x:0:0:root:/root:/bin/sh\n" + a.passwd},
                {"/etc/shadow", "root:!:19000:0:99999:7:::\n" + a.shadow},
                {"/etc/vexauser.conf", a.vexauser},
                {"/usr/vexa/etc/private/smbpasswd", a.smbpasswd},
                {"/usr/vexa/etc/private/domain_user", a.domain},
                {"/etc/vexainfo.conf", "runsamba=\"yes\"\ncodepage=\"utf8\"\n"},
                {"/usr/vexa/etc/smb.conf",
                 std::string("[global]\n\tsecurity = ") + (domain ? "domain" : "user") + "\n\tworkgroup = DOM\n"},
                {"/etc/nsswitch.conf", "passwd: files\ngroup: files\nshadow: files\n"}});
}

}  // namespace

int main(int argc, char **argv)
{
    const char *which = getenv("VEXA_BENCH_INSIDE");
    if (which != nullptr)
        return inside(argc, argv, which);
    int r = runRoot("build", makeAccounts(kLastUid - kFirstUid + 1, kDomainUsers), true);
    r |= runRoot("lookup", makeAccounts(kLookupUsers, 0), false);
    return r;
}

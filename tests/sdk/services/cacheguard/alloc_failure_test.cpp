// A failed allocation anywhere below a C entry of the account families is
// -1 (or NULL) with ERR_OUT_OF_MEMORY: no exception reaches the caller, no
// temporary file or build folder stays, and no lock stays held.  The probe
// of this folder lives here; the other files use its operations.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "base/err/vral_err.h"
#include "base/list/vral_list.h"
#include "base/lock/vral_lock.h"
#include "cacheguard_fixture.h"
#include "failcall.h"
#include "services/bdb/vexa_bdb.h"
#include "services/group/vexa_group.h"
#include "services/share/vexa_share.h"
#include "services/user/vexa_user.h"
#include "services/user/vexa_user_query.h"
#include "services/user/vexa_user_set.h"

namespace {

using guardtest::Lines;
using vexatest::probe::result;
using vexatest::probe::say;

// Files an entry's run may change, put back before each attempt so that
// every attempt starts alike.
const char *const kSources[] = {"/etc/passwd", "/etc/shadow", "/etc/vexauser.conf",
                                "/usr/vexa/etc/private/smbpasswd", "/etc/group", "/etc/group_desc",
                                "/usr/vexa/etc/smb.conf"};

void PrintTo(const struct Sweep &s, std::ostream *os);

std::string slurp(const char *path)
{
    std::string s;
    FILE *fp = fopen(path, "re");
    if (fp == nullptr)
        return s;
    char b[4096];
    size_t n;
    while ((n = fread(b, 1, sizeof b, fp)) > 0)
        s.append(b, n);
    fclose(fp);
    return s;
}

void dropSet(const std::string &prefix)
{
    for (const guardtest::LiveFile &f : guardtest::liveFiles()) {
        if (std::string(f.path).rfind(prefix, 0) == 0)
            unlink(f.path);
    }
}

// Whatever a failed call left in "/tmp" or beside the account files: build
// folders, temporary files.
std::string leftovers()
{
    std::string out;
    FILE *fp = popen("find /tmp -mindepth 1 -maxdepth 1 -type d ! -name lock; "
                     "ls -d /etc/*.tmp /etc/group_tmp /usr/vexa/etc/smb.conf.tmp "
                     "/usr/vexa/etc/private/*.tmp 2>/dev/null",
                     "re");
    char b[512];
    while (fp != nullptr && fgets(b, sizeof b, fp) != nullptr)
        out += b;
    if (fp != nullptr)
        pclose(fp);
    return out;
}

// Another process takes the three account locks exclusively at once.
bool othersCanLock()
{
    const pid_t pid = fork();
    if (pid == 0) {
        const std::string self = vexatest::probe::selfExe();
        execl("/usr/bin/env", "env", "VEXA_ROOT_PROBE=1", self.c_str(), "lockall", nullptr);
        _exit(127);
    }
    int status = 0;
    return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

struct Sweep {
    const char *name;
    const char *cold;           // every attempt starts without this set ("" none)
    bool writes;                // every attempt starts from the fixture's files
    std::function<int()> call;  // the entry's result; a pointer as 0 or -1
};

void PrintTo(const Sweep &s, std::ostream *os)
{
    *os << s.name;
}

// The records and lists an entry is called with, made before the
// allocations are armed and freed after the call.
struct Args {
    VEXAUSER *fresh = nullptr;
    VEXAUSER *anna = nullptr;
    VEXAGROUP *staff = nullptr;
    VRALSzList *list = nullptr;

    Args()
    {
        VEXAUserAlloc(&fresh, "fresh", "pw", -1, -1, "", "/var/services/homes/x", "/bin/sh", 0, "", 0);
        VEXAUserAlloc(&anna, "Anna", "", 0, 0, "", "", "", 0, "", 0);
        char admin[] = "admin";
        char annaName[] = "Anna";
        char *members[] = {admin, annaName, nullptr};
        VEXAGroupAlloc2(&staff, "staff", 65540, members);
        list = PslVRALSzListAlloc(1024);
    }
    ~Args()
    {
        VEXAUserFree(fresh);
        VEXAUserFree(anna);
        VEXAGroupFree(staff);
        VRALSzListFree(list);
    }
};
Args *gArgs = nullptr;

template <typename Db, typename Open, typename Close, typename Body>
int onOpen(Open open, Close close, Body body)
{
    Db *db = nullptr;
    {
        // the handle is opened with allocations passing
        failcall::Disarm();
        db = open();
    }
    return db == nullptr ? -2 : [&] {
        const int r = body(db);
        close(db);
        return r;
    }();
}

int userDb(const std::function<int(VEXAUSERDB *)> &body)
{
    return onOpen<VEXAUSERDB>(VEXAUserDBOpen, VEXAUserDBClose, body);
}

const std::vector<Sweep> &sweeps()
{
    static const std::vector<Sweep> all = {
        {"VEXAUserDBOpen", "/tmp/.db.user.", false, [] {
             VEXAUSERDB *db = VEXAUserDBOpen();
             VEXAUserDBClose(db);
             return db != nullptr ? 0 : -1;
         }},
        {"VEXAGroupDBOpen", "/tmp/.db.group.", false, [] {
             VEXAGROUPDB *db = VEXAGroupDBOpen();
             VEXAGroupDBClose(db);
             return db != nullptr ? 0 : -1;
         }},
        {"VEXAShareDBOpen", "/tmp/.db.vexashare.", false, [] {
             VEXASHAREDB *db = VEXAShareDBOpen();
             if (db != nullptr)
                 VEXAShareDBClose(db);
             return db != nullptr ? 0 : -1;
         }},
        {"VEXAUserDBOpenFile", "", false, [] {
             VEXAUSERDB *db = nullptr;
             const int r = VEXAUserDBOpenFile(&db, "/tmp/.db.user.other");
             VEXAUserDBClose(db);
             return r < 0 ? -1 : 0;
         }},
        {"VEXAUserDBRebuild", "", false, [] { return VEXAUserDBRebuild(); }},
        {"VEXAGroupDBRebuild", "", false, [] { return VEXAGroupDBRebuild(); }},
        {"VEXAShareDBRebuild", "", false, [] { return VEXAShareDBRebuild(); }},
        {"VEXAUserDBSet", "", true, [] {
             gArgs->fresh->uid = 1600;
             gArgs->fresh->gid = 100;
             return userDb([](VEXAUSERDB *db) { return VEXAUserDBSet(db, nullptr, 0, gArgs->fresh); });
         }},
        {"VEXAUserDBDump", "", true, [] { return userDb([](VEXAUSERDB *db) { return VEXAUserDBDump(db); }); }},
        {"VEXAUserSetPasswd", "", true, [] {
             const char *h = "$1$ab$newhashnewhashnewhash0";
             const char *l = "55555555555555555555555555555555";
             const char *t = "66666666666666666666666666666666";
             return VEXAUserSetPasswd(&gArgs->anna, &h, &l, &t, 1);
         }},
        {"VEXAUserSet", "", true, [] { return VEXAUserSet(nullptr, gArgs->fresh); }},
        {"VEXAUserGet", "", false, [] {
             VEXAUSER *u = nullptr;
             const int r = VEXAUserGet("Anna", &u);
             VEXAUserFree(u);
             return r;
         }},
        {"VEXAUserGetByUid", "", false, [] {
             VEXAUSER *u = nullptr;
             const int r = VEXAUserGetByUid(1026, &u);
             VEXAUserFree(u);
             return r;
         }},
        {"VEXAUserEnum", "", false, [] { return VEXAUserEnum(&gArgs->list, USER_KIND_LOCAL) < 0 ? -1 : 0; }},
        {"VEXAGroupGet", "", false, [] {
             VEXAGROUP *g = nullptr;
             const int r = VEXAGroupGet("staff", &g);
             VEXAGroupFree(g);
             return r;
         }},
        {"VEXAGroupSet", "", true, [] { return VEXAGroupSet("staff", gArgs->staff); }},
        {"VEXAGroupDBDump", "", true, [] {
             return onOpen<VEXAGROUPDB>(VEXAGroupDBOpen, VEXAGroupDBClose,
                                        [](VEXAGROUPDB *db) { return VEXAGroupDBDump(db); });
         }},
        {"VEXAShareGet", "", false, [] {
             VEXASHARE *s = nullptr;
             const int r = VEXAShareGet("Docs", &s);
             VEXAShareFree(s);
             return r;
         }},
        {"VEXAShareEnum", "", false, [] { return VEXAShareEnum(&gArgs->list, 0) < 0 ? -1 : 0; }},
        {"VEXAShareDBDump", "", true, [] {
             return onOpen<VEXASHAREDB>(VEXAShareDBOpen, VEXAShareDBClose,
                                        [](VEXASHAREDB *db) { return VEXAShareDBDump(db); });
         }},
    };
    return all;
}

// Fails allocation n = 1, 2, ... of the entry until none fires.  Says
// "NAME N" (the allocations failed) or what went wrong at the first bad n:
// a result other than -1 with ERR_OUT_OF_MEMORY (or 0, where the failed
// step is one whose failure is only logged), something left behind, or a
// lock another process cannot take.
void sweep(const Sweep &s)
{
    std::vector<std::string> saved;
    for (const char *p : kSources)
        saved.push_back(slurp(p));
    for (int nth = 1; nth < 2000; ++nth) {
        for (size_t i = 0; i < saved.size() && s.writes; ++i) {
            // only a file the last attempt changed: a rewrite makes every
            // set stale
            if (slurp(kSources[i]) != saved[i])
                vexatest::writeFile(kSources[i], saved[i], i == 1 || i == 3 ? 0600 : 0644);
        }
        if (s.cold[0] != '\0')
            dropSet(s.cold);
        VRALErrSetCode(0);
        Args args;
        gArgs = &args;
        int r;
        int fired;
        {
            failcall::Armed armed({.call = failcall::Call::Alloc, .nth = nth});
            r = s.call();
            fired = failcall::Fired();
        }
        const std::string left = leftovers();
        const bool locks = othersCanLock();
        if (fired == 0) {
            say(std::string(s.name) + (r == 0 && left.empty() && locks ? " " + std::to_string(nth - 1)
                                                                         : " passes with " + result("r", r) + left));
            return;
        }
        // 0: the allocation lay in a step whose failure is only logged
        const bool answered = r == 0 || (r == -1 && VRALErrGet() == ERR_OUT_OF_MEMORY);
        if (!answered || !left.empty() || !locks) {
            say(std::string(s.name) + " n=" + std::to_string(nth) + " " + result("r", r) + " left=" + left +
                " locks=" + (locks ? "free" : "held"));
            return;
        }
    }
    say(std::string(s.name) + " never ends");
}

int probe(std::vector<std::string> ops)
{
    vexatest::probe::Ops next(std::move(ops));
    while (next.more()) {
        const std::string op = next();
        if (op == "lockall") {
            return VRALFileLock(LOCK_ID_PW | LOCK_ID_GR | LOCK_ID_SMB | LOCK_EX | LOCK_NB, 0) == 0 ? 0 : 1;
        } else if (op == "open") {
            // open user|group|share: "open SET ok" or the failure's code
            const std::string set = next();
            bool ok = false;
            if (set == "user") {
                VEXAUSERDB *db = VEXAUserDBOpen();
                ok = db != nullptr;
                VEXAUserDBClose(db);
            } else if (set == "group") {
                VEXAGROUPDB *db = VEXAGroupDBOpen();
                ok = db != nullptr;
                VEXAGroupDBClose(db);
            } else {
                VEXASHAREDB *db = VEXAShareDBOpen();
                ok = db != nullptr;
                if (ok)
                    VEXAShareDBClose(db);
            }
            say("open " + set + (ok ? " ok" : " null " + vexatest::probe::hex(VRALErrGet())));
        } else if (op == "get") {
            // get user|group|share NAME: the lookup's result
            const std::string set = next();
            const std::string name = next();
            int r;
            if (set == "user") {
                VEXAUSER *u = nullptr;
                r = VEXAUserGet(name.c_str(), &u);
                VEXAUserFree(u);
            } else if (set == "group") {
                VEXAGROUP *g = nullptr;
                r = VEXAGroupGet(name.c_str(), &g);
                VEXAGroupFree(g);
            } else {
                VEXASHARE *sh = nullptr;
                r = VEXAShareGet(name.c_str(), &sh);
                VEXAShareFree(sh);
            }
            say(result("get " + set + " " + name, r));
        } else if (op == "passwd") {
            // passwd NAME HASH: a user write that dumps
            VEXAUSER *u = nullptr;
            VEXAUserAlloc(&u, next().c_str(), "", 0, 0, "", "", "", 0, "", 0);
            const std::string hash = next();
            const char *h = hash.c_str();
            const char *l = "55555555555555555555555555555555";
            const char *t = "66666666666666666666666666666666";
            say(result("passwd", VEXAUserSetPasswd(&u, &h, &l, &t, 1)));
            VEXAUserFree(u);
        } else if (op == "forge") {
            // forge NAME LINE: the record of NAME in the shadow cache, as
            // whoever runs the probe can write it
            const std::string name = next();
            const std::string line = next();
            VEXABDB *h = VEXABDbOpen("/tmp/.db.user.shadow.0832", O_RDWR, 0);
            const int r = h == nullptr ? -1
                                       : VEXABDbSet(h, name.c_str(), static_cast<int>(name.size()) + 1,
                                                    line.c_str(), static_cast<int>(line.size()) + 1);
            if (h != nullptr)
                VEXABDbClose(h);
            say(result("forge", r));
        } else if (op == "fsize") {
            // fsize BYTES: later writes beyond it fail with EFBIG
            signal(SIGXFSZ, SIG_IGN);
            const rlim_t n = static_cast<rlim_t>(vexatest::probe::num(next()));
            const struct rlimit rl = {n, n};
            say("fsize " + std::to_string(setrlimit(RLIMIT_FSIZE, &rl)));
        } else if (op == "work") {
            // work N: N rounds of opening, rebuilding and writing every set;
            // says what failed, once each
            const int rounds = vexatest::probe::num(next());
            std::vector<std::string> failed;
            auto check = [&](const std::string &what, int r) {
                const std::string line = result(what, r);
                if (r != 0 && std::find(failed.begin(), failed.end(), line) == failed.end())
                    failed.push_back(line);
            };
            for (int i = 0; i < rounds; ++i) {
                VEXAUSERDB *u = VEXAUserDBOpen();
                check("user open", u != nullptr ? 0 : -1);
                VEXAUserDBClose(u);
                VEXAGROUPDB *g = VEXAGroupDBOpen();
                check("group open", g != nullptr ? 0 : -1);
                VEXAGroupDBClose(g);
                check("user rebuild", VEXAUserDBRebuild());
                check("group rebuild", VEXAGroupDBRebuild());
                check("share rebuild", VEXAShareDBRebuild());
                Args args;
                const std::string hash = "$1$ab$round" + std::to_string(i);
                const char *h = hash.c_str();
                const char *l = "55555555555555555555555555555555";
                const char *t = "66666666666666666666666666666666";
                check("passwd", VEXAUserSetPasswd(&args.anna, &h, &l, &t, 1));
                check("group set", VEXAGroupSet("staff", args.staff));
                VEXASHAREDB *sh = VEXAShareDBOpen();
                check("share open", sh != nullptr ? 0 : -1);
                if (sh != nullptr) {
                    VEXASHARE *docs = nullptr;
                    check("share get", VEXAShareDBGet(sh, "Docs", &docs));
                    if (docs != nullptr) {
                        const std::string comment = "round " + std::to_string(i);
                        docs->szComment = const_cast<char *>(comment.c_str());
                        check("share set", VEXAShareDBSet(sh, "Docs", docs));
                        check("share dump", VEXAShareDBDump(sh));
                        VEXAShareFree(docs);
                    }
                    VEXAShareDBClose(sh);
                }
            }
            std::string out = "work";
            for (const std::string &f : failed)
                out += " [" + f + "]";
            say(out);
        } else if (op == "sweep") {
            const std::string only = next.more() ? next() : "";
            for (const Sweep &s : sweeps())
                if (only.empty() || only == s.name)
                    sweep(s);
        } else {
            say("unknown " + op);
            return 2;
        }
    }
    return 0;
}

}  // namespace

VEXATEST_ROOT_PROBE(probe)

namespace {

class AllocSweep : public guardtest::GuardRoot, public ::testing::WithParamInterface<Sweep> {};

TEST_P(AllocSweep, EveryFailedAllocationIsOutOfMemoryAndLeavesNothing)
{
    const std::string name = GetParam().name;
    const Lines said = vexatest::probe::run(app, {"sweep", name});
    ASSERT_EQ(said.size(), 1u);
    // "NAME N": N allocations failed, each as it should
    ASSERT_EQ(said[0].rfind(name + " ", 0), 0u) << said[0];
    const std::string n = said[0].substr(name.size() + 1);
    EXPECT_EQ(n.find_first_not_of("0123456789"), std::string::npos) << said[0];
}

INSTANTIATE_TEST_SUITE_P(Entries, AllocSweep, ::testing::ValuesIn(sweeps()),
                         [](const ::testing::TestParamInfo<Sweep> &p) { return std::string(p.param.name); });

}  // namespace

// The lock files under "/tmp/lock/", the guarded key write and the RAID
// support answer, inside the appliance root.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "approot.h"
#include "base/err/vral_err.h"
#include "base/lock/vral_lock.h"
#include "root_probe.h"

namespace {

using vexatest::probe::hex;
using vexatest::probe::num;
using vexatest::probe::say;

VRALLockFile *entryOf(int bit)
{
    for (VRALLockFile *e = gLockFileTable; e->bit != 0; ++e) {
        if (e->bit == bit)
            return e;
    }
    return nullptr;
}

// Operations run one after the other inside the root; each reports a line.
// Processes meet at FIFOs: "tell" blocks until another process "await"s
// the same FIFO, so a holder keeps its lock exactly until told, with no
// timing.
int probe(vexatest::probe::Ops next)
{
    while (next.more()) {
        const std::string op = next();
        if (op == "lock") {
            const int id = num(next());
            const int sec = num(next());
            VRALErrSetCode(0);
            const int r = VRALFileLock(id, sec);
            say("lock " + std::to_string(r) + " " + hex(VRALErrGet()));
        } else if (op == "unlock") {
            say("unlock " + std::to_string(VRALFileUnlock(num(next()))));
        } else if (op == "ref") {
            const VRALLockFile *e = entryOf(num(next()));
            say("ref " + std::to_string(e->refcount) + " " + (e->fp != nullptr ? "held" : "free") + " " +
                std::to_string(e->mode));
        } else if (op == "mark") {
            const std::string file = next();
            const std::string text = next();
            const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            const std::string line = text + " " + std::to_string(getpid()) + "\n";
            if (fd < 0 || write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
                return 90;
            close(fd);
        } else if (op == "tell") {
            const int fd = open(next().c_str(), O_WRONLY | O_CLOEXEC);
            if (fd < 0 || write(fd, "go\n", 3) != 3)
                return 93;
            close(fd);
        } else if (op == "await") {
            const int fd = open(next().c_str(), O_RDONLY | O_CLOEXEC);
            char c;
            while (fd >= 0 && read(fd, &c, 1) > 0) {
            }
            if (fd < 0)
                return 94;
            close(fd);
            say("seen");
        } else if (op == "paused") {
            // pauses made so far in the root, as the stand-in recorded them
            const char *log = getenv("VEXA_PAUSE_LOG");
            std::ifstream in(log != nullptr ? log : "");
            int n = 0;
            for (std::string line; std::getline(in, line);)
                ++n;
            say("paused " + std::to_string(n));
        } else if (op == "childtry") {
            // another process's view of the same lock
            const int id = num(next());
            const pid_t pid = fork();
            if (pid == 0) {
                VRALFileLockCloseAll();
                const int got = VRALFileLock(id, 0);
                approot::flushCoverage();
                _exit(got == 0 ? 0 : 1);
            }
            int st = 0;
            waitpid(pid, &st, 0);
            say(std::string("child ") + (WIFEXITED(st) && WEXITSTATUS(st) == 0 ? "got" : "refused"));
        } else if (op == "checkdir") {
            VRALErrSetCode(0);
            const int r = VRALFileLockCheckDir();
            say("checkdir " + std::to_string(r) + " " + hex(VRALErrGet()));
        } else if (op == "setinfo") {
            const std::string k = next();
            const std::string v = next();
            VRALErrSetCode(0);
            const int r = VEXAINFOSetKeyValue(k.c_str(), v.c_str());
            say("setinfo " + std::to_string(r) + " " + hex(VRALErrGet()));
        } else if (op == "supportraid") {
            say("supportraid " + std::to_string(VEXAIsSupportRaid()));
        } else if (op == "write") {
            const std::string file = next();
            std::ofstream(file) << next() << "\n";
        } else if (op == "rmtree") {
            const std::string dir = next();
            const std::string cmd = "/bin/rm -rf " + vexatest::shellQuote(dir);
            if (system(cmd.c_str()) != 0)
                return 91;
        } else {
            say("unknown " + op);
            return 92;
        }
    }
    return 0;
}

VEXATEST_ROOT_PROBE(probe)

using Lines = std::vector<std::string>;

class LockRoot : public ::testing::Test {
protected:
    approot::Appliance app{"lock"};

    Lines run(const Lines &ops) { return vexatest::probe::run(app, ops); }
    // Runs shell text inside the root; PROBE stands for the probe command,
    // QUIET for one whose report is not wanted.  The FIFOs /tmp/held,
    // /tmp/go, /tmp/gate and /tmp/paused are there for the processes to
    // meet at.
    approot::RunResult shell(const std::string &text)
    {
        const std::string self = vexatest::probe::command();
        std::string t = "/usr/bin/mkfifo /tmp/held /tmp/go /tmp/gate /tmp/paused 2>/dev/null\n";
        for (size_t pos = 0; pos < text.size();) {
            if (text.compare(pos, 5, "PROBE") == 0) {
                t += self;
                pos += 5;
            } else if (text.compare(pos, 5, "QUIET") == 0) {
                t += ">/dev/null " + self;
                pos += 5;
            } else {
                t += text[pos++];
            }
        }
        return app.run({"/bin/sh", "-c", t});
    }
    // The reports of several processes, in no particular order.
    Lines shellSaid(const std::string &text)
    {
        const approot::RunResult r = shell(text);
        EXPECT_EQ(r.status, 0) << r.err;
        Lines said = vexatest::probe::said(r.out);
        std::sort(said.begin(), said.end());
        return said;
    }
};

// Every pause of the lock is one round's 50 ms.
Lines rounds(size_t n)
{
    return Lines(n, "usleep 0.050000000");
}

const char *const kLockNames[] = {
    "lock_vexainfo", "lock_pw",      "lock_gr",      "lock_rc",       "lock_host",     "lock_smb",
    "lock_exports",  "lock_nw",      "lock_apple",   "lock_snmp",     "lock_win",      "lock_tapebkp",
    "lock_connect",  "lock_usbidmap", "lock_duseruid", "lock_dusergid", "lock_fstab", "lock_hotswap",
};

}  // namespace

TEST(LockTable, EighteenEntriesInLockOrder)
{
    const int bits[] = {0x800, 0x10,    0x20,    0x80,    0x100,   0x40,     0x200,    0x400,    0x1000,
                        0x2000, 0x4000, 0x8000, 0x10000, 0x20000, 0x40000, 0x80000, 0x100000, 0x200000};
    for (int i = 0; i < LOCK_FILE_COUNT; ++i) {
        EXPECT_EQ(gLockFileTable[i].bit, bits[i]) << i;
        EXPECT_EQ(std::string(gLockFileTable[i].path), std::string("/tmp/lock/") + kLockNames[i]) << i;
        EXPECT_EQ(gLockFileTable[i].fp, nullptr);
    }
    EXPECT_EQ(gLockFileTable[LOCK_FILE_COUNT].bit, 0);
    EXPECT_STREQ(gLockFileTable[LOCK_FILE_COUNT].path, "");
}

TEST_F(LockRoot, FirstLockCreatesTheFolderAndEveryFile)
{
    ASSERT_FALSE(app.exists("/tmp/lock"));
    EXPECT_EQ(run({"lock", "0x15", "5", "unlock", "0x10"}), (Lines{"lock 0 0x0000", "unlock 0"}));
    const approot::RunResult r = app.run({"/usr/bin/stat", "-c", "%a %F", "/tmp/lock"});
    EXPECT_EQ(r.out, "755 directory\n");
    for (const char *name : kLockNames) {
        EXPECT_TRUE(app.exists(std::string("/tmp/lock/") + name)) << name;
        EXPECT_EQ(app.readFile(std::string("/tmp/lock/") + name), "") << name;
    }
}

TEST_F(LockRoot, RemovedFolderComesBackAndAHeldLockSurvives)
{
    EXPECT_EQ(run({"lock", "0x16", "5", "rmtree", "/tmp/lock", "checkdir", "ref", "0x10", "unlock", "0x10"}),
              (Lines{"lock 0 0x0000", "checkdir 0 0x0000", "ref 1 held 6", "unlock 0"}));
    for (const char *name : kLockNames)
        EXPECT_TRUE(app.exists(std::string("/tmp/lock/") + name)) << name;
}

TEST_F(LockRoot, ExistingLockFilesAreNotTruncated)
{
    app.writeFile("/tmp/lock/lock_pw", "keep\n");
    run({"lock", "0x15", "0", "unlock", "0x10"});
    EXPECT_EQ(app.readFile("/tmp/lock/lock_pw"), "keep\n");
}

TEST_F(LockRoot, ReferenceCountsReleaseOnlyAtTheLastUnlock)
{
    const Lines out = run({"lock", "0x15", "5", "lock", "0x15", "5", "ref", "0x10", "unlock", "0x10", "ref", "0x10",
                           "childtry", "0x16", "unlock", "0x10", "ref", "0x10", "childtry", "0x16"});
    EXPECT_EQ(out, (Lines{"lock 0 0x0000", "lock 0 0x0000", "ref 2 held 5", "unlock 0", "ref 1 held 5",
                          "child refused", "unlock 0", "ref 0 free 5", "child got"}));
}

TEST_F(LockRoot, SharedIsNeverTurnedIntoExclusive)
{
    EXPECT_EQ(run({"lock", "0x15", "5", "lock", "0x16", "5", "ref", "0x10", "unlock", "0x10", "ref", "0x10"}),
              (Lines{"lock 0 0x0000", "lock -1 0x0400", "ref 1 held 5", "unlock 0", "ref 0 free 5"}));
    // held exclusively, a shared request counts the exclusive lock again
    EXPECT_EQ(run({"lock", "0x16", "5", "lock", "0x15", "5", "ref", "0x10", "childtry", "0x15"}),
              (Lines{"lock 0 0x0000", "lock 0 0x0000", "ref 2 held 6", "child refused"}));
}

TEST_F(LockRoot, AllOrNothingAcrossSeveralFiles)
{
    // another process holds only lock_smb: a request for pw, gr and smb
    // keeps neither of the others
    const approot::RunResult r = shell(
        "QUIET lock 0x46 0 tell /tmp/held await /tmp/go unlock 0x40 &\n"
        "PROBE await /tmp/held lock 0x76 0 ref 0x10 ref 0x20 childtry 0x16 childtry 0x26 tell /tmp/go\n"
        "wait\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(vexatest::probe::said(r.out),
              (Lines{"seen", "lock -1 0x0400", "ref 0 free 6", "ref 0 free 6", "child got", "child got"}));
    EXPECT_EQ(app.pauses(), Lines{});
}

TEST_F(LockRoot, ExclusiveHoldersAreSerialised)
{
    // The waiter tells each pause on /tmp/paused and goes on when the
    // shell writes to /tmp/gate: its second pause passes only once the
    // holder has gone.
    const Lines said = shellSaid(
        "exec 3<>/tmp/gate 4<>/tmp/paused\n"
        "PROBE lock 0x806 5 mark /tmp/rec in tell /tmp/held await /tmp/go mark /tmp/rec out unlock 0x800 &\n"
        "holder=$!\n"
        "QUIET await /tmp/held\n"
        "VEXA_PAUSE_TELL=/tmp/paused VEXA_PAUSE_GATE=/tmp/gate "
        "PROBE lock 0x806 5 mark /tmp/rec in mark /tmp/rec out unlock 0x800 &\n"
        "read x <&4\n"
        "echo >&3\n"
        "read x <&4\n"
        "QUIET tell /tmp/go\n"
        "wait $holder\n"
        "echo >&3\n"
        "wait\n");
    EXPECT_EQ(said, (Lines{"lock 0 0x0000", "lock 0 0x0000", "seen", "unlock 0", "unlock 0"}));
    EXPECT_EQ(app.pauses(), rounds(2));
    std::istringstream rec(app.readFile("/tmp/rec"));
    std::vector<std::pair<std::string, std::string>> events;
    std::string what, pid;
    while (rec >> what >> pid)
        events.emplace_back(what, pid);
    ASSERT_EQ(events.size(), 4u) << app.readFile("/tmp/rec");
    for (size_t k = 0; k < events.size(); k += 2) {
        EXPECT_EQ(events[k].first, "in");
        EXPECT_EQ(events[k + 1].first, "out");
        EXPECT_EQ(events[k].second, events[k + 1].second) << "another holder came in between";
    }
}

TEST_F(LockRoot, FirstUsersAtOnceMakeTheFolderTogether)
{
    // three at once, each finding no lock folder; shared, so none waits
    const Lines said = shellSaid(
        "for n in 1 2 3; do\n"
        "  PROBE lock 0x805 0 unlock 0x800 &\n"
        "done\n"
        "wait\n");
    EXPECT_EQ(said, (Lines{"lock 0 0x0000", "lock 0 0x0000", "lock 0 0x0000", "unlock 0", "unlock 0", "unlock 0"}));
    for (const char *name : kLockNames)
        EXPECT_TRUE(app.exists(std::string("/tmp/lock/") + name)) << name;
}

TEST_F(LockRoot, SharedHoldersCoexistExclusiveOnesDoNot)
{
    // the first holds until told; the second asks while it holds
    const std::string pair =
        "PROBE lock ID 5 tell /tmp/held await /tmp/go unlock 0x800 &\n"
        "QUIET await /tmp/held\n"
        "PROBE lock ID 5 unlock 0x800 tell /tmp/go\n"
        "wait\n";
    auto run2 = [&](const std::string &id) {
        std::string t = pair;
        for (size_t p; (p = t.find("ID")) != std::string::npos;)
            t.replace(p, 2, id);
        app.clearPauses();
        return shellSaid(t);
    };
    EXPECT_EQ(run2("0x805"), (Lines{"lock 0 0x0000", "lock 0 0x0000", "seen", "unlock 0", "unlock 0"}));
    EXPECT_EQ(app.pauses(), Lines{});
    // an exclusive one is refused after its five seconds of rounds
    EXPECT_EQ(run2("0x806"), (Lines{"lock -1 0x0400", "lock 0 0x0000", "seen", "unlock 0", "unlock 0"}));
    EXPECT_EQ(app.pauses(), rounds(101));
}

TEST_F(LockRoot, BusyLockFailsAfterTheTimeoutOrAtOnceWithZero)
{
    const approot::RunResult r = shell(
        "QUIET lock 0x16 0 tell /tmp/held await /tmp/go unlock 0x10 &\n"
        "PROBE await /tmp/held lock 0x15 0 paused lock 0x15 1 paused lock 0x15 -1 paused lock 0x15 5 paused "
        "tell /tmp/go\n"
        "wait\n");
    ASSERT_EQ(r.status, 0) << r.err;
    // 0 s: one round; s seconds: 20 s + 1 rounds, each followed by a pause
    EXPECT_EQ(vexatest::probe::said(r.out),
              (Lines{"seen", "lock -1 0x0400", "paused 0", "lock -1 0x0400", "paused 21", "lock -1 0x0400",
                     "paused 21", "lock -1 0x0400", "paused 122"}));
    EXPECT_EQ(app.pauses(), rounds(122));
}

TEST_F(LockRoot, IdsWithoutTableBitsAndUnheldUnlocks)
{
    EXPECT_EQ(run({"lock", "0x6", "0", "lock", "0x400006", "0", "unlock", "0x3ffff0"}),
              (Lines{"lock 0 0x0000", "lock -1 0x0400", "unlock 0"}));
}

TEST_F(LockRoot, PlantedLinksAndFifosAreNeitherFollowedNorWaitedOn)
{
    app.mkdir("/tmp/lock", 0755);
    app.symlink("/etc/vexa_planted", "/tmp/lock/lock_pw");  // dangling: would be created
    const approot::RunResult mk = app.run({"/usr/bin/mkfifo", "/tmp/lock/lock_gr"});
    ASSERT_EQ(mk.status, 0) << mk.err;
    EXPECT_EQ(run({"checkdir", "lock", "0x15", "0"}), (Lines{"checkdir -1 0x0900", "lock -1 0x0900"}));
    EXPECT_FALSE(app.exists("/etc/vexa_planted"));

    // a link to an existing file is not locked through either
    app.run({"/bin/rm", "-f", "/tmp/lock/lock_gr"});
    app.writeFile("/etc/vexa_victim", "secret\n");
    app.run({"/bin/ln", "-sf", "/etc/vexa_victim", "/tmp/lock/lock_pw"});
    EXPECT_EQ(run({"lock", "0x15", "0"}), (Lines{"lock -1 0x0900"}));
    EXPECT_EQ(app.readFile("/etc/vexa_victim"), "secret\n");

    // once the planted entry is gone the lock file is made and taken again
    app.run({"/bin/rm", "-f", "/tmp/lock/lock_pw"});
    EXPECT_EQ(run({"lock", "0x15", "0", "unlock", "0x10"}), (Lines{"lock 0 0x0000", "unlock 0"}));
    EXPECT_EQ(app.readFile("/etc/vexa_victim"), "secret\n");
}

TEST_F(LockRoot, PlantedFolderLinkIsNotFollowed)
{
    // /tmp/lock itself planted as a link to another folder: no lock file
    // is made through it
    app.mkdir("/etc/vexa_elsewhere", 0755);
    app.symlink("/etc/vexa_elsewhere", "/tmp/lock");
    EXPECT_EQ(run({"checkdir", "lock", "0x15", "0"}), (Lines{"checkdir -1 0x0C00", "lock -1 0x0C00"}));
    EXPECT_FALSE(app.exists("/etc/vexa_elsewhere/lock_pw"));
    EXPECT_FALSE(app.exists("/etc/vexa_elsewhere/lock_vexainfo"));
}

TEST_F(LockRoot, KeyWriteUnderTheLock)
{
    app.writeFile("/etc/vexainfo.conf", "a=\"1\"\nsupportMTU=\"no\"\n");
    EXPECT_EQ(run({"setinfo", "supportMTU", "yes", "setinfo", "newkey", "v", "ref", "0x800"}),
              (Lines{"setinfo 0 0x0000", "setinfo 0 0x0000", "ref 0 free 6"}));
    EXPECT_EQ(app.readFile("/etc/vexainfo.conf"), "a=\"1\"\nsupportMTU=\"yes\"\nnewkey=\"v\"\n");

    // another holder of the lock: the write gives up after its timeout
    const approot::RunResult r = shell(
        "QUIET lock 0x806 0 tell /tmp/held await /tmp/go unlock 0x800 &\n"
        "PROBE await /tmp/held setinfo a 2 tell /tmp/go\n"
        "wait\n");
    EXPECT_EQ(vexatest::probe::said(r.out), (Lines{"seen", "setinfo -1 0x0400"}));
    EXPECT_EQ(app.pauses(), rounds(101));
    EXPECT_EQ(app.readFile("/etc/vexainfo.conf"), "a=\"1\"\nsupportMTU=\"yes\"\nnewkey=\"v\"\n");
}

TEST_F(LockRoot, RaidSupportIsReadOncePerProcess)
{
    const struct {
        const char *file;
        const char *answer;
    } cases[] = {
        {"supportraid=\"yes\"\n", "supportraid 1"},
        {"supportraid=\"YES\"\n", "supportraid 1"},
        {"supportraid=\"no\"\n", "supportraid 0"},
        {"supportraid=\"yesss\"\n", "supportraid 0"},
        {"other=\"yes\"\n", "supportraid 0"},
    };
    for (const auto &c : cases) {
        app.writeFile("/etc.defaults/vexainfo.conf", c.file);
        EXPECT_EQ(run({"supportraid"}), (Lines{c.answer})) << c.file;
    }
    app.writeFile("/etc.defaults/vexainfo.conf", "supportraid=\"yes\"\n");
    EXPECT_EQ(run({"supportraid", "write", "/etc.defaults/vexainfo.conf", "supportraid=\"no\"", "supportraid"}),
              (Lines{"supportraid 1", "supportraid 1"}));
    app.run({"/bin/rm", "-f", "/etc.defaults/vexainfo.conf"});
    EXPECT_EQ(run({"supportraid"}), (Lines{"supportraid 0"}));
}

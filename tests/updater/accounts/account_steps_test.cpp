// The account steps after the flash write, each on its own inside the
// appliance root with the real SDK beneath: copies of local accounts that
// use the FTP service's names, the fixed system entries, the home folders in
// /etc/passwd, /etc/vexauser.conf and the mail server's accounts.
#include <gtest/gtest.h>

#include <strings.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "../../sdk/services/log/log_reader.h"
#include "../../sdk/services/user/user_fixture.h"
#include "failcall.h"
#include "services/user/vexa_user_set.h"
#include "updt_accounts.h"

namespace {

using usertest::Lines;
using vexatest::probe::say;


int probe(vexatest::probe::Ops next)
{
    while (next.more()) {
        const std::string op = next();
        if (op == "ftp") {
            say("ftp " + std::to_string(AddFtpAccounts()));
        } else if (op == "copy") {
            const std::string name = next();
            say("copy " + std::to_string(CopyReservedNameUser(name.c_str())));
        } else if (op == "homes") {
            say("homes " + std::to_string(RewritePasswdHomes()));
        } else if (op == "userconf") {
            say("userconf " + std::to_string(RewriteUserConf()));
        } else if (op == "mail") {
            say("mail " + std::to_string(AddMailAccounts()));
        } else if (op == "failrename") {
            // from the nth rename onto a path under the prefix, times renames fail (0: all)
            const std::string prefix = next();
            const int nth = atoi(next().c_str());
            failcall::Arm({.call = failcall::Call::Rename, .pathPrefix = prefix, .nth = nth,
                           .times = atoi(next().c_str())});
        } else if (op == "fired") {
            say("fired " + std::to_string(failcall::Fired()));
            failcall::Disarm();
        } else if (op == "adduser") {
            // a user added by the SDK, as the user interface adds one
            VEXAUSER *u = nullptr;
            const std::string name = next();
            int r = VEXAUserAlloc(&u, name.c_str(), "pw", -1, 100, "", nullptr, nullptr, 0, nullptr, 0);
            if (r == 0) {
                u->szHome = nullptr;
                u->szShell = nullptr;
                u->szMail = nullptr;
                r = VEXAUserSet(nullptr, u);
            }
            VEXAUserFree(u);
            say("adduser " + std::to_string(r));
        } else if (op == "failfsync") {
            // the nth fsync of a file under the prefix fails once
            const std::string prefix = next();
            failcall::Arm({.call = failcall::Call::Fsync, .pathPrefix = prefix, .nth = atoi(next().c_str())});
        } else if (op == "failalloc") {
            // the nth allocation fails once
            failcall::Arm({.call = failcall::Call::Alloc, .nth = atoi(next().c_str())});
        } else if (op == "fired") {
            say("fired " + std::to_string(failcall::Fired()));
            failcall::Disarm();
        } else {
            return 92;
        }
    }
    return 0;
}

VEXATEST_ROOT_PROBE(probe)

constexpr char kSmbpasswd[] = "/usr/vexa/etc/private/smbpasswd";

std::string smbLine(const std::string &name, int uid, const std::string &lm, const std::string &nt)
{
    return name + ":" + std::to_string(uid) + ":" + lm + ":" + nt + ":[U          ]:LCT-5F000000:\n";
}

class AccountSteps : public usertest::UserRoot {
protected:
    void SetUp() override
    {
        UserRoot::SetUp();
        // the system's databases are the root's own files
        app.writeFile("/etc/nsswitch.conf", "passwd: files\ngroup: files\nshadow: files\n");
        app.writeFile("/etc/group", "root:x:0:\nusers:x:100:\nsmmsp:x:25:\n");
        app.writeFile("/etc/group_desc", "");
        app.mkdir("/var/log");
    }
    // Adds users to the base accounts: passwd line, shadow hash, smbpasswd
    // hashes (none when lm is empty).
    struct Extra {
        std::string name;
        int uid;
        std::string hash = "!";
        std::string lm = {};
        std::string nt = {};
    };
    usertest::Accounts with(const std::vector<Extra> &extra)
    {
        usertest::Accounts a = usertest::baseAccounts();
        for (const Extra &e : extra) {
            a.passwd += e.name + ":x:" + std::to_string(e.uid) + ":100:" + e.name + " of old:/var/services/homes/" +
                        e.name + ":/bin/sh\n";
            a.shadow += e.name + ":" + e.hash + ":19000:0:99999:7::20000:\n";
            if (!e.lm.empty())
                a.smbpasswd += smbLine(e.name, e.uid, e.lm, e.nt);
        }
        writeAccounts(a);
        return a;
    }
    std::string file(const std::string &path) { return vexatest::probe::readOr(app, path, "<missing>"); }
    // The line of name in a ":" file, "" when there is none.
    std::string lineOf(const std::string &path, const std::string &name)
    {
        for (const std::string &l : vexatest::splitLines(file(path)))
            if (l.rfind(name + ":", 0) == 0)
                return l;
        return "";
    }
    // "event old new" of every account event in the system's event log.
    Lines events()
    {
        if (!app.exists("/var/log/vexasys.log"))
            return {};
        const logtest::Log log = logtest::readLog(app.readFile("/var/log/vexasys.log"));
        EXPECT_EQ(log.error, "");
        Lines out;
        for (const logtest::Record &r : log.records) {
            char ev[16];
            snprintf(ev, sizeof ev, "0x%08X", r.event);
            out.push_back(std::string(ev) + " " + r.texts[0] + " " + r.texts[1] + " [" + r.texts[2] + "][" +
                          r.texts[3] + "] level " + std::to_string(r.level));
        }
        return out;
    }
};

const std::string kLm = "0123456789ABCDEF0123456789ABCDEF";
const std::string kNt = "89ABCDEF0123456789ABCDEF01234567";

// ---- FTP accounts ---------------------------------------------------------

TEST_F(AccountSteps, LocalFtpUserCopiedToFirstFreeNameWithItsHashes)
{
    const std::string hash = usertest::md5("secret", "ft");
    with({{.name = "ftp", .uid = 1030, .hash = hash, .lm = kLm, .nt = kNt},
          {.name = "ftp1", .uid = 1031},
          {.name = "ftp2", .uid = 1032}});
    const std::string oldFtp = lineOf("/etc/passwd", "ftp");
    EXPECT_EQ(run({"ftp"}), (Lines{"ftp 0"}));

    // a new uid, the users group, the old description, the writer's home
    // and shell
    const std::string copy = lineOf("/etc/passwd", "ftp3");
    EXPECT_EQ(copy, "ftp3:x:1033:100:ftp of old:/var/services/homes/ftp3:/bin/csh");
    const std::string shadow = lineOf("/etc/shadow", "ftp3");
    EXPECT_EQ(shadow.substr(0, 6 + hash.size()), "ftp3:" + hash + ":") << shadow;
    EXPECT_EQ(shadow.substr(shadow.size() - 7), ":20000:") << "the old expiry: " << shadow;
    const std::string smb = lineOf(kSmbpasswd, "ftp3");
    EXPECT_NE(smb.find(":" + kLm + ":" + kNt + ":"), std::string::npos) << smb;
    EXPECT_EQ(events(), (Lines{"0x11800E02 ftp ftp3 [ ][ ] level 1"}));
    // the old user stays, so no system ftp line is added; anonymous is
    EXPECT_EQ(lineOf("/etc/passwd", "ftp"), oldFtp);
    EXPECT_EQ(vexatest::splitLines(file("/etc/passwd"))[0],
              "anonymous:x:21:21:Anonymous FTP User:/nonexist:/sbin/nologin");
    EXPECT_EQ(vexatest::splitLines(file("/etc/shadow"))[0], "anonymous:*:10933:0:99999:7:::");
}

TEST_F(AccountSteps, NameKnownInAnyLetterCaseIsTaken)
{
    // "Ftp3" is no name getpwnam knows as ftp3, but the SDK's is
    const usertest::Accounts a = with({{.name = "ftp", .uid = 1030, .hash = usertest::md5("x", "ab"), .lm = kLm,
                                        .nt = kNt},
                                       {.name = "ftp1", .uid = 1031},
                                       {.name = "ftp2", .uid = 1032},
                                       {.name = "Ftp3", .uid = 1033, .hash = usertest::md5("o", "cd"),
                                        .lm = std::string(32, '5'), .nt = std::string(32, '6')}});
    const std::string ftp3Passwd = lineOf("/etc/passwd", "Ftp3");
    const std::string ftp3Shadow = lineOf("/etc/shadow", "Ftp3");
    const std::string ftp3Smb = lineOf(kSmbpasswd, "Ftp3");
    EXPECT_EQ(run({"copy", "ftp"}), (Lines{"copy 0"}));
    EXPECT_NE(lineOf("/etc/passwd", "ftp4"), "");
    EXPECT_EQ(lineOf("/etc/passwd", "Ftp3"), ftp3Passwd);
    EXPECT_EQ(lineOf("/etc/shadow", "Ftp3"), ftp3Shadow);
    EXPECT_EQ(lineOf(kSmbpasswd, "Ftp3"), ftp3Smb);
    EXPECT_EQ(events(), (Lines{"0x11800E02 ftp ftp4 [ ][ ] level 1"}));
}

TEST_F(AccountSteps, SystemOrMissingUserLeftAlone)
{
    struct Case {
        const char *name;
        std::vector<Extra> extra;
    };
    const Case cases[] = {
        {.name = "system ftp", .extra = {{.name = "ftp", .uid = 21}}},
        {.name = "uid 1024", .extra = {{.name = "ftp", .uid = 1024}}},
        {.name = "missing", .extra = {}},
    };
    for (const Case &c : cases) {
        const usertest::Accounts a = with(c.extra);
        EXPECT_EQ(run({"copy", "ftp"}), (Lines{"copy 0"})) << c.name;
        EXPECT_EQ(file("/etc/passwd"), a.passwd) << c.name;
        EXPECT_EQ(file("/etc/shadow"), a.shadow) << c.name;
        EXPECT_EQ(events(), Lines{}) << c.name;
    }
}

TEST_F(AccountSteps, NoFreeNameFailsTheStep)
{
    std::vector<Extra> extra = {{.name = "anonymous", .uid = 1100}};
    for (int i = 1; i <= 127; ++i)
        extra.push_back({.name = "anonymous" + std::to_string(i), .uid = 1100 + i});
    const usertest::Accounts a = with(extra);
    EXPECT_EQ(run({"ftp"}), (Lines{"ftp -1"}));
    EXPECT_EQ(file("/etc/passwd"), a.passwd);
    EXPECT_TRUE(app.syslog().back().find("Failed to add ftp user/group.") != std::string::npos);
}

TEST_F(AccountSteps, WithoutFtpEntriesTheFiveFixedLinesComeFirst)
{
    const usertest::Accounts a = with({});
    EXPECT_EQ(run({"ftp"}), (Lines{"ftp 0"}));
    EXPECT_EQ(file("/etc/group"), "ftp:x:21:nobody,ftp,nobody\nroot:x:0:\nusers:x:100:\nsmmsp:x:25:\n");
    EXPECT_EQ(file("/etc/passwd"), "ftp:x:21:21:Anonymous FTP User:/nonexist:/sbin/nologin\n"
                                   "anonymous:x:21:21:Anonymous FTP User:/nonexist:/sbin/nologin\n" +
                                       a.passwd);
    EXPECT_EQ(file("/etc/shadow"), "ftp:*:10933:0:99999:7:::\nanonymous:*:10933:0:99999:7:::\n" + a.shadow);
    // a second run finds them all
    EXPECT_EQ(run({"ftp"}), (Lines{"ftp 0"}));
    EXPECT_EQ(vexatest::splitLines(file("/etc/passwd")).size(), vexatest::splitLines(a.passwd).size() + 2);
}

TEST_F(AccountSteps, FailedShadowLineEndsTheStepKeepingWhatWasAdded)
{
    const usertest::Accounts a = with({});
    EXPECT_EQ(run({"failfsync", "/etc/shadow", "1", "ftp"}), (Lines{"ftp -1"}));
    EXPECT_EQ(file("/etc/group"), "ftp:x:21:nobody,ftp,nobody\nroot:x:0:\nusers:x:100:\nsmmsp:x:25:\n");
    EXPECT_EQ(file("/etc/passwd"), "anonymous:x:21:21:Anonymous FTP User:/nonexist:/sbin/nologin\n" + a.passwd);
    EXPECT_EQ(file("/etc/shadow"), a.shadow);
    const Lines log = app.syslog();
    ASSERT_GE(log.size(), 2u);
    EXPECT_NE(log[log.size() - 2].find("Failed to VRALFileAddLine in to /etc/shadow."), std::string::npos);
    EXPECT_NE(log.back().find("Failed to add ftp user/group."), std::string::npos);
}

TEST_F(AccountSteps, LocalFtpGroupCopiedWithItsMembers)
{
    struct Case {
        const char *name;
        std::string group;
        std::string copy;  // "" none
        Lines events;
    };
    const Case cases[] = {
        {.name = "gid 1500",
         .group = "ftp:x:1500:nobody,Anna,gone,nobody\nftp1:x:1501:\n",
         .copy = "ftp2:x:1500:Anna,gone",
         .events = {"0x11800602 ftp ftp2 [ ][ ] level 1"}},
        // a name the SDK knows in other letters is taken too
        {.name = "FTP1 in capitals",
         .group = "ftp:x:1500:Anna\nFTP1:x:1501:\n",
         .copy = "ftp2:x:1500:Anna",
         .events = {"0x11800602 ftp ftp2 [ ][ ] level 1"}},
        {.name = "gid 101", .group = "ftp:x:101:Anna\n", .copy = "", .events = {}},
    };
    for (const Case &c : cases) {
        with({});
        app.writeFile("/etc/group", "root:x:0:\nusers:x:100:\n" + c.group);
        sh("rm -f /var/log/vexasys.log");
        EXPECT_EQ(run({"ftp"}), (Lines{"ftp 0"})) << c.name;
        EXPECT_EQ(lineOf("/etc/group", c.copy.substr(0, 4)), c.copy) << c.name;
        EXPECT_EQ(events(), c.events) << c.name;
    }
}

// A failed write of the copy or of its hashes leaves no copy behind.
TEST_F(AccountSteps, FailedCopyLeavesNoAccount)
{
    struct Case {
        const char *name;
        int failingDump;  // the first dump is the new user's, the second its hashes'
    };
    const Case cases[] = {{.name = "user write fails", .failingDump = 1},
                          {.name = "hash write fails", .failingDump = 2}};
    for (const Case &c : cases) {
        with({{.name = "ftp", .uid = 1030, .hash = usertest::md5("x", "ab"), .lm = kLm, .nt = kNt}});
        sh("rm -f /var/log/vexasys.log");
        EXPECT_EQ(run({"failfsync", kSmbpasswd, std::to_string(c.failingDump), "copy", "ftp"}),
                  (Lines{"copy -1"}))
            << c.name;
        EXPECT_EQ(lineOf("/etc/passwd", "ftp1"), "") << c.name;
        EXPECT_EQ(lineOf("/etc/shadow", "ftp1"), "") << c.name;
        EXPECT_EQ(lineOf(kSmbpasswd, "ftp1"), "") << c.name;
        EXPECT_EQ(events(), Lines{}) << c.name;
        // and the SDK does not know it either
        EXPECT_EQ(run({"copy", "ftp"}), (Lines{"copy 0"})) << c.name;
        EXPECT_NE(lineOf("/etc/passwd", "ftp1"), "") << c.name;
    }
}

// Each write of the copy failing once, in the new user's dump or in its
// hashes' dump, at any of its renames: whatever of the copy reached the
// account files is taken out again, and the old user's lines stay as they
// were.
TEST_F(AccountSteps, CopyFailingAtAnyWriteLeavesNoLineOfIt)
{
    struct Case {
        std::string name = "";
        std::string prefix = "";  // the rename that fails
        int nth = 1;
    };
    std::vector<Case> cases;
    for (const char *f : {kSmbpasswd, "/etc/shadow", "/etc/passwd", "/etc/vexauser.conf"})
        for (int nth : {1, 2})
            cases.push_back({.name = std::string(f) + " dump " + std::to_string(nth), .prefix = f, .nth = nth});
    const char *files[] = {"/etc/passwd", "/etc/shadow", kSmbpasswd, "/etc/vexauser.conf"};
    for (const Case &c : cases) {
        with({{.name = "ftp", .uid = 1030, .hash = usertest::md5("x", "ab"), .lm = kLm, .nt = kNt}});
        app.writeFile("/etc/vexauser.conf", "ftp:3:\n", 0644);
        sh("rm -f /var/log/vexasys.log");
        std::vector<std::string> before;
        for (const char *f : files)
            before.push_back(lineOf(f, "ftp"));
        EXPECT_EQ(run({"failrename", c.prefix, std::to_string(c.nth), "1", "copy", "ftp", "fired"}),
                  (Lines{"copy -1", "fired 1"}))
            << c.name;
        for (size_t i = 0; i < std::size(files); ++i) {
            EXPECT_EQ(lineOf(files[i], "ftp1"), "") << c.name << " " << files[i];
            EXPECT_EQ(lineOf(files[i], "ftp"), before[i]) << c.name << " " << files[i];
        }
        EXPECT_EQ(events(), Lines{}) << c.name;
    }
}

// Until it has the old account's hashes the copy holds a password nobody
// can guess, never the empty one: seen where the hashes' write failed and
// the copy's line in that file could not be taken out either (every later
// rename onto it fails), as a kill between the two writes would leave it.
TEST_F(AccountSteps, CopyNeverHoldsTheEmptyPassword)
{
    for (const char *f : {kSmbpasswd, "/etc/shadow"}) {
        with({{.name = "ftp", .uid = 1030, .hash = usertest::md5("x", "ab"), .lm = kLm, .nt = kNt}});
        EXPECT_EQ(run({"failrename", f, "2", "0", "copy", "ftp"}), (Lines{"copy -1"})) << f;
        const std::string line = lineOf(f, "ftp1");
        ASSERT_NE(line, "") << f;
        // the LAN Manager and NT hashes of the empty password, and its
        // crypt form with the copy's own salt
        EXPECT_EQ(line.find("AAD3B435B51404EEAAD3B435B51404EE"), std::string::npos) << line;
        EXPECT_EQ(line.find("31D6CFE0D16AE931B73C59D7E0C089C0"), std::string::npos) << line;
        const size_t salt = line.find("$1$");
        if (salt != std::string::npos) {
            EXPECT_EQ(line.find(usertest::md5("", line.substr(salt + 3, 2).c_str())), std::string::npos) << line;
        }
        for (const char *other : {"/etc/passwd", "/etc/shadow", kSmbpasswd}) {
            if (std::string(other) != f) {
                EXPECT_EQ(lineOf(other, "ftp1"), "") << f << " " << other;
            }
        }
    }
}

// A fixed name held by an account in other letters ("Ftp", group "FTP",
// "Postfix"): no line of the same name is added beside it, the log names
// the account in the way, and a later write of the SDK keeps every
// account's line once.
TEST_F(AccountSteps, FixedNameHeldInOtherLettersGetsNoLine)
{
    const usertest::Accounts a = with({{.name = "Ftp", .uid = 1030, .hash = usertest::md5("x", "ab"), .lm = kLm,
                                        .nt = kNt},
                                       {.name = "Postfix", .uid = 1031}});
    app.writeFile("/etc/group", "root:x:0:\nusers:x:100:\nsmmsp:x:25:\nFTP:x:1500:\n");
    EXPECT_EQ(run({"ftp", "mail", "adduser", "zed"}), (Lines{"ftp 0", "mail 0", "adduser 0"}));
    auto count = [&](const std::string &path, const std::string &name) {
        int n = 0;
        for (const std::string &l : vexatest::splitLines(file(path)))
            n += strncasecmp(l.c_str(), (name + ":").c_str(), name.size() + 1) == 0 ? 1 : 0;
        return n;
    };
    for (const char *f : {"/etc/passwd", "/etc/shadow"}) {
        EXPECT_EQ(count(f, "ftp"), 1) << f;
        EXPECT_EQ(count(f, "postfix"), 1) << f;
        EXPECT_EQ(count(f, "anonymous"), 1) << f;
        EXPECT_EQ(count(f, "zed"), 1) << f;
    }
    EXPECT_NE(lineOf("/etc/passwd", "Ftp"), "");
    EXPECT_NE(lineOf("/etc/passwd", "Postfix"), "");
    EXPECT_EQ(count("/etc/group", "ftp"), 1);
    EXPECT_NE(lineOf("/etc/group", "FTP"), "");
    const std::string log = [&] {
        std::string all;
        for (const std::string &l : app.syslog())
            all += l + "\n";
        return all;
    }();
    EXPECT_NE(log.find("user [Ftp] holds the name [ftp], no line added."), std::string::npos) << log;
    EXPECT_NE(log.find("group [FTP] holds the name [ftp], no line added."), std::string::npos) << log;
    EXPECT_NE(log.find("user [Postfix] holds the name [postfix], no line added."), std::string::npos) << log;
}

TEST_F(AccountSteps, CopyGetsNoHomeThroughAHomesFolderSwappedForALink)
{
    // another user who can write the volume swaps the homes folder for a
    // link to "/etc/cron.d" before the update
    with({{.name = "ftp", .uid = 1030, .hash = usertest::md5("secret", "ft"), .lm = kLm, .nt = kNt}});
    app.writeFile("/usr/vexa/etc/smb.conf", "[global]\n\tsecurity = user\n[homes]\n\tpath = /volume1/homes\n");
    app.writeFile("/etc/cron.d/keep", "# kept\n", 0644);
    bindVolume();
    volumeDir("homes", 0777);
    volumeDir(".", 0777);
    const approot::RunResult plant =
        app.run({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "/bin/sh", "-c",
                 "mv /volume1/homes /volume1/old && ln -s /etc/cron.d /volume1/homes"});
    ASSERT_EQ(plant.status, 0) << plant.err;
    const std::string cron = sh("ls -ln /etc/cron.d; cat /etc/cron.d/keep");
    EXPECT_EQ(run({"copy", "ftp"}), (Lines{"copy 0"}));
    EXPECT_EQ(lineOf("/etc/passwd", "ftp1"), "ftp1:x:1031:100:ftp of old:/var/services/homes/ftp1:/bin/csh");
    EXPECT_EQ(sh("ls -ln /etc/cron.d; cat /etc/cron.d/keep"), cron);
    for (const approot::Change &c : app.changes())
        EXPECT_NE(c.path.rfind("/etc/cron.d", 0), 0u) << c.kind << " " << c.path;
    bool logged = false;
    for (const std::string &l : app.syslog())
        logged = logged || l.find("open homes folder [/volume1/homes] at [homes] failed") != std::string::npos;
    EXPECT_TRUE(logged);
}

// ---- Home folders ---------------------------------------------------------

TEST_F(AccountSteps, HomesOfLocalUsersRewritten)
{
    app.writeFile("/etc/passwd",
                  "root:x:0:0:root:/root:/bin/ash\n"
                  "sys:x:500:100::/usr/sys:/bin/false\n"
                  "admin:x:1024:100:System default user:/old/admin:/bin/sh\n"
                  "guest:x:1025:100:Guest:/nonexist:/bin/false\n"
                  "DOM\\bob:x:1200:100::/h/bob:/bin/sh\n"
                  "Anna:x:1030:100:Anna;,B:/old/Anna:/bin/sh\n"
                  "nobody:x:4294967294:100::/:/bin/false\n",
                  0600);
    EXPECT_EQ(run({"homes"}), (Lines{"homes 0"}));
    EXPECT_EQ(file("/etc/passwd"), "root:x:0:0:root:/root:/bin/ash\n"
                                   "sys:x:500:100::/usr/sys:/bin/false\n"
                                   "admin:x:1024:100:System default user:/var/services/homes/admin:/bin/sh\n"
                                   "guest:x:1025:100:Guest:/nonexist:/bin/false\n"
                                   "Anna:x:1030:100:Anna;,B:/var/services/homes/Anna:/bin/sh\n"
                                   "nobody:x:4294967294:100::/var/services/homes/nobody:/bin/false\n");
    EXPECT_EQ(sh("stat -c %a /etc/passwd"), "644\n");
}

TEST_F(AccountSteps, WalkCutShortKeepsPasswd)
{
    const std::string passwd = "root:x:0:0:root:/root:/bin/ash\n"
                               "long:x:1030:100:" +
                               std::string(5000, 'g') +
                               ":/old/long:/bin/sh\n"
                               "Anna:x:1031:100::/old/Anna:/bin/sh\n";
    app.writeFile("/etc/passwd", passwd, 0644);
    EXPECT_EQ(run({"homes"}), (Lines{"homes -1"}));
    EXPECT_EQ(file("/etc/passwd"), passwd);
    for (const approot::Change &c : app.changes())
        EXPECT_EQ(c.path.rfind("/etc/passwd", 0), std::string::npos) << c.path;
    EXPECT_TRUE(app.syslog().back().find("Rewrite /etc/passwd user home failed.") != std::string::npos);
}

// Short of memory anywhere in the rewrite: the step fails and the file is
// as it was, never a copy without one of its lines.
TEST_F(AccountSteps, HomesRewriteShortOfMemoryKeepsPasswd)
{
    const std::string passwd = "root:x:0:0:root:/root:/bin/ash\n"
                               "admin:x:1024:100:System default user:/old/admin:/bin/sh\n"
                               "Anna:x:1030:100:Anna:/old/Anna:/bin/sh\n";
    for (int nth = 1;; ++nth) {
        SCOPED_TRACE("allocation " + std::to_string(nth));
        app.writeFile("/etc/passwd", passwd, 0644);
        const Lines said = run({"failalloc", std::to_string(nth), "homes", "fired"});
        if (said == Lines{"homes 0", "fired 0"}) {
            EXPECT_EQ(file("/etc/passwd"), "root:x:0:0:root:/root:/bin/ash\n"
                                           "admin:x:1024:100:System default user:/var/services/homes/admin:/bin/sh\n"
                                           "Anna:x:1030:100:Anna:/var/services/homes/Anna:/bin/sh\n");
            EXPECT_GT(nth, 1);
            break;
        }
        EXPECT_EQ(said, (Lines{"homes -1", "fired 1"}));
        EXPECT_EQ(file("/etc/passwd"), passwd);
        ASSERT_LT(nth, 200);
    }
}

// ---- /etc/vexauser.conf ----------------------------------------------------

TEST_F(AccountSteps, UserFileWrittenAnewUnderItsHeader)
{
    struct Case {
        const char *name;
        std::string info;  // "" no key
        int privilege;
    };
    const Case cases[] = {
        {.name = "download enabled", .info = "download_enabled=\"yes\"\n", .privilege = 11},
        {.name = "in capitals", .info = "download_enabled=\"YES\"\n", .privilege = 3},
        {.name = "longer value", .info = "download_enabled=\"yess\"\n", .privilege = 3},
        {.name = "no key", .info = "", .privilege = 3},
    };
    const std::string header = "#$_@UID__INDEX@_$1030$\n"
                               "# record user misc, format \"user_name:user_privilege:user_mail\"\n";
    for (const Case &c : cases) {
        with({{.name = "Beth", .uid = 2000}, {.name = "Carl", .uid = 1027}});
        app.writeFile("/etc/vexainfo.conf", "codepage=\"utf8\"\n" + c.info);
        // gone's key is too long to read: empty, never Carl's
        app.writeFile("/etc/mail", "Carl=\"carl@x\"\nAnna=\"anna@y\"\ngone=\"" + std::string(1100, 'm') + "\"\n");
        app.writeFile("/etc/vexauser.conf", header + "admin:0:admin@x\nAnna:7:anna@x\n", 0600);
        EXPECT_EQ(run({"userconf"}), (Lines{"userconf 0"})) << c.name;
        const std::string p = std::to_string(c.privilege);
        // in the listing's (key) order; admin, guest and nomisc's
        // neighbours below 1026 are left out
        EXPECT_EQ(file("/etc/vexauser.conf"), header + "Anna:" + p + ":anna@y\nBeth:" + p + ":\nCarl:" + p +
                                                  ":carl@x\ngone:" + p + ":\nnomisc:" + p + ":\n")
            << c.name;
        EXPECT_EQ(sh("stat -c %a /etc/vexauser.conf"), "644\n") << c.name;
    }
}

TEST_F(AccountSteps, UserFileKeptWhenUsersCannotBeListed)
{
    const std::string old = "#$_@UID__INDEX@_$1030$\nadmin:0:admin@x\n";
    app.writeFile("/etc/vexauser.conf", old, 0600);
    app.writeFile("/etc/shadow", "", 0600);
    sh("rm /etc/shadow");
    EXPECT_EQ(run({"userconf"}), (Lines{"userconf -1"}));
    EXPECT_EQ(file("/etc/vexauser.conf"), old);
    for (const approot::Change &c : app.changes())
        EXPECT_EQ(c.path.rfind("/etc/vexauser.conf", 0), std::string::npos) << c.path;
}

// ---- Mail accounts -------------------------------------------------------

TEST_F(AccountSteps, MailAccountsAddedWhenMissing)
{
    const usertest::Accounts a = with({{.name = "dovecot", .uid = 143}});
    app.writeFile("/etc/group", "maildrop:x:126:\nroot:x:0:\n");
    EXPECT_EQ(run({"mail"}), (Lines{"mail 0"}));
    EXPECT_EQ(file("/etc/group"), "dovecot:x:143:dovecot\npostfix:x:125:postfix\nmaildrop:x:126:\nroot:x:0:\n");
    EXPECT_EQ(file("/etc/passwd"), "postfix:x:125:125:Postfix User:/nonexist:/sbin/nologin\n" + a.passwd);
    EXPECT_EQ(file("/etc/shadow"), "postfix:*:10933:0:99999:7:::\n" + a.shadow);
}

TEST_F(AccountSteps, FailedMailAdditionEndsTheStep)
{
    const usertest::Accounts a = with({});
    app.writeFile("/etc/group", "postfix:x:125:postfix\n");
    EXPECT_EQ(run({"failfsync", "/etc/group", "1", "mail"}), (Lines{"mail -1"}));
    EXPECT_EQ(file("/etc/group"), "postfix:x:125:postfix\n");
    EXPECT_EQ(file("/etc/passwd"), a.passwd);
    EXPECT_EQ(file("/etc/shadow"), a.shadow);
    const Lines log = app.syslog();
    ASSERT_GE(log.size(), 2u);
    EXPECT_NE(log[log.size() - 2].find("Failed to VRALFileAddLine in to /etc/group."), std::string::npos);
    EXPECT_NE(log.back().find("Create harrowin users failed."), std::string::npos);
}

}  // namespace

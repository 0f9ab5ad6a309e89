// Whole runs from an old installed build whose accounts need migrating:
// the updater copies local accounts that use the FTP service's names with
// their hashes through the real SDK, adds the system entries, rewrites the
// homes and the user file, and rolls the flash back when no copy can be
// made.  The probe of this program lives here: it builds the user cache
// and, as whoever runs it, writes a record into the cache of hashes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "../../sdk/services/log/log_reader.h"
#include "../../sdk/services/user/user_fixture.h"
#include "cache_attacker.h"
#include "e2e_fixture.h"
#include "services/user/vexa_user.h"

namespace {

// "open": the user cache as the SDK opens it; "forge NAME LINE": LINE as
// NAME's record in the cache of hashes, written with the wrapper.
int probe(std::vector<std::string> ops)
{
    vexatest::probe::Ops next(std::move(ops));
    while (next.more()) {
        const std::string op = next();
        if (op == "open") {
            VEXAUSERDB *db = VEXAUserDBOpen();
            vexatest::probe::say(db != nullptr ? "open ok" : vexatest::probe::result("open", -1));
            VEXAUserDBClose(db);
        } else if (op == "forge") {
            const std::string name = next();
            vexatest::probe::say(vexatest::probe::result("forge", vexatest::forgeShadowRecord(name, next())));
        } else {
            return 2;
        }
    }
    return 0;
}

}  // namespace

VEXATEST_ROOT_PROBE(probe)

namespace {

using Lines = std::vector<std::string>;

constexpr char kSmbpasswd[] = "/usr/vexa/etc/private/smbpasswd";
const std::string kLm = "0123456789ABCDEF0123456789ABCDEF";
const std::string kNt = "89ABCDEF0123456789ABCDEF01234567";
const std::string kMailEntries = "postfix:x:125:postfix\nmaildrop:x:126:\ndovecot:x:143:dovecot\n";

struct User {
    std::string name;
    int uid;
    std::string hash = "!";
    std::string lm = {};
    std::string nt = kNt;
    std::string home = {};  // "" an old firmware's home
};

// An appliance on installed build 200 (every account step is due) whose
// system databases are its own account files.
class AccountRun : public ::testing::Test {
protected:
    e2e::Appliance a{"normal"};
    usertest::Accounts accounts = usertest::baseAccounts();

    void SetUp() override
    {
        e2e::Installed inst;
        inst.build = 200;
        a.install(inst);
        simkernel::setUptime(a.state, 100);
        a.package({});
        a.app.writeFile("/etc/nsswitch.conf", "passwd: files\ngroup: files\nshadow: files\n");
        a.app.writeFile("/etc/vexainfo.conf", a.app.readFile("/etc/vexainfo.conf") + "codepage=\"utf8\"\n");
        a.app.writeFile("/usr/vexa/etc/smb.conf", "[global]\n\tsecurity = user\n\tworkgroup = WG\n");
        a.app.writeFile("/etc/group_desc", "");
        a.app.mkdir("/var/log");
        a.app.mkdir("/tmp", 01777);
        group("");
    }
    void add(const std::vector<User> &users)
    {
        for (const User &u : users) {
            accounts.passwd += u.name + ":x:" + std::to_string(u.uid) + ":100:" + u.name +
                               " of old:" + (u.home.empty() ? "/old/" + u.name : u.home) + ":/bin/sh\n";
            accounts.shadow += u.name + ":" + u.hash + ":19000:0:99999:7:::\n";
            if (!u.lm.empty())
                accounts.smbpasswd += u.name + ":" + std::to_string(u.uid) + ":" + u.lm + ":" + u.nt +
                                      ":[U          ]:LCT-5F000000:\n";
        }
        write();
    }
    void write()
    {
        a.app.writeFile("/etc/passwd", accounts.passwd, 0644);
        a.app.writeFile("/etc/shadow", accounts.shadow, 0600);
        a.app.writeFile("/etc/vexauser.conf", accounts.vexauser, 0644);
        a.app.writeFile(kSmbpasswd, accounts.smbpasswd, 0600);
    }
    void group(const std::string &extra)
    {
        a.app.writeFile("/etc/group", "root:x:0:\nusers:x:100:\nsmmsp:x:25:\n" + extra);
    }
    Lines lines(const std::string &path) { return vexatest::splitLines(a.app.readFile(path)); }
    std::string lineOf(const std::string &path, const std::string &name)
    {
        for (const std::string &l : lines(path))
            if (l.rfind(name + ":", 0) == 0)
                return l;
        return "";
    }
    // "event old new" of every event in the system's event log.
    Lines events()
    {
        if (!a.app.exists("/var/log/vexasys.log"))
            return {};
        const logtest::Log log = logtest::readLog(a.app.readFile("/var/log/vexasys.log"));
        EXPECT_EQ(log.error, "");
        Lines out;
        for (const logtest::Record &r : log.records) {
            char ev[16];
            snprintf(ev, sizeof ev, "0x%08X", r.event);
            out.push_back(std::string(ev) + " " + r.texts[0] + " " + r.texts[1]);
        }
        return out;
    }
};

TEST_F(AccountRun, LocalFtpAccountsCopiedHomesAndUserFileRewritten)
{
    const std::string hash = usertest::md5("ftp-secret", "fs");
    add({{.name = "sys", .uid = 500},
         {.name = "ftp", .uid = 1030, .hash = hash, .lm = kLm},
         {.name = "ftp1", .uid = 1031},
         {.name = "ftp2", .uid = 1032}});
    accounts.passwd += "DOM\\bob:x:1200:100::/h/bob:/bin/sh\n";
    write();
    group("ftp:x:1500:Anna,gone\n");

    const approot::RunResult r = a.run({});
    ASSERT_EQ(r.status, 0) << r.err;

    // the copies, with the old user's hashes
    EXPECT_EQ(lineOf("/etc/passwd", "ftp3").find("ftp3:x:"), 0u);
    EXPECT_EQ(lineOf("/etc/shadow", "ftp3").rfind("ftp3:" + hash + ":", 0), 0u) << lineOf("/etc/shadow", "ftp3");
    EXPECT_NE(lineOf(kSmbpasswd, "ftp3").find(":" + kLm + ":" + kNt + ":"), std::string::npos);
    EXPECT_EQ(lineOf("/etc/group", "ftp1"), "ftp1:x:1500:Anna,gone");
    EXPECT_EQ(events(), (Lines{"0x11800602 ftp ftp1", "0x11800E02 ftp ftp3"}));
    // the old ones stay, so only anonymous gets the system entries
    EXPECT_EQ(lineOf("/etc/group", "ftp"), "ftp:x:1500:Anna,gone");
    EXPECT_EQ(lineOf("/etc/passwd", "anonymous"), "anonymous:x:21:21:Anonymous FTP User:/nonexist:/sbin/nologin");
    EXPECT_EQ(lineOf("/etc/shadow", "anonymous"), "anonymous:*:10933:0:99999:7:::");

    // homes: 1024 and from 1026 up under the homes folder, 1025 and system
    // users keep theirs, a domain user is no line of the file
    EXPECT_EQ(lineOf("/etc/passwd", "admin"), "admin:x:1024:100:System default user:/var/services/homes/admin:/bin/sh");
    EXPECT_EQ(lineOf("/etc/passwd", "guest"), "guest:x:1025:100:Guest:/nonexist:/bin/false");
    EXPECT_EQ(lineOf("/etc/passwd", "ftp"), "ftp:x:1030:100:ftp of old:/var/services/homes/ftp:/bin/sh");
    EXPECT_EQ(lineOf("/etc/passwd", "sys"), "sys:x:500:100:sys of old:/old/sys:/bin/sh");
    EXPECT_EQ(a.app.readFile("/etc/passwd").find('\\'), std::string::npos);

    // the user file keeps a header at least as high as the copy's uid
    const Lines conf = lines("/etc/vexauser.conf");
    ASSERT_GE(conf.size(), 2u);
    ASSERT_EQ(conf[0].rfind("#$_@UID__INDEX@_$", 0), 0u) << conf[0];
    const int copyUid = std::stoi(lineOf("/etc/passwd", "ftp3").substr(7));
    EXPECT_GE(std::stoi(conf[0].substr(17)), copyUid);
    EXPECT_EQ(conf[1], "# record user misc, format \"user_name:user_privilege:user_mail\"");
    EXPECT_NE(std::find(conf.begin(), conf.end(), "ftp3:3:"), conf.end());
    EXPECT_EQ(a.statOf("/etc/vexauser.conf", "%a"), "644");

    // and the mail server's accounts
    EXPECT_EQ(lineOf("/etc/group", "maildrop"), "maildrop:x:126:");
    EXPECT_EQ(lineOf("/etc/passwd", "dovecot"), "dovecot:x:143:143:Dovecot User:/nonexist:/sbin/nologin");
}

TEST_F(AccountRun, NameTakenInOtherLetterCaseIsPassedOver)
{
    add({{.name = "ftp", .uid = 1030, .hash = usertest::md5("a", "bc"), .lm = kLm},
         {.name = "ftp1", .uid = 1031},
         {.name = "ftp2", .uid = 1032},
         {.name = "Ftp3",
          .uid = 1033,
          .hash = usertest::md5("own", "ow"),
          .lm = std::string(32, '7'),
          .home = "/var/services/homes/Ftp3"}});
    const std::string ftp3Passwd = lineOf("/etc/passwd", "Ftp3");
    const std::string ftp3Shadow = lineOf("/etc/shadow", "Ftp3");
    const std::string ftp3Smb = lineOf(kSmbpasswd, "Ftp3");

    const approot::RunResult r = a.run({});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(lineOf("/etc/passwd", "ftp4"), "");
    EXPECT_EQ(lineOf("/etc/passwd", "Ftp3"), ftp3Passwd);
    EXPECT_EQ(lineOf("/etc/shadow", "Ftp3"), ftp3Shadow);
    EXPECT_EQ(lineOf(kSmbpasswd, "Ftp3"), ftp3Smb);
    EXPECT_EQ(events(), (Lines{"0x11800E02 ftp ftp4"}));
}

TEST_F(AccountRun, WithoutFtpEntriesTheFixedLinesComeFirst)
{
    // the mail server's accounts are there already
    accounts.passwd = "postfix:x:125:125:Postfix User:/nonexist:/sbin/nologin\n"
                      "dovecot:x:143:143:Dovecot User:/nonexist:/sbin/nologin\n" + accounts.passwd;
    accounts.shadow = "postfix:*:10933:0:99999:7:::\ndovecot:*:10933:0:99999:7:::\n" + accounts.shadow;
    write();
    group(kMailEntries);

    const approot::RunResult r = a.run({});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lines("/etc/group")[0], "ftp:x:21:nobody,ftp,nobody");
    const Lines passwd = lines("/etc/passwd");
    const Lines shadow = lines("/etc/shadow");
    ASSERT_GE(passwd.size(), 2u);
    ASSERT_GE(shadow.size(), 2u);
    EXPECT_EQ(Lines(passwd.begin(), passwd.begin() + 2),
              (Lines{"ftp:x:21:21:Anonymous FTP User:/nonexist:/sbin/nologin",
                     "anonymous:x:21:21:Anonymous FTP User:/nonexist:/sbin/nologin"}));
    EXPECT_EQ(Lines(shadow.begin(), shadow.begin() + 2),
              (Lines{"ftp:*:10933:0:99999:7:::", "anonymous:*:10933:0:99999:7:::"}));
    EXPECT_EQ(events(), Lines{});
}

// A run rolled back with 17 takes out the copies it made, user and group,
// so that the retry makes each once.
TEST_F(AccountRun, ARolledBackRunTakesItsCopiesOutAndTheRetryCopiesOnce)
{
    add({{.name = "ftp", .uid = 1030, .hash = usertest::md5("s", "ab"), .lm = kLm}});
    group("ftp:x:1500:Anna\n");
    ASSERT_EQ(a.app.run({"/bin/sh", "-c", "rm -f /etc/profile && mkdir /etc/profile"}).status, 0);
    approot::RunResult r = a.run({});
    ASSERT_NO_FATAL_FAILURE(e2e::expectExit17(a, r));
    for (const char *f : {"/etc/passwd", "/etc/shadow", kSmbpasswd, "/etc/vexauser.conf", "/etc/group"})
        EXPECT_EQ(lineOf(f, "ftp1"), "") << f;
    EXPECT_NE(lineOf("/etc/passwd", "ftp"), "");

    ASSERT_EQ(a.app.run({"/bin/rmdir", "/etc/profile"}).status, 0);
    r = a.run({});
    ASSERT_EQ(r.status, 0) << r.err;
    auto count = [&](const std::string &path, const std::string &name) {
        const Lines all = lines(path);
        return std::count_if(all.begin(), all.end(), [&](const std::string &l) { return l.rfind(name + ":", 0) == 0; });
    };
    EXPECT_EQ(count("/etc/passwd", "ftp1"), 1);
    EXPECT_EQ(count("/etc/shadow", "ftp1"), 1);
    EXPECT_EQ(count("/etc/group", "ftp1"), 1);
    for (const char *f : {"/etc/passwd", "/etc/shadow", kSmbpasswd, "/etc/vexauser.conf", "/etc/group"})
        EXPECT_EQ(count(f, "ftp2"), 0) << f;
}

TEST_F(AccountRun, NoFreeNameRollsTheFlashBack)
{
    std::vector<User> users = {{.name = "anonymous", .uid = 1100}};
    for (int i = 1; i <= 127; ++i)
        users.push_back({.name = "anonymous" + std::to_string(i), .uid = 1100 + i});
    add(users);
    const std::string chipBefore = simkernel::chipBytes(a.state);

    const approot::RunResult r = a.run({});
    ASSERT_NO_FATAL_FAILURE(e2e::expectExit17(a, r));
    EXPECT_TRUE(a.syslogHas("Failed to add ftp user/group."));
    EXPECT_TRUE(simkernel::chipBytes(a.state) == chipBefore) << "the flash was not restored";
    EXPECT_FALSE(a.app.exists(a.packageDir + "/b@ckup"));
    EXPECT_EQ(lineOf("/etc/passwd", "anonymous128"), "");
}

// A whole update with its FTP copy while an unprivileged user plants, in a
// loop, at every name of the account caches in "/tmp": the update ends 0,
// the copy is made, and nothing of root's is written through a plant.
TEST_F(AccountRun, UpdateEndsWhileAUserPlantsAtEveryCacheName)
{
    const std::string hash = usertest::md5("ftp-secret", "fs");
    add({{.name = "ftp", .uid = 1030, .hash = hash, .lm = kLm}});
    a.app.writeFile("/etc/keep.db", "root's own database\n", 0600);
    a.app.setEnv("NAMES", vexatest::cacheAttackNames());
    const std::string nobody = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    const std::string script =
        nobody + "sh -c 'for n in $NAMES; do mkdir \"$n\"; done 2>/dev/null'\n" + nobody + "sh -c " +
        vexatest::shellQuote(vexatest::kCacheAttack) + " &\n" + "while [ ! -e /tmp/attacking ]; do :; done\n" +
        vexatest::shellQuote(a.packageDir + "/updater") + "\nst=$?\ntouch /tmp/stop; wait\n" +
        "echo \"@ status $st\"\n"
        "echo \"@ held $(grep -c '\\$1\\$' /tmp/held.out)\"\n"
        "echo \"@ readable $(cat /tmp/readable.out)\"\n"
        "echo \"@ keep $(stat -c '%a %u' /etc/keep.db) $(cat /etc/keep.db)\"\n"
        "echo \"@ build folders $(find /tmp -mindepth 1 -maxdepth 1 -type d -user 0 -name '.db.*.tmp.*')\"\n"
        "echo \"@ live $(cd /tmp && stat -c '%a %u %h' .db.user.name.0832 .db.user.misc.0832 .db.user.shadow.0832 "
        ".db.user.smb.0832 .db.user.uid.0832 | sort -u | tr '\\n' ' ')\"\n";
    const approot::RunResult r = a.runAs({"/bin/sh", "-c", script});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(vexatest::probe::said(r.out),
              (Lines{"status 0", "held 0", "readable ", "keep 600 0 root's own database", "build folders ",
                     "live 600 0 1 644 0 1 "}))
        << r.out << r.err;
    EXPECT_EQ(lineOf("/etc/shadow", "ftp1").rfind("ftp1:" + hash + ":", 0), 0u) << lineOf("/etc/shadow", "ftp1");
    EXPECT_EQ(lineOf("/etc/shadow", "admin"), "admin:" + usertest::md5("adm", "ad") + ":19000:0:99999:7:::");
    EXPECT_EQ(a.statOf("/etc/shadow", "%a %u"), "600 0");
}

// The old firmware leaves its caches writable by all: another user's
// record in the cache of hashes never reaches "/etc/shadow" through the
// update's FTP copy, and the caches are new files afterwards.
TEST_F(AccountRun, ForgedRecordInACacheLeftWritableIsNotDumped)
{
    const std::string hash = usertest::md5("ftp-secret", "fs");
    add({{.name = "ftp", .uid = 1030, .hash = hash, .lm = kLm}});
    EXPECT_EQ(vexatest::probe::run(a.app, {"open"}), (Lines{"open ok"}));
    const approot::RunResult prep = a.app.run({"/bin/sh", "-c",
                                               "chmod 0666 /tmp/.db.user.*.0832; stat -c %i /tmp/.db.user.*.0832"});
    ASSERT_EQ(prep.status, 0) << prep.err;
    Lines argv = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    for (const std::string &w :
         vexatest::probe::argv({"forge", "ADMIN", "admin:$1$ev$forgedforgedforged0000:19000:0:99999:7:::"}))
        argv.push_back(w);
    const approot::RunResult forged = a.app.run(argv);
    EXPECT_EQ(vexatest::probe::said(forged.out), (Lines{"forge 0"})) << forged.err;

    // The old files stay open through the update: a number freed by a
    // removed file may go to the next file made, which would pass for an
    // old cache left in place.
    const std::string script =
        "exec 3</tmp/.db.user.misc.0832 4</tmp/.db.user.name.0832 5</tmp/.db.user.shadow.0832 "
        "6</tmp/.db.user.smb.0832 7</tmp/.db.user.uid.0832\n"
        "stat -L -c '@ held %i' /proc/self/fd/3 /proc/self/fd/4 /proc/self/fd/5 /proc/self/fd/6 /proc/self/fd/7\n" +
        vexatest::shellQuote(a.packageDir + "/updater") + " 3<&- 4<&- 5<&- 6<&- 7<&-\n" +
        "echo \"@ status $?\"\n"
        "stat -c '@ live %i' /tmp/.db.user.*.0832\n";
    const approot::RunResult r = a.runAs({"/bin/sh", "-c", script});
    Lines held;
    Lines live;
    std::string status;
    for (const std::string &l : vexatest::probe::said(r.out)) {
        if (l.rfind("held ", 0) == 0)
            held.push_back(l.substr(5));
        else if (l.rfind("live ", 0) == 0)
            live.push_back(l.substr(5));
        else
            status = l;
    }
    ASSERT_EQ(status, "status 0") << r.out << r.err;
    const Lines old = vexatest::splitLines(prep.out);
    EXPECT_EQ(held, old) << "not the old files held";
    EXPECT_EQ(lineOf("/etc/shadow", "ftp1").rfind("ftp1:" + hash + ":", 0), 0u) << lineOf("/etc/shadow", "ftp1");
    EXPECT_EQ(lineOf("/etc/shadow", "admin"), "admin:" + usertest::md5("adm", "ad") + ":19000:0:99999:7:::");
    EXPECT_EQ(live.size(), 5u) << r.out;
    for (const std::string &ino : old)
        EXPECT_EQ(std::find(live.begin(), live.end(), ino), live.end()) << ino << " still there";
}

}  // namespace

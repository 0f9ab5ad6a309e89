// User writes and the dump of the four account files, inside the
// appliance root.
#include <crypt.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "user_fixture.h"

namespace {

using usertest::Lines;

class UserWrite : public usertest::UserRoot {
protected:
    time_t t0 = 0;
    time_t t1 = 0;

    Lines timedRun(const Lines &ops, bool umask0 = false)
    {
        t0 = time(nullptr);
        Lines out = umask0 ? runUmask0(ops) : run(ops);
        t1 = time(nullptr);
        return out;
    }
    // The run's clock in a written file: "LCT-<now>" and "<day>" for the
    // values of this run, "<new:PASSWORD>" for a fresh MD5-crypt hash of it.
    std::string normal(const std::string &text, const char *freshPassword = nullptr)
    {
        std::string out;
        for (const std::string &line : vexatest::splitLines(text)) {
            std::string l = line;
            const size_t lct = l.find("LCT-");
            if (lct != std::string::npos) {
                const long v = strtol(l.substr(lct + 4, 8).c_str(), nullptr, 16);
                if (v >= t0 && v <= t1)
                    l.replace(lct + 4, 8, "<now>");
            }
            const size_t c1 = l.find(':');
            const size_t c2 = c1 == std::string::npos ? c1 : l.find(':', c1 + 1);
            const size_t c3 = c2 == std::string::npos ? c2 : l.find(':', c2 + 1);
            if (c3 != std::string::npos && l.find(":0:99999:7:", c3) == c3) {
                const long day = atol(l.substr(c2 + 1, c3 - c2 - 1).c_str());
                if (day == t0 / 86400 || day == t1 / 86400)
                    l.replace(c2 + 1, c3 - c2 - 1, "<day>");
                const std::string hash = l.substr(c1 + 1, c2 - c1 - 1);
                if (freshPassword != nullptr && hash.rfind("$1$", 0) == 0 && crypt(freshPassword, hash.c_str()) == hash)
                    l.replace(c1 + 1, c2 - c1 - 1, std::string("<new:") + freshPassword + ">");
            }
            out += l + "\n";
        }
        return out;
    }
    std::string modes()
    {
        return sh("stat -c '%n %a %u %g' /etc/passwd /etc/shadow /etc/vexauser.conf "
                  "/usr/vexa/etc/private/smbpasswd");
    }
    void expectNoTemporaryFiles()
    {
        for (const approot::Change &c : app.changes())
            EXPECT_EQ(c.path.find(".tmp"), std::string::npos) << c.path;
    }
};

const char kModes[] =
    "/etc/passwd 644 0 0\n/etc/shadow 600 0 0\n/etc/vexauser.conf 640 0 0\n/usr/vexa/etc/private/smbpasswd 600 0 0\n";

TEST_F(UserWrite, WritesAndDumpGiveTheFourFilesByteForByte)
{
    const std::string admin = usertest::md5("adm", "ad");
    const Lines out = timedRun(
        {"db",
         // a new user with the default home and shell and the empty password
         "set", "-", "newbie", "", "1029", "100", "Newbie", "-", "-", "0", "n@x", "5",
         // rename of a user whose hash is no salt, password unchanged
         "set", "nomisc", "nomad", "!", "1028", "100", "-", "-", "/bin/sh", "0", "-", "0",
         // a password change keeps the salt
         "set", "anna", "Anna", "password", "1026", "100", "Anna:B;", "/var/services/homes/Anna", "/bin/sh", "20000",
         "anna@x", "7",
         // unchanged password: the old file-sharing hashes are copied
         "set", "admin", "admin", admin, "1024", "100", "Admin:new", "/var/services/homes/admin", "/bin/sh", "0",
         "admin@x", "0",
         "del", "gone", "dump"},
        true);
    EXPECT_EQ(out, (Lines{"db ok", "set 0 home=NULL shell=/bin/csh", "set 0 home=NULL shell=/bin/sh",
                          "set 0 shell=/bin/sh", "set 0 shell=/bin/sh", "del 0", "dump 0"}));
    EXPECT_EQ(app.readFile("/etc/passwd"),
              "root:x:0:0:root:/root:/bin/ash\n"
              "admin:x:1024:100:Admin;,new:/var/services/homes/admin:/bin/sh\n"
              "guest:x:1025:100:Guest:/nonexist:/bin/false\n"
              "Anna:x:1026:100:Anna;,B;;:/var/services/homes/Anna:/bin/sh\n"
              "nomad:x:1028:100::/var/services/homes/nomad:/bin/sh\n"
              "newbie:x:1029:100:Newbie:/var/services/homes/newbie:/bin/csh\n");
    EXPECT_EQ(normal(app.readFile("/etc/shadow"), ""),
              "root:" + usertest::md5("r00t", "rt") + ":19000:0:99999:7:::\n" + "admin:" + admin +
                  ":<day>:0:99999:7:::\n" + "guest:*:19000:0:99999:7:::\n" + "Anna:" +
                  usertest::md5("password", "ab") + ":<day>:0:99999:7::20000:\n" + "nomad:!:<day>:0:99999:7:::\n" +
                  "newbie:<new:>:<day>:0:99999:7:::\n");
    EXPECT_EQ(app.readFile("/etc/vexauser.conf"),
              "#$_@UID__INDEX@_$1030$\n"
              "# record user misc, format \"user_name:user_privilege:user_mail\"\n"
              "admin:0:admin@x\nguest:1:\nAnna:7:anna@x\nnomad:0:\nnewbie:5:n@x\n");
    EXPECT_EQ(normal(app.readFile("/usr/vexa/etc/private/smbpasswd")),
              "admin:1024:0123456789ABCDEF0123456789ABCDEF:FEDCBA9876543210FEDCBA9876543210:[U          ]:LCT-<now>:\n"
              "guest:1025:NO PASSWORDXXXXXXXXXXXXXXXXXXXXX:NO PASSWORDXXXXXXXXXXXXXXXXXXXXX:[U          ]:LCT-5F000000:\n"
              "Anna:1026:E52CAC67419A9A224A3B108F3FA6CB6D:8846F7EAEE8FB117AD06BDD830B7586C:[U          ]:LCT-<now>:\n"
              "newbie:1029:AAD3B435B51404EEAAD3B435B51404EE:31D6CFE0D16AE931B73C59D7E0C089C0:[U          ]:LCT-<now>:\n");
    EXPECT_EQ(modes(), kModes);
    expectNoTemporaryFiles();
    // the dump left the cache current: the next open builds nothing
    EXPECT_EQ(run({"openfile", "check"}), (Lines{"openfile 0", "check 0"}));
}

TEST_F(UserWrite, FieldsThatWouldAddLinesAreRefused)
{
    struct Case {
        const char *name;
        const char *gecos;
        const char *home;
        const char *shell;
        const char *mail;
    };
    const Case cases[] = {
        {.name = "home with a line", .gecos = "-", .home = "/x\nevil::0:0::/:/bin/sh", .shell = "-", .mail = "-"},
        {.name = "home with a colon", .gecos = "-", .home = "/x:y", .shell = "-", .mail = "-"},
        {.name = "shell with a colon", .gecos = "-", .home = "-", .shell = "/bin/sh:0", .mail = "-"},
        {.name = "gecos with CR", .gecos = "a\rb", .home = "-", .shell = "-", .mail = "-"},
        {.name = "mail with LF", .gecos = "-", .home = "-", .shell = "-", .mail = "m\n"},
    };
    Lines ops = {"db"};
    Lines want = {"db ok"};
    for (const Case &c : cases) {
        ops.insert(ops.end(), {"set", "-", "evil", "pw", "1700", "100", c.gecos, c.home, c.shell, "0", c.mail, "0"});
        want.push_back(std::string("set -1 0x0D00") + (std::string(c.home) == "-" ? " home=NULL" : "") + " shell=" +
                       (std::string(c.shell) == "-" ? "NULL" : c.shell));
    }
    ops.push_back("dump");
    want.push_back("dump 0");
    EXPECT_EQ(run(ops), want);
    EXPECT_EQ(app.readFile("/etc/passwd"), usertest::baseAccounts().passwd);
}

TEST_F(UserWrite, DeleteFloorFollowsGuestSupport)
{
    EXPECT_EQ(run({"db", "del", "admin", "del", "guest", "del", "DOM\\x", "del", "nobody"}),
              (Lines{"db ok", "del -1 0xB800", "del -1 0xB800", "del -1 0xB800", "del -1 0x1D00"}));
    app.writeFile("/etc.defaults/vexainfo.conf", "guestsupport=\"no\"\n");
    EXPECT_EQ(run({"db", "del", "admin", "del", "guest", "set", "admin", "root2", "x", "1024", "100", "-", "-", "-",
                   "0", "-", "0"}),
              (Lines{"db ok", "del -1 0xB800", "del 0", "set -1 0xB800 home=NULL shell=NULL"}));
}

TEST_F(UserWrite, BadUidLineFailsWritesAndDumpAndKeepsTheFiles)
{
    // built while sound, then an edit breaks a line: the old cache is
    // still read, but never written over the edited files
    EXPECT_EQ(run({"db"}), (Lines{"db ok"}));
    const std::string passwd = usertest::baseAccounts().passwd + "bad:x::100::/:/bin/sh\n";
    app.writeFile("/etc/passwd", passwd);
    EXPECT_EQ(run({"db", "set", "-", "newbie", "pw", "1029", "100", "-", "-", "-", "0", "-", "0", "dump"}),
              (Lines{"db ok", "set 0 home=NULL shell=/bin/csh", "dump -1 0x0900"}));
    sh("rm -f /tmp/.db.user.*");
    EXPECT_EQ(run({"db", "set", "-", "newbie", "pw", "1029", "100", "-", "-", "-", "0", "-", "0", "dump"}),
              (Lines{"db null 0x0900", "set -1 0x0D00 home=NULL shell=NULL", "dump -1 0x0D00"}));
    EXPECT_EQ(app.readFile("/etc/passwd"), passwd);
    EXPECT_EQ(app.readFile("/etc/shadow"), usertest::baseAccounts().shadow);
    for (const approot::Change &c : app.changes())
        EXPECT_EQ(c.path.rfind("/etc/", 0), std::string::npos) << c.path;
}

TEST_F(UserWrite, StaleTemporarySetIsNeverMovedIn)
{
    EXPECT_EQ(run({"db"}), (Lines{"db ok"}));
    sh("for f in name misc shadow smb uid; do mv /tmp/.db.user.$f.0832 /tmp/.db.user.tmp.$f.0832; done");
    app.writeFile("/etc/passwd", usertest::baseAccounts().passwd + "late:x:1800:100::/l:/bin/sh\n");
    EXPECT_EQ(run({"db", "exists", "late", "64", "exists", "gone", "64"}),
              (Lines{"db ok", "exists 1 late", "exists 1 gone"}));
    EXPECT_EQ(sh("ls /tmp | grep -c 'db.user.tmp' ; true"), "0\n");
}

TEST_F(UserWrite, EditInTheSecondOfADumpSurvivesTheNextDump)
{
    EXPECT_EQ(run({"db", "set", "-", "newbie", "pw", "1029", "100", "-", "-", "-", "0", "-", "0", "dump", "append",
                   "/etc/passwd", "late:x:1800:100::/l:/bin/sh", "append", "/etc/shadow", "late:!:1:0:99999:7:::",
                   "close", "db", "del", "gone", "dump"}),
              (Lines{"db ok", "set 0 home=NULL shell=/bin/csh", "dump 0", "append 0", "append 0", "db ok", "del 0",
                     "dump 0"}));
    const std::string passwd = app.readFile("/etc/passwd");
    EXPECT_NE(passwd.find("late:x:1800:100::/l:/bin/sh\n"), std::string::npos);
    EXPECT_NE(passwd.find("newbie:x:1029"), std::string::npos);
    EXPECT_EQ(passwd.find("gone:"), std::string::npos);
}

TEST_F(UserWrite, DeletingOneOfTwoUsersOfAUidKeepsTheOther)
{
    usertest::Accounts a = usertest::baseAccounts();
    a.passwd += "u1:x:2000:100::/u1:/bin/sh\nu2:x:2000:100::/u2:/bin/sh\n";
    a.shadow += "u1:!:1:0:99999:7:::\nu2:!:1:0:99999:7:::\n";
    writeAccounts(a);
    EXPECT_EQ(run({"db", "del", "u1", "dump"}), (Lines{"db ok", "del 0", "dump 0"}));
    const std::string passwd = app.readFile("/etc/passwd");
    EXPECT_EQ(passwd.find("u1:"), std::string::npos);
    EXPECT_NE(passwd.find("u2:x:2000:100::/u2:/bin/sh\n"), std::string::npos);
}

TEST_F(UserWrite, PasswordChangeWhoseHashFailsChangesNothing)
{
    app.writeFile("/etc/vexainfo.conf", "runsamba=\"yes\"\n");
    const Lines out = run({"db", "set", "anna", "Anna", "password", "1026", "100", "Anna:B;", "/var/services/homes/Anna",
                           "/bin/sh", "20000", "anna@x", "7", "get", "anna", "dump"});
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[1], "set -1 0x2000 shell=/bin/sh");
    EXPECT_EQ(out[2], "get Anna|" + usertest::md5("old", "ab") +
                          "|1026|100|Anna:B;|/var/services/homes/Anna|/bin/sh|20000|anna@x|1|7");
    EXPECT_EQ(out[3], "dump 0");
    const usertest::Accounts a = usertest::baseAccounts();
    EXPECT_EQ(app.readFile("/etc/shadow"), a.shadow);
    EXPECT_EQ(app.readFile("/usr/vexa/etc/private/smbpasswd"), a.smbpasswd);
}

TEST_F(UserWrite, NoPasswordOrHashReachesTheLog)
{
    const std::string secret = "Sekr3t-pw";
    // a broken shadow line holding only a hash is skipped, not logged
    usertest::Accounts a = usertest::baseAccounts();
    a.shadow += usertest::md5("leak", "zz") + "\n";
    writeAccounts(a);
    run({"db", "set", "-", "newbie", secret, "1029", "100", "-", "-", "-", "0", "-", "0", "set", "-", "u2",
         "bad\xff" "utf8" + secret, "1030", "100", "-", "-", "-", "0", "-", "0", "set", "nomisc", "nomisc", "!",
         "1028", "100", "-", "-", "-", "0", "-", "0", "dump"});
    const std::string shadow = app.readFile("/etc/shadow");
    const std::string smb = app.readFile("/usr/vexa/etc/private/smbpasswd");
    ASSERT_NE(smb.find("newbie:1029:"), std::string::npos);
    const std::string lm = smb.substr(smb.find("newbie:1029:") + 12, 32);
    const std::vector<std::string> log = app.syslog();
    EXPECT_FALSE(log.empty());
    for (const std::string &line : log) {
        EXPECT_EQ(line.find(secret), std::string::npos) << line;
        EXPECT_EQ(line.find("$1$"), std::string::npos) << line;
        EXPECT_EQ(line.find(lm), std::string::npos) << line;
    }
}

TEST_F(UserWrite, HashThatIsNoSaltGetsAFreshOne)
{
    EXPECT_EQ(run({"db", "set", "nomisc", "nomisc", "pw2", "1028", "100", "-", "-", "-", "0", "-", "0", "dump"}),
              (Lines{"db ok", "set 0 home=NULL shell=/bin/csh", "dump 0"}));
    const std::string shadow = app.readFile("/etc/shadow");
    const size_t at = shadow.find("nomisc:");
    ASSERT_NE(at, std::string::npos);
    const std::string hash = shadow.substr(at + 7, shadow.find(':', at + 7) - at - 7);
    EXPECT_EQ(hash.rfind("$1$", 0), 0u) << hash;
    EXPECT_EQ(crypt("pw2", hash.c_str()), hash);
}

}  // namespace

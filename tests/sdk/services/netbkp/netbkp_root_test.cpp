// Network-backup accounts in both rsync files, inside the appliance root,
// with a stand-in rsync service script that notes how it was called.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "approot.h"
#include "root_probe.h"
#include "rsync_oracle.h"
#include "services/netbkp/vexa_netbkp.h"

namespace {

using vexatest::probe::orNull;
using vexatest::probe::num;
using vexatest::probe::readOr;
using vexatest::probe::say;
using Lines = std::vector<std::string>;

constexpr char kCalls[] = "/var/log/rsyncd.calls";


int probe(vexatest::probe::Ops next)
{
    while (next.more()) {
        const std::string op = next();
        if (op == "set") {
            const std::string o = next(), n = next(), s = next();
            const int what = num(next());
            say("set " + std::to_string(VEXANetBackupSetServerPasswd(orNull(o), orNull(n), orNull(s), what)));
        } else if (op == "get") {
            const std::string name = next();
            char buf[64] = "untouched";
            const int r = VEXANetBackupGetServerPasswd(orNull(name), buf, num(next()));
            say("get " + std::to_string(r) + " " + buf);
        } else if (op == "del") {
            say("del " + std::to_string(NetBackupDelSecret(orNull(next()))));
        } else if (op == "crypt") {
            const std::string pass = next();
            char buf[32] = "untouched";
            const int r = VEXANetBkpCryptPass(orNull(pass), buf, num(next()));
            say("crypt " + std::to_string(r) + " " + buf);
        } else if (op == "reserved") {
            say("reserved " + std::to_string(VEXANetBackupIsReservedUser(orNull(next()))));
        } else if (op == "stat") {
            say(vexatest::probe::statLine(next()));
        } else {
            return 92;
        }
    }
    return 0;
}

VEXATEST_ROOT_PROBE(probe)

constexpr char kConf[] = "uid = nobody\nlock file = /var/run/rsyncd.lock\n";
constexpr char kMissing[] = "<missing>";

struct Change {
    const char *name;
    std::string conf;
    std::string secrets;  // kMissing: no file
    Lines ops;
    Lines said;
    std::string confAfter;
    std::string secretsAfter;
    std::string calls;  // what the service script got, one argument a line
};

std::vector<Change> changes()
{
    return {
        {.name = "admin_is_added_as_root",
         .conf = kConf,
         .secrets = kMissing,
         .ops = {"set", "-", "admin", "tuQ/8RzuuEul2|cGFzcw==", "1", "get", "admin", "64", "stat", SZF_RSYNCD_SECRETS},
         .said = {"set 0", "get 0 tuQ/8RzuuEul2|cGFzcw==", "stat 0 640 0:25"},
         .confAfter = std::string(kConf) + "auth users = root\nsecrets file = /etc/rsyncd.secrets\n",
         .secretsAfter = "root:tuQ/8RzuuEul2|cGFzcw==\n",
         .calls = "stop\nstart\n"},
        {.name = "other_spelling_is_listed_once_and_gets_a_line_of_its_own",
         .conf = "auth users = root, rsync\nsecrets file = /etc/rsyncd.secrets\n",
         .secrets = "rsync2:other\nrsync:old\nroot:r\n",
         .ops = {"set", "-", "RSYNC", "new", "1", "get", "rsync", "64"},
         .said = {"set 0", "get 0 old"},
         .confAfter = "auth users = root, rsync\nsecrets file = /etc/rsyncd.secrets\n",
         .secretsAfter = "rsync2:other\nrsync:old\nroot:r\nRSYNC:new\n",
         .calls = "stop\nstart\n"},
        {.name = "add_replaces_the_line_of_the_account",
         .conf = "auth users = root, rsync\nsecrets file = /etc/rsyncd.secrets\n",
         .secrets = "rsync2:other\nrsync:old\nroot:r\n",
         .ops = {"set", "-", "rsync", "new", "1", "get", "rsync", "64", "get", "rsync2", "64", "stat",
                 SZF_RSYNCD_SECRETS},
         .said = {"set 0", "get 0 new", "get 0 other", "stat 0 640 0:25"},
         .confAfter = "auth users = root, rsync\nsecrets file = /etc/rsyncd.secrets\n",
         .secretsAfter = "rsync2:other\nrsync:new\nroot:r\n",
         .calls = "stop\nstart\n"},
        {.name = "rename_replaces_entry_and_line",
         .conf = "auth users = rsync,guest\nsecrets file = /etc/rsyncd.secrets\n",
         .secrets = "rsync2:b\nrsync:a\n",
         .ops = {"set", "rsync", "root", "s", "2", "get", "root", "64"},
         .said = {"set 0", "get 0 s"},
         .confAfter = "auth users = root,guest\nsecrets file = /etc/rsyncd.secrets\n",
         .secretsAfter = "rsync2:b\nroot:s\n",
         .calls = "stop\nstart\n"},
        {.name = "rename_drops_an_older_line_of_the_new_name",
         .conf = "auth users = rsync\nsecrets file = /etc/rsyncd.secrets\n",
         .secrets = "root:stale\nrsync:a\n",
         .ops = {"set", "rsync", "admin", "s", "2", "get", "root", "64"},
         .said = {"set 0", "get 0 s"},
         .confAfter = "auth users = root\nsecrets file = /etc/rsyncd.secrets\n",
         .secretsAfter = "root:s\n",
         .calls = "stop\nstart\n"},
        {.name = "unlisted_delete_keeps_the_list_and_drops_the_line",
         .conf = "auth users = root\nsecrets file = /etc/rsyncd.secrets\n",
         .secrets = "rsync2:b\nrsync:a\nroot:r\n",
         .ops = {"set", "rsync", "-", "-", "3"},
         .said = {"set 0"},
         .confAfter = "auth users = root\nsecrets file = /etc/rsyncd.secrets\n",
         .secretsAfter = "rsync2:b\nroot:r\n",
         .calls = "stop\nstart\n"},
        {.name = "delete_compares_names_without_blanks",
         .conf = "auth users = \"root,\trsync \"\nsecrets file = /etc/rsyncd.secrets\n",
         .secrets = "rsync:a\n",
         .ops = {"set", "rsync", "-", "-", "3"},
         .said = {"set 0"},
         .confAfter = "auth users = root\nsecrets file = /etc/rsyncd.secrets\n",
         .secretsAfter = "",
         .calls = "stop\nstart\n"},
        {.name = "delete_without_list_adds_none",
         .conf = kConf,
         .secrets = "rsync:a\n",
         .ops = {"set", "rsync", "-", "-", "3"},
         .said = {"set 0"},
         .confAfter = std::string(kConf) + "secrets file = /etc/rsyncd.secrets\n",
         .secretsAfter = "",
         .calls = "stop\nstart\n"},
        {.name = "indented_list_is_rewritten_in_place",
         .conf = "[backup]\n\tauth users = root\n\tpath = /volume1\n#secrets file = /etc/rsyncd.secrets\n",
         .secrets = "root:r\n",
         .ops = {"set", "-", "rsync", "x", "1"},
         .said = {"set 0"},
         .confAfter = "[backup]\n\tauth users = root,rsync\n\tpath = /volume1\n#secrets file = /etc/rsyncd.secrets\n"
                      "secrets file = /etc/rsyncd.secrets\n",
         .secretsAfter = "root:r\nrsync:x\n",
         .calls = "stop\nstart\n"},
        {.name = "indented_comments_are_not_the_lines",
         .conf = "[backup]\n\t# auth users = nobody\n\tauth users = root\n ;secrets file = /etc/rsyncd.secrets\n"
                 "\t# secrets file = /etc/rsyncd.secrets\n",
         .secrets = "root:r\n",
         .ops = {"set", "-", "rsync", "x", "1"},
         .said = {"set 0"},
         .confAfter = "[backup]\n\t# auth users = nobody\n\tauth users = root,rsync\n"
                      " ;secrets file = /etc/rsyncd.secrets\n\t# secrets file = /etc/rsyncd.secrets\n"
                      "secrets file = /etc/rsyncd.secrets\n",
         .secretsAfter = "root:r\nrsync:x\n",
         .calls = "stop\nstart\n"},
        {.name = "only_a_commented_list_gets_a_list_line",
         .conf = "[backup]\n  # auth users = nobody\nsecrets file = /etc/rsyncd.secrets\n",
         .secrets = "root:r\n",
         .ops = {"set", "-", "admin", "s", "1"},
         .said = {"set 0"},
         .confAfter = "[backup]\n  # auth users = nobody\nsecrets file = /etc/rsyncd.secrets\nauth users = root\n",
         .secretsAfter = "root:s\n",
         .calls = "stop\nstart\n"},
        {.name = "empty_secret_is_refused",
         .conf = "auth users = root\nsecrets file = /etc/rsyncd.secrets\n",
         .secrets = "root:r\n",
         .ops = {"set", "-", "rsync", "", "1", "set", "root", "root", "", "2"},
         .said = {"set -1", "set -1"},
         .confAfter = "auth users = root\nsecrets file = /etc/rsyncd.secrets\n",
         .secretsAfter = "root:r\n",
         .calls = kMissing},
        {.name = "list_too_long_for_its_line_fails_and_leaves_the_service_stopped",
         .conf = "auth users = " + std::string(110, 'u') + "\n",
         .secrets = "root:r\n",
         .ops = {"set", "-", "rsync", "x", "1"},
         .said = {"set -1"},
         .confAfter = "auth users = " + std::string(110, 'u') + "\n",
         .secretsAfter = "root:r\n",
         .calls = "stop\n"},
        {.name = "missing_conf_fails_after_the_stop",
         .conf = kMissing,
         .secrets = "root:r\n",
         .ops = {"set", "-", "root", "x", "1"},
         .said = {"set -1"},
         .confAfter = kMissing,
         .secretsAfter = "root:r\n",
         .calls = "stop\n"},
        {.name = "missing_argument_changes_nothing",
         .conf = kConf,
         .secrets = "root:r\n",
         .ops = {"set", "-", "-", "x", "1", "set", "root", "-", "x", "2", "set", "-", "root", "x", "4"},
         .said = {"set -1", "set -1", "set -1"},
         .confAfter = kConf,
         .secretsAfter = "root:r\n",
         .calls = kMissing},
    };
}

void PrintTo(const Change &c, std::ostream *os)
{
    *os << c.name;
}

class NetBkpChange : public ::testing::TestWithParam<Change> {};

TEST_P(NetBkpChange, FilesAndServiceCalls)
{
    const Change &c = GetParam();
    approot::Appliance app("netbkp");
    if (c.conf != kMissing)
        app.writeFile(SZF_RSYNCD_CONF, c.conf);
    if (c.secrets != kMissing)
        app.writeFile(SZF_RSYNCD_SECRETS, c.secrets, 0600);
    app.writeFile(SZF_RSYNCD_SCRIPT, std::string("#!/bin/sh\necho \"$1\" >> ") + kCalls + "\n", 0755);
    EXPECT_EQ(vexatest::probe::run(app, c.ops), c.said);
    EXPECT_EQ(readOr(app, SZF_RSYNCD_CONF, kMissing), c.confAfter);
    EXPECT_EQ(readOr(app, SZF_RSYNCD_SECRETS, kMissing), c.secretsAfter);
    EXPECT_EQ(readOr(app, kCalls, kMissing), c.calls);
    // Each change that went through pauses 2 seconds before the start.
    EXPECT_EQ(app.pauses(), c.calls == "stop\nstart\n" ? Lines{"sleep 2.000000000"} : Lines{});
    for (const std::string &line : app.syslog())
        EXPECT_EQ(line.find("tuQ/8RzuuEul2"), std::string::npos) << line;
}

INSTANTIATE_TEST_SUITE_P(Table, NetBkpChange, ::testing::ValuesIn(changes()),
                         [](const ::testing::TestParamInfo<Change> &i) { return std::string(i.param.name); });

TEST(NetBkp, SecretsLineIsFoundByTheWholeName)
{
    approot::Appliance app("netbkp");
    // Names that share their first 15 characters are still two names.
    app.writeFile(SZF_RSYNCD_SECRETS,
                  "rsync2:two\nxrsync:x\nrsync:one\nroot:r\nbackupaccount01a:a\nbackupaccount01b:b\n");
    EXPECT_EQ(vexatest::probe::run(app, {"get", "rsync", "64", "get", "ro", "64", "get", "admin", "3", "get",
                                         "root", "0", "get", "backupaccount01b", "64", "del", "rsync", "del",
                                         "backupaccount01b", "del", "nobody", "del", "-"}),
              (Lines{"get 0 one", "get -1 untouched", "get 0 r", "get 0 untouched", "get 0 b", "del 0", "del 0",
                     "del 0", "del -1"}));
    EXPECT_EQ(app.readFile(SZF_RSYNCD_SECRETS), "rsync2:two\nxrsync:x\nroot:r\nbackupaccount01a:a\n");
}

TEST(NetBkp, DeleteWithoutSecretsFileFails)
{
    approot::Appliance app("netbkp");
    EXPECT_EQ(vexatest::probe::run(app, {"del", "root"}), Lines{"del -1"});
}

TEST(NetBkp, CryptAndReservedNames)
{
    approot::Appliance app("netbkp");
    EXPECT_EQ(vexatest::probe::run(app, {"crypt", "password", "32", "crypt", "password", "3", "crypt", "password", "0",
                                         "crypt", "-", "32", "crypt", "password", "-1", "reserved", "RSync",
                                         "reserved", "ADMIN", "reserved", "root", "reserved", "rsync2", "reserved",
                                         "-"}),
              (Lines{"crypt 0 tuQ/8RzuuEul2", "crypt 0 tu", "crypt 0 untouched", "crypt -1 untouched",
                     "crypt -1 untouched", "reserved 1", "reserved 1", "reserved 1", "reserved 0", "reserved 0"}));
}

TEST(NetBkp, CryptAnsweringWithAStarFails)
{
    approot::Appliance app("netbkp");
    app.setEnv("LD_PRELOAD", CRYPTFAIL_LIB);
    EXPECT_EQ(vexatest::probe::run(app, {"crypt", "password", "32"}), Lines{"crypt -1 untouched"});
    bool logged = false;
    for (const std::string &line : app.syslog())
        logged = logged || line.find("crypt() failed!!") != std::string::npos;
    EXPECT_TRUE(logged);
}

// rsync's daemon reads copies of what the account functions wrote: every
// account added or renamed lists the module with its secret's text; a
// wrong secret or a removed account is refused.
constexpr char kModuleConf[] =
    "uid = nobody\n"
    "[NetBackup]\n"
    "\tpath = /volume1/NetBackup\n"
    "\t# auth users = nobody\n"
    "\tauth users = root\n"
    "\t# secrets file = /etc/rsyncd.secrets\n";

class NetBkpDaemon : public ::testing::Test {
protected:
    approot::Appliance app{"netbkp"};

    void SetUp() override
    {
        app.writeFile(SZF_RSYNCD_CONF, kModuleConf);
        app.writeFile(SZF_RSYNCD_SECRETS, "root:Root-Secret|cm9vdA==\n", 0640);
        app.writeFile(SZF_RSYNCD_SCRIPT, "#!/bin/sh\n", 0755);
    }

    // The daemon on copies of both files as they are now.
    std::unique_ptr<vexatest::RsyncOracle> daemon()
    {
        const Lines st = vexatest::probe::run(app, {"stat", SZF_RSYNCD_SECRETS});
        EXPECT_EQ(st, Lines{"stat 0 640 0:25"});
        return std::make_unique<vexatest::RsyncOracle>(app.readFile(SZF_RSYNCD_CONF), app.readFile(SZF_RSYNCD_SECRETS),
                                                       0640, "/volume1/NetBackup");
    }

    static void expectAdmitted(vexatest::RsyncOracle &d, const std::string &user, const std::string &secret)
    {
        const vexatest::RsyncOracle::Result r = d.list("NetBackup", user, secret);
        EXPECT_EQ(r.status, 0) << user << ": " << r.out;
        EXPECT_NE(r.out.find("data"), std::string::npos) << user << ": " << r.out;
    }

    static void expectRefused(vexatest::RsyncOracle &d, const std::string &user, const std::string &secret)
    {
        const vexatest::RsyncOracle::Result r = d.list("NetBackup", user, secret);
        EXPECT_EQ(r.status, 5) << user << ": " << r.out;
        EXPECT_NE(r.out.find("auth failed"), std::string::npos) << user << ": " << r.out;
    }
};

TEST_F(NetBkpDaemon, AddedAndRenamedAccountsAreAdmitted)
{
    // the secret's text as the services write it: crypt form, "|", base64
    const std::string rsyncSecret = "tuQ/8RzuuEul2|cGFzcw==";
    EXPECT_EQ(vexatest::probe::run(app, {"set", "-", "rsync", rsyncSecret, "1"}), Lines{"set 0"});
    {
        auto d = daemon();
        expectAdmitted(*d, "rsync", rsyncSecret);
        expectAdmitted(*d, "root", "Root-Secret|cm9vdA==");
        expectRefused(*d, "rsync", "tuQ/8RzuuEul2|cGFzcw=");
        expectRefused(*d, "root", "");
    }
    // admin is kept as root
    EXPECT_EQ(vexatest::probe::run(app, {"set", "rsync", "admin", "New|c2Vj", "2"}), Lines{"set 0"});
    {
        auto d = daemon();
        expectAdmitted(*d, "root", "New|c2Vj");
        expectRefused(*d, "root", "Root-Secret|cm9vdA==");
        expectRefused(*d, "rsync", rsyncSecret);
    }
    EXPECT_EQ(vexatest::probe::run(app, {"set", "-", "rsync", "Back|YWdhaW4=", "1", "set", "root", "-", "-", "3"}),
              (Lines{"set 0", "set 0"}));
    {
        auto d = daemon();
        expectAdmitted(*d, "rsync", "Back|YWdhaW4=");
        expectRefused(*d, "root", "New|c2Vj");
    }
}

}  // namespace

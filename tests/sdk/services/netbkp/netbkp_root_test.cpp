// Network-backup accounts in both rsync files, inside the appliance root,
// with a stand-in rsync service script that notes how it was called.
#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "approot.h"
#include "root_probe.h"
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

}  // namespace

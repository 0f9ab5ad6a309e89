// The configuration steps after the flash write, run one by one inside an
// appliance root: the crontab filter, the MTU keys, and what each leaves
// when its write fails.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "approot.h"
#include "failcall.h"
#include "migration_table.h"
#include "migrate_probe.h"
#include "root_probe.h"

namespace {

using Lines = std::vector<std::string>;

}  // namespace

// The folder's probe (preflash_root_test.cpp) hands over the words it does
// not know: "fsync-fails:<path prefix>" arms a failing fsync for what
// follows; the name of a table row runs that row.
bool runStepOp(const std::string &op)
{
    if (op.rfind("fsync-fails:", 0) == 0) {
        failcall::Arm({.call = failcall::Call::Fsync, .pathPrefix = op.substr(12), .times = 0});
        return true;
    }
    for (const updt::migrate::Step &s : updt::migrate::steps()) {
        if (op == s.name) {
            vexatest::probe::say(op + " " + std::to_string(s.run(s)));
            return true;
        }
    }
    return false;
}

namespace {

struct CrontabCase {
    const char *name;
    const char *before;
    const char *after;
};

class MigrateRoot : public ::testing::Test {
protected:
    Lines run(const Lines &ops) { return vexatest::probe::run(app_, ops); }
    approot::Appliance app_{"migrate"};
};

TEST_F(MigrateRoot, CrontabRewrittenInPlaceWithItsOwnerAndMode)
{
    app_.writeFile("/etc/crontab",
                   "0 3 * * * root vacuumdb -a\n5 * * * * root /bin/rm -f /var/log/*.html\n"
                   "5 * * * * root /bin/rm -f /var/log/*Xhtml\n1 1 * * * root /bin/keep\n",
                   0640);
    EXPECT_EQ(run({"CleanCrontab"}), Lines{"CleanCrontab 0"});
    EXPECT_EQ(app_.readFile("/etc/crontab"), "1 1 * * * root /bin/keep\n");
    const std::vector<approot::Change> changes = app_.changes();
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].path, "/etc/crontab");
    const approot::RunResult st = app_.run({"/usr/bin/stat", "-c", "%a", "/etc/crontab"});
    EXPECT_EQ(st.out, "640\n");
}

TEST_F(MigrateRoot, CrontabLines)
{
    const CrontabCase cases[] = {
        {.name = "none_to_drop", .before = "0 1 * * * root /bin/true\n", .after = "0 1 * * * root /bin/true\n"},
        {.name = "only_dropped", .before = "0 3 * * * root vacuumdb -a\n", .after = ""},
        {.name = "last_line_without_newline",
         .before = "0 3 * * * root vacuumdb\n1 2 * * * root /bin/x",
         .after = "1 2 * * * root /bin/x"},
        // The dot of the pattern is any character; the star is a star.
        {.name = "pattern_dot",
         .before = "5 * * * * root /bin/rm -f /var/log/*xhtml\n5 * * * * root /bin/rm -f /var/log/a.html\n",
         .after = "5 * * * * root /bin/rm -f /var/log/a.html\n"},
        {.name = "anywhere_in_the_line",
         .before = "#/bin/rm -f /var/log/*.html old\nrm -f /var/log/*.html\n",
         .after = "rm -f /var/log/*.html\n"},
        {.name = "empty_lines_kept", .before = "\n\nx vacuumdb\n\n", .after = "\n\n\n"},
    };
    for (const CrontabCase &c : cases) {
        app_.writeFile("/etc/crontab", c.before);
        EXPECT_EQ(run({"CleanCrontab"}), Lines{"CleanCrontab 0"}) << c.name;
        EXPECT_EQ(app_.readFile("/etc/crontab"), c.after) << c.name;
    }
}

TEST_F(MigrateRoot, NoCrontabIsLeftWithout)
{
    EXPECT_EQ(run({"CleanCrontab"}), Lines{"CleanCrontab 0"});
    EXPECT_FALSE(app_.exists("/etc/crontab"));
    EXPECT_TRUE(app_.changes().empty());
}

TEST_F(MigrateRoot, FailedCrontabWriteKeepsTheOldOne)
{
    const std::string before = "0 3 * * * root vacuumdb -a\n5 * * * * root /bin/rm -f /var/log/*.html\n";
    app_.writeFile("/etc/crontab", before);
    EXPECT_EQ(run({"fsync-fails:/etc/crontab.", "CleanCrontab"}), Lines{"CleanCrontab -1"});
    EXPECT_EQ(app_.readFile("/etc/crontab"), before);
    EXPECT_TRUE(app_.changes().empty());
    std::string log;
    for (const std::string &l : app_.syslog())
        log += l + "\n";
    EXPECT_NE(log.find("Failed to remove vacuumdb from crontab."), std::string::npos) << log;
    EXPECT_NE(log.find("Failed to remove \"rm -f /var/log/*.html\" from crontab."), std::string::npos) << log;
}

struct MtuCase {
    const char *name;
    Lines steps;
    std::string before;
    std::string after;
};

TEST_F(MigrateRoot, MtuKeys)
{
    const MtuCase cases[] = {
        {.name = "jumbo_lowered_and_moved",
         .steps = {"ConvertMTUValue", "MoveMTUValue"},
         .before = "unique=\"x\"\nMTUValue=\"4074\"\neth0_mtu=\"1500\"\n",
         .after = "unique=\"x\"\neth0_mtu=\"4000\"\n"},
        {.name = "moved_only",
         .steps = {"MoveMTUValue"},
         .before = "MTUValue=\"9000\"\nunique=\"x\"\n",
         .after = "unique=\"x\"\neth0_mtu=\"9000\"\n"},
        {.name = "other_value_kept", .steps = {"ConvertMTUValue"}, .before = "MTUValue=\"7000\"\n", .after = "MTUValue=\"7000\"\n"},
        {.name = "nothing_to_move", .steps = {"MoveMTUValue"}, .before = "eth0_mtu=\"1500\"\n", .after = "eth0_mtu=\"1500\"\n"},
        // An empty old key is removed without emptying the new one.
        {.name = "empty_old_key",
         .steps = {"MoveMTUValue"},
         .before = "MTUValue=\"\"\neth0_mtu=\"1500\"\n",
         .after = "eth0_mtu=\"1500\"\n"},
    };
    for (const MtuCase &c : cases) {
        app_.writeFile("/etc/vexainfo.conf", c.before);
        Lines expected;
        for (const std::string &s : c.steps)
            expected.push_back(s + " 0");
        EXPECT_EQ(run(c.steps), expected) << c.name;
        EXPECT_EQ(app_.readFile("/etc/vexainfo.conf"), c.after) << c.name;
    }
}

// The old key goes only once the new one holds its value.
TEST_F(MigrateRoot, FailedMtuMoveKeepsTheOldKey)
{
    const std::string before = "MTUValue=\"9000\"\nunique=\"x\"\n";
    app_.writeFile("/etc/vexainfo.conf", before);
    EXPECT_EQ(run({"fsync-fails:/etc/vexainfo.conf", "MoveMTUValue"}), Lines{"MoveMTUValue -1"});
    EXPECT_EQ(app_.readFile("/etc/vexainfo.conf"), before);
}

}  // namespace

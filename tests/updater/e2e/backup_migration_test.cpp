// Whole updates from a firmware with the old USB backup settings and
// network backup sets: the local set, its crontab job, the network sets and
// their configuration backups, with a cron daemon stand-in counting its
// reloads, and a second run after a failed flash write.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "../migrate/backup/backup_fixture.h"
#include "e2e_fixture.h"
#include "root_probe.h"
#include "test_tmp.h"

namespace {

using backuptest::Keys;
using backuptest::Sections;

constexpr char kInfo[] = "unique=\"vexa_test\"\n"
                         "usbbkpshares=\"\"\n"
                         "usbbkpid=\"20070315093000-A1B2\"\n"
                         "usbbkpresult=\"ok\"\n"
                         "defaultfs=\"ext3\"\n"
                         "codepage=\"enu\"\n"
                         "codepage_mediaservice=\"enu\"\n";
// The code-page step finds its keys migrated already.
constexpr char kInfoAfter[] =
    "unique=\"vexa_test\"\ndefaultfs=\"ext3\"\ncodepage=\"enu\"\ncodepage_mediaservice=\"enu\"\n";
constexpr char kTabHead[] = "# system crontab\n0\t1\t*\t*\t*\troot\t/usr/sbin/ntpdate -b pool\n";
constexpr char kOldLine[] = "30\t3\t*\t*\t1,3,5\troot\t/usr/vexa/bin/vexausbbkp\n";
constexpr char kTabTail[] = "5\t4\t*\t*\t*\troot\t/bin/cleanup\r\n0\t0\t1\t*\t*\troot\t/bin/last";
constexpr char kNewLine[] = "30\t3\t*\t*\t1,3,5\troot\t/usr/vexa/bin/vexalocalbkp -a \"MyBackupSet\"\n";
constexpr char kNetSets[] =
    "[office]\n\tbkp_server=\"srv\"\n\tbkp_shares=\"music,photo\"\n\tfuture_key=\"kept\"\n\tserver_pass=\"pw\"\n"
    "[empty]\n"
    "[a b]\n\tbkp_shares=\"\"\n\tincrbkp=\"3\"\n";
constexpr char kNetBackup[] = "/var/services/NetBackup/";
// Named by backup clients; the updater runs in the package folder, where a
// command let loose would leave its file.
const char *const kFolders[] = {"office",          "with blank",    "it's \"quoted\"", "semi;touch pwned1;x",
                                "$(touch pwned2)", "`touch pwned3`"};

struct UpdateRun {
    int status = -1;
    std::string hups;
};

class BackupMigration : public ::testing::Test {
protected:
    e2e::Appliance a{"normal"};

    void SetUp() override
    {
        e2e::Installed inst;
        inst.build = 650;
        inst.extraDefaults = "maxshares=\"256\"\n";
        a.install(inst);
        a.package({});
        a.app.writeFile("/etc/vexainfo.conf", kInfo);
        backuptest::writeShares(a.app);
        a.app.mkdir("/var/run");
        crontab(kOldLine);
        a.app.writeFile("/etc/vexanetbkp.conf", kNetSets, 0600);
        for (const char *f : kFolders)
            a.app.writeFile(kNetBackup + std::string(f) + "/configbackup.dss", std::string("dss of ") + f);
    }
    void crontab(const std::string &middle) { a.app.writeFile("/etc/crontab", kTabHead + middle + kTabTail); }

    // The update with the cron stand-in beside it, asked for its count
    // once the updater has ended; each SIGHUP of the updater waits until the
    // stand-in has counted it (libcrondsync.so).
    UpdateRun update()
    {
        const std::string script =
            "mkfifo /dev/crond.out /dev/crond.ack || exit 90\n" + vexatest::shellQuote(CRONDSTUB_PATH) +
            " /var/run/crond.pid /dev/crond.ack > /dev/crond.out &\n"
            "exec 3< /dev/crond.out\n"
            "read ready <&3\n"
            "pid=$(cat /var/run/crond.pid)\n"
            "LD_PRELOAD=\"$LD_PRELOAD:\"" +
            vexatest::shellQuote(CRONDSYNC_PATH) + " VEXA_CROND_PID=$pid VEXA_CROND_ACK=/dev/crond.ack " +
            vexatest::shellQuote(a.packageDir + "/updater") +
            "\n"
            "st=$?\n"
            "kill -USR1 $pid\n"
            "read hups <&3\n"
            "kill $pid\n"
            "rm -f /dev/crond.out /dev/crond.ack\n"
            "echo \"@ $hups\"\n"
            "echo \"@ status $st\"\n";
        const approot::RunResult r = a.runAs({"/bin/sh", "-c", script});
        const std::vector<std::string> said = vexatest::probe::said(r.out);
        UpdateRun out;
        if (r.status != 0 || said.size() != 2 || said[1].rfind("status ", 0) != 0) {
            ADD_FAILURE() << r.status << r.out << r.err;
            return out;
        }
        out.hups = said[0];
        out.status = std::stoi(said[1].substr(7));
        return out;
    }

    Keys localSet()
    {
        const Sections s = backuptest::parseSections(a.app.readFile("/etc/vexalocalbkp.conf"));
        EXPECT_EQ(s.size(), 1u);
        return s.empty() ? Keys{} : s[0].second;
    }
};

const Keys kMyBackupSet = {
    {"dest_type", "usbbkp"},       {"incrbkp", "0"}, {"dest_id", "20070315093000-A1B2"},    {"dest_share", "usbbackup"},
    {"bkp_shares", "music,photo"}, {"bkp_apps", ""}, {"last_bkp_time", "2007/03/15 09:30"}, {"last_bkp_result", "ok"}};

TEST_F(BackupMigration, OldUsbSettingsAndNetworkSetsAreCarriedOver)
{
    const UpdateRun r = update();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.hups, "hups 2");

    const std::string local = a.app.readFile("/etc/vexalocalbkp.conf");
    EXPECT_EQ(local.substr(0, 15), "\n[MyBackupSet]\n");
    EXPECT_EQ(localSet(), kMyBackupSet);
    EXPECT_EQ(a.app.readFile("/etc/vexainfo.conf"), kInfoAfter);
    // the old last line gains its newline, the new job comes last
    EXPECT_EQ(a.app.readFile("/etc/crontab"), std::string(kTabHead) + kTabTail + "\n" + kNewLine);

    const Sections net = backuptest::parseSections(a.app.readFile("/etc/vexanetbkp.conf"));
    ASSERT_EQ(net.size(), 3u);
    for (const auto &[name, keys] : net)
        EXPECT_EQ(keys.at("bkp_shares"), name);
    EXPECT_EQ(net[0].second.at("future_key"), "kept");
    EXPECT_EQ(net[0].second.at("server_pass"), "pw");
    EXPECT_EQ(net[2].second.at("incrbkp"), "3");

    for (const char *f : kFolders) {
        const std::string folder = kNetBackup + std::string(f);
        EXPECT_EQ(a.app.readFile(folder + "/@app/configbackup.dss"), std::string("dss of ") + f) << f;
        EXPECT_FALSE(a.app.exists(folder + "/configbackup.dss")) << f;
    }
    for (const char *p : {"pwned1", "pwned2", "pwned3"}) {
        EXPECT_FALSE(a.app.exists(a.packageDir + "/" + p)) << p;
        EXPECT_FALSE(a.app.exists(std::string("/") + p)) << p;
    }
}

TEST_F(BackupMigration, FailedWriteKeepsTheMigrationAndTheNextRunDoesNotRepeatIt)
{
    simkernel::addFault(a.state, "fail write dev=mtd1 always");
    const UpdateRun first = update();
    EXPECT_EQ(first.status, 20);
    EXPECT_EQ(first.hups, "hups 2");
    EXPECT_EQ(localSet(), kMyBackupSet);
    const std::string local = a.app.readFile("/etc/vexalocalbkp.conf");
    const std::string tab = a.app.readFile("/etc/crontab");
    const Sections net = backuptest::parseSections(a.app.readFile("/etc/vexanetbkp.conf"));
    EXPECT_EQ(a.app.readFile("/etc/vexainfo.conf"), kInfoAfter);
    EXPECT_EQ(tab, std::string(kTabHead) + kTabTail + "\n" + kNewLine);

    simkernel::clearFaults(a.state);
    const UpdateRun second = update();
    EXPECT_EQ(second.status, 0);
    EXPECT_EQ(second.hups, "hups 0");  // the USB step found its set and did nothing
    EXPECT_EQ(a.app.readFile("/etc/vexalocalbkp.conf"), local);
    EXPECT_EQ(a.app.readFile("/etc/vexainfo.conf"), kInfoAfter);
    EXPECT_EQ(a.app.readFile("/etc/crontab"), tab);
    EXPECT_EQ(backuptest::parseSections(a.app.readFile("/etc/vexanetbkp.conf")), net);
    for (const char *f : kFolders)
        EXPECT_TRUE(a.app.exists(kNetBackup + std::string(f) + "/@app/configbackup.dss")) << f;
}

struct ScheduleCase {
    const char *name;
    const char *crontabMiddle;  // between the fixed lines
    const char *localConf;      // nullptr: no local set file before the run
    bool setWritten;
    const char *log;  // "" when nothing must be logged
};

void PrintTo(const ScheduleCase &c, std::ostream *os)
{
    *os << c.name;
}

class BackupSchedule : public BackupMigration, public ::testing::WithParamInterface<ScheduleCase> { };

// The crontab keeps every byte and the daemon is not told anything.
TEST_P(BackupSchedule, CrontabStays)
{
    const ScheduleCase &c = GetParam();
    crontab(c.crontabMiddle);
    if (c.localConf != nullptr)
        a.app.writeFile("/etc/vexalocalbkp.conf", c.localConf);
    const UpdateRun r = update();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.hups, "hups 0");
    EXPECT_EQ(a.app.readFile("/etc/crontab"), kTabHead + std::string(c.crontabMiddle) + kTabTail);
    if (c.setWritten) {
        EXPECT_EQ(localSet(), kMyBackupSet);
        EXPECT_EQ(a.app.readFile("/etc/vexainfo.conf"), kInfoAfter);
    } else {
        EXPECT_EQ(a.app.readFile("/etc/vexalocalbkp.conf"), c.localConf);
        EXPECT_EQ(a.app.readFile("/etc/vexainfo.conf"), kInfo);
    }
    if (c.log[0] != '\0') {
        EXPECT_TRUE(a.syslogHas(c.log)) << c.log;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BackupSchedule,
    ::testing::Values(
        // weekday 7 alone reads as no day, which the schedule writer refuses
        ScheduleCase{.name = "weekday_7",
                     .crontabMiddle = "30\t3\t*\t*\t7\troot\t/usr/vexa/bin/vexausbbkp\n",
                     .localConf = nullptr,
                     .setWritten = true,
                     .log = "VEXAScheduleSet() failed!!"},
        ScheduleCase{.name = "no_usb_job", .crontabMiddle = "", .localConf = nullptr, .setWritten = true, .log = ""},
        ScheduleCase{.name = "local_sets_in_use",
                     .crontabMiddle = "30\t3\t*\t*\t1,3,5\troot\t/usr/vexa/bin/vexausbbkp\n",
                     .localConf = "\n[Mine]\n\tdest_type=\"usb\"\n",
                     .setWritten = false,
                     .log = ""}),
    [](const auto &info) { return std::string(info.param.name); });

}  // namespace

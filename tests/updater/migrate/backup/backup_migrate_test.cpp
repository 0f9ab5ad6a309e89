// The backup-setting steps inside an appliance root: the old USB backup
// keys as the local set "MyBackupSet" with its crontab job, and the network
// sets with their configuration backups.
#include "backup_migrate.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "approot.h"
#include "backup_fixture.h"
#include "crond_standin.h"
#include "root_probe.h"
#include "test_tmp.h"

namespace {

using vexatest::probe::say;
using Lines = std::vector<std::string>;
using backuptest::Keys;
using backuptest::parseSections;
using backuptest::Sections;

// Operations: crond, hups, umask OCTAL, usb, net, mode PATH.
int probe(std::vector<std::string> ops)
{
    vexatest::CrondStandIn crond;
    for (size_t i = 0; i < ops.size(); ++i) {
        if (ops[i] == "crond") {
            if (!crond.start(CRONDSTUB_PATH))
                return 91;
        } else if (ops[i] == "hups") {
            say(crond.hups());
        } else if (ops[i] == "umask") {
            umask(static_cast<mode_t>(strtol(ops.at(++i).c_str(), nullptr, 8)));
        } else if (ops[i] == "usb") {
            UpdateUsbBackupConfig();
        } else if (ops[i] == "net") {
            UpdateNetBackupConfig();
        } else if (ops[i] == "mode") {
            struct stat st { };
            const std::string path = ops.at(++i);
            say("mode " + std::to_string(lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : -1));
        } else {
            return 92;
        }
    }
    return 0;
}

VEXATEST_ROOT_PROBE(probe)

constexpr char kInfoHead[] = "unique=\"vexa_test\"\n# usbbkpid=\"comment\"\n";
constexpr char kInfoTail[] = "defaultfs=\"ext3\"\n";
constexpr char kOldLine[] = "30\t3\t*\t*\t1,3,5\troot\t/usr/vexa/bin/vexausbbkp";
constexpr char kNewLine[] = "30\t3\t*\t*\t1,3,5\troot\t/usr/vexa/bin/vexalocalbkp -a \"MyBackupSet\"";
constexpr char kTabHead[] = "# system crontab\n0\t1\t*\t*\t*\troot\t/usr/sbin/ntpdate -b pool\n";
constexpr char kTabTail[] = "5\t4\t*\t*\t*\troot\t/bin/cleanup\r\n0\t0\t1\t*\t*\troot\t/bin/last";

class BackupMigrateRoot : public ::testing::Test {
protected:
    approot::Appliance app{"bkpmig"};

    void SetUp() override
    {
        app.mkdir("/var/run");
        app.setEnv("LD_PRELOAD", CRONDSYNC_PATH);
        backuptest::writeShares(app);
        defaults("maxshares=\"256\"\n");
        info("usbbkpshares=\"\"\nusbbkpid=\"20070315093000-A1B2\"\nusbbkpresult=\"ok\"\n");
        crontab(std::string(kOldLine) + "\n");
    }
    void defaults(const std::string &keys)
    {
        app.writeFile("/etc.defaults/vexainfo.conf", "unique=\"vexa_test\"\n" + keys);
    }
    void info(const std::string &usbKeys) { app.writeFile("/etc/vexainfo.conf", kInfoHead + usbKeys + kInfoTail); }
    void crontab(const std::string &middle) { app.writeFile("/etc/crontab", kTabHead + middle + kTabTail); }

    Lines run(const Lines &ops) { return vexatest::probe::run(app, ops); }
    Keys localSet()
    {
        const Sections s = parseSections(app.readFile("/etc/vexalocalbkp.conf"));
        EXPECT_EQ(s.size(), 1u);
        EXPECT_EQ(s.empty() ? "" : s[0].first, "MyBackupSet");
        return s.empty() ? Keys{} : s[0].second;
    }
    bool logged(const std::string &part) const
    {
        for (const std::string &m : app.syslog()) {
            if (m.find(part) != std::string::npos)
                return true;
        }
        return false;
    }
};

TEST_F(BackupMigrateRoot, UsbKeysBecomeTheLocalSetAndTheJobMoves)
{
    EXPECT_EQ(run({"crond", "umask", "022", "usb", "hups", "mode", "/etc/vexalocalbkp.conf"}),
              (Lines{"hups 2", "mode 420"}));
    EXPECT_EQ(app.readFile("/etc/vexalocalbkp.conf").substr(0, 15), "\n[MyBackupSet]\n");
    EXPECT_EQ(localSet(), (Keys{{"dest_type", "usbbkp"},
                                {"incrbkp", "0"},
                                {"dest_id", "20070315093000-A1B2"},
                                {"dest_share", "usbbackup"},
                                {"bkp_shares", "music,photo"},
                                {"bkp_apps", ""},
                                {"last_bkp_time", "2007/03/15 09:30"},
                                {"last_bkp_result", "ok"}}));
    EXPECT_EQ(app.readFile("/etc/vexainfo.conf"), std::string(kInfoHead) + kInfoTail);
    EXPECT_EQ(app.readFile("/etc/crontab"), std::string(kTabHead) + kTabTail + "\n" + kNewLine + "\n");
}

struct UsbCase {
    const char *name;
    const char *defaults;  // keys of the factory defaults
    const char *usbKeys;   // the USB keys of vexainfo.conf
    Keys set;              // keys that differ from the ones above; empty: no set written
};

void PrintTo(const UsbCase &c, std::ostream *os)
{
    *os << c.name;
}

class UsbKeys : public BackupMigrateRoot, public ::testing::WithParamInterface<UsbCase> { };

TEST_P(UsbKeys, GiveTheSet)
{
    const UsbCase &c = GetParam();
    defaults(c.defaults);
    info(c.usbKeys);
    crontab("");
    run({"usb"});
    if (c.set.empty()) {
        EXPECT_FALSE(app.exists("/etc/vexalocalbkp.conf"));
        EXPECT_EQ(app.readFile("/etc/vexainfo.conf"), kInfoHead + std::string(c.usbKeys) + kInfoTail);
        EXPECT_TRUE(logged("VRALFileGetKeyValue() failed!!"));
        return;
    }
    Keys got = localSet();
    for (const auto &[k, v] : c.set)
        EXPECT_EQ(got[k], v) << k;
    EXPECT_EQ(app.readFile("/etc/vexainfo.conf"), std::string(kInfoHead) + kInfoTail);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UsbKeys,
    ::testing::Values(
        UsbCase{.name = "id_empty",
                .defaults = "maxshares=\"8\"\n",
                .usbKeys = "usbbkpshares=\"music\"\nusbbkpid=\"\"\nusbbkpresult=\"\"\n",
                .set = {{"dest_id", ""}, {"last_bkp_time", ""}, {"bkp_shares", "music"}}},
        UsbCase{.name = "id_not_digits",
                .defaults = "maxshares=\"8\"\n",
                .usbKeys = "usbbkpid=\"ABCD-1\"\nusbbkpresult=\"fail\"\n",
                .set = {{"dest_id", "ABCD-1"}, {"last_bkp_time", "0000/00/00 00:00"}, {"last_bkp_result", "fail"}}},
        UsbCase{.name = "id_time_and_dash",
                .defaults = "maxshares=\"8\"\n",
                .usbKeys = "usbbkpid=\"19991231235959-Z\"\n",
                .set = {{"dest_id", "19991231235959-Z"}, {"last_bkp_time", "1999/12/31 23:59"}}},
        UsbCase{.name = "maxshares_missing_no_list",
                .defaults = "",
                .usbKeys = "usbbkpid=\"x\"\n",
                .set = {{"bkp_shares", "music,photo"}}},
        UsbCase{.name = "maxshares_missing_list", .defaults = "", .usbKeys = "usbbkpshares=\"a,b\"\n", .set = {}},
        UsbCase{.name = "maxshares_0_no_list",
                .defaults = "maxshares=\"0\"\n",
                .usbKeys = "usbbkpshares=\"\"\n",
                .set = {{"bkp_shares", "music,photo"}}},
        UsbCase{
            .name = "maxshares_0_list", .defaults = "maxshares=\"0\"\n", .usbKeys = "usbbkpshares=\"a\"\n", .set = {}},
        UsbCase{.name = "maxshares_negative_no_list",
                .defaults = "maxshares=\"-1\"\n",
                .usbKeys = "usbbkpresult=\"ok\"\n",
                .set = {{"bkp_shares", "music,photo"}}},
        UsbCase{.name = "maxshares_negative_list",
                .defaults = "maxshares=\"-1\"\n",
                .usbKeys = "usbbkpshares=\"a\"\n",
                .set = {}},
        UsbCase{.name = "maxshares_huge_no_list",
                .defaults = "maxshares=\"99999999999\"\n",
                .usbKeys = "usbbkpid=\"20070315093000-A1B2\"\n",
                .set = {{"bkp_shares", "music,photo"}}},
        UsbCase{.name = "maxshares_huge_list",
                .defaults = "maxshares=\"99999999999\"\n",
                .usbKeys = "usbbkpshares=\"a,b\"\n",
                .set = {{"bkp_shares", "a,b"}}},
        UsbCase{.name = "id_too_long",
                .defaults = "maxshares=\"8\"\n",
                .usbKeys = "usbbkpid=\"20070315093000-A1B2C3D4E5F6G7\"\n",
                .set = {}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(BackupMigrateRoot, WithoutNormalSharesTheListIsEmpty)
{
    backuptest::writeShares(app, "[global]\n\tworkgroup = W\n[usbshare1]\n\tpath = /volumeUSB1/usbshare\n");
    run({"usb"});
    EXPECT_EQ(localSet().at("bkp_shares"), "");
    EXPECT_TRUE(logged("VRALStrJoin() failed!!"));
}

TEST_F(BackupMigrateRoot, RefusedScheduleKeepsTheOldLine)
{
    // weekday 7 alone reads as no day at all, which Set refuses
    const std::string old = "30\t3\t*\t*\t7\troot\t/usr/vexa/bin/vexausbbkp\n";
    crontab(old);
    EXPECT_EQ(run({"crond", "usb", "hups"}), Lines{"hups 0"});
    EXPECT_EQ(localSet().at("dest_id"), "20070315093000-A1B2");
    EXPECT_EQ(app.readFile("/etc/vexainfo.conf"), std::string(kInfoHead) + kInfoTail);
    EXPECT_EQ(app.readFile("/etc/crontab"), kTabHead + old + kTabTail);
    EXPECT_TRUE(logged("VEXAScheduleSet() failed!!"));
}

TEST_F(BackupMigrateRoot, WithoutTheOldJobTheCrontabStays)
{
    crontab("");
    EXPECT_EQ(run({"crond", "usb", "hups"}), Lines{"hups 0"});
    EXPECT_EQ(localSet().at("last_bkp_result"), "ok");
    EXPECT_EQ(app.readFile("/etc/vexainfo.conf"), std::string(kInfoHead) + kInfoTail);
    EXPECT_EQ(app.readFile("/etc/crontab"), std::string(kTabHead) + kTabTail);
}

TEST_F(BackupMigrateRoot, LocalSetsInUseAreLeftAlone)
{
    app.writeFile("/etc/vexalocalbkp.conf", "\n[Mine]\n\tdest_type=\"usb\"\n");
    EXPECT_EQ(run({"crond", "usb", "hups"}), Lines{"hups 0"});
    for (const approot::Change &c : backuptest::changesOutsideTmp(app))
        EXPECT_EQ(c.path, "/var/run/crond.pid");
}

TEST_F(BackupMigrateRoot, SetNotWrittenKeepsTheKeysAndTheJob)
{
    // a link to nowhere: the set file cannot be made without writing through it
    app.symlink("/nowhere/set.conf", "/etc/vexalocalbkp.conf");
    EXPECT_EQ(run({"crond", "usb", "hups"}), Lines{"hups 0"});
    for (const approot::Change &c : backuptest::changesOutsideTmp(app))
        EXPECT_EQ(c.path, "/var/run/crond.pid");
    EXPECT_TRUE(logged("VEXALocalBkpConfSetOne() failed!!"));
}

constexpr char kNetSets[] =
    "[office]\n\tbkp_server=\"srv\"\n\tbkp_shares=\"music,photo\"\n\tfuture_key=\"kept\"\n\tserver_pass=\"pw\"\n"
    "[empty]\n"
    "[a b]\n\tbkp_shares=\"\"\n\tincrbkp=\"3\"\n";

TEST_F(BackupMigrateRoot, NetworkSetsBackUpTheirOwnShare)
{
    app.writeFile("/etc/vexanetbkp.conf", kNetSets, 0600);
    run({"net"});
    const Sections s = parseSections(app.readFile("/etc/vexanetbkp.conf"));
    ASSERT_EQ(s.size(), 3u);
    const Keys ints = {{"last_bkp_status", "-1"}, {"ssh", "0"}, {"blockbkp", "0"}, {"server_type", "1"}};
    auto with = [&](Keys k) {
        k.insert(ints.begin(), ints.end());
        return k;
    };
    EXPECT_EQ(s[0].first, "office");
    EXPECT_EQ(s[0].second, with({{"bkp_server", "srv"},
                                 {"bkp_shares", "office"},
                                 {"future_key", "kept"},
                                 {"server_pass", "pw"},
                                 {"incrbkp", "0"},
                                 {"bkp_ip", ""},
                                 {"bkp_auth_user", ""},
                                 {"last_bkp_time", ""},
                                 {"bkp_module", ""},
                                 {"server_pass2", ""},
                                 {"bkp_apps", ""}}));
    EXPECT_EQ(s[1].first, "empty");
    EXPECT_EQ(s[1].second.at("bkp_shares"), "empty");
    EXPECT_EQ(s[2].first, "a b");
    EXPECT_EQ(s[2].second.at("bkp_shares"), "a b");
    EXPECT_EQ(s[2].second.at("incrbkp"), "3");
}

// Sets edited by hand: a comment holding "=", a quoted key with blanks,
// a line that opens no set, a line the set reader takes for a key, a
// bracketed name.  Every set is migrated; every hand line stays.
TEST_F(BackupMigrateRoot, HandEditedSetsAreMigratedKeepingTheirLines)
{
    app.writeFile("/etc/vexanetbkp.conf",
                  "[office]\n# set by admin=bob\n\tbkp_server=\"srv\"\n\t\" note \"=\"x\"\n\tbkp_shares=\"music\"\n"
                  "[Daily [NAS]]\n[junk\n\tbkp_ip=\"10.0.0.9\"\n\"incrbkp=\"\n\tbkp_shares=\"old\"\n"
                  "[home]\n\tbkp_shares=\"\"\n",
                  0600);
    run({"net"});
    const std::string text = app.readFile("/etc/vexanetbkp.conf");
    const size_t daily = text.find("[Daily [NAS]]\n");
    const size_t home = text.find("[home]\n");
    ASSERT_EQ(text.find("[office]\n"), 0u);
    ASSERT_NE(daily, std::string::npos);
    ASSERT_NE(home, std::string::npos);
    const std::string office = text.substr(0, daily);
    const std::string nas = text.substr(daily, home - daily);
    for (const char *line : {"\tbkp_shares=\"office\"\n", "\tbkp_server=\"srv\"\n", "# set by admin=bob\n",
                             "\t\" note \"=\"x\"\n"})
        EXPECT_NE(office.find(line), std::string::npos) << line;
    for (const char *line : {"\tbkp_shares=\"Daily [NAS]\"\n", "\tbkp_ip=\"10.0.0.9\"\n", "[junk\n"})
        EXPECT_NE(nas.find(line), std::string::npos) << line;
    EXPECT_EQ(nas.find("\"incrbkp=\""), std::string::npos);
    EXPECT_NE(text.substr(home).find("\tbkp_shares=\"home\"\n"), std::string::npos);
    EXPECT_FALSE(logged("SetOne"));
    EXPECT_FALSE(logged("ErrVRALFile"));
    EXPECT_FALSE(logged("refused"));
}

// Folder names chosen by backup clients, each with a configuration backup;
// the probe runs in "/", where a command let loose would touch its file.
const char *const kFolders[] = {
    "plain", "with blank", "it's \"quoted\"", "semi;touch pwned1;x", "$(touch pwned2)", "`touch pwned3`", "-dash"};

TEST_F(BackupMigrateRoot, ConfigurationBackupsMoveIntoTheirAppFolders)
{
    const std::string base = "/var/services/NetBackup/";
    for (const char *f : kFolders)
        app.writeFile(base + f + "/configbackup.dss", std::string("dss of ") + f);
    app.writeFile(base + "has app/configbackup.dss", "dss");
    app.writeFile(base + "has app/@app/other", "other");
    app.writeFile(base + "app is file/configbackup.dss", "stays");
    app.writeFile(base + "app is file/@app", "a file");
    app.writeFile(base + "app is link/configbackup.dss", "stays too");
    app.symlink("/etc", base + "app is link/@app");
    app.writeFile(base + "no dss/readme", "nothing to move");
    app.writeFile(base + "loose file", "not a folder");

    Lines ops = {"umask", "077", "net"};
    for (const char *f : kFolders)
        ops.insert(ops.end(), {"mode", base + f + "/@app"});
    const Lines out = run(ops);
    EXPECT_EQ(out, Lines(std::size(kFolders), "mode 511"));  // 0777

    for (const char *f : kFolders) {
        EXPECT_EQ(app.readFile(base + f + "/@app/configbackup.dss"), std::string("dss of ") + f) << f;
        EXPECT_FALSE(app.exists(base + f + "/configbackup.dss")) << f;
    }
    EXPECT_EQ(app.readFile(base + "has app/@app/configbackup.dss"), "dss");
    EXPECT_EQ(app.readFile(base + "app is file/configbackup.dss"), "stays");
    EXPECT_EQ(app.readFile(base + "app is file/@app"), "a file");
    EXPECT_EQ(app.readFile(base + "app is link/configbackup.dss"), "stays too");
    EXPECT_FALSE(app.exists("/etc/configbackup.dss"));
    EXPECT_FALSE(app.exists(base + "no dss/@app"));
    for (const char *p : {"/pwned1", "/pwned2", "/pwned3"})
        EXPECT_FALSE(app.exists(p)) << p;
    // Only the set folders changed.
    for (const approot::Change &c : backuptest::changesOutsideTmp(app))
        EXPECT_EQ(c.path.rfind(base, 0), 0u) << c.kind << " " << c.path;
}

}  // namespace

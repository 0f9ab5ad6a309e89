// The migration after the flash write, through the whole updater: the
// files and keys of the old firmware brought into the new one's shape, the
// database commands, and the roll-back when a step that must succeed fails.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e_fixture.h"
#include "migration_table.h"
#include "test_tmp.h"

namespace {

using Lines = std::vector<std::string>;

constexpr char kWriteableModel[] = "quorlan_ixp420_1hd";

void install(e2e::Appliance &a, int build, const std::string &model = "")
{
    e2e::Installed inst;
    inst.build = build;
    inst.model = model;
    a.install(inst);
    // Builds up to 350 are only updated soon after a boot.
    simkernel::setUptime(a.state, 100);
    a.stubServices();
}

// The small package of the runs that roll back: two images, each in its
// partition's place, written in 16 KiB pieces.
constexpr uint64_t kZImageSize = 0x18000, kRdSize = 0x8000;
simkernel::PackageLayout smallPackage()
{
    simkernel::PackageLayout contents;
    contents.images = {{"zImage", kZImageSize}, {"rd.bin", kRdSize}};
    return contents;
}

// Runs a shell text inside the root, as root: what a layer cannot hold
// (hard links, folders that a run may rename, other owners' files).
void inside(e2e::Appliance &a, const std::string &script)
{
    const approot::RunResult r = a.app.run({"/bin/sh", "-c", script});
    ASSERT_EQ(r.status, 0) << script << "\n" << r.err;
}

enum class Logs { File, Empty, None };

// A "/writeable" model's folder and the files that go with it.
void writeableFolder(e2e::Appliance &a, Logs logs = Logs::File)
{
    a.app.writeFile("/writeable/configs/smb.conf", "[global]\n");
    a.app.writeFile("/writeable/configs/net/eth0", "ip=10.0.0.2\n");
    if (logs == Logs::File)
        a.app.writeFile("/writeable/logs/messages", "boot\n");
    else if (logs == Logs::Empty)
        a.app.mkdir("/writeable/logs");
    a.app.writeFile("/etc/rc", "#!/bin/sh\n", 0755);
    a.app.writeFile("/etc/fstab", "/dev/hda1 / ext3\n");
}

const char kCrontab[] =
    "#minute\thour\tmday\tmonth\twday\twho\tcommand\n"
    "0\t3\t*\t*\t*\troot\t/usr/vexa/pgsql/bin/vacuumdb -a\n"
    "5\t*\t*\t*\t*\troot\t/bin/rm -f /var/log/*.html\n"
    "5\t*\t*\t*\t*\troot\t/bin/rm -f /var/log/x.html\n"
    "30\t1\t*\t*\t1\troot\t/usr/vexa/bin/backup  run \n"
    "7\t2\t*\t*\t*\troot\t/bin/rm -f /var/log/a.htm";
const char kCrontabAfter[] =
    "#minute\thour\tmday\tmonth\twday\twho\tcommand\n"
    "5\t*\t*\t*\t*\troot\t/bin/rm -f /var/log/x.html\n"
    "30\t1\t*\t*\t1\troot\t/usr/vexa/bin/backup  run \n"
    "7\t2\t*\t*\t*\troot\t/bin/rm -f /var/log/a.htm";

TEST(PostFlash, WholeRoadOfAWriteableModel)
{
    e2e::Appliance a("normal");
    install(a, 200, kWriteableModel);
    writeableFolder(a);
    for (const char *obsolete : {"/usr/vexa/etc/papd.conf", "/etc/profile", "/usr/vexa/etc/rc.d/S78JumboFrame.sh",
                                 "/usr/vexa/etc/manutil.conf", "/usr/vexa/etc/php.ini"})
        a.app.writeFile(obsolete, "old\n");
    a.app.writeFile("/etc/crontab", kCrontab, 0640);
    a.app.writeFile("/etc/vexainfo.conf", a.app.readFile("/etc/vexainfo.conf") + "MTUValue=\"9000\"\n");
    a.package({});

    const approot::RunResult r = a.run({});
    ASSERT_EQ(r.status, 0) << r.err;
    const Lines progress = a.progress();
    ASSERT_GE(progress.size(), 4u);
    // The finish writes R 0, and the exit its code 0 with it.
    EXPECT_EQ(Lines(progress.end() - 4, progress.end()),
              (Lines{"C:0:      ", "C:100:      ", "R:0:      ", "R:0:      "}));

    for (const char *gone : {"/usr/vexa/etc/papd.conf", "/etc/profile", "/usr/vexa/etc/rc.d/S78JumboFrame.sh",
                             "/usr/vexa/etc/manutil.conf", "/usr/vexa/etc/php.ini", "/etc/rc", "/etc/fstab"})
        EXPECT_FALSE(a.app.exists(gone)) << gone;
    EXPECT_EQ(a.app.readFile("/volume1/s@vedconfig/smb.conf"), "[global]\n");
    EXPECT_EQ(a.app.readFile("/volume1/s@vedconfig/net/eth0"), "ip=10.0.0.2\n");
    EXPECT_EQ(a.app.readFile("/volume1/s@vedconfig/messages"), "boot\n");

    EXPECT_EQ(a.app.readFile("/etc/crontab"), kCrontabAfter);
    EXPECT_EQ(a.statOf("/etc/crontab", "%a %u"), "640 0");
    const std::string info = a.app.readFile("/etc/vexainfo.conf");
    EXPECT_NE(info.find("eth0_mtu=\"8000\"\n"), std::string::npos) << info;
    EXPECT_EQ(info.find("MTUValue"), std::string::npos) << info;
    // Nothing else of the crontab's folder: no temporary file left.
    for (const approot::Change &c : a.app.changes())
        EXPECT_EQ(c.path.rfind("/etc/crontab.", 0), std::string::npos) << c.path;

    // Only the steps not built yet say so.
    for (const updt::migrate::Step &s : updt::migrate::steps()) {
        const bool said = a.syslogHas(std::string(s.name) + " is not available");
        EXPECT_TRUE(!said || s.run == updt::migrate::notAvailable) << s.name;
    }
}

// The copy takes the folders' contents, so an empty one is no failure.
TEST(PostFlash, EmptyLogsFolderIsSaved)
{
    e2e::Appliance a("normal");
    install(a, 200, kWriteableModel);
    writeableFolder(a, Logs::Empty);
    a.package({});
    const approot::RunResult r = a.run({});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(a.app.readFile("/volume1/s@vedconfig/smb.conf"), "[global]\n");
    EXPECT_FALSE(a.app.exists("/etc/rc"));
    EXPECT_FALSE(a.app.exists("/etc/fstab"));
}

// The volume's users put links where the updater writes: in place of the
// saved folder, and in the dump folder, left open to them, in place of a
// dump.  Nothing is written through them.
TEST(PostFlash, LinksOnTheVolumeAreNotFollowed)
{
    e2e::Appliance a("normal");
    install(a, 200, kWriteableModel);
    writeableFolder(a);
    a.app.mkdir("/etc/victim");
    a.app.writeFile("/etc/victim/shadow", "secret\n", 0600);
    a.app.symlink("/etc/victim", "/volume1/s@vedconfig");
    // Made inside, as the volume's users make them: a folder of the lower
    // layer could not be renamed.
    inside(a, "mkdir -m 777 /volume1/@pgsql_upgrade && ln -s /etc/victim/shadow /volume1/@pgsql_upgrade/photo.sql");
    a.package({});

    const approot::RunResult r = a.run({});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(a.app.readFile("/etc/victim/shadow"), "secret\n");
    for (const approot::Change &c : a.app.changes())
        EXPECT_EQ(c.path.rfind("/etc/victim", 0), std::string::npos) << c.kind << " " << c.path;
    EXPECT_EQ(a.statOf("/volume1/s@vedconfig", "%F %u"), "directory 0");
    EXPECT_EQ(a.app.readFile("/volume1/s@vedconfig/smb.conf"), "[global]\n");
    // What stood there is kept aside, as it was.
    EXPECT_EQ(a.statOf("/volume1/s@vedconfig.1", "%F"), "symbolic link");
    EXPECT_TRUE(a.syslogHas("[/volume1/s@vedconfig] is no folder: kept as [/volume1/s@vedconfig.1]"));
    EXPECT_EQ(a.statOf("/volume1/@pgsql_upgrade.1/photo.sql", "%F"), "symbolic link");
    EXPECT_TRUE(a.syslogHas(
        "[/volume1/@pgsql_upgrade] was open to other users and holds names: kept as [/volume1/@pgsql_upgrade.1]"));
    EXPECT_EQ(a.statOf("/volume1/@pgsql_upgrade", "%a %u"), "755 0");
    EXPECT_EQ(a.statOf("/volume1/@pgsql_upgrade/photo.sql", "%F"), "regular file");
    EXPECT_EQ(a.app.readFile("/volume1/@pgsql_upgrade/photo.sql"), "-- dump of photo\n");
}

// A dump folder of another user's is not used: it is kept aside as it is,
// and the dumps go to a fresh folder of root's.
TEST(PostFlash, DumpFolderOfAnotherUserIsMovedAside)
{
    e2e::Appliance a("normal");
    install(a, 450);
    a.package({});
    inside(a, "mkdir /volume1/@pgsql_upgrade && echo mine >/volume1/@pgsql_upgrade/photo.sql && "
              "chown -R 1000:1000 /volume1/@pgsql_upgrade");
    const approot::RunResult r = a.run({});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(a.syslogHas("[/volume1/@pgsql_upgrade] belongs to uid 1000: kept as [/volume1/@pgsql_upgrade.1]"));
    EXPECT_EQ(a.app.readFile("/volume1/@pgsql_upgrade.1/photo.sql"), "mine\n");
    EXPECT_EQ(a.statOf("/volume1/@pgsql_upgrade.1", "%u"), "1000");
    EXPECT_EQ(a.statOf("/volume1/@pgsql_upgrade", "%a %u"), "755 0");
    EXPECT_EQ(a.app.readFile("/volume1/@pgsql_upgrade/photo.sql"), "-- dump of photo\n");
    const Lines c = a.stubCalls();
    ASSERT_FALSE(c.empty());
    EXPECT_EQ(c.back(), "vexaindex [-R] [all]");
}

// A caller's umask of 000 opens nothing the run makes or changes to other
// users, but the thumbnail and @app folders that are opened on purpose.
TEST(PostFlash, NothingMadeAtUmask000IsOpenToOthers)
{
    e2e::Appliance a("normal");
    install(a, 200, kWriteableModel);
    writeableFolder(a);
    a.app.writeFile("/etc/crontab", kCrontab, 0640);
    a.app.writeFile("/etc/vexainfo.conf", a.app.readFile("/etc/vexainfo.conf") + "MTUValue=\"9000\"\n" +
                                              "usbbkpid=\"20070315093000-x\"\nusbbkpresult=\"done\"\n");
    a.app.writeFile("/etc.defaults/vexainfo.conf",
                    a.app.readFile("/etc.defaults/vexainfo.conf") + "maxshares=\"4\"\n");
    a.app.writeFile("/var/services/photo/album/@eaDir/a.jpg", "thumb\n", 0600);
    a.app.writeFile("/var/services/NetBackup/set1/configbackup.dss", "conf\n", 0600);
    a.app.writeFile("/etc/rsyncd.secrets", "bkp:x|plain\n", 0640);
    a.package({});
    const approot::RunResult r = a.runAs({"/bin/sh", "-c", "umask 000 && exec '" + a.packageDir + "/updater'"});
    ASSERT_EQ(r.status, 0) << r.err;
    size_t seen = 0;
    for (const approot::Change &c : a.app.changes()) {
        if (c.kind == 'D' || c.path.find("/@eaDir") != std::string::npos || c.path.find("/@app") != std::string::npos)
            continue;
        const std::string st = a.statOf(c.path, "%F %a");
        if (st.rfind("symbolic link", 0) == 0)
            continue;
        ++seen;
        const int mode = std::stoi(st.substr(st.rfind(' ') + 1), nullptr, 8);
        EXPECT_EQ(mode & 022, 0) << c.kind << " " << c.path << " " << st;
    }
    EXPECT_GT(seen, 10u);
    EXPECT_EQ(a.statOf("/var/services/photo/album/@eaDir/a.jpg", "%a"), "777");
}

// The steps that need not succeed only log their failures.
TEST(PostFlash, OptionalStepFailureIsOnlyLogged)
{
    e2e::Appliance a("normal");
    install(a, 900);
    a.app.mkdir("/usr/vexa/etc/php.ini");
    a.package({});
    const approot::RunResult r = a.run({});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(a.syslogHas("(UPDTUpdateConfig) Failed to remove /usr/vexa/etc/php.ini, errno=(21)[Is a directory]"));
    EXPECT_TRUE(a.app.exists("/usr/vexa/etc/php.ini"));
}

struct DbRun {
    const char *name = "";
    int build = 0;
    Lines calls = {};
    bool videoLogged = false;
};

void PrintTo(const DbRun &d, std::ostream *os)
{
    *os << d.name;
}

const std::string kPsql = "su [-l] [admin] [-c] [/usr/vexa/pgsql/bin/psql photo -c '";
const Lines kColumns = {
    kPsql + "ALTER TABLE photo_image ALTER timetaken TYPE varchar(64)']",
    kPsql + "ALTER TABLE photo_user ADD COLUMN admin bool DEFAULT false']",
};
// The shell takes the quotes around comment as the end and start of the
// argument's own quotes: the tool gets the word bare.
const Lines kVideo = {
    kPsql + "CREATE TABLE video_comment(id serial NOT NULL,path text NOT NULL,name varchar(100),email "
            "varchar(128),comment text,date timestamp,updated char(1),CONSTRAINT video_comment_pkey PRIMARY KEY "
            "(id)) WITH OIDS;ALTER TABLE video_comment OWNER TO admin;']",
    kPsql + "CREATE TABLE video_desc(id serial NOT NULL,path text NOT NULL, title text, description text,updated "
            "char(1),CONSTRAINT video_pkey PRIMARY KEY (id),CONSTRAINT video_path_key UNIQUE (path)) WITH "
            "OIDS;ALTER TABLE video_desc OWNER TO admin;']",
};
const Lines kDropAndDump = {
    "su [-l] [admin] [-c] [/usr/vexa/pgsql/bin/dropdb mediaserver]",
    "pg_dump [-C] [-o] [-U] [admin] [photo]",
    "pg_dump [-C] [-o] [-U] [admin] [download]",
    "vexaindex [-R] [all]",
};

Lines join(std::initializer_list<Lines> parts)
{
    Lines all;
    for (const Lines &p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

class DatabaseSteps : public ::testing::TestWithParam<DbRun> {};

TEST_P(DatabaseSteps, CommandLinesInOrder)
{
    const DbRun &d = GetParam();
    e2e::Appliance a("normal");
    install(a, d.build);
    a.package({});
    const approot::RunResult r = a.run({});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(a.stubCalls(), d.calls);
    EXPECT_EQ(a.syslogHas("Update photo db to add video tables"), d.videoLogged);
    if (d.calls.empty())
        return;
    EXPECT_EQ(a.app.readFile("/volume1/@pgsql_upgrade/photo.sql"), "-- dump of photo\n");
    EXPECT_EQ(a.app.readFile("/volume1/@pgsql_upgrade/download.sql"), "-- dump of download\n");
}

INSTANTIATE_TEST_SUITE_P(
    Builds, DatabaseSteps,
    ::testing::Values(
        DbRun{.name = "b410",
              .build = 410,
              .calls = join({{"S20pgsql.sh [start]"}, kColumns, kVideo, kDropAndDump}),
              .videoLogged = true},
        DbRun{.name = "b450", .build = 450, .calls = join({{"S20pgsql.sh [start]"}, kVideo, kDropAndDump}), .videoLogged = true},
        DbRun{.name = "b700", .build = 700}),
    [](const ::testing::TestParamInfo<DbRun> &i) { return std::string(i.param.name); });

// A required step that fails: the update ends with 17 and the flash holds
// its old bytes again.
struct RequiredFailure {
    const char *name = "";
    int build = 0;
    std::string model = "";
    std::function<void(e2e::Appliance &)> setup = nullptr;
    std::string message = "";  // in the system log
    Lines kept = {};           // files still there
};

void PrintTo(const RequiredFailure &f, std::ostream *os)
{
    *os << f.name;
}

class RequiredStep : public ::testing::TestWithParam<RequiredFailure> {};

TEST_P(RequiredStep, FailureRollsTheFlashBack)
{
    const RequiredFailure &f = GetParam();
    e2e::Appliance a("normal");
    install(a, f.build, f.model);
    f.setup(a);
    a.package(smallPackage());
    const std::string chipBefore = simkernel::chipBytes(a.state);

    const approot::RunResult r = a.run({});
    ASSERT_NO_FATAL_FAILURE(e2e::expectExit17(a, r));
    EXPECT_TRUE(a.syslogHas(f.message)) << f.message;
    // The write happened, and was undone.
    EXPECT_FALSE(simkernel::opsMatching(a.state, {"req=MEMERASE", "res=0"}).empty());
    EXPECT_TRUE(simkernel::chipBytes(a.state) == chipBefore) << "the flash was not restored";
    EXPECT_FALSE(a.app.exists(a.packageDir + "/b@ckup"));
    for (const std::string &path : f.kept)
        EXPECT_TRUE(a.app.exists(path)) << path;
}

INSTANTIATE_TEST_SUITE_P(
    Fails, RequiredStep,
    ::testing::Values(
        RequiredFailure{.name = "profile_is_a_folder",
                        .build = 240,
                        .setup = [](e2e::Appliance &a) { a.app.mkdir("/etc/profile"); },
                        .message = "Failed to remove /etc/profile, errno=(21)[Is a directory]"},
        // Removed on every update, whatever the build.
        RequiredFailure{.name = "manutil_is_a_folder",
                        .build = 900,
                        .setup = [](e2e::Appliance &a) { a.app.mkdir("/usr/vexa/etc/manutil.conf"); },
                        .message = "Failed to update [/usr/vexa/etc/manutil.conf], errno=(21)"},
        RequiredFailure{.name = "jumbo_frame_script_is_a_folder",
                        .build = 240,
                        .setup = [](e2e::Appliance &a) { a.app.mkdir("/usr/vexa/etc/rc.d/S78JumboFrame.sh"); },
                        .message = "Failed to remove /usr/vexa/etc/rc.d, errno=(21)[Is a directory]"},
        // The firmware the flash goes back to still needs rc and fstab.
        RequiredFailure{.name = "saved_folder_cannot_be_made",
                        .build = 200,
                        .model = kWriteableModel,
                        .setup =
                            [](e2e::Appliance &a) {
                                writeableFolder(a);
                                // Another user's folder, mounted there: it
                                // can be neither used nor moved aside.
                                const std::string host = a.tmp / "saved";
                                ASSERT_EQ(mkdir(host.c_str(), 0755), 0);
                                ASSERT_EQ(chown(host.c_str(), 1000, 1000), 0);
                                a.app.bind(host, "/volume1/s@vedconfig");
                            },
                        .message = "Failed to execute szCmd=[/bin/mkdir -p '/volume1/s@vedconfig'], errno=(16)",
                        .kept = {"/etc/rc", "/etc/fstab"}},
        RequiredFailure{.name = "saved_logs_missing",
                        .build = 200,
                        .model = kWriteableModel,
                        .setup =
                            [](e2e::Appliance &a) {
                                writeableFolder(a, Logs::None);
                            },
                        .message = "Failed to execute szCmd=[/bin/cp -a /writeable/logs/* .], errno=(2)",
                        .kept = {"/etc/rc", "/etc/fstab"}}),
    [](const ::testing::TestParamInfo<RequiredFailure> &i) { return std::string(i.param.name); });

// The "/etc/profile" run again with one flash operation failing once, in
// the write or in the roll-back: whichever the code, the flash ends as it
// was.  The roll-back writes through the updater too, after the write's
// pieces; LAST stands for its last write to the partition.
struct SweepFault {
    std::string name;
    std::string rule;
};

void PrintTo(const SweepFault &f, std::ostream *os)
{
    *os << f.rule;
}

std::vector<SweepFault> sweepFaults()
{
    struct Part {
        const char *name;
        const char *dev;
        uint64_t image;
        int order;  // among the written partitions
    };
    std::vector<SweepFault> all;
    for (const Part &p : {Part{"zImage", "mtd1", kZImageSize, 1}, Part{"rd", "mtd2", kRdSize, 2}}) {
        const std::string dev = std::string(" dev=") + p.dev;
        const uint64_t pieces = (p.image + 0x3fff) / 0x4000;
        const std::string lastPiece = std::to_string(pieces);
        for (const char *phase : {"write", "rollback"}) {
            const bool back = std::string(phase) == "rollback";
            const std::string nth = back ? " nth=2" : " nth=1";
            auto add = [&](const std::string &what, const std::string &rule) {
                all.push_back({std::string(phase) + "_" + p.name + "_" + what, rule});
            };
            add("m22", "fail m22" + dev + nth);
            add("unlock", "fail unlock" + dev + nth);
            add("erase", "fail erase" + dev + nth);
            add("m23", "fail m23 dev=mtd7 nth=" + std::to_string(back ? 2 + p.order : p.order));
            add("first_write", "fail write" + dev + " nth=" + (back ? std::to_string(pieces + 1) : "1"));
            add("last_write", "fail write" + dev + " nth=" + (back ? "LAST+" + lastPiece : lastPiece));
        }
    }
    return all;
}

class RollBackSweep : public ::testing::TestWithParam<SweepFault> {};

TEST_P(RollBackSweep, FlashEndsAsItWas)
{
    e2e::Appliance a("normal");
    install(a, 240);
    a.app.mkdir("/etc/profile");
    a.package(smallPackage());
    std::string rule = GetParam().rule;
    if (const size_t at = rule.find("LAST+"); at != std::string::npos) {
        const uint32_t size = a.entry(rule.find("mtd1") != std::string::npos ? "zImage" : "rd.gz").size;
        const uint64_t before = std::stoull(rule.substr(at + 5));
        rule.replace(at, std::string::npos, std::to_string(before + size / 0x4000));
    }
    simkernel::addFault(a.state, rule);
    const std::string chipBefore = simkernel::chipBytes(a.state);

    const approot::RunResult r = a.run({});
    EXPECT_TRUE(r.status == 17 || r.status == 20) << r.status << "\n" << r.err;
    bool acted = false;
    for (const std::string &line : simkernel::opsLog(a.state))
        acted = acted || !simkernel::opsField(line, "fault").empty();
    EXPECT_TRUE(acted) << "the fault never acted: " << rule;
    EXPECT_TRUE(simkernel::chipBytes(a.state) == chipBefore) << "the flash was not restored";
    EXPECT_FALSE(a.app.exists(a.packageDir + "/b@ckup"));
}

INSTANTIATE_TEST_SUITE_P(NorFaults, RollBackSweep, ::testing::ValuesIn(sweepFaults()),
                         [](const ::testing::TestParamInfo<SweepFault> &i) { return i.param.name; });

}  // namespace

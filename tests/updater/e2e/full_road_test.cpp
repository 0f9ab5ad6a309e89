// The full road (analysis, backup, write, roll-back) on the simulated
// appliance, names that the shell must not read as commands, and the MTU
// lowered for the write.
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e_fixture.h"
#include "migration_table.h"

namespace {

simkernel::PackageLayout growingZImage()
{
    simkernel::PackageLayout contents;
    contents.images = simkernel::defaultImages("normal");
    contents.images["zImage"] = 0x110000;
    return contents;
}

bool holdsImage(const e2e::Appliance &a, const simkernel::PackageLayout &contents, const std::string &part)
{
    const std::string file = simkernel::imageFileName(part);
    const uint64_t size = contents.images.at(file);
    return simkernel::partitionData(a.state, part, size) == simkernel::imageBytes(file, contents.build, size);
}

TEST(FullRoad, AnalysesBacksUpWritesAndCleansUp)
{
    e2e::Appliance a("normal");
    a.install({});
    const simkernel::PackageLayout contents = growingZImage();
    a.package(contents);
    const approot::RunResult r = a.run({});
    ASSERT_EQ(r.status, 0) << r.err;

    const std::vector<std::string> seq = a.progress();
    ASSERT_GE(seq.size(), 4u);
    EXPECT_EQ(seq[2], "A:100:      ");  // the analysis passed
    // One copy per directory entry, progress 30, 35, ... 65.
    for (int i = 0; i < 8; ++i)
        EXPECT_NE(std::find(seq.begin(), seq.end(), "P:" + std::to_string(30 + 5 * i) + ":      "), seq.end()) << i;
    // Copied by the updater itself: no copy tool touches the flash.
    EXPECT_TRUE(simkernel::opsMatching(a.state, {"proc=dd"}).empty());
    EXPECT_FALSE(a.app.exists(a.packageDir + "/b@ckup"));
    for (const char *part : {"zImage", "rd.gz", "AllLib.tgz"})
        EXPECT_TRUE(holdsImage(a, contents, part)) << part;
    EXPECT_EQ(a.updateLog(), (std::vector<std::string>{"Start of the update...",
                                                       "Upgrade from version 2.0.0.900 to version 2.0.0.1000",
                                                       "Congratulation!! The update has been completed!!"}));
}

// Only zImage is in the package and needs a block more: AllLib.tgz has
// the most to spare and gives it, rd.gz between them moves up a block.
// Both are rewritten from their copies, byte for byte.
TEST(FullRoad, MovedPartitionsAreRewrittenFromTheirCopies)
{
    constexpr uint32_t kBlock = 0x10000, kBase = 0xFF800000u;
    e2e::Appliance a("normal");
    a.install({});
    simkernel::PackageLayout contents;
    contents.images = {{"zImage", 16 * kBlock + 1}};
    a.package(contents);
    const std::string chipBefore = simkernel::chipBytes(a.state);
    const std::vector<simkernel::DirEntry> before = a.directory();
    auto old = [&](const std::string &name) {
        for (const simkernel::DirEntry &e : before)
            if (e.name == name)
                return e;
        ADD_FAILURE() << name;
        return simkernel::DirEntry{};
    };
    auto oldBytes = [&](const std::string &name) {
        const simkernel::DirEntry e = old(name);
        return chipBefore.substr(e.flashBase - kBase, e.size);
    };

    const approot::RunResult r = a.run({});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(a.syslogHas("NEED RESIZE THE PARTITION"));

    const simkernel::DirEntry z = a.entry("zImage");
    EXPECT_EQ(z.flashBase, old("zImage").flashBase);
    EXPECT_EQ(z.size, 17 * kBlock);
    EXPECT_EQ(z.dataLength, 16 * kBlock + 1);
    EXPECT_TRUE(simkernel::partitionData(a.state, "zImage", 16 * kBlock + 1) ==
                simkernel::imageBytes("zImage", contents.build, 16 * kBlock + 1));

    const simkernel::DirEntry rd = a.entry("rd.gz");
    EXPECT_EQ(rd.flashBase, old("rd.gz").flashBase + kBlock);
    EXPECT_EQ(rd.size, old("rd.gz").size);
    EXPECT_EQ(rd.dataLength, old("rd.gz").dataLength);
    EXPECT_TRUE(simkernel::partitionBytes(a.state, "rd.gz") == oldBytes("rd.gz"));

    const simkernel::DirEntry lib = a.entry("AllLib.tgz");
    EXPECT_EQ(lib.flashBase, old("AllLib.tgz").flashBase + kBlock);
    EXPECT_EQ(lib.size, old("AllLib.tgz").size - kBlock);
    EXPECT_EQ(lib.dataLength, old("AllLib.tgz").dataLength);
    EXPECT_TRUE(simkernel::partitionBytes(a.state, "AllLib.tgz") == oldBytes("AllLib.tgz").substr(0, lib.size));

    // The boot loader has no image in the package: it gave nothing.
    EXPECT_EQ(a.entry("RedBoot").raw, old("RedBoot").raw);
    EXPECT_TRUE(simkernel::partitionBytes(a.state, "RedBoot") == oldBytes("RedBoot"));
    EXPECT_FALSE(a.app.exists(a.packageDir + "/b@ckup"));
}

TEST(FullRoad, FailedWriteRestoresTheWholeFlash)
{
    e2e::Appliance a("normal");
    a.install({});
    a.package(growingZImage());
    const std::string chipBefore = simkernel::chipBytes(a.state);
    // rd.gz, the second partition written, fails each of its three
    // attempts; the roll-back's writes pass.
    for (const char *nth : {"1", "2", "3"})
        simkernel::addFault(a.state, std::string("fail write dev=mtd2 nth=") + nth);
    const approot::RunResult r = a.run({});
    EXPECT_EQ(r.status, 20) << r.err;
    EXPECT_EQ(a.lastProgress(), "P:-20:      ");
    EXPECT_TRUE(simkernel::chipBytes(a.state) == chipBefore) << "the flash was not restored";
    EXPECT_FALSE(a.syslogHas("UPDTRollBack() fail"));
    EXPECT_FALSE(a.app.exists(a.packageDir + "/b@ckup"));
    EXPECT_FALSE(a.app.exists("/.NormalShutdown"));
}

TEST(FullRoad, FailedRollBackKeepsTheBackup)
{
    e2e::Appliance a("normal");
    a.install({});
    a.package(growingZImage());
    simkernel::addFault(a.state, "fail write dev=mtd2 always");
    const approot::RunResult r = a.run({});
    EXPECT_EQ(r.status, 20) << r.err;
    EXPECT_TRUE(a.syslogHas("UPDTRollBack() fail"));
    // The copies are the only way back to the old firmware.
    EXPECT_TRUE(a.app.exists(a.packageDir + "/b@ckup/mtd_zImage"));
    EXPECT_TRUE(a.app.exists(a.packageDir + "/b@ckup/mtd_RedBoot Config"));
}

// The driver runs the table's steps for the installed build, those before
// the write before the flash stage and the others after it, in table order,
// seen through what the steps do: a run stopped at the flash directory has
// run the first and none of the others; the database steps' commands come
// in the order of their rows.
TEST(FullRoad, MigrationStepsOfTheInstalledBuildRunInTableOrder)
{
    constexpr int kBuild = 420;
    auto prepare = [](e2e::Appliance &a) {
        e2e::Installed inst;
        inst.build = kBuild;
        a.install(inst);
        a.app.writeFile("/etc/vexainfo.conf",
                        a.app.readFile("/etc/vexainfo.conf") + "ftplowport=\"1000\"\nftphighport=\"2000\"\n");
        a.app.writeFile("/usr/vexa/etc/manutil.conf", "old\n");
        a.stubServices();
        a.package({});
    };
    {
        e2e::Appliance a("normal");
        prepare(a);
        simkernel::addFault(a.state, "fail open dev=mtd7");
        ASSERT_EQ(a.run({}).status, 18);
        EXPECT_NE(a.app.readFile("/etc/vexainfo.conf").find("ftphighport=\"1127\""), std::string::npos);
        EXPECT_TRUE(a.app.exists("/usr/vexa/etc/manutil.conf"));
        EXPECT_EQ(a.stubCalls(), std::vector<std::string>{});
    }
    e2e::Appliance a("normal");
    prepare(a);
    ASSERT_EQ(a.run({}).status, 0);
    EXPECT_FALSE(a.app.exists("/usr/vexa/etc/manutil.conf"));

    // The rows whose commands show, by a word of each command (the first
    // that fits: the video tables' commands alter their owner too).
    const std::pair<const char *, const char *> marks[] = {{"CREATE TABLE", "UpdatePhotoDbVideoTables"},
                                                           {"ALTER TABLE", "UpdatePhotoDbColumns"},
                                                           {"dropdb", "DropMediaDb"},
                                                           {"pg_dump", "DumpPgsqlDbs"},
                                                           {"vexaindex", "ReindexMedia"}};
    std::vector<std::string> ran;
    for (const std::string &call : a.stubCalls()) {
        for (const auto &[word, row] : marks) {
            if (call.find(word) == std::string::npos)
                continue;
            if (ran.empty() || ran.back() != row)
                ran.push_back(row);
            break;
        }
    }

    auto clearFlags = [] {
        for (const updt::migrate::Step &s : updt::migrate::steps())
            if (s.flag != nullptr)
                *s.flag = 0;
    };
    clearFlags();
    updt::migrate::setFlags(updt::migrate::steps(), kBuild);
    std::vector<std::string> expected;
    for (const updt::migrate::Step &s : updt::migrate::steps())
        for (const auto &[word, row] : marks)
            if (std::string(s.name) == row && (s.flag == nullptr || (*s.flag & s.bits) != 0))
                expected.push_back(row);
    clearFlags();
    EXPECT_EQ(expected.size(), std::size(marks));
    EXPECT_EQ(ran, expected);
}

TEST(ShellNames, PackageFolderAndVolumeAreNeverRunAsCommands)
{
    const std::string folder = "/volume1/it's a \"pkg\"; $(touch PWN1) `touch PWN2` & touch PWN3 | x";
    const std::string volume = "/v'\";$(touch PWN4)`touch PWN5`";
    ASSERT_LT(volume.size(), 32u);
    e2e::Appliance a("normal", folder);
    a.install({});
    const simkernel::PackageLayout contents = growingZImage();
    a.package(contents);
    a.packageFile("hda1.tgz", "archive");
    a.app.mkdir(volume);
    const approot::RunResult r = a.run({"-v", volume});
    ASSERT_EQ(r.status, 0) << r.err;

    for (const char *part : {"zImage", "rd.gz", "AllLib.tgz"})
        EXPECT_TRUE(holdsImage(a, contents, part)) << part;
    EXPECT_EQ(a.app.readFile(volume + "/VexaUpgrade.tar.gz"), "archive");
    EXPECT_FALSE(a.app.exists(folder + "/hda1.tgz"));
    EXPECT_FALSE(a.app.exists(folder + "/b@ckup"));
    // A name run as a command would have left a file PWN<n> somewhere.
    for (const approot::Change &c : a.app.changes()) {
        const std::string base = c.path.substr(c.path.rfind('/') + 1);
        EXPECT_NE(base.rfind("PWN", 0), 0u) << "a name ran as a command: " << c.path;
    }
}

// A gigabit link is lowered for the write (MtuRun); a slower one keeps its
// MTU, while the setting is lowered and put back all the same.
TEST(UpdateMtu, SlowLinkKeepsItsMtuAndTheSettingComesBack)
{
    e2e::Appliance a("normal");
    a.installWithMtu(9000, 100);
    a.package({});
    const approot::RunResult r = a.run({"-g"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> erases = simkernel::opsMatching(a.state, {"req=MEMERASE", "res=0"});
    ASSERT_FALSE(erases.empty());
    for (const std::string &e : erases)
        EXPECT_EQ(simkernel::opsField(e, "mtu"), "9000");
    EXPECT_EQ(a.app.eth0MtuAfterRun(), 9000);
    // The lowering call records eth0_mtu even where the link keeps its
    // MTU: the saved value must come back either way.
    EXPECT_NE(a.app.readFile("/etc/vexainfo.conf").find("eth0_mtu=\"9000\""), std::string::npos);
    // only a gigabit link is given five seconds after each change
    EXPECT_TRUE(a.app.pauses().empty());
}

TEST(UpdateMtu, RestoredEvenWhenLoweringFailed)
{
    // Without the interface the lowering fails, but the call has already
    // recorded eth0_mtu="1500": the saved value must be written back.
    e2e::Appliance a("normal");
    e2e::Installed inst;
    inst.supportMtu = true;
    inst.eth0Mtu = "9000";
    a.install(inst);
    a.package({});
    ASSERT_EQ(a.run({"-g"}).status, 0);
    EXPECT_NE(a.app.readFile("/etc/vexainfo.conf").find("eth0_mtu=\"9000\""), std::string::npos)
        << a.app.readFile("/etc/vexainfo.conf");
}

}  // namespace

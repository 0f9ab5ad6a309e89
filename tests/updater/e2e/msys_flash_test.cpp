// Whole runs on MSys flash: the driver keeps the partition table, the
// updater writes by position, re-partitions when an image does not fit and
// restores the old table and contents when the write fails.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "e2e_fixture.h"
#include "../patch/msys_layout.h"

namespace {

using Lines = std::vector<std::string>;
using e2e::failed;

using namespace msystest;

struct MSys : e2e::Appliance {
    explicit MSys(const std::vector<uint32_t> &units = kUnits, const std::vector<uint32_t> &data = kData)
        : e2e::Appliance("normal")
    {
        simkernel::makeMSysChip(state, units, data);
        chip = simkernel::chipBytes(state);
        for (const std::string &n : kNames)
            parts.push_back(simkernel::partitionBytes(state, n));
    }

    std::vector<uint32_t> units() const { return msystest::units(state); }

    void images(const std::map<std::string, uint64_t> &files, int build = 1500)
    {
        simkernel::PackageLayout contents;
        contents.build = build;
        contents.images = files;
        package(contents);
    }

    std::string chip;
    Lines parts;
};

std::string image(const std::string &file, uint64_t size)
{
    return simkernel::imageBytes(file, 1500, size);
}

// Progress of a run that backs up eight partitions and writes the ones at
// these positions; the exit writes R with 0 once more.
Lines road(const std::vector<int> &written)
{
    Lines p = {"A:0:      ", "A:10:      ", "A:100:      ", "P:0:      ", "P:10:      ", "P:20:      "};
    for (int i = 0; i < 8; ++i)
        p.push_back("P:" + std::to_string(30 + 5 * i) + ":      ");
    p.push_back("P:60:      ");
    for (int i : written)
        p.push_back("P:" + std::to_string(65 + 5 * i) + ":      ");
    for (const char *s : {"P:100:      ", "C:0:      ", "C:100:      ", "R:0:      ", "R:0:      "})
        p.push_back(s);
    return p;
}

TEST(MSysRoad, OnlyTheImageOfThePackageIsWrittenAndNothingOfTheNormalRoadRuns)
{
    MSys a;
    e2e::Installed inst;
    inst.build = 400;  // due: pre-flash steps, the photo command and the database steps
    a.install(inst);
    a.images({{"zImage", 5 * kUnit + 3}});
    a.packageFile("hda1.tgz", "the new system partition");
    a.app.writeFile("/usr/vexa/etc/rc.d/S20pgsql.sh", "#!/bin/sh\ntouch /pgsql.started\n", 0755);
    a.app.mkdir("/var/services/photo/album/@eaDir", 0700);

    const approot::RunResult r = a.run({});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(a.progress(), road({1}));
    EXPECT_EQ(simkernel::partitionData(a.state, "zImage", 5 * kUnit + 3), image("zImage", 5 * kUnit + 3));
    EXPECT_EQ(a.units(), kUnits);
    for (int k = 0; k < 8; ++k) {
        if (k != 1) {
            EXPECT_TRUE(simkernel::partitionBytes(a.state, kNames[k]) == a.parts[k]) << kNames[k];
        }
    }
    // Only zImage was written, by position, and nothing re-partitioned.
    EXPECT_TRUE(simkernel::opsMatching(a.state, {"op=write", "proc=updater", "dev=mtd0"}).empty());
    EXPECT_FALSE(simkernel::opsMatching(a.state, {"op=write", "proc=updater", "dev=mtd1"}).empty());
    EXPECT_TRUE(simkernel::opsMatching(a.state, {"req=M24"}).empty());
    EXPECT_TRUE(simkernel::opsMatching(a.state, {"req=MEMERASE"}).empty());

    // No pre-flash step, photo command, database service or marker.
    EXPECT_FALSE(a.syslogHas("UpdateFTPPassivePortRange"));
    EXPECT_FALSE(a.syslogHas("ChmodPhotoEaDir"));
    EXPECT_FALSE(a.syslogHas("DumpPgsqlDbs"));
    EXPECT_FALSE(a.syslogHas("DropMediaDb"));
    EXPECT_FALSE(a.app.exists("/pgsql.started"));
    EXPECT_FALSE(a.app.exists("/volume1/@pgsql_upgrade"));
    EXPECT_EQ(a.statOf("/var/services/photo/album/@eaDir", "%a"), "700");
    EXPECT_FALSE(a.app.exists("/.NormalShutdown"));
    EXPECT_FALSE(a.app.exists("/tmpRoot/.NormalShutdown"));

    EXPECT_EQ(a.app.readFile("/volume1/VexaUpgrade.tar.gz"), "the new system partition");
    EXPECT_FALSE(a.app.exists(a.packageDir + "/b@ckup"));
    EXPECT_EQ(a.updateLog().back(), "Congratulation!! The update has been completed!!");
    const simkernel::Counters405 calls = simkernel::counters405(a.state);
    EXPECT_EQ(calls.reserve, 1u);
    EXPECT_EQ(calls.release, 1u);
}

// A write that does not read back as its image is written again.
TEST(MSysRoad, AWriteIsReadBackAndTriedAgain)
{
    MSys a;
    a.install({});
    a.images({{"zImage", 5 * kUnit + 3}});
    simkernel::addFault(a.state, "corrupt write dev=mtd1 at=0x4e20");
    const approot::RunResult r = a.run({});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(a.syslogHas("compare file [" + a.packageDir + "/zImage] vs [/dev/mtd1] error at offset 0x4000"));
    EXPECT_TRUE(a.syslogHas("Try to Write MTD Partition(/dev/mtd1), [1/3]..."));
    EXPECT_EQ(simkernel::partitionData(a.state, "zImage", 5 * kUnit + 3), image("zImage", 5 * kUnit + 3));
}

// A failed migration after a re-partitioning: the old sizes and bytes come
// back, as the table of endings says for code 17.
TEST(MSysRoad, AFailedMigrationRestoresTheOldTable)
{
    MSys a;
    e2e::Installed inst;
    inst.build = 250;  // "/etc/profile" is to be removed
    a.install(inst);
    simkernel::setUptime(a.state, 100);
    a.app.mkdir("/etc/profile/held");
    a.images({{"zImage", 7 * kUnit}});
    const approot::RunResult r = a.run({});
    if (a.syslogHas("RemoveEtcProfile is not available"))
        GTEST_SKIP() << "the removal of \"/etc/profile\" is not built (status " << r.status << ")";
    ASSERT_NO_FATAL_FAILURE(e2e::expectExit17(a, r));
    EXPECT_EQ(a.units(), kUnits);
    EXPECT_TRUE(simkernel::chipBytes(a.state) == a.chip);
    EXPECT_FALSE(a.app.exists(a.packageDir + "/b@ckup"));
}

// zImage one unit too large: rd.gz gives it one, the flash is formatted
// and partitioned anew and all eight are written, zImage from its image,
// the others from their copies, as much of each as its new size holds.
TEST(MSysRoad, AnImageOneUnitTooLargeRepartitionsAndWritesAllEight)
{
    MSys a;
    a.install({});
    a.images({{"zImage", 7 * kUnit}});
    const approot::RunResult r = a.run({});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(a.syslogHas("NEED RE-PARTITION!!"));
    EXPECT_EQ(a.progress(), road({0, 1, 2, 3, 4, 5, 6, 7}));
    const std::vector<uint32_t> after = {4, 7, 5, 8, 1, 1, 1, 1};
    EXPECT_EQ(a.units(), after);
    EXPECT_EQ(simkernel::opsMatching(a.state, {"req=M24", "units=967", "res=0"}).size(), 1u);
    EXPECT_EQ(simkernel::opsMatching(a.state, {"req=M25", "counts=4,7,5,8,1,1,1,1", "res=0"}).size(), 1u);
    EXPECT_TRUE(simkernel::partitionBytes(a.state, "zImage") == image("zImage", 7 * kUnit));
    for (int k = 0; k < 8; ++k) {
        if (k == 1)
            continue;
        EXPECT_TRUE(simkernel::partitionBytes(a.state, kNames[k]) == a.parts[k].substr(0, after[k] * kUnit))
            << kNames[k];
    }
    EXPECT_FALSE(a.app.exists(a.packageDir + "/b@ckup"));
}

struct CapacityCase {
    const char *name;
    uint64_t zImage;
    int status;
};

class MSysCapacity : public ::testing::TestWithParam<CapacityCase> {};

// Every partition full: 967 units of data fit the flash, 968 do not.
TEST_P(MSysCapacity, DataOfAllPartitionsMustFitTheFlash)
{
    const std::vector<uint32_t> units = {16, 80, 200, 651, 4, 8, 4, 4};
    std::vector<uint32_t> full;
    for (uint32_t u : units)
        full.push_back(u * kUnit);
    MSys a(units, full);
    a.install({});
    a.images({{"zImage", GetParam().zImage}});
    a.packageFile("hda1.tgz", "the new system partition");
    const approot::RunResult r = a.run({"-g"});
    EXPECT_EQ(r.status, GetParam().status) << r.err;
    EXPECT_EQ(a.app.exists("/volume1/VexaUpgrade.tar.gz"), GetParam().status == 0);
    if (GetParam().status == 0) {
        EXPECT_EQ(simkernel::partitionBytes(a.state, "zImage"), image("zImage", GetParam().zImage));
        return;
    }
    EXPECT_TRUE(a.app.exists(a.packageDir + "/hda1.tgz"));
    EXPECT_TRUE(a.syslogHas("the binary size exceeds flash size limit(total = 968 blocks)"));
    EXPECT_EQ(a.lastProgress(), "P:-19:      ");
    EXPECT_TRUE(simkernel::chipBytes(a.state) == a.chip);
    EXPECT_TRUE(simkernel::opsMatching(a.state, {"op=write"}).empty());
}

INSTANTIATE_TEST_SUITE_P(Units, MSysCapacity,
                         ::testing::Values(CapacityCase{.name = "units967", .zImage = 80 * kUnit, .status = 0},
                                           CapacityCase{.name = "units968", .zImage = 80 * kUnit + 1, .status = 19}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(MSysRoad, GroupUpdateRefusesARepartitioningWithoutEveryImage)
{
    MSys a;
    a.install({});
    a.images({{"zImage", 7 * kUnit}});
    const approot::RunResult r = a.run({"-g"});
    EXPECT_EQ(r.status, 20) << r.err;
    EXPECT_TRUE(a.syslogHas("failed to update. [" + a.packageDir + "/RedBoot.msys] does not exist"));
    EXPECT_TRUE(simkernel::opsMatching(a.state, {"req=M24"}).empty());
    EXPECT_TRUE(simkernel::opsMatching(a.state, {"op=write"}).empty());
    EXPECT_TRUE(simkernel::chipBytes(a.state) == a.chip);
    EXPECT_EQ(a.lastProgress(), "P:-20:      ");
}

// The three attempts at zImage fail after the re-partitioning: the old
// sizes are laid down again and every partition written back from its copy.
TEST(MSysRoad, AFailedWriteAfterARepartitioningRestoresTheOldTable)
{
    MSys a;
    a.install({});
    a.images({{"zImage", 7 * kUnit}});
    a.packageFile("hda1.tgz", "the new system partition");
    for (int n = 1; n <= 3; ++n)
        simkernel::addFault(a.state, "fail write dev=mtd1 proc=updater nth=" + std::to_string(n));
    const approot::RunResult r = a.run({});
    EXPECT_EQ(r.status, 20) << r.err;
    EXPECT_EQ(a.units(), kUnits);
    EXPECT_TRUE(simkernel::chipBytes(a.state) == a.chip);
    EXPECT_EQ(simkernel::opsMatching(a.state, {"req=M25", "counts=4,6,6,8,1,1,1,1", "res=0"}).size(), 1u);
    EXPECT_EQ(a.lastProgress(), "P:-20:      ");
    EXPECT_EQ(a.updateLog().back(), failed(20));
    EXPECT_TRUE(a.syslogHas("Turn on the reinstall library flag"));
    EXPECT_FALSE(a.syslogHas("UPDTRollBack() fail"));
    // As the table of endings says for code 20.
    EXPECT_EQ(a.app.readFile("/volume1/VexaUpgrade.tar.gz"), "the new system partition");
    EXPECT_FALSE(a.app.exists(a.packageDir + "/b@ckup"));
}

struct EarlyCase {
    const char *name;
    const char *table;
    const char *fault;  // "" for none
    int status;
};

class MSysEarlyEnd : public ::testing::TestWithParam<EarlyCase> {};

// Endings before the write: nothing moved or removed, the flash untouched.
TEST_P(MSysEarlyEnd, LeavesThePackageFolderAndTheFlash)
{
    const EarlyCase &c = GetParam();
    e2e::Appliance a(c.table);
    simkernel::makeMSysChip(a.state, kUnits, kData);
    const std::string chip = simkernel::chipBytes(a.state);
    a.install({});
    simkernel::PackageLayout contents;
    contents.images = {{"zImage", 5 * kUnit}};
    a.package(contents);
    a.packageFile("hda1.tgz", "the new system partition");
    if (*c.fault != '\0')
        simkernel::addFault(a.state, c.fault);
    const approot::RunResult r = a.run({});
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_EQ(a.lastProgress(), "P:-" + std::to_string(c.status) + ":      ");
    EXPECT_TRUE(simkernel::chipBytes(a.state) == chip);
    EXPECT_TRUE(simkernel::opsMatching(a.state, {"op=write"}).empty());
    EXPECT_TRUE(a.app.exists(a.packageDir + "/hda1.tgz"));
    EXPECT_FALSE(a.app.exists("/volume1/VexaUpgrade.tar.gz"));
    EXPECT_EQ(a.app.exists(a.packageDir + "/b@ckup"), c.status == 15);
    if (*c.fault == '\0') {
        EXPECT_TRUE(simkernel::opsMatching(a.state, {"dev=mtd0"}).empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Codes, MSysEarlyEnd,
    ::testing::Values(
        // Partition k is named after table entry k: six names for eight.
        EarlyCase{.name = "bantam_table", .table = "bantam", .fault = "", .status = 18},
        EarlyCase{.name = "table_unreadable", .table = "normal", .fault = "fail m26", .status = 18},
        EarlyCase{.name = "copy_fails", .table = "normal", .fault = "fail read dev=mtd2 proc=updater", .status = 15}),
    [](const auto &info) { return std::string(info.param.name); });

}  // namespace

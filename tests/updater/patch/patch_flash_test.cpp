// The flash road on the simulated flash inside the appliance root: the
// backup, the write with its moves of erase blocks, the faults the flash
// can show and the roll-back after them, and the directory repair.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "approot.h"
#include "simfixture.h"
#include "test_tmp.h"
#include "updt_patch.h"

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kBlock = 0x10000;

class FlashRoad : public ::testing::Test {
protected:
    void make(const std::string &table = "normal")
    {
        table_ = table;
        simkernel::makeChip(state_, table);
        before_ = simkernel::chipBytes(state_);
        dirBefore_ = simkernel::readDirectory(state_);
    }

    void package(const std::map<std::string, uint64_t> &images)
    {
        simkernel::PackageLayout contents;
        contents.build = kBuild;
        contents.table = table_;
        contents.images = images;
        if (images.empty())
            contents.images = {{"VERSION.only", 1}};  // no image at all
        simkernel::makePackage(pkg_, contents);
        fs::remove(pkg_ + "/VERSION.only");
    }

    approot::RunResult run(std::vector<std::string> args = {})
    {
        if (!attached_) {
            simkernel::attach(app_, state_);
            app_.bind(pkg_, pkg_);
            attached_ = true;
        }
        args.insert(args.begin(), PATCHPROBE_PATH);
        if (table_ == "bantam")
            args.push_back("--bantam");
        approot::RunResult r = app_.run(args, pkg_);
        last_ = r.out;
        for (const std::string &m : app_.syslog())
            r.err += m + "\n";  // shown when an expectation fails
        return r;
    }

    bool said(const std::string &line) const { return last_.find(line + "\n") != std::string::npos; }

    bool logged(const std::string &text)
    {
        for (const std::string &m : app_.syslog())
            if (m.find(text) != std::string::npos)
                return true;
        return false;
    }

    const simkernel::DirEntry &oldEntry(const std::string &name) const
    {
        for (const auto &e : dirBefore_)
            if (e.name == name)
                return e;
        throw std::runtime_error("no entry " + name);
    }

    static simkernel::DirEntry entryOf(const std::vector<simkernel::DirEntry> &dir, const std::string &name)
    {
        for (const auto &e : dir)
            if (e.name == name)
                return e;
        throw std::runtime_error("no entry " + name);
    }

    std::string oldPartition(const std::string &name) const
    {
        const auto &e = oldEntry(name);
        return before_.substr(e.flashBase - base(), e.size);
    }

    uint32_t base() const { return table_ == "bantam" ? 0xFFE00000u : 0xFF800000u; }

    std::string image(const std::string &file, uint64_t size) const
    {
        return simkernel::imageBytes(file, kBuild, size);
    }

    void expectFlashAsBefore()
    {
        EXPECT_TRUE(simkernel::chipBytes(state_) == before_) << "the flash changed";
    }

    bool backupExists() const { return fs::exists(pkg_ + "/b@ckup"); }

    static constexpr int kBuild = 1500;
    vexatest::TempDir tmp_{"flash"};
    std::string state_ = tmp_ / "kernel";
    std::string pkg_ = tmp_ / "pkg";
    approot::Appliance app_{"flash"};
    std::string table_ = "normal";
    std::string before_;
    std::vector<simkernel::DirEntry> dirBefore_;
    bool attached_ = false;
    std::string last_;
};

TEST_F(FlashRoad, WritesEveryImageAndRecordsItsEntry)
{
    make();
    const auto images = simkernel::defaultImages("normal");
    package(images);
    auto r = run();
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(said("backup=0"));
    EXPECT_TRUE(said("patch=0 touched=1"));

    auto dir = simkernel::readDirectory(state_);
    for (const auto &[part, file] : std::vector<std::pair<std::string, std::string>>{
             {"zImage", "zImage"}, {"rd.gz", "rd.bin"}, {"AllLib.tgz", "AllLib.tgz"}}) {
        SCOPED_TRACE(part);
        const uint64_t len = images.at(file);
        EXPECT_TRUE(simkernel::partitionData(state_, part, len) == image(file, len));
        const auto e = entryOf(dir, part);
        EXPECT_EQ(e.flashBase, oldEntry(part).flashBase);
        EXPECT_EQ(e.size, oldEntry(part).size);
        EXPECT_EQ(e.dataLength, len);
        // Erased behind the image.
        std::string whole = simkernel::partitionBytes(state_, part);
        EXPECT_EQ(whole.find_first_not_of('\xff', len), std::string::npos);
    }
    for (const char *part : {"RedBoot", "vendor", "vexacfg", "RedBoot Config"}) {
        SCOPED_TRACE(part);
        EXPECT_TRUE(simkernel::partitionBytes(state_, part) == oldPartition(part));
        EXPECT_EQ(entryOf(dir, part).raw, oldEntry(part).raw);
    }
    EXPECT_FALSE(backupExists());
    EXPECT_TRUE(logged("skip updating [RedBoot]"));
}

TEST_F(FlashRoad, BackupHoldsEveryPartitionWholeUnderItsDirectoryName)
{
    make();
    package(simkernel::defaultImages("normal"));
    auto r = run({"--keep-backup"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    for (const auto &e : dirBefore_) {
        SCOPED_TRACE(e.name);
        EXPECT_TRUE(vexatest::readFile(pkg_ + "/b@ckup/mtd_" + e.name) == oldPartition(e.name));
    }
    EXPECT_TRUE(fs::exists(pkg_ + "/b@ckup/mtd_RedBoot Config"));
    EXPECT_TRUE(logged("copying /dev/mtd6 to " + pkg_ + "/b@ckup/mtd_RedBoot Config"));
}

TEST_F(FlashRoad, ADeviceNotMatchingItsEntryStopsTheBackupBeforeAnyCopy)
{
    make();
    package(simkernel::defaultImages("normal"));
    sk::State st = simkernel::loadState(state_);
    st.part[3].fromdir = 0;
    st.part[3].start = oldEntry("AllLib.tgz").flashBase;
    st.part[3].size = oldEntry("AllLib.tgz").size - kBlock;
    simkernel::saveState(state_, st);
    auto r = run();
    EXPECT_EQ(r.status, 15) << r.out;
    EXPECT_TRUE(said("backup=-1"));
    EXPECT_FALSE(backupExists());
    EXPECT_TRUE(simkernel::opsMatching(state_, {"proc=dd"}).empty());
    expectFlashAsBefore();
}

TEST_F(FlashRoad, AFailedReadOfTheBackupFailsItAndLeavesTheFlash)
{
    make();
    package(simkernel::defaultImages("normal"));
    simkernel::addFault(state_, "fail read proc=main dev=mtd3 after=100000");
    auto r = run();
    EXPECT_EQ(r.status, 15) << r.out;
    EXPECT_TRUE(said("backup=-1"));
    EXPECT_TRUE(simkernel::opsMatching(state_, {"req=MEMERASE"}).empty());
    expectFlashAsBefore();
}

// zImage needs one block more; rd.gz (no image, 5 spare) and AllLib.tgz
// (no image, 7 spare) may give; AllLib.tgz has more.  rd.gz moves up one
// block and is rewritten from its copy; AllLib.tgz moves and shrinks and
// keeps the front of its copy.
TEST_F(FlashRoad, MovedPartitionsWithoutImagesAreRewrittenFromTheirCopies)
{
    make();
    package({{"zImage", 16 * kBlock + 1}});
    auto r = run();
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    auto dir = simkernel::readDirectory(state_);

    const auto z = entryOf(dir, "zImage");
    EXPECT_EQ(z.flashBase, oldEntry("zImage").flashBase);
    EXPECT_EQ(z.size, 17 * kBlock);
    EXPECT_EQ(z.dataLength, 16 * kBlock + 1);
    EXPECT_TRUE(simkernel::partitionData(state_, "zImage", 16 * kBlock + 1) == image("zImage", 16 * kBlock + 1));

    const auto rd = entryOf(dir, "rd.gz");
    EXPECT_EQ(rd.flashBase, oldEntry("rd.gz").flashBase + kBlock);
    EXPECT_EQ(rd.size, oldEntry("rd.gz").size);
    EXPECT_EQ(rd.dataLength, oldEntry("rd.gz").dataLength);
    EXPECT_TRUE(simkernel::partitionBytes(state_, "rd.gz") == oldPartition("rd.gz"));

    const auto lib = entryOf(dir, "AllLib.tgz");
    EXPECT_EQ(lib.flashBase, oldEntry("AllLib.tgz").flashBase + kBlock);
    EXPECT_EQ(lib.size, oldEntry("AllLib.tgz").size - kBlock);
    EXPECT_EQ(lib.dataLength, oldEntry("AllLib.tgz").dataLength);
    EXPECT_TRUE(simkernel::partitionBytes(state_, "AllLib.tgz") == oldPartition("AllLib.tgz").substr(0, lib.size));

    // The boot loader, without an image, gave nothing and stayed.
    EXPECT_EQ(entryOf(dir, "RedBoot").raw, oldEntry("RedBoot").raw);
    EXPECT_TRUE(simkernel::partitionBytes(state_, "vendor") == oldPartition("vendor"));
}

TEST_F(FlashRoad, WithGroupUpdateAMovedPartitionNeedsItsOwnImage)
{
    make();
    package({{"zImage", 16 * kBlock + 1}});
    auto r = run({"-g"});
    EXPECT_EQ(r.status, 20) << r.out;
    EXPECT_TRUE(said("patch=-1 touched=0"));
    EXPECT_TRUE(simkernel::opsMatching(state_, {"req=M22"}).empty());
    expectFlashAsBefore();
}

TEST_F(FlashRoad, WithGroupUpdateMovedPartitionsAreWrittenFromTheirImages)
{
    make();
    auto images = simkernel::defaultImages("normal");
    images["zImage"] = 17 * kBlock;
    package(images);
    auto r = run({"-g"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_FALSE(said("backup=0"));
    auto dir = simkernel::readDirectory(state_);
    // rd.gz has the most to spare (22 blocks).
    EXPECT_EQ(entryOf(dir, "zImage").size, 17 * kBlock);
    EXPECT_EQ(entryOf(dir, "rd.gz").flashBase, oldEntry("rd.gz").flashBase + kBlock);
    EXPECT_EQ(entryOf(dir, "rd.gz").size, oldEntry("rd.gz").size - kBlock);
    EXPECT_EQ(entryOf(dir, "AllLib.tgz").flashBase, oldEntry("AllLib.tgz").flashBase);
    for (const auto &[part, file] : std::vector<std::pair<std::string, std::string>>{
             {"zImage", "zImage"}, {"rd.gz", "rd.bin"}, {"AllLib.tgz", "AllLib.tgz"}}) {
        SCOPED_TRACE(part);
        EXPECT_TRUE(simkernel::partitionData(state_, part, images.at(file)) == image(file, images.at(file)));
    }
}

TEST_F(FlashRoad, AnImageTooLargeForAFixedPartitionIsRefusedBeforeWriting)
{
    make();
    auto images = simkernel::defaultImages("normal");
    images["vexacfg"] = 3 * kBlock;
    package(images);
    auto r = run();
    EXPECT_EQ(r.status, 20) << r.out;
    EXPECT_TRUE(said("patch=-1 touched=0"));
    EXPECT_TRUE(said("rollback=0"));
    EXPECT_TRUE(logged("fail to resize"));
    expectFlashAsBefore();
    EXPECT_FALSE(backupExists());
}

TEST_F(FlashRoad, AnImageThatIsNotARegularFileFailsTheTable)
{
    make();
    auto images = simkernel::defaultImages("normal");
    images.erase("zImage");
    package(images);
    fs::create_directory(pkg_ + "/zImage");
    auto r = run();
    EXPECT_EQ(r.status, 19) << r.out;
    EXPECT_TRUE(said("init=-1"));
    expectFlashAsBefore();
}

TEST_F(FlashRoad, AnEmptyImageIsNotWritten)
{
    make();
    auto images = simkernel::defaultImages("normal");
    images.erase("zImage");
    package(images);
    vexatest::writeFile(pkg_ + "/zImage", "");
    auto r = run();
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(said("entry 1 zImage start=0xFF840000 size=0x00100000 datalen=0x000C5EDA update=0"));
    EXPECT_TRUE(simkernel::opsMatching(state_, {"dev=mtd1", "req=MEMERASE"}).empty());
    EXPECT_TRUE(simkernel::partitionBytes(state_, "zImage") == oldPartition("zImage"));
}

TEST_F(FlashRoad, AnImageGoneSinceTheTableWasBuiltFailsBeforeAnyFlashOperation)
{
    make();
    package(simkernel::defaultImages("normal"));
    auto r = run({"--remove-after-init", "AllLib.tgz"});
    EXPECT_EQ(r.status, 20) << r.out;
    EXPECT_TRUE(said("patch=-1 touched=0"));
    EXPECT_TRUE(logged("is gone or changed"));
    EXPECT_TRUE(simkernel::opsMatching(state_, {"req=M22"}).empty());
    expectFlashAsBefore();
}

// Filling the patch table from the directory and the package.  The normal
// chip has 128 blocks of 64 KiB; the span from zImage to the end of the
// directory holds 124 of them, and every entry's blocks count against it,
// the boot loader's 4 too.
struct InitCase {
    const char *what;
    std::map<std::string, uint64_t> images;
    std::function<void(std::vector<simkernel::DirEntry> &)> editDirectory = nullptr;
    int result;
    std::vector<std::string> lines = {};  // printed by the probe
    std::string logged = "";              // part of a system-log message
};

simkernel::DirEntry &entryIn(std::vector<simkernel::DirEntry> &dir, const std::string &name)
{
    for (auto &e : dir)
        if (e.name == name)
            return e;
    throw std::runtime_error("no entry " + name);
}

void renameEntry(std::vector<simkernel::DirEntry> &dir, const std::string &from, const std::string &to)
{
    entryIn(dir, from).name = to;
}

void PrintTo(const InitCase &c, std::ostream *os)
{
    *os << c.what;
}

class FillTable : public FlashRoad, public ::testing::WithParamInterface<InitCase> {};

TEST_P(FillTable, FromTheDirectoryAndThePackage)
{
    const InitCase &c = GetParam();
    make();
    package(c.images);
    if (c.editDirectory) {
        std::vector<simkernel::DirEntry> dir = dirBefore_;
        for (auto &e : dir)
            e.raw.clear();
        c.editDirectory(dir);
        simkernel::writeDirectory(state_, dir);
        before_ = simkernel::chipBytes(state_);
    }
    auto r = run({"--init-only"});
    EXPECT_TRUE(said("init=" + std::to_string(c.result))) << r.out << r.err;
    for (const std::string &line : c.lines)
        EXPECT_TRUE(said(line)) << line << "\n" << r.out;
    if (!c.logged.empty()) {
        EXPECT_TRUE(logged(c.logged)) << c.logged << "\n" << r.err;
    }
    expectFlashAsBefore();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FillTable,
    ::testing::Values(
        InitCase{.what = "image of exactly the partition's blocks",
                 .images = {{"zImage", 16 * kBlock}},
                 .result = 0,
                 .lines = {"table 1 zImage datalen=0x00100000 balance=0 update=1",
                           "table 0 RedBoot datalen=0x0003A448 balance=0 update=0"},
                 .logged = "file [RedBoot.msys] not included in the patch package "},
        InitCase{.what = "one byte more needs another block",
                 .images = {{"zImage", 16 * kBlock + 1}},
                 .result = 0,
                 .lines = {"table 1 zImage datalen=0x00100001 balance=-1 update=1"},
                 .logged = "PATCHINFO: part[zImage] file[zImage] start = [0xFF840000]"},
        InitCase{.what = "every block of the span in use passes",
                 .images = {{"zImage", 16 * kBlock}, {"rd.bin", 32 * kBlock}, {"AllLib.tgz", 67 * kBlock}},
                 .result = 0,
                 .lines = {"table 3 AllLib.tgz datalen=0x00430000 balance=4 update=1"},
                 .logged = "flashsize = 0x007C0000, eraseblock = 0x00010000"},
        InitCase{.what = "one block more than the span fails",
                 .images = {{"zImage", 16 * kBlock}, {"rd.bin", 32 * kBlock}, {"AllLib.tgz", 68 * kBlock}},
                 .result = -1,
                 .logged = "the binary size exceeds flash size limit(total = 125)"},
        InitCase{.what = "a table partition missing from the directory",
                 .images = {{"zImage", kBlock}},
                 .editDirectory =
                     [](std::vector<simkernel::DirEntry> &d) {
                         d.erase(std::remove_if(d.begin(), d.end(),
                                                [](const auto &e) { return e.name == "vexacfg"; }),
                                 d.end());
                     },
                 .result = -1,
                 .logged = "get idx of partition 5 [vexacfg] fail"},
        InitCase{.what = "names compared ignoring case",
                 .images = {{"zImage", kBlock}},
                 .editDirectory = [](std::vector<simkernel::DirEntry> &d) { renameEntry(d, "RedBoot", "REDBOOT"); },
                 .result = 0,
                 .lines = {"table 0 RedBoot datalen=0x0003A448 balance=0 update=0"}},
        InitCase{.what = "a directory entry of size 0",
                 .images = {{"zImage", kBlock}},
                 .editDirectory = [](std::vector<simkernel::DirEntry> &d) { entryIn(d, "FIS Directory").size = 0; },
                 .result = -1,
                 .logged = "ulAddrMtd7 = ffff0000, ulAddrMtd0 = ff840000, ulSizeMtd7 = 0"},
        InitCase{.what = "the directory below zImage",
                 .images = {{"zImage", kBlock}},
                 .editDirectory =
                     [](std::vector<simkernel::DirEntry> &d) { entryIn(d, "zImage").flashBase = 0xFFFF0000u; },
                 .result = -1,
                 .logged = "flashsize == 0"},
        // The directory itself is checked whatever the table needs.
        InitCase{.what = "an entry off the erase blocks",
                 .images = {{"zImage", kBlock}},
                 .editDirectory = [](std::vector<simkernel::DirEntry> &d) { entryIn(d, "vendor").flashBase += 0x100; },
                 .result = -1,
                 .logged = "is not erase-block aligned"},
        InitCase{.what = "one name listed twice",
                 .images = {{"zImage", kBlock}},
                 .editDirectory = [](std::vector<simkernel::DirEntry> &d) { renameEntry(d, "vendor", "ZIMAGE"); },
                 .result = -1,
                 .logged = "partition [ZIMAGE] is listed twice"}),
    [](const ::testing::TestParamInfo<InitCase> &info) { return "case" + std::to_string(info.index); });

TEST_F(FlashRoad, StoredWronglyOnceIsWrittenAgain)
{
    make();
    const auto images = simkernel::defaultImages("normal");
    package(images);
    simkernel::addFault(state_, "corrupt write dev=mtd1 proc=main at=20000");
    auto r = run();
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(logged("error at offset 0x4000"));
    EXPECT_EQ(simkernel::opsMatching(state_, {"dev=mtd1", "req=MEMERASE", "res=0"}).size(), 2u);
    EXPECT_TRUE(simkernel::partitionData(state_, "zImage", images.at("zImage")) ==
                image("zImage", images.at("zImage")));
    EXPECT_EQ(app_.readFile("/tmp/update.progress").substr(0, 6), "P:100:");
}

// The write and the roll-back make three attempts at a partition: an
// operation that fails twice passes at the third, one that fails three
// times fails the partition.  The request log shows the attempts made.
struct AttemptCase {
    const char *what;
    std::vector<std::string> rules;
    int status;
    int rollback;             // what the roll-back returned; 1: none ran
    size_t erases;            // on zImage's device, refused ones too
    size_t refused;           // of those, failed by a rule
    std::string logged;       // part of a system-log message
};

void PrintTo(const AttemptCase &c, std::ostream *os)
{
    *os << c.what;
}

class Attempts : public FlashRoad, public ::testing::WithParamInterface<AttemptCase> {};

TEST_P(Attempts, AreCountedFromTheRequestLog)
{
    const AttemptCase &c = GetParam();
    make();
    const auto images = simkernel::defaultImages("normal");
    package(images);
    for (const std::string &rule : c.rules)
        simkernel::addFault(state_, rule);
    auto r = run();
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    if (c.rollback != 1) {
        EXPECT_TRUE(said("rollback=" + std::to_string(c.rollback))) << r.out;
    } else {
        EXPECT_EQ(r.out.find("rollback="), std::string::npos);
    }
    const auto erases = simkernel::opsMatching(state_, {"dev=mtd1", "req=MEMERASE"});
    size_t refused = 0;
    for (const std::string &line : erases)
        refused += !simkernel::opsField(line, "fault").empty();
    EXPECT_EQ(erases.size(), c.erases);
    EXPECT_EQ(refused, c.refused);
    EXPECT_TRUE(logged(c.logged)) << c.logged << "\n" << r.err;
    if (c.status == 0) {
        EXPECT_TRUE(simkernel::partitionData(state_, "zImage", images.at("zImage")) ==
                    image("zImage", images.at("zImage")));
    } else if (c.rollback == 0) {
        expectFlashAsBefore();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Attempts,
    ::testing::Values(
        AttemptCase{.what = "write: erase fails twice, the third attempt passes",
                    .rules = {"fail erase dev=mtd1 nth=1", "fail erase dev=mtd1 nth=2"},
                    .status = 0, .rollback = 1, .erases = 3, .refused = 2,
                    .logged = "Finish updating [zImage]"},
        AttemptCase{.what = "write: erase fails three times",
                    .rules = {"fail erase dev=mtd1 nth=1", "fail erase dev=mtd1 nth=2", "fail erase dev=mtd1 nth=3"},
                    .status = 20, .rollback = 0, .erases = 4, .refused = 3,
                    .logged = "Try to Update [/dev/mtd1] 3 counts failed"},
        // zImage's record fails the write at once; its roll-back then meets
        // the failing erases.
        AttemptCase{.what = "roll-back: erase fails twice, the third attempt passes",
                    .rules = {"fail m23 dev=mtd7 nth=1", "fail erase dev=mtd1 nth=2", "fail erase dev=mtd1 nth=3"},
                    .status = 20, .rollback = 0, .erases = 4, .refused = 2,
                    .logged = "UPDTRollBack: Finish recovering [zImage]"},
        AttemptCase{.what = "roll-back: erase fails three times",
                    .rules = {"fail m23 dev=mtd7 nth=1", "fail erase dev=mtd1 nth=2", "fail erase dev=mtd1 nth=3",
                              "fail erase dev=mtd1 nth=4"},
                    .status = 20, .rollback = -1, .erases = 4, .refused = 3,
                    .logged = "Try to recover [/dev/mtd1] 3 counts failed"}),
    [](const ::testing::TestParamInfo<AttemptCase> &info) { return "case" + std::to_string(info.index); });

struct FaultCase {
    const char *what;
    std::vector<std::string> rules;
    int rollback = 0;            // what the roll-back returned
    bool flashAsBefore = true;   // every byte of the chip
    std::string logged = "";     // part of a system-log message
};

void PrintTo(const FaultCase &c, std::ostream *os)
{
    *os << c.what;
}

class FlashFault : public FlashRoad, public ::testing::WithParamInterface<FaultCase> {};

// One fault each; the write fails.  The roll-back puts back every byte,
// or, when a fault hits it too, fails and keeps the copies.
TEST_P(FlashFault, TheFlashIsRestoredByteForByte)
{
    const FaultCase &c = GetParam();
    make();
    auto images = simkernel::defaultImages("normal");
    images["zImage"] = 17 * kBlock;  // with a move, so that ranges change too
    package(images);
    for (const std::string &rule : c.rules)
        simkernel::addFault(state_, rule);
    auto r = run();
    EXPECT_EQ(r.status, 20) << r.out << r.err;
    EXPECT_TRUE(said("patch=-1 touched=1"));
    EXPECT_TRUE(said("rollback=" + std::to_string(c.rollback))) << r.out;
    bool acted = false;
    for (const std::string &line : simkernel::opsLog(state_))
        acted = acted || !simkernel::opsField(line, "fault").empty();
    EXPECT_TRUE(acted) << "the fault never acted";
    if (!c.logged.empty()) {
        EXPECT_TRUE(logged(c.logged)) << c.logged << "\n" << r.err;
    }
    EXPECT_EQ(simkernel::chipBytes(state_) == before_, c.flashAsBefore) << "the flash as before";
    EXPECT_EQ(backupExists(), c.rollback != 0);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FlashFault,
    ::testing::Values(
        FaultCase{.what = "erase fails three times",
                  .rules = {"fail erase dev=mtd1 nth=1", "fail erase dev=mtd1 nth=2", "fail erase dev=mtd1 nth=3"}},
        // The roll-back writes through the same process: the faults end
        // with the write's three attempts.
        FaultCase{.what = "every write attempt fails",
                  .rules = {"fail write dev=mtd2 nth=1", "fail write dev=mtd2 nth=2", "fail write dev=mtd2 nth=3"}},
        FaultCase{.what = "M22 fails", .rules = {"fail m22 dev=mtd2"}},
        FaultCase{.what = "M23 fails", .rules = {"fail m23 dev=mtd7"}},
        // Each attempt fails at its fifth write of 16384 bytes.
        FaultCase{.what = "write fails midway",
                  .rules = {"fail write dev=mtd3 nth=5", "fail write dev=mtd3 nth=10", "fail write dev=mtd3 nth=15"}},
        // zImage's record fails the write; then a fault in its roll-back
        // (its entry was never changed, so a failed record leaves it).
        // A request failing once is another attempt; failing in all three
        // it leaves the roll-back incomplete.
        FaultCase{.what = "M22 fails once in the roll-back",
                  .rules = {"fail m23 dev=mtd7 nth=1", "fail m22 dev=mtd1 nth=2"},
                  .logged = "UPDTRollBack: VEXAMTDModifyPartitionSize() fail"},
        FaultCase{.what = "M22 fails in the roll-back",
                  .rules = {"fail m23 dev=mtd7 nth=1", "fail m22 dev=mtd1 nth=2 always"},
                  .rollback = -1,
                  .flashAsBefore = false,
                  .logged = "UPDTRollBack: VEXAMTDModifyPartitionSize() fail"},
        FaultCase{.what = "M23 fails once in the roll-back",
                  .rules = {"fail m23 dev=mtd7 nth=1", "fail m23 dev=mtd7 nth=2"},
                  .logged = "UPDTRollBack: VEXAMTDModifyFISEntry() fail"},
        FaultCase{.what = "M23 fails in the roll-back",
                  .rules = {"fail m23 dev=mtd7 nth=1", "fail m23 dev=mtd7 nth=2 always"},
                  .rollback = -1,
                  .logged = "UPDTRollBack: VEXAMTDModifyFISEntry() fail"},
        FaultCase{.what = "unlock fails in the roll-back",
                  .rules = {"fail m23 dev=mtd7 nth=1", "fail unlock dev=mtd1 nth=2 always"},
                  .rollback = -1,
                  .flashAsBefore = false,
                  .logged = "Try to recover [/dev/mtd1] 3 counts failed"}),
    [](const ::testing::TestParamInfo<FaultCase> &info) { return "fault" + std::to_string(info.index); });

// A secret of the appliance that no copy may reach.
constexpr char kShadow[] = "root:$6$salt$hash:19000:0:99999:7:::\n";

// The package folder's owner swaps b@ckup for a folder of links to
// "/etc/shadow" once the first partition is copied: every copy still goes
// into the folder the updater made, and nothing outside it changes.
TEST_F(FlashRoad, ABackupFolderSwappedDuringTheBackupRedirectsNoCopy)
{
    make();
    package(simkernel::defaultImages("normal"));
    app_.writeFile("/etc/shadow", kShadow, 0600);
    // The copy of the second partition stops after its first byte.
    simkernel::addFault(state_, "signal read proc=main dev=mtd1 after=1 sig=" + std::to_string(SIGSTOP));
    auto r = run({"--race-as", "65534", "/etc/shadow"});
    ASSERT_TRUE(said("race=0")) << r.out << r.err;
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(app_.readFile("/etc/shadow"), kShadow);
    for (const approot::Change &c : app_.changes())
        EXPECT_EQ(c.path.rfind("/tmp/", 0), 0u) << c.kind << " " << c.path;

    // The updater's folder, moved by the owner, holds every copy whole,
    // readable by root alone.
    const std::string moved = pkg_ + "/b@ckup.swapped";
    struct stat st {};
    ASSERT_EQ(::lstat(moved.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    for (const auto &e : dirBefore_) {
        SCOPED_TRACE(e.name);
        const std::string copy = moved + "/mtd_" + e.name;
        ASSERT_EQ(::lstat(copy.c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_EQ(st.st_mode & 07777, 0600u);
        EXPECT_TRUE(vexatest::readFile(copy) == oldPartition(e.name));
    }
}

// A failed roll-back keeps b@ckup as the only way back; the next run moves
// it aside, says where, and makes its own.
TEST_F(FlashRoad, ABackupKeptByAFailedRollBackSurvivesTheRetry)
{
    make();
    package(simkernel::defaultImages("normal"));
    simkernel::addFault(state_, "fail erase dev=mtd1 always");
    auto r = run();
    ASSERT_TRUE(said("rollback=-1")) << r.out << r.err;
    std::map<std::string, std::string> kept;
    for (const auto &e : dirBefore_)
        kept[e.name] = vexatest::readFile(pkg_ + "/b@ckup/mtd_" + e.name);

    simkernel::clearFaults(state_);
    app_.clearSyslog();
    r = run();
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(logged(pkg_ + "/b@ckup of an earlier run is kept as " + pkg_ + "/b@ckup.1")) << r.err;
    for (const auto &e : dirBefore_) {
        SCOPED_TRACE(e.name);
        EXPECT_TRUE(vexatest::readFile(pkg_ + "/b@ckup.1/mtd_" + e.name) == kept[e.name]);
        EXPECT_TRUE(kept[e.name] == oldPartition(e.name));
    }
    EXPECT_FALSE(backupExists());  // this run's own, removed after its success
}

// A bit read wrongly while a partition is copied: the copy is read back
// against its device at once, and the run stops before any erase.
TEST_F(FlashRoad, ACopyThatDiffersFromItsDeviceFailsTheBackup)
{
    make();
    package(simkernel::defaultImages("normal"));
    simkernel::addFault(state_, "corrupt read dev=mtd1 proc=main at=20000");
    auto r = run();
    EXPECT_EQ(r.status, 15) << r.out << r.err;
    EXPECT_TRUE(said("backup=-1"));
    EXPECT_TRUE(logged("backup [" + pkg_ + "/b@ckup/mtd_zImage] differs from /dev/mtd1")) << r.err;
    EXPECT_TRUE(simkernel::opsMatching(state_, {"req=MEMERASE"}).empty());
    expectFlashAsBefore();
}

// A package that needs no move of erase blocks, on a directory whose
// zImage reaches into rd.gz: refused before the first flash operation.
TEST_F(FlashRoad, AnOverlappingDirectoryIsRefusedBeforeAnyFlashOperation)
{
    make();
    std::vector<simkernel::DirEntry> dir = dirBefore_;
    for (auto &e : dir)
        e.raw.clear();
    entryIn(dir, "zImage").size += kBlock;
    simkernel::writeDirectory(state_, dir);
    // zImage's device follows the directory, as the kernel reads it at boot.
    sk::State st = simkernel::loadState(state_);
    st.part[1].size += kBlock;
    simkernel::saveState(state_, st);
    before_ = simkernel::chipBytes(state_);
    package(simkernel::defaultImages("normal"));
    auto r = run();
    EXPECT_EQ(r.status, 19) << r.out << r.err;
    EXPECT_TRUE(said("init=-1"));
    EXPECT_TRUE(logged("partitions [zImage] and [rd.gz] overlap")) << r.err;
    for (const char *op : {"req=MEMERASE", "req=M22", "req=MEMUNLOCK", "op=write"})
        EXPECT_TRUE(simkernel::opsMatching(state_, {op}).empty()) << op;
    expectFlashAsBefore();
}

// Something other than a regular file where an image belongs.
struct ImageCase {
    const char *what;
    std::function<void(const std::string &path)> plant;
};

void PrintTo(const ImageCase &c, std::ostream *os)
{
    *os << c.what;
}

class BadImage : public FlashRoad, public ::testing::WithParamInterface<ImageCase> {};

TEST_P(BadImage, IsRefusedAndNothingIsWritten)
{
    make();
    auto images = simkernel::defaultImages("normal");
    images.erase("zImage");
    package(images);
    app_.writeFile("/etc/shadow", kShadow, 0600);
    GetParam().plant(pkg_ + "/zImage");
    auto r = run();
    EXPECT_EQ(r.status, 19) << r.out << r.err;
    EXPECT_TRUE(said("init=-1"));
    EXPECT_TRUE(logged("file [zImage] is not a regular file")) << r.err;
    EXPECT_TRUE(simkernel::opsMatching(state_, {"req=MEMERASE"}).empty());
    expectFlashAsBefore();
    EXPECT_EQ(app_.readFile("/etc/shadow"), kShadow);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadImage,
    ::testing::Values(
        ImageCase{.what = "a link to a secret",
                  .plant = [](const std::string &path) { fs::create_symlink("/etc/shadow", path); }},
        ImageCase{.what = "a dangling link",
                  .plant = [](const std::string &path) { fs::create_symlink("/nowhere/zImage", path); }},
        ImageCase{.what = "a FIFO", .plant = [](const std::string &path) { ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0); }}),
    [](const ::testing::TestParamInfo<ImageCase> &info) { return "image" + std::to_string(info.index); });

// The directory spells a name its own way: the copy, the new entry and the
// restored one all use that spelling.
TEST_F(FlashRoad, EntriesAreNamedAsTheDirectorySpellsThem)
{
    make();
    std::vector<simkernel::DirEntry> dir = dirBefore_;
    for (auto &e : dir) {
        e.raw.clear();
        if (e.name == "zImage")
            e.name = "ZIMAGE";
    }
    simkernel::writeDirectory(state_, dir);
    before_ = simkernel::chipBytes(state_);
    package(simkernel::defaultImages("normal"));
    simkernel::addFault(state_, "fail m23 dev=mtd7 nth=2");  // rd.gz's record: the write fails
    auto r = run();
    EXPECT_EQ(r.status, 20) << r.out << r.err;
    EXPECT_TRUE(said("rollback=0"));
    EXPECT_TRUE(logged("copying /dev/mtd1 to " + pkg_ + "/b@ckup/mtd_ZIMAGE"));
    EXPECT_TRUE(logged("restoring /dev/mtd1 from " + pkg_ + "/b@ckup/mtd_ZIMAGE"));
    const auto records = simkernel::opsMatching(state_, {"req=M23", "res=0"});
    int named = 0;
    for (const std::string &line : records) {
        EXPECT_EQ(line.find("name='zImage'"), std::string::npos) << line;
        named += line.find("name='ZIMAGE'") != std::string::npos;
    }
    EXPECT_EQ(named, 2) << "written, then restored";
    expectFlashAsBefore();
}

TEST_F(FlashRoad, AMigrationFailureAfterTheWriteRestoresTheFlash)
{
    make();
    auto images = simkernel::defaultImages("normal");
    images["zImage"] = 17 * kBlock;
    package(images);
    auto r = run({"--fail-after-write"});
    EXPECT_EQ(r.status, 17) << r.out;
    EXPECT_TRUE(said("patch=0 touched=1"));
    EXPECT_TRUE(said("rollback=0"));
    expectFlashAsBefore();
}

TEST_F(FlashRoad, AFailedRollBackKeepsTheCopiesAndGoesOn)
{
    make();
    package(simkernel::defaultImages("normal"));
    simkernel::addFault(state_, "fail erase dev=mtd1 always");
    auto r = run();
    EXPECT_EQ(r.status, 20) << r.out;
    EXPECT_TRUE(said("rollback=-1"));
    EXPECT_TRUE(backupExists());
    EXPECT_TRUE(logged("the old partitions stay in " + pkg_ + "/b@ckup"));
    // The partitions after the failing one were still restored.
    EXPECT_GE(simkernel::opsMatching(state_, {"dev=mtd3", "req=MEMERASE", "res=0"}).size(), 1u);
    EXPECT_TRUE(simkernel::partitionBytes(state_, "AllLib.tgz") == oldPartition("AllLib.tgz"));
}

TEST_F(FlashRoad, AMissingCopyIsNotErasedInTheRollBack)
{
    make();
    package(simkernel::defaultImages("normal"));
    // The write of rd.gz fails; the copies disappear before the roll-back.
    simkernel::addFault(state_, "fail erase dev=mtd2 always");
    auto r = run({"--drop-copies"});
    EXPECT_EQ(r.status, 20) << r.out;
    EXPECT_TRUE(said("rollback=-1"));
    EXPECT_TRUE(logged("is missing or not"));
    EXPECT_TRUE(simkernel::opsMatching(state_, {"dev=mtd1", "req=MEMERASE"}).size() == 1u);
}

TEST_F(FlashRoad, BantamTableWritesThroughItsOwnDevices)
{
    make("bantam");
    // The capacity counts every partition against the span from zImage to
    // the directory; the boot loader lies below zImage on this chip.
    const std::map<std::string, uint64_t> images = {{"zImage", 0xC8000}, {"rd.bin", 0x80000}};
    package(images);
    auto r = run();
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(simkernel::partitionData(state_, "rd.gz", images.at("rd.bin")) == image("rd.bin", images.at("rd.bin")));
    EXPECT_FALSE(simkernel::opsMatching(state_, {"dev=mtd5", "req=M23", "res=0"}).empty());
}

TEST_F(FlashRoad, LockAllPassesOverTheDirectoryAndTheBootConfiguration)
{
    make();
    package({});
    auto r = run({"--lock-all", "0"});
    EXPECT_TRUE(said("lockall=0")) << r.out;
    for (const auto &e : dirBefore_) {
        SCOPED_TRACE(e.name);
        const bool keep = e.name == "RedBoot Config" || e.name == "FIS Directory";
        EXPECT_EQ(simkernel::isLocked(state_, e.flashBase), keep);
        EXPECT_EQ(simkernel::isLocked(state_, e.flashBase + e.size - kBlock), keep);
    }
    r = run({"--lock-all", "1"});
    EXPECT_TRUE(said("lockall=0")) << r.out;
    for (const auto &e : dirBefore_)
        EXPECT_TRUE(simkernel::isLocked(state_, e.flashBase)) << e.name;
    simkernel::addFault(state_, "fail lock dev=mtd2");
    r = run({"--lock-all", "1"});
    EXPECT_TRUE(said("lockall=-1")) << r.out;
    EXPECT_TRUE(logged("UPDTLockAll: VEXAMTDLockPartition(/dev/mtd2) fail"));
    EXPECT_EQ(simkernel::opsMatching(state_, {"dev=mtd3", "req=MEMLOCK"}).size(), 1u);  // not reached the third time
}

TEST_F(FlashRoad, DirectoryRepairWritesTheBuiltInImageAndRelocks)
{
    make("bantam");
    package({});
    auto r = run({"--repair"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(said("repair=0"));
    std::string dir = simkernel::windowBytes(state_, 5);
    EXPECT_EQ(dir.substr(0, UPDT_FIS_IMAGE_SIZE),
              std::string(reinterpret_cast<const char *>(gFisImageQ80ZPlus), UPDT_FIS_IMAGE_SIZE));
    EXPECT_EQ(dir.find_first_not_of('\xff', UPDT_FIS_IMAGE_SIZE), std::string::npos);
    const auto &d = oldEntry("FIS Directory");
    EXPECT_TRUE(simkernel::isLocked(state_, d.flashBase));
}

// Faults of the device during the directory repair: a failure before the
// erase leaves the directory as it was; a failed erase or write is tried
// again.  The directory ends locked whatever happened.
struct RepairCase {
    const char *what;
    std::vector<std::string> rules;
    int result;
    bool rewritten;     // the built-in image is on the flash
    size_t erases = 0;  // erases that reached the flash
};

void PrintTo(const RepairCase &c, std::ostream *os)
{
    *os << c.what;
}

class RepairFault : public FlashRoad, public ::testing::WithParamInterface<RepairCase> {};

TEST_P(RepairFault, LeavesTheDirectoryWholeAndLocked)
{
    const RepairCase &c = GetParam();
    make("bantam");
    package({});
    for (const std::string &rule : c.rules)
        simkernel::addFault(state_, rule);
    auto r = run({"--repair"});
    EXPECT_TRUE(said("repair=" + std::to_string(c.result))) << r.out << r.err;
    bool acted = false;
    for (const std::string &line : simkernel::opsLog(state_))
        acted = acted || !simkernel::opsField(line, "fault").empty();
    EXPECT_TRUE(acted) << "the fault never acted";
    const std::string image(reinterpret_cast<const char *>(gFisImageQ80ZPlus), UPDT_FIS_IMAGE_SIZE);
    if (c.rewritten) {
        std::string dir = simkernel::windowBytes(state_, 5);
        EXPECT_EQ(dir.substr(0, UPDT_FIS_IMAGE_SIZE), image);
        EXPECT_EQ(dir.find_first_not_of('\xff', UPDT_FIS_IMAGE_SIZE), std::string::npos);
    } else {
        expectFlashAsBefore();
    }
    EXPECT_EQ(simkernel::opsMatching(state_, {"dev=mtd5", "req=MEMERASE", "res=0"}).size(), c.erases);
    EXPECT_TRUE(simkernel::isLocked(state_, oldEntry("FIS Directory").flashBase));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, RepairFault,
    ::testing::Values(
        RepairCase{.what = "device info fails", .rules = {"fail getinfo dev=mtd5"}, .result = -1, .rewritten = false},
        RepairCase{.what = "open fails", .rules = {"fail open dev=mtd5"}, .result = -1, .rewritten = false},
        RepairCase{.what = "read fails", .rules = {"fail read dev=mtd5"}, .result = -1, .rewritten = false},
        RepairCase{.what = "unlock fails", .rules = {"fail unlock dev=mtd5"}, .result = -1, .rewritten = false},
        RepairCase{.what = "erase fails once", .rules = {"fail erase dev=mtd5 nth=1"}, .result = 0,
                   .rewritten = true, .erases = 1},
        RepairCase{.what = "write fails once", .rules = {"fail write dev=mtd5 nth=1"}, .result = 0,
                   .rewritten = true, .erases = 2},
        // The device info, the saved copy, the unlock and the erase open
        // it first.
        RepairCase{.what = "opening for the write fails once", .rules = {"fail open dev=mtd5 nth=5"}, .result = 0,
                   .rewritten = true, .erases = 2},
        RepairCase{.what = "every erase fails", .rules = {"fail erase dev=mtd5 always"}, .result = -1,
                   .rewritten = false}),
    [](const ::testing::TestParamInfo<RepairCase> &info) { return "repair" + std::to_string(info.index); });

TEST_F(FlashRoad, DirectoryRepairPassesWhenOneWriteIsCorrupted)
{
    make("bantam");
    package({});
    simkernel::addFault(state_, "corrupt write dev=mtd5 proc=main at=0x300");
    auto r = run({"--repair"});
    EXPECT_TRUE(said("repair=0")) << r.out;
    EXPECT_EQ(simkernel::opsMatching(state_, {"dev=mtd5", "req=MEMERASE", "res=0"}).size(), 2u);
    EXPECT_EQ(simkernel::windowBytes(state_, 5).substr(0, UPDT_FIS_IMAGE_SIZE),
              std::string(reinterpret_cast<const char *>(gFisImageQ80ZPlus), UPDT_FIS_IMAGE_SIZE));
}

TEST_F(FlashRoad, AFailedDirectoryRepairPutsTheOldDirectoryBack)
{
    make("bantam");
    package({});
    simkernel::addFault(state_, "corrupt write dev=mtd5 proc=main at=0x10 always");
    auto r = run({"--repair"});
    EXPECT_TRUE(said("repair=-1")) << r.out;
    // The saved bytes go back through the same (faulty) writes only once
    // more; everything else of the directory is as before.
    std::string now = simkernel::chipBytes(state_);
    const auto &d = oldEntry("FIS Directory");
    const size_t off = d.flashBase - base();
    std::string a = now.substr(off, d.size), b = before_.substr(off, d.size);
    a[0x10] = b[0x10];
    EXPECT_TRUE(a == b);
    EXPECT_TRUE(simkernel::isLocked(state_, d.flashBase));
}

}  // namespace

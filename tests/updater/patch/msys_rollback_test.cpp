// The MSys sequence after a failed write or migration: the old sizes laid
// down again and every partition restored and read back, whichever single
// request of the flash fails on the way.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "approot.h"
#include "simfixture.h"
#include "test_tmp.h"

namespace fs = std::filesystem;
#include "msys_layout.h"

namespace {

using Lines = std::vector<std::string>;

using namespace msystest;

class MSysBack : public ::testing::Test {
protected:
    // zImage one unit too large by default: rd.gz gives it one unit.
    void SetUp() override
    {
        simkernel::makeMSysChip(state_, kUnits, kData);
        chip_ = simkernel::chipBytes(state_);
        for (const std::string &n : kNames)
            parts_.push_back(simkernel::partitionBytes(state_, n));
    }

    void package(const std::map<std::string, uint64_t> &images)
    {
        simkernel::PackageLayout contents;
        contents.images = images;
        simkernel::makePackage(pkg_, contents);
    }

    approot::RunResult run(std::vector<std::string> args = {"--fail-config"})
    {
        simkernel::attach(app_, state_);
        app_.bind(pkg_, pkg_);
        args.insert(args.begin(), MSYSPROBE_PATH);
        approot::RunResult r = app_.run(args, pkg_);
        for (const std::string &m : app_.syslog())
            r.err += m + "\n";  // shown when an expectation fails
        return r;
    }

    std::vector<uint32_t> units() const { return msystest::units(state_); }

    bool logged(const std::string &text)
    {
        for (const std::string &m : app_.syslog())
            if (m.find(text) != std::string::npos)
                return true;
        return false;
    }

    // Index in ops.log of the lines holding all the words.
    std::vector<size_t> where(const Lines &words) const
    {
        const Lines log = simkernel::opsLog(state_);
        std::vector<size_t> at;
        for (size_t i = 0; i < log.size(); ++i) {
            bool all = true;
            for (const std::string &w : words)
                all = all && log[i].find(w) != std::string::npos;
            if (all)
                at.push_back(i);
        }
        return at;
    }

    void expectAsBefore()
    {
        EXPECT_EQ(units(), kUnits);
        EXPECT_TRUE(simkernel::chipBytes(state_) == chip_) << "the flash changed";
    }

    vexatest::TempDir tmp_{"msys"};
    std::string state_ = tmp_ / "kernel";
    std::string pkg_ = tmp_ / "pkg";
    approot::Appliance app_{"msys"};
    std::string chip_;
    Lines parts_;
};

const std::map<std::string, uint64_t> kTooLarge = {{"zImage", 7 * kUnit}};

// The old sizes go back before any copy is written, and all eight copies
// are written after them.
TEST_F(MSysBack, AFailedMigrationAfterARepartitioningFormatsBackFirst)
{
    package(kTooLarge);
    const approot::RunResult r = run();
    EXPECT_EQ(r.status, 17) << r.err;
    EXPECT_NE(r.out.find("code=17 state=C clean=1 keep=0 touched=1"), std::string::npos) << r.out;
    const std::vector<size_t> formats = where({"req=M25", "res=0"});
    ASSERT_EQ(formats.size(), 2u);
    EXPECT_EQ(where({"req=M25", "counts=4,7,5,8,1,1,1,1", "res=0"}), std::vector<size_t>{formats[0]});
    EXPECT_EQ(where({"req=M25", "counts=4,6,6,8,1,1,1,1", "res=0"}), std::vector<size_t>{formats[1]});
    for (int k = 0; k < 8; ++k) {
        const std::vector<size_t> writes = where({"op=write", "dev=mtd" + std::to_string(k) + " "});
        ASSERT_FALSE(writes.empty());
        EXPECT_GT(writes.back(), formats[1]) << kNames[k];
    }
    expectAsBefore();
    EXPECT_FALSE(fs::exists(pkg_ + "/b@ckup"));
}

// Without a re-partitioning the roll-back writes every partition back,
// written or not, and formats nothing.
TEST_F(MSysBack, AFailedMigrationRestoresEveryPartition)
{
    package({{"zImage", 5 * kUnit + 9}});
    const approot::RunResult r = run();
    EXPECT_EQ(r.status, 17) << r.err;
    EXPECT_TRUE(where({"req=M24"}).empty());
    for (int k = 0; k < 8; ++k)
        EXPECT_FALSE(where({"op=write", "dev=mtd" + std::to_string(k) + " "}).empty()) << kNames[k];
    expectAsBefore();
}

// A fixed partition that its image does not fit fails the write before
// anything is formatted: nothing to roll back, the code stays 20.
TEST_F(MSysBack, AFailureBeforeTheFirstChangeSkipsTheRollBack)
{
    package({{"vendor", 2 * kUnit}});
    const approot::RunResult r = run();
    EXPECT_EQ(r.status, 20) << r.err;
    EXPECT_NE(r.out.find("code=20 state=P clean=1 keep=0 touched=0"), std::string::npos) << r.out;
    EXPECT_TRUE(logged("the flash was not changed, nothing to roll back"));
    EXPECT_FALSE(logged("Turn on the reinstall library flag"));
    EXPECT_TRUE(where({"req=M24"}).empty());
    EXPECT_TRUE(where({"op=write"}).empty());
    expectAsBefore();
}

// A restore that fails three times: the others are still restored, the
// result is -1 and b@ckup stays, its place logged.
TEST_F(MSysBack, ARestoreThatFailsThreeTimesKeepsTheBackup)
{
    package(kTooLarge);
    // rd.gz is written with five units; the next three writes are the
    // first of each restore attempt.
    for (int n = 6; n <= 8; ++n)
        simkernel::addFault(state_, "fail write dev=mtd2 proc=main nth=" + std::to_string(n));
    const approot::RunResult r = run();
    EXPECT_EQ(r.status, 17) << r.err;
    EXPECT_NE(r.out.find("keep=1"), std::string::npos) << r.out;
    EXPECT_TRUE(logged("roll-back incomplete; the old partitions stay in " + pkg_ + "/b@ckup"));
    EXPECT_TRUE(logged("UPDTMSysUpdate: UPDTRollBack() fail"));
    EXPECT_TRUE(fs::exists(pkg_ + "/b@ckup/mtd_rd.gz"));
    EXPECT_EQ(units(), kUnits);
    for (int k = 0; k < 8; ++k) {
        if (k != 2) {
            EXPECT_TRUE(simkernel::partitionBytes(state_, kNames[k]) == parts_[k]) << kNames[k];
        }
    }
}

TEST_F(MSysBack, AReformatThatFailsThreeTimesKeepsTheBackup)
{
    package(kTooLarge);
    for (int n = 2; n <= 4; ++n)
        simkernel::addFault(state_, "fail m24 nth=" + std::to_string(n));
    const approot::RunResult r = run();
    EXPECT_EQ(r.status, 17) << r.err;
    EXPECT_NE(r.out.find("keep=1"), std::string::npos) << r.out;
    EXPECT_TRUE(logged("fail to resize; the old partitions stay in " + pkg_ + "/b@ckup"));
    EXPECT_TRUE(fs::exists(pkg_ + "/b@ckup"));
}

struct Fault {
    std::string name;
    std::string rule;
    int status;
};

class MSysFaults : public MSysBack, public ::testing::WithParamInterface<Fault> {};

// One fault each in a run that re-partitions and whose migration fails:
// whatever fails, the flash ends with its old sizes and bytes.
TEST_P(MSysFaults, TheFlashEndsAsBefore)
{
    package(kTooLarge);
    simkernel::addFault(state_, GetParam().rule);
    const approot::RunResult r = run();
    EXPECT_EQ(r.status, GetParam().status) << r.err;
    EXPECT_FALSE(where({"fault="}).empty()) << "the fault never fired";
    expectAsBefore();
    EXPECT_FALSE(fs::exists(pkg_ + "/b@ckup"));
}

std::vector<Fault> faults()
{
    std::vector<Fault> f = {
        {"m24_write", "fail m24 nth=1", 20},     // the format wipes nothing
        {"m25_write", "fail m25 nth=1", 20},     // the flash is wiped, unpartitioned
        {"m26_table", "fail m26 nth=1", 18},     // the table cannot be read
        {"m26_write", "fail m26 nth=2", 20},     // the new table cannot be read back
        {"m24_rollback", "fail m24 nth=2", 17},  // the re-format's second attempt
        {"m25_rollback", "fail m25 nth=2", 17},
        {"m26_rollback", "fail m26 nth=3", 17},
    };
    // Units written per partition: by the write (zImage's image, the others
    // as much of their copies as fits), then by the restore (whole copies).
    const std::vector<uint32_t> written = {4, 7, 5, 8, 1, 1, 1, 1};
    for (int k = 0; k < 8; ++k) {
        const uint32_t w = written[static_cast<size_t>(k)], back = kUnits[static_cast<size_t>(k)];
        const std::vector<std::pair<std::string, uint32_t>> at = {
            {"write_first", 1}, {"write_last", w}, {"rollback_first", w + 1}, {"rollback_last", w + back}};
        for (const auto &[what, nth] : at) {
            if ((what == "write_last" && nth == 1) || (what == "rollback_last" && nth == w + 1))
                continue;  // one unit: the first write is the last
            f.push_back({"mtd" + std::to_string(k) + "_" + what,
                         "fail write dev=mtd" + std::to_string(k) + " proc=main nth=" + std::to_string(nth), 17});
        }
    }
    return f;
}

INSTANTIATE_TEST_SUITE_P(OneEach, MSysFaults, ::testing::ValuesIn(faults()),
                         [](const auto &info) { return info.param.name; });

}  // namespace

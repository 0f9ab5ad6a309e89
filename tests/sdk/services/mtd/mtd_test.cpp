// Flash access on the simulated flash: device information, erase, locks,
// the flash directory and the driver's resize and entry requests.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "services/mtd/vexa_mtd.h"
#include "simfixture.h"
#include "test_tmp.h"

namespace {

constexpr uint32_t kBlock = 0x10000;

class Mtd : public ::testing::Test {
protected:
    void SetUp() override { simkernel::makeChip(state_, "normal"); }

    std::string probe(const std::vector<std::string> &args)
    {
        std::vector<std::string> argv{MTDPROBE_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        auto r = simkernel::runPreloaded(state_, argv);
        EXPECT_EQ(r.status, 0) << r.out;
        return r.out;
    }

    simkernel::DirEntry entry(const std::string &name)
    {
        for (const auto &e : simkernel::readDirectory(state_))
            if (e.name == name)
                return e;
        throw std::runtime_error("no entry " + name);
    }

    // Overwrites chip bytes at a flash address.
    void poke(uint32_t address, const std::string &bytes)
    {
        std::fstream f(state_ + "/chip.bin", std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(address - 0xFF800000u);
        f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

    vexatest::TempDir tmp_{"mtd"};
    std::string state_ = tmp_ / "kernel";
};

TEST_F(Mtd, DeviceInfoFillsTheRecordAndZeroesTheRest)
{
    EXPECT_EQ(probe({"info", "/dev/mtd1", "64"}), "rc=0\nsize=0x100000 erasesize=0x10000 tail_nonzero=0 guard=0xaa\n");
    EXPECT_EQ(probe({"info", "/dev/mtd1", "32"}).substr(0, 5), "rc=0\n");
    EXPECT_EQ(probe({"info", "/dev/mtd1", "31"}).substr(0, 6), "rc=-1\n");
    EXPECT_EQ(probe({"info", "/dev/mtd9", "32"}).substr(0, 6), "rc=-1\n");
}

TEST_F(Mtd, EraseClearsTheWholeUnlockedPartition)
{
    const std::string before = simkernel::partitionBytes(state_, "zImage");
    EXPECT_EQ(probe({"erase", "/dev/mtd1"}), "rc=-1\n");  // locked
    EXPECT_TRUE(simkernel::partitionBytes(state_, "zImage") == before);

    EXPECT_EQ(probe({"unlockp", "/dev/mtd1"}), "rc=0\n");
    EXPECT_EQ(probe({"erase", "/dev/mtd1"}), "rc=0\n");
    EXPECT_EQ(simkernel::partitionBytes(state_, "zImage"), std::string(16 * kBlock, '\xff'));
    EXPECT_TRUE(simkernel::partitionBytes(state_, "rd.gz") != std::string(32 * kBlock, '\xff'));
    auto erases = simkernel::opsMatching(state_, {"dev=mtd1", "req=MEMERASE", "res=0"});
    ASSERT_EQ(erases.size(), 1u);
    EXPECT_EQ(simkernel::opsField(erases[0], "start"), "0x0");
    EXPECT_EQ(simkernel::opsField(erases[0], "len"), "0x100000");
}

TEST_F(Mtd, LockWithOneLocksAnyOtherValueUnlocks)
{
    const uint32_t at = entry("rd.gz").flashBase;
    const uint32_t last = at + 31 * kBlock;
    EXPECT_EQ(probe({"lock", "/dev/mtd2", "2"}), "rc=0\n");
    EXPECT_FALSE(simkernel::isLocked(state_, at));
    EXPECT_FALSE(simkernel::isLocked(state_, last));
    EXPECT_TRUE(simkernel::isLocked(state_, at + 32 * kBlock));  // the next partition
    EXPECT_EQ(probe({"lock", "/dev/mtd2", "1"}), "rc=0\n");
    EXPECT_TRUE(simkernel::isLocked(state_, at));
    EXPECT_TRUE(simkernel::isLocked(state_, last));
    EXPECT_EQ(probe({"unlockp", "/dev/mtd2"}), "rc=0\n");
    EXPECT_EQ(probe({"lockp", "/dev/mtd2"}), "rc=0\n");
    EXPECT_TRUE(simkernel::isLocked(state_, at));
    simkernel::addFault(state_, "fail unlock dev=mtd2");
    EXPECT_EQ(probe({"unlockp", "/dev/mtd2"}), "rc=-1\n");
}

TEST_F(Mtd, DirectoryIsCountedThenRead)
{
    EXPECT_EQ(probe({"dir", "/dev/mtd7", "0"}), "rc=8 used=2048\n");
    std::string out = probe({"dir", "/dev/mtd7", "2048"});
    EXPECT_EQ(out.substr(0, 16), "rc=8 used=2048\ne");
    EXPECT_NE(out.find("entry RedBoot Config 0x"), std::string::npos);
    EXPECT_NE(out.find("entry zImage 0xff840000 0x00100000 0x000c5eda\n"), std::string::npos);
    EXPECT_EQ(probe({"dir", "/dev/mtd7", "2047"}), "rc=-1 used=-7\n");
    EXPECT_EQ(probe({"dir", "/dev/mtd9", "0"}), "rc=-1 used=-7\n");
}

TEST_F(Mtd, DirectoryEndsAtTheFirstErasedEntryOrFailsWithout)
{
    const uint32_t dir = entry("FIS Directory").flashBase;
    poke(dir + 8 * 256, std::string(kBlock - 8 * 256, 'x'));  // no end mark
    EXPECT_EQ(probe({"dir", "/dev/mtd7", "0"}), "rc=-1 used=-7\n");
    poke(dir, "\xff");
    EXPECT_EQ(probe({"dir", "/dev/mtd7", "0"}), "rc=0 used=0\n");
}

TEST_F(Mtd, ResizeMovesWhatTheDeviceReaches)
{
    const auto rd = entry("rd.gz");
    EXPECT_EQ(probe({"m22", "/dev/mtd2", std::to_string(rd.flashBase + kBlock), std::to_string(2 * kBlock)}),
              "rc=0\n");
    EXPECT_EQ(probe({"info", "/dev/mtd2", "32"}).substr(0, 18), "rc=0\nsize=0x20000 ");
    EXPECT_TRUE(simkernel::windowBytes(state_, 2) ==
                simkernel::chipBytes(state_).substr(rd.flashBase + kBlock - 0xFF800000u, 2 * kBlock));
    // Not on an erase-block boundary: the driver refuses.
    EXPECT_EQ(probe({"m22", "/dev/mtd2", std::to_string(rd.flashBase + 1), std::to_string(kBlock)}), "rc=-1\n");
}

TEST_F(Mtd, EntryEditRewritesOneDirectoryEntry)
{
    const auto before = entry("AllLib.tgz");
    EXPECT_EQ(probe({"m23", "/dev/mtd7", "AllLib.tgz", "0xff800000", "0x20000", "0x1234"}), "rc=0\n");
    const auto after = entry("AllLib.tgz");
    EXPECT_EQ(after.flashBase, 0xff800000u);
    EXPECT_EQ(after.size, 0x20000u);
    EXPECT_EQ(after.dataLength, 0x1234u);
    EXPECT_EQ(after.memBase, before.memBase);
    EXPECT_EQ(probe({"m23", "/dev/mtd7", "nosuch", "0", "0", "0"}), "rc=-1\n");
    EXPECT_EQ(probe({"m23", "/dev/mtd1", "zImage", "0", "0", "0"}), "rc=-1\n");
}

TEST_F(Mtd, MSysIsToldApart)
{
    EXPECT_EQ(probe({"msys"}), "rc=0\n");
    simkernel::makeMSysChip(state_);
    EXPECT_EQ(probe({"msys"}), "rc=1\n");
}

TEST(MtdParameters, BadArgumentsFailWithoutTouchingAnyDevice)
{
    unsigned char buf[64];
    int used = 5;
    FISDIRENTRY dir[1];
    MTDFISENTRY e{};
    EXPECT_EQ(VEXAMTDGetDeviceInfo(nullptr, buf, sizeof(buf)), -1);
    EXPECT_EQ(VEXAMTDGetDeviceInfo("/dev/mtd0", nullptr, sizeof(buf)), -1);
    EXPECT_EQ(VEXAMTDErasePartition(nullptr), -1);
    EXPECT_EQ(VEXAMTDILock(nullptr, 1), -1);
    EXPECT_EQ(VEXAMTDGetPartitionInfo(nullptr, nullptr, 0, &used), -1);
    EXPECT_EQ(VEXAMTDGetPartitionInfo("/dev/mtd7", nullptr, 0, nullptr), -1);
    EXPECT_EQ(VEXAMTDGetPartitionInfo("/dev/mtd7", dir, 0, &used), -1);
    EXPECT_EQ(VEXAMTDGetPartitionInfo("/dev/mtd7", nullptr, 256, &used), -1);
    EXPECT_EQ(used, 5);
    EXPECT_EQ(VEXAMTDModifyPartitionSize(nullptr, 0, 0), -1);
    EXPECT_EQ(VEXAMTDModifyFISEntry(nullptr, &e), -1);
    EXPECT_EQ(VEXAMTDModifyFISEntry("/dev/mtd7", nullptr), -1);
    // This machine's kernel has no such call: ordinary flash.
    EXPECT_EQ(VEXAMTDIsMSys(), 0);
}

}  // namespace

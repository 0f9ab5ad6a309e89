// NOR flash behaviour of the simulated device kernel, seen through /bin/dd,
// /bin/sh and the probe.
#include <algorithm>
#include <string>

#include "sk_helpers.h"

using namespace simkernel;
using sktest::hex;
using sktest::SimKernel;

namespace {

class NorFlash : public SimKernel {
protected:
    void SetUp() override { makeChip(state, "normal"); }
};

TEST_F(NorFlash, DdReadsExactlyThePartitionWindow) {
    std::string out = tmp / "zimage.copy";
    auto r = sh("/bin/dd if=/dev/mtd1 of='" + out + "' bs=16384");
    ASSERT_EQ(r.status, 0) << r.out;
    std::string copy = vexatest::readFile(out);
    ASSERT_EQ(copy.size(), 0x100000u);
    EXPECT_EQ(copy, partitionBytes(state, "zImage"));
    EXPECT_EQ(copy.substr(0, 0xC5EDA), partitionPattern(1, 0xC5EDA));
    EXPECT_EQ(copy.substr(0xC5EDA), std::string(0x100000 - 0xC5EDA, '\xff'));
    EXPECT_FALSE(ops({"proc=dd", "dev=mtd1", "op=read", "res=16384"}).empty());
}

TEST_F(NorFlash, ShellRedirectionHandsTheDeviceToItsChild) {
    std::string out = tmp / "head";
    auto r = sh("/bin/dd bs=4096 count=1 of='" + out + "' < /dev/mtd2");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(vexatest::readFile(out), partitionPattern(2, 4096));
}

TEST_F(NorFlash, DdWriteStoresOldAndNewSoUnerasedFlashShows) {
    std::string img = tmp / "img";
    std::string a(40000, '\x5a');
    vexatest::writeFile(img, a);
    ASSERT_EQ(probe({"/dev/mtd1", "unlock", "0", "0x100000", ",", "erase", "0", "0x100000"}).status, 0);
    auto r = sh("/bin/dd if='" + img + "' of=/dev/mtd1 bs=16384");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(partitionData(state, "zImage", a.size()), a);

    // Writing again without an erase only clears bits: 0x5a & 0xa5 == 0.
    std::string b(40000, '\xa5');
    vexatest::writeFile(img, b);
    r = sh("/bin/dd if='" + img + "' of=/dev/mtd1 bs=16384");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(partitionData(state, "zImage", b.size()), std::string(b.size(), '\0'));
}

TEST_F(NorFlash, WritesStopAtTheWindowEnd) {
    std::string img = tmp / "big";
    vexatest::writeFile(img, std::string(0x10000 + 100, '\0'));
    ASSERT_EQ(probe({"/dev/mtd4", "unlock", "0", "0x10000", ",", "erase", "0", "0x10000"}).status, 0);
    auto r = sh("/bin/dd if='" + img + "' of=/dev/mtd4 bs=16384");
    EXPECT_NE(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("No space left"), std::string::npos) << r.out;
    EXPECT_EQ(partitionBytes(state, "vendor"), std::string(0x10000, '\0'));
    // Nothing spilled into the next partition.
    EXPECT_EQ(partitionData(state, "vexacfg", 0x12345), partitionPattern(5, 0x12345));

    r = probe({"/dev/mtd4", "read", "0xfff0", "64", ",", "read", "0x10000", "4", ",", "seek", "0",
               "end", ",", "seek", "1", "end"});
    EXPECT_NE(r.out.find("ok 16 "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("ok 0 \n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("ok 65536\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("err seek EINVAL"), std::string::npos) << r.out;
}

TEST_F(NorFlash, DevicesLookLikeCharacterDevicesWithTheirInfo) {
    auto r = probe({"/dev/mtd3", "fstat", ",", "getinfo"});
    EXPECT_NE(r.out.find("ok type=chr rdev=90:6 size=0"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("size=0x470000 erasesize=0x10000"), std::string::npos) << r.out;
    r = probe({"-", "stat", "/dev/mtd7"});
    EXPECT_NE(r.out.find("ok type=chr rdev=90:14"), std::string::npos) << r.out;
}

TEST_F(NorFlash, StatToolsAndShellTestsSeeTheDevices) {
    setMd(state, 0, MdArray{});
    // stat(1) goes through statx, the shell's test through stat.
    auto r = sh("/usr/bin/stat -c '%F %t:%T' /dev/mtd1 /dev/md0; test -c /dev/mtd7 && echo chr7; "
                "test -e /dev/mtd6x || echo none");
    EXPECT_EQ(r.out, "character special file 5a:2\nblock special file 9:0\nchr7\nnone\n");
}

TEST_F(NorFlash, BantamHasNoSeventhDevice) {
    makeChip(state, "bantam");
    auto r = probe({"/dev/mtd6", "getinfo"});
    EXPECT_NE(r.out.find("err open ENOENT"), std::string::npos) << r.out;
    r = probe({"/dev/mtd5", "getinfo"});
    EXPECT_NE(r.out.find("size=0x10000"), std::string::npos) << r.out;
    auto dir = readDirectory(state);
    ASSERT_EQ(dir.size(), 6u);
    EXPECT_EQ(dir[5].name, "FIS Directory");
}

TEST_F(NorFlash, ChipStartsLockedAndALockedBlockRefusesEraseAndWrite) {
    EXPECT_TRUE(isLocked(state, 0xFF840000));
    auto r = probe({"/dev/mtd1", "erase", "0", "0x10000", ",", "write", "0", "00"});
    EXPECT_NE(r.out.find("err erase EROFS"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("err write EROFS"), std::string::npos) << r.out;
    EXPECT_EQ(partitionData(state, "zImage", 0x10000), partitionPattern(1, 0x10000));

    // Unlocking one block opens that block only.
    r = probe({"/dev/mtd1", "unlock", "0x10000", "0x10000", ",", "erase", "0", "0x20000", ",",
               "erase", "0x10000", "0x10000"});
    EXPECT_NE(r.out.find("err erase EROFS"), std::string::npos) << r.out;
    EXPECT_EQ(ops({"dev=mtd1", "req=MEMERASE", "res=0"}).size(), 1u);
    std::string z = partitionBytes(state, "zImage");
    EXPECT_EQ(z.substr(0, 0x10000), partitionPattern(1, 0x10000));
    EXPECT_EQ(z.substr(0x10000, 0x10000), std::string(0x10000, '\xff'));
    EXPECT_FALSE(isLocked(state, 0xFF850000));
    r = probe({"/dev/mtd1", "lock", "0x10000", "0x10000"});
    EXPECT_TRUE(isLocked(state, 0xFF850000));
}

TEST_F(NorFlash, EraseAndLockRangesMustBeWholeBlocksInsideTheWindow) {
    struct Case {
        const char *start, *len;
    } cases[] = {{"0x8000", "0x10000"}, {"0", "0x8000"}, {"0", "0"}, {"0xF0000", "0x20000"}};
    for (const auto &c : cases) {
        auto r = probe({"/dev/mtd1", "unlock", c.start, c.len, ",", "erase", c.start, c.len});
        EXPECT_NE(r.out.find("err unlock EINVAL"), std::string::npos) << c.start << " " << c.len;
        EXPECT_NE(r.out.find("err erase EINVAL"), std::string::npos) << c.start << " " << c.len;
    }
}

TEST_F(NorFlash, EraseRecordsTheMtuOfEth0) {
    probe({"/dev/mtd1", "unlock", "0", "0x10000", ",", "erase", "0", "0x10000"});
    auto l = ops({"req=MEMERASE", "res=0"});
    ASSERT_EQ(l.size(), 1u);
    std::string mtu = opsField(l[0], "mtu");
    ASSERT_FALSE(mtu.empty());
    EXPECT_TRUE(mtu == "-1" || std::stoi(mtu) > 0) << l[0];
}

TEST_F(NorFlash, ASecondProcessSeesAWindowMovedByM22) {
    // Give zImage its first block plus the first block of rd.gz's old place.
    auto r = probe({"/dev/mtd1", "m22", "0xFF840000", "0x110000"});
    ASSERT_EQ(r.status, 0) << r.out;
    r = probe({"/dev/mtd1", "getinfo", ",", "read", "0x100000", "4"});
    EXPECT_NE(r.out.find("size=0x110000"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("ok 4 " + hex(partitionPattern(2, 4))), std::string::npos) << r.out;
    // The directory is not the driver's window table: it still says 1 MiB.
    EXPECT_EQ(readDirectory(state)[1].size, 0x100000u);
    EXPECT_EQ(loadState(state).part[1].size, 0x110000u);
}

TEST_F(NorFlash, M22RefusesRangesOffTheChipOrOffBlocks) {
    const char *bad[][2] = {{"0xFF7F0000", "0x10000"}, {"0xFF848000", "0x10000"},
                            {"0xFFFF0000", "0x20000"}, {"0xFF840000", "0"}};
    for (const auto &b : bad) {
        auto r = probe({"/dev/mtd1", "m22", b[0], b[1]});
        EXPECT_NE(r.out.find("err m22 EINVAL"), std::string::npos) << b[0] << " " << b[1];
    }
    EXPECT_EQ(loadState(state).part[1].size, 0x100000u);
}

TEST_F(NorFlash, M23RewritesOnlyTheNamedEntry) {
    auto before = readDirectory(state);
    auto r = probe({"/dev/mtd7", "m23", "rd.gz", "0xFF950000", "0x1F0000", "0x1234"});
    ASSERT_EQ(r.status, 0) << r.out;
    auto after = readDirectory(state);
    ASSERT_EQ(after.size(), before.size());
    for (size_t i = 0; i < after.size(); ++i) {
        if (i == 2) continue;
        EXPECT_EQ(after[i].raw, before[i].raw) << after[i].name;
    }
    EXPECT_EQ(after[2].flashBase, 0xFF950000u);
    EXPECT_EQ(after[2].size, 0x1F0000u);
    EXPECT_EQ(after[2].dataLength, 0x1234u);
    // Memory base, entry point and the rest of the entry stay as they were.
    std::string a = after[2].raw, b = before[2].raw;
    EXPECT_EQ(a.substr(20, 4), b.substr(20, 4));
    EXPECT_EQ(a.substr(28, 4), b.substr(28, 4));
    EXPECT_EQ(a.substr(36), b.substr(36));
    // The rest of the directory partition too.
    EXPECT_EQ(partitionBytes(state, "FIS Directory").substr(8 * 256),
              std::string(0x10000 - 8 * 256, '\xff'));
}

TEST_F(NorFlash, M23NeedsTheDirectoryDeviceAndAKnownName) {
    auto r = probe({"/dev/mtd1", "m23", "zImage", "0xFF840000", "0x100000", "1"});
    EXPECT_NE(r.out.find("err m23 EINVAL"), std::string::npos) << r.out;
    r = probe({"/dev/mtd7", "m23", "nosuch", "0xFF840000", "0x100000", "1"});
    EXPECT_NE(r.out.find("err m23 ENOENT"), std::string::npos) << r.out;
    r = probe({"/dev/mtd7", "m23", "zimage", "0xFF840000", "0x100000", "7"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(readDirectory(state)[1].dataLength, 7u);
}

TEST_F(NorFlash, WindowsCanComeFromTheDirectoryAtStart) {
    sk::State st = loadState(state);
    st.part[2].fromdir = 1;
    st.part[2].start = st.part[2].size = 0;
    saveState(state, st);
    auto r = probe({"/dev/mtd2", "getinfo"});
    EXPECT_NE(r.out.find("size=0x200000"), std::string::npos) << r.out;
    EXPECT_EQ(loadState(state).part[2].start, 0xFF940000u);
}

TEST_F(NorFlash, AccessModesAreKept) {
    auto r = probe({"-r", "/dev/mtd1", "write", "0", "00"});
    EXPECT_NE(r.out.find("err write EBADF"), std::string::npos) << r.out;
    r = probe({"-w", "/dev/mtd1", "read", "0", "4"});
    EXPECT_NE(r.out.find("err read EBADF"), std::string::npos) << r.out;
}

TEST_F(NorFlash, EveryRequestIsOneLogLine) {
    probe({"/dev/mtd1", "getinfo", ",", "erase", "0", "0x10000"});
    auto lines = opsLog(state);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(opsField(lines[0], "op"), "open");
    EXPECT_EQ(opsField(lines[1], "req"), "MEMGETINFO");
    EXPECT_EQ(opsField(lines[2], "errno"), "EROFS");
    for (const auto &l : lines) {
        EXPECT_EQ(opsField(l, "proc"), "simprobe");
        EXPECT_EQ(opsField(l, "dev"), "mtd1");
        EXPECT_FALSE(opsField(l, "pid").empty());
    }
    clearOpsLog(state);
    EXPECT_TRUE(opsLog(state).empty());
}

TEST_F(NorFlash, InertWithoutTheStateVariable) {
    auto r = probe({"-", "stat", "/dev/mtd1", ",", "sys405", "1"}, {"VEXA_SIMKERNEL_STATE="});
    EXPECT_NE(r.out.find("err stat ENOENT"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("err sys405 ENOSYS"), std::string::npos) << r.out;
    EXPECT_TRUE(opsLog(state).empty());
}

TEST(SimKernelPattern, PartitionPatternIsThePatternByteForByte) {
    for (int index : {0, 5}) {
        const std::string p = partitionPattern(index, 0x10000 * 3 + 77);
        for (uint64_t off = 0; off < p.size(); ++off)
            ASSERT_EQ(uint8_t(p[off]), patternByte(index, off)) << index << " " << off;
    }
}

TEST_F(NorFlash, ChipPatternsDifferPerPartition) {
    const auto &names = tableNames("normal");
    for (size_t i = 0; i + 1 < names.size(); ++i) {
        std::string a = partitionData(state, names[i], 64);
        for (size_t j = i + 1; j + 1 < names.size(); ++j)
            EXPECT_NE(a, partitionData(state, names[j], 64)) << names[i] << " " << names[j];
    }
}

}  // namespace

namespace {

TEST_F(SimKernel, ChipLayoutPlacesPartitionsWhereAsked) {
    ChipLayout c = bantamChip();
    // The boot loader's own order: zImage lowest, the directory at the top.
    int64_t at[] = {16, 0, 20, 13, 14, 31};
    uint32_t blocks[] = {4, 13, 11, 1, 1, 1};
    for (size_t i = 0; i < c.parts.size(); ++i) {
        c.parts[i].at = at[i];
        c.parts[i].blocks = blocks[i];
        c.parts[i].datalen = std::min<uint32_t>(c.parts[i].datalen, blocks[i] * 0x10000);
    }
    makeChip(state, c);
    auto dir = readDirectory(state);
    ASSERT_EQ(dir.size(), 6u);
    EXPECT_EQ(dir[0].flashBase, 0xFFF00000u);
    EXPECT_EQ(dir[1].flashBase, 0xFFE00000u);
    EXPECT_EQ(dir[5].flashBase, 0xFFFF0000u);
    EXPECT_EQ(loadState(state).part[2].start, 0xFFF40000u);
    auto r = probe({"/dev/mtd0", "read", "0", "2"});
    EXPECT_NE(r.out.find("ok 2 " + hex(partitionPattern(0, 2))), std::string::npos) << r.out;
    EXPECT_EQ(chipBytes(state).substr(15 * 0x10000, 0x10000), std::string(0x10000, '\xff'));

    c.parts[2].at = 19;  // onto RedBoot
    EXPECT_THROW(makeChip(state, c), std::runtime_error);
}

}  // namespace

namespace {

TEST_F(SimKernel, DirectoryAndFlashCanBeRewrittenForTests) {
    makeChip(state, "normal");
    auto dir = readDirectory(state);
    dir.resize(2);
    dir[1].dataLength = 99;
    dir[1].raw.clear();  // built from the fields
    writeDirectory(state, dir);
    auto back = readDirectory(state);
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[1].dataLength, 99u);
    EXPECT_EQ(back[0].raw, dir[0].raw);

    // Without an end mark a reader of /dev/mtd7 runs into its end.
    writeDirectory(state, dir, false);
    auto r = probe({"/dev/mtd7", "read", "0xff00", "512"});
    EXPECT_NE(r.out.find("ok 256 " + std::string(512, '0')), std::string::npos) << r.out;

    writeFlash(state, 0xFF840000, "\x01\x02");
    EXPECT_EQ(hex(partitionData(state, "zImage", 3)), "0102" + hex(partitionPattern(1, 3).substr(2)));
    setAllLocked(state, false);
    EXPECT_FALSE(isLocked(state, 0xFF800000));
    EXPECT_EQ(probe({"/dev/mtd0", "erase", "0", "0x40000"}).status, 0);
}

}  // namespace

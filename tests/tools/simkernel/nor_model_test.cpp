// The NOR flash model and the fault-rule engine on their own, on a chip in
// memory: no preload, no state folder.
#include <gtest/gtest.h>

#include <errno.h>
#include <string.h>

#include <string>

#include "fault_rules.h"
#include "nor_model.h"

namespace {

constexpr uint32_t kBase = 0xFF000000;
constexpr uint32_t kBlock = 0x1000;
constexpr uint32_t kBlocks = 8;

// Eight 4 KiB blocks at kBase, all locked; mtd1 = blocks 2..3, mtd2 (the
// directory) = block 7.
class NorModel : public ::testing::Test {
protected:
    sk::State st;
    std::string chip = std::string(kBlock * kBlocks, '\x33');
    bool failWrites = false;
    sk::Chip io{this, readAt, writeAt};

    void SetUp() override {
        sk::initState(&st);
        st.mode = sk::MODE_NOR;
        st.base = kBase;
        st.erasesize = kBlock;
        st.chipsize = kBlock * kBlocks;
        memset(st.locks, 'L', kBlocks);
        part(1, 2, 2, "zImage");
        part(2, 7, 1, "FIS directory");
        st.dirdev = 2;
    }
    void part(int dev, uint32_t block, uint32_t blocks, const char *name) {
        sk::Part &p = st.part[dev];
        p.present = 1;
        p.start = kBase + block * kBlock;
        p.size = blocks * kBlock;
        snprintf(p.name, sizeof p.name, "%s", name);
    }
    static bool readAt(void *ctx, uint64_t off, void *buf, size_t n) {
        auto *t = static_cast<NorModel *>(ctx);
        if (off + n > t->chip.size()) return false;
        memcpy(buf, t->chip.data() + off, n);
        return true;
    }
    static bool writeAt(void *ctx, uint64_t off, const void *buf, size_t n) {
        auto *t = static_cast<NorModel *>(ctx);
        if (t->failWrites || off + n > t->chip.size()) return false;
        memcpy(t->chip.data() + off, buf, n);
        return true;
    }
    // A directory entry: name, flash base, mem base, size, entry, data length.
    void entry(int index, const char *name, uint32_t flash, uint32_t size, uint32_t datalen) {
        unsigned char e[sk::kEntrySize];
        memset(e, 0, sizeof e);
        snprintf(reinterpret_cast<char *>(e), 16, "%s", name);
        sk::put32(e + 16, flash);
        sk::put32(e + 20, 0x1234);
        sk::put32(e + 24, size);
        sk::put32(e + 28, 0x5678);
        sk::put32(e + 32, datalen);
        chip.replace(7 * kBlock + size_t(index) * sk::kEntrySize, sk::kEntrySize,
                     reinterpret_cast<const char *>(e), sizeof e);
    }
    void endMark(int index) { chip[7 * kBlock + size_t(index) * sk::kEntrySize] = '\xff'; }
    std::string block(uint32_t b) const { return chip.substr(b * kBlock, kBlock); }
};

TEST_F(NorModel, ProgrammingOnlyClearsBitsButMSysOverwrites) {
    unsigned char cells[3] = {0xff, 0x5a, 0x0f};
    const unsigned char data[3] = {0x5a, 0xa5, 0xff};
    sk::program(st, cells, data, 3);
    EXPECT_EQ(cells[0], 0x5a);
    EXPECT_EQ(cells[1], 0x00);
    EXPECT_EQ(cells[2], 0x0f);
    st.mode = sk::MODE_MSYS;
    sk::program(st, cells, data, 3);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(cells), 3), std::string("\x5a\xa5\xff", 3));
}

TEST_F(NorModel, EraseSetsWholeBlocksAndMayKeepOne) {
    ASSERT_TRUE(sk::eraseBlocks(st, io, 2 * kBlock, 3 * kBlock, -1));
    EXPECT_EQ(block(1), std::string(kBlock, '\x33'));
    for (uint32_t b = 2; b < 5; ++b) EXPECT_EQ(block(b), std::string(kBlock, '\xff')) << b;
    EXPECT_EQ(block(5), std::string(kBlock, '\x33'));

    // a faulty erase leaves the second block of its range as it was
    chip.assign(chip.size(), '\x33');
    ASSERT_TRUE(sk::eraseBlocks(st, io, 2 * kBlock, 3 * kBlock, 1));
    EXPECT_EQ(block(2), std::string(kBlock, '\xff'));
    EXPECT_EQ(block(3), std::string(kBlock, '\x33'));
    EXPECT_EQ(block(4), std::string(kBlock, '\xff'));

    failWrites = true;
    EXPECT_FALSE(sk::eraseBlocks(st, io, 0, kBlock, -1));
}

TEST_F(NorModel, EraseAndLockRangesAreWholeBlocksInsideTheWindow) {
    struct Case {
        uint32_t start, len;
        bool ok;
    };
    const uint64_t window = 2 * kBlock;
    const Case cases[] = {
        {.start = 0, .len = kBlock, .ok = true},
        {.start = kBlock, .len = kBlock, .ok = true},
        {.start = 0, .len = 2 * kBlock, .ok = true},
        {.start = 0, .len = 0, .ok = false},
        {.start = 0x800, .len = kBlock, .ok = false},
        {.start = 0, .len = kBlock + 1, .ok = false},
        {.start = kBlock, .len = 2 * kBlock, .ok = false},
        {.start = 2 * kBlock, .len = kBlock, .ok = false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(sk::blockRangeOk(st, c.start, c.len, window), c.ok) << std::hex << c.start << " " << c.len;
}

TEST_F(NorModel, LockBitsCoverEveryTouchedBlock) {
    EXPECT_TRUE(sk::anyLocked(st, 0, 1));
    sk::setLocks(st, 2 * kBlock, 2 * kBlock, false);
    EXPECT_STREQ(st.locks, "LLUULLLL");
    EXPECT_FALSE(sk::anyLocked(st, 2 * kBlock, 2 * kBlock));
    EXPECT_FALSE(sk::anyLocked(st, 2 * kBlock, 0));
    // a range reaching one byte into a locked block is refused
    EXPECT_TRUE(sk::anyLocked(st, 2 * kBlock, 2 * kBlock + 1));
    EXPECT_TRUE(sk::anyLocked(st, 2 * kBlock - 1, 2));
    sk::setLocks(st, 3 * kBlock, kBlock, true);
    EXPECT_STREQ(st.locks, "LLULLLLL");

    // MSys flash has no lock bits
    st.mode = sk::MODE_MSYS;
    EXPECT_FALSE(sk::anyLocked(st, 0, st.chipsize));
    sk::setLocks(st, 0, st.chipsize, false);
    EXPECT_STREQ(st.locks, "LLULLLLL");
}

TEST_F(NorModel, WindowsMoveOnlyToWholeBlocksOnTheChip) {
    struct Case {
        int dev;
        uint32_t start, size;
        bool ok;
    };
    const Case cases[] = {
        {.dev = 1, .start = kBase + 4 * kBlock, .size = 3 * kBlock, .ok = true},
        {.dev = 1, .start = kBase, .size = kBlocks * kBlock, .ok = true},
        {.dev = 1, .start = kBase - kBlock, .size = kBlock, .ok = false},
        {.dev = 1, .start = kBase + 0x800, .size = kBlock, .ok = false},
        {.dev = 1, .start = kBase, .size = 0, .ok = false},
        {.dev = 1, .start = kBase, .size = 0x800, .ok = false},
        {.dev = 1, .start = kBase + kBlock, .size = kBlocks * kBlock, .ok = false},
        {.dev = 3, .start = kBase, .size = kBlock, .ok = false},  // no such device
    };
    for (const Case &c : cases)
        EXPECT_EQ(sk::windowFits(st, c.dev, c.start, c.size), c.ok) << c.dev << std::hex << " " << c.start;

    uint64_t off = 0;
    ASSERT_TRUE(sk::windowOff(st, st.part[1], &off));
    EXPECT_EQ(off, 2u * kBlock);
    sk::moveWindow(st, 1, kBase + 4 * kBlock, 3 * kBlock);
    ASSERT_TRUE(sk::windowOff(st, st.part[1], &off));
    EXPECT_EQ(off, 4u * kBlock);
    EXPECT_EQ(st.part[1].size, 3 * kBlock);
}

TEST_F(NorModel, DirectoryEntryRewriteTouchesOnlyPlaceSizeAndDataLength) {
    entry(0, "RedBoot", kBase, kBlock, 0x100);
    entry(1, "zImage", kBase + 2 * kBlock, 2 * kBlock, 0x1500);
    entry(3, "rd.bin", kBase + 4 * kBlock, kBlock, 0x10);  // behind the end mark
    endMark(2);
    const std::string before = chip;
    const uint64_t dir = 7 * kBlock;

    ASSERT_EQ(sk::rewriteEntry(io, dir, kBlock, "ZIMAGE", kBase + 3 * kBlock, 3 * kBlock, 0x2000), 0);
    const unsigned char *e = reinterpret_cast<const unsigned char *>(chip.data()) + dir + sk::kEntrySize;
    EXPECT_EQ(sk::le32(e + 16), kBase + 3 * kBlock);
    EXPECT_EQ(sk::le32(e + 20), 0x1234u);
    EXPECT_EQ(sk::le32(e + 24), 3 * kBlock);
    EXPECT_EQ(sk::le32(e + 28), 0x5678u);
    EXPECT_EQ(sk::le32(e + 32), 0x2000u);
    EXPECT_EQ(chip.substr(0, dir + sk::kEntrySize), before.substr(0, dir + sk::kEntrySize));
    EXPECT_EQ(chip.substr(dir + sk::kEntrySize + 36), before.substr(dir + sk::kEntrySize + 36));

    const std::string now = chip;
    EXPECT_EQ(sk::rewriteEntry(io, dir, kBlock, "rd.bin", kBase, kBlock, 1), ENOENT);
    EXPECT_EQ(sk::rewriteEntry(io, dir, kBlock, "zImag", kBase, kBlock, 1), ENOENT);
    EXPECT_EQ(chip, now);
    failWrites = true;
    EXPECT_EQ(sk::rewriteEntry(io, dir, kBlock, "RedBoot", kBase, kBlock, 1), EIO);
}

TEST_F(NorModel, WindowsAreTakenFromTheDirectoryByName) {
    entry(0, "ZIMAGE", kBase + 5 * kBlock, 2 * kBlock, 0x10);
    endMark(1);
    st.part[1].fromdir = 1;
    uint64_t off = 0;
    EXPECT_FALSE(sk::windowOff(st, st.part[1], &off));
    EXPECT_TRUE(sk::resolveWindows(st, io));
    ASSERT_TRUE(sk::windowOff(st, st.part[1], &off));
    EXPECT_EQ(off, 5u * kBlock);
    EXPECT_EQ(st.part[1].size, 2 * kBlock);
    EXPECT_FALSE(sk::resolveWindows(st, io));  // nothing left to take
}

// The rule engine: which request a rule picks, and its counters.
class RuleEngine : public ::testing::Test {
protected:
    sk::State st;
    sk::Rule rules[sk::kMaxRules];
    int n = 0;
    bool dirty = false;

    void SetUp() override { sk::initState(&st); }
    void load(const std::string &text) {
        char err[160];
        n = sk::parseRules(text.data(), text.size(), rules, sk::kMaxRules, err, sizeof err);
        ASSERT_GE(n, 0) << err;
    }
    sk::RuleEngine as(bool isMain, const char *comm) { return {&st, rules, n, isMain, comm, &dirty}; }
    // Line of the rule that fires at the next getinfo request, 0 when none does.
    int next(bool isMain, const char *comm = "updater") {
        const sk::Rule *r = sk::hitCall(as(isMain, comm), sk::K_FAIL, sk::OP_GETINFO, 1);
        return r ? r->line : 0;
    }
};

TEST_F(RuleEngine, NthOnceOrAlways) {
    load("fail getinfo nth=2\nfail getinfo nth=3 always\n");
    EXPECT_EQ(next(true), 0);
    EXPECT_EQ(next(true), 1);
    EXPECT_EQ(next(true), 2);
    EXPECT_EQ(next(true), 2);
    EXPECT_TRUE(dirty);
    // the counters live in the state; dropped with their rule
    load("fail getinfo nth=3 always\n");
    EXPECT_TRUE(sk::dropGoneCounters(st, rules, n));
    EXPECT_EQ(st.nrules, 0);
}

TEST_F(RuleEngine, ProcessSelectors) {
    struct Case {
        const char *rule;
        bool isMain;
        const char *comm;
        bool fires;
    };
    const Case cases[] = {
        {.rule = "fail getinfo proc=main", .isMain = true, .comm = "updater", .fires = true},
        {.rule = "fail getinfo proc=main", .isMain = false, .comm = "updater", .fires = false},
        {.rule = "fail getinfo proc=child", .isMain = false, .comm = "dd", .fires = true},
        {.rule = "fail getinfo proc=child", .isMain = true, .comm = "dd", .fires = false},
        {.rule = "fail getinfo proc=dd", .isMain = false, .comm = "dd", .fires = true},
        {.rule = "fail getinfo proc=dd", .isMain = true, .comm = "updater", .fires = false},
        {.rule = "fail getinfo", .isMain = false, .comm = "sh", .fires = true},
        {.rule = "fail getinfo dev=mtd2", .isMain = true, .comm = "updater", .fires = false},
    };
    for (const Case &c : cases) {
        sk::initState(&st);
        load(std::string(c.rule) + "\n");
        EXPECT_EQ(next(c.isMain, c.comm) != 0, c.fires) << c.rule << " main=" << c.isMain << " " << c.comm;
    }
}

TEST_F(RuleEngine, ByteRulesCutTheTransferAtTheirLimit) {
    load("fail write after=100\n");
    uint64_t allowed = 60;
    EXPECT_EQ(sk::hitBytes(as(true, "dd"), sk::K_FAIL, sk::OP_WRITE, 1, 60, &allowed), nullptr);
    EXPECT_EQ(allowed, 60u);
    allowed = 60;
    const sk::Rule *r = sk::hitBytes(as(true, "dd"), sk::K_FAIL, sk::OP_WRITE, 1, 60, &allowed);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(allowed, 40u);
    allowed = 60;
    EXPECT_EQ(sk::hitBytes(as(true, "dd"), sk::K_FAIL, sk::OP_WRITE, 1, 60, &allowed), nullptr);  // once
}

TEST_F(RuleEngine, CorruptFlipsItsByteOnce) {
    load("corrupt write at=0x105 xor=0x0f\n");
    unsigned char buf[16];
    memset(buf, 0xf0, sizeof buf);
    int lines[4];
    EXPECT_EQ(sk::corrupt(as(true, "dd"), sk::OP_WRITE, 1, 0x100, buf, 4, lines, 4), 0);  // not in range
    EXPECT_EQ(sk::corrupt(as(true, "dd"), sk::OP_WRITE, 1, 0x100, buf, 16, lines, 4), 1);
    EXPECT_EQ(lines[0], 1);
    EXPECT_EQ(buf[5], 0xff);
    EXPECT_EQ(buf[4], 0xf0);
    EXPECT_EQ(sk::corrupt(as(true, "dd"), sk::OP_WRITE, 1, 0x100, buf, 16, lines, 4), 0);
}

}  // namespace

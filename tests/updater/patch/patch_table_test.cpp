// The patch table's pure parts: lookups, the moving of erase blocks, the
// layout check, the shell quoting and the built-in directory image.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "updt_patch.h"
#include "updt_shell.h"

namespace {

constexpr uint32_t kBlock = 0x10000;

FISDIRENTRY entry(const char *name, uint32_t base, uint32_t size, uint32_t datalen)
{
    FISDIRENTRY e;
    std::memset(&e, 0, sizeof(e));
    std::snprintf(e.name, sizeof(e.name), "%s", name);
    e.flashBase = base;
    e.size = size;
    e.dataLength = datalen;
    return e;
}

// A normal table whose non-fixed partitions lie back to back from base,
// each with the given blocks and balance; the fixed ones follow.
struct Layout {
    std::vector<PATCHINFO> table;
    std::vector<FISDIRENTRY> dir;
};

Layout normalLayout(const std::vector<int> &blocks, const std::vector<int> &balance,
                    const std::vector<int> &images = {1, 1, 1, 1, 0, 0, 0, 0})
{
    Layout l;
    uint32_t at = 0xFF800000;
    for (int i = 0; i < UPDT_NORMAL_COUNT; ++i) {
        PATCHINFO p = gPatchInfoNormal[i];
        p.start = at;
        p.size = static_cast<uint32_t>(blocks[i]) * kBlock;
        p.balance = balance[i];
        p.datalen = static_cast<uint32_t>(blocks[i] - balance[i]) * kBlock;
        p.fneedupdate = images[i];
        p.nresize = 0;
        l.dir.push_back(entry(p.part, p.start, p.size, p.datalen > p.size ? p.size : p.datalen));
        l.table.push_back(p);
        at += p.size;
    }
    l.table.push_back(PATCHINFO{});
    return l;
}

class PatchTable : public ::testing::Test {
protected:
    void SetUp() override
    {
        UPDTSelectPartitionTables(0);
        gEraseBlockSize = kBlock;
    }
};

TEST_F(PatchTable, SelectsTheVariantOfTheModel)
{
    EXPECT_EQ(gPatchCount, 8);
    EXPECT_STREQ(gszDevMtdPartition, "/dev/mtd7");
    EXPECT_STREQ(gPatchInfo[3].part, "AllLib.tgz");
    EXPECT_EQ(gPatchInfo[8].part, nullptr);
    EXPECT_STREQ(gPartDevTable[7].device, "/dev/mtd7");
    EXPECT_EQ(gPartDevTable[8].name, nullptr);

    UPDTSelectPartitionTables(1);
    EXPECT_EQ(gPatchCount, 6);
    EXPECT_STREQ(gszDevMtdPartition, "/dev/mtd5");
    EXPECT_STREQ(gPatchInfo[3].part, "vendor");
    EXPECT_EQ(gPatchInfo[6].part, nullptr);
    EXPECT_STREQ(SzUPDTGetDeviceByName("FIS Directory"), "/dev/mtd5");
    EXPECT_EQ(SzUPDTGetDeviceByName("vexacfg"), nullptr);
}

TEST_F(PatchTable, NamesAreLookedUpIgnoringCase)
{
    EXPECT_STREQ(SzUPDTGetDeviceByName("redboot"), "/dev/mtd0");
    EXPECT_STREQ(SzUPDTGetDeviceByName("REDBOOT CONFIG"), "/dev/mtd6");
    EXPECT_EQ(SzUPDTGetDeviceByName("RedBoot.msys"), nullptr);
    EXPECT_EQ(SzUPDTGetDeviceByName(nullptr), nullptr);

    FISDIRENTRY dir[3] = {entry("RedBoot", 0, kBlock, 1), entry("zImage", kBlock, kBlock, 1),
                          entry("zimage", 2 * kBlock, kBlock, 1)};
    EXPECT_EQ(GetIdxByName("REDBOOT", dir, 3), 0);
    EXPECT_EQ(GetIdxByName("ZIMAGE", dir, 3), 1);  // the first match
    EXPECT_EQ(GetIdxByName("rd.gz", dir, 3), -1);
    EXPECT_EQ(GetIdxByName("zImage", dir, 1), -1);  // only the first count
    EXPECT_EQ(GetIdxByName(nullptr, dir, 3), -1);
    EXPECT_EQ(GetIdxByName("zImage", nullptr, 3), -1);
}

TEST_F(PatchTable, ANameFillingAllSixteenBytesIsMatchedWithoutReadingBeyond)
{
    FISDIRENTRY e = entry("", 0, kBlock, 0);
    std::memcpy(e.name, "ABCDEFGHIJKLMNOP", 16);  // no NUL within the field
    EXPECT_EQ(GetIdxByName("abcdefghijklmnop", &e, 1), 0);
    EXPECT_EQ(GetIdxByName("ABCDEFGHIJKLMNOPQ", &e, 1), -1);
    EXPECT_EQ(GetIdxByName("ABCDEFGHIJKLMNO", &e, 1), -1);
}

TEST_F(PatchTable, FixedPartitions)
{
    for (const char *p : {"vexacfg", "VENDOR", "RedBoot Config", "fis directory"})
        EXPECT_EQ(IsFixedPartition(p), 1) << p;
    for (const char *p : {"RedBoot", "zImage", "rd.gz", "AllLib.tgz", "FIS", ""})
        EXPECT_EQ(IsFixedPartition(p), 0) << p;
    EXPECT_EQ(IsFixedPartition(nullptr), 0);
}

TEST_F(PatchTable, NeedResizeLooksAtTheFirstCountEntries)
{
    Layout l = normalLayout({4, 16, 8, 8, 1, 1, 1, 1}, {0, 1, 0, 2, 0, 0, 0, 0});
    EXPECT_EQ(UPDTNeedResize(l.table.data(), 8), 0);
    l.table[5].balance = -1;
    EXPECT_EQ(UPDTNeedResize(l.table.data(), 8), 1);
    EXPECT_EQ(UPDTNeedResize(l.table.data(), 5), 0);
    EXPECT_EQ(UPDTNeedResize(nullptr, 8), 0);
}

// One adjustment case: blocks and balances in, expected moves out.
struct AdjustCase {
    const char *what;
    std::vector<int> blocks, balance, images;
    int result;
    std::vector<int> nresize;       // per entry after the adjustment
    std::vector<int> shiftBlocks;   // start moved by, in blocks
    std::vector<int> marked;        // fneedupdate after
};

class Adjust : public PatchTable, public ::testing::WithParamInterface<AdjustCase> {};

TEST_P(Adjust, MovesBlocksAndShiftsThePartitionsBehind)
{
    const AdjustCase &c = GetParam();
    Layout l = normalLayout(c.blocks, c.balance, c.images);
    std::vector<PATCHINFO> before = l.table;
    ASSERT_EQ(ErrUPDTAdjustPartitionSize(l.table.data(), 8), c.result);
    if (c.result != 0)
        return;
    for (int i = 0; i < 8; ++i) {
        SCOPED_TRACE(l.table[i].part);
        EXPECT_EQ(l.table[i].nresize, c.nresize[i]);
        EXPECT_EQ(static_cast<int64_t>(l.table[i].start) - before[i].start,
                  static_cast<int64_t>(c.shiftBlocks[i]) * kBlock);
        EXPECT_EQ(static_cast<int64_t>(l.table[i].size) - before[i].size,
                  static_cast<int64_t>(c.nresize[i]) * kBlock);
        EXPECT_EQ(l.table[i].fneedupdate, c.marked[i]);
        EXPECT_GE(l.table[i].balance, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Adjust,
    ::testing::Values(
        AdjustCase{"zImage grows, rd.gz gives",
                   {4, 16, 8, 8, 1, 1, 1, 1}, {0, -1, 2, 1, 0, 0, 0, 0}, {1, 1, 1, 1, 0, 0, 0, 0}, 0,
                   {0, 1, -1, 0, 0, 0, 0, 0}, {0, 0, 1, 0, 0, 0, 0, 0}, {1, 1, 1, 1, 0, 0, 0, 0}},
        AdjustCase{"RedBoot with its image gives to rd.gz",
                   {4, 16, 8, 8, 1, 1, 1, 1}, {3, 0, -1, 0, 0, 0, 0, 0}, {1, 0, 1, 0, 0, 0, 0, 0}, 0,
                   {-1, 0, 1, 0, 0, 0, 0, 0}, {0, -1, -1, 0, 0, 0, 0, 0}, {1, 1, 1, 0, 0, 0, 0, 0}},
        AdjustCase{"RedBoot without its image gives nothing",
                   {4, 16, 8, 8, 1, 1, 1, 1}, {3, 0, -1, 1, 0, 0, 0, 0}, {0, 0, 1, 0, 0, 0, 0, 0}, 0,
                   {0, 0, 1, -1, 0, 0, 0, 0}, {0, 0, 0, 1, 0, 0, 0, 0}, {0, 0, 1, 1, 0, 0, 0, 0}},
        AdjustCase{"equal donors: the lower index gives",
                   {4, 16, 8, 8, 1, 1, 1, 1}, {0, 2, -1, 2, 0, 0, 0, 0}, {1, 1, 1, 1, 0, 0, 0, 0}, 0,
                   {0, -1, 1, 0, 0, 0, 0, 0}, {0, 0, -1, 0, 0, 0, 0, 0}, {1, 1, 1, 1, 0, 0, 0, 0}},
        AdjustCase{"entry 0 shares the largest balance and gives",
                   {4, 16, 8, 8, 1, 1, 1, 1}, {2, 2, -1, 2, 0, 0, 0, 0}, {1, 1, 1, 1, 0, 0, 0, 0}, 0,
                   {-1, 0, 1, 0, 0, 0, 0, 0}, {0, -1, -1, 0, 0, 0, 0, 0}, {1, 1, 1, 1, 0, 0, 0, 0}},
        AdjustCase{"three blocks from changing donors",
                   {4, 16, 8, 8, 1, 1, 1, 1}, {0, -3, 2, 2, 1, 0, 0, 0}, {1, 1, 1, 1, 0, 0, 0, 0}, 0,
                   {0, 3, -2, -1, 0, 0, 0, 0}, {0, 0, 3, 1, 0, 0, 0, 0}, {1, 1, 1, 1, 0, 0, 0, 0}},
        AdjustCase{"no donor left", {4, 16, 8, 8, 1, 1, 1, 1}, {0, -1, 0, 0, 5, 5, 0, 0},
                   {1, 1, 1, 1, 0, 0, 0, 0}, -1, {}, {}, {}},
        AdjustCase{"a short fixed partition fails at once", {4, 16, 8, 8, 1, 1, 1, 1},
                   {0, 3, 3, 3, -1, 0, 0, 0}, {1, 1, 1, 1, 1, 0, 0, 0}, -1, {}, {}, {}}),
    [](const ::testing::TestParamInfo<AdjustCase> &info) { return "case" + std::to_string(info.index); });

TEST_F(PatchTable, AdjustedLayoutPassesTheCheck)
{
    Layout l = normalLayout({4, 16, 8, 8, 1, 1, 1, 1}, {0, -1, 2, 1, 0, 0, 0, 0});
    ASSERT_EQ(ErrUPDTAdjustPartitionSize(l.table.data(), 8), 0);
    EXPECT_EQ(UPDTCheckLayout(l.table.data(), 8, l.dir.data(), 8), 0);
}

TEST_F(PatchTable, LayoutCheckRefusesBadLayouts)
{
    struct Bad {
        const char *what;
        int index;
        int64_t dstart, dsize;
    };
    const Bad cases[] = {
        {"start off a block", 1, 0x100, 0},
        {"size off a block", 2, 0, -0x100},
        {"overlapping the next", 1, 0, kBlock},
        {"overlapping a fixed one", 3, 0, kBlock},
        {"before the flash", 0, -static_cast<int64_t>(kBlock), kBlock},
        {"beyond the flash", 7, kBlock, 0},
    };
    for (const Bad &b : cases) {
        SCOPED_TRACE(b.what);
        Layout l = normalLayout({4, 16, 8, 8, 1, 1, 1, 1}, {0, 0, 0, 0, 0, 0, 0, 0});
        ASSERT_EQ(UPDTCheckLayout(l.table.data(), 8, l.dir.data(), 8), 0);
        l.table[b.index].start = static_cast<uint32_t>(l.table[b.index].start + b.dstart);
        l.table[b.index].size = static_cast<uint32_t>(l.table[b.index].size + b.dsize);
        EXPECT_EQ(UPDTCheckLayout(l.table.data(), 8, l.dir.data(), 8), -1);
    }
}

TEST_F(PatchTable, LayoutCheckRefusesAPartitionTooSmallForItsData)
{
    Layout l = normalLayout({4, 16, 8, 8, 1, 1, 1, 1}, {0, 0, 0, 0, 0, 0, 0, 0});
    l.table[2].datalen = l.table[2].size + 1;
    EXPECT_EQ(UPDTCheckLayout(l.table.data(), 8, l.dir.data(), 8), -1);
}

// A directory laid out out of table order: moving blocks between its
// non-fixed partitions would run into the fixed ones, and is refused.
TEST_F(PatchTable, MovesInADirectoryOutOfTableOrderAreRefused)
{
    FISDIRENTRY dir[6];
    std::memcpy(dir, gFisImageQ80ZPlus, sizeof(dir));
    UPDTSelectPartitionTables(1);
    std::vector<PATCHINFO> t(gPatchInfo, gPatchInfo + 7);
    for (int i = 0; i < 6; ++i) {
        int idx = GetIdxByName(t[i].part, dir, 6);
        ASSERT_GE(idx, 0);
        t[i].start = dir[idx].flashBase;
        t[i].size = dir[idx].size;
        t[i].datalen = dir[idx].dataLength;
        t[i].balance = static_cast<int>(t[i].size / kBlock) - static_cast<int>((t[i].datalen + kBlock - 1) / kBlock);
        t[i].fneedupdate = 1;
    }
    ASSERT_EQ(UPDTCheckLayout(t.data(), 6, dir, 6), 0);
    t[2].datalen = 5 * kBlock;  // rd.gz has blocks to spare
    t[2].balance = 6;
    t[1].datalen += 2 * kBlock;  // zImage needs two blocks more
    t[1].balance -= 2;
    ASSERT_EQ(ErrUPDTAdjustPartitionSize(t.data(), 6), 0);
    EXPECT_EQ(UPDTCheckLayout(t.data(), 6, dir, 6), -1);
}

TEST(FisImage, HoldsTheSixEntriesAndZerosElsewhere)
{
    FISDIRENTRY dir[6];
    static_assert(sizeof(dir) == UPDT_FIS_IMAGE_SIZE);
    std::memcpy(dir, gFisImageQ80ZPlus, sizeof(dir));
    struct Want {
        const char *name;
        uint32_t base, size, datalen;
    };
    const Want want[6] = {{"RedBoot", 0xFFF00000, 0x40000, 0x3A448},    {"zImage", 0xFFE00000, 0xD0000, 0xC5EDA},
                          {"rd.gz", 0xFFF40000, 0xB0000, 0xAEE2C},      {"vendor", 0xFFED0000, 0x10000, 0x10000},
                          {"RedBoot Config", 0xFFEE0000, 0x10000, 0x10000}, {"FIS Directory", 0xFFFF0000, 0x10000, 0x600}};
    size_t nonzero = 0;
    for (unsigned char c : gFisImageQ80ZPlus)
        nonzero += c != 0;
    size_t expected = 0;
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE(want[i].name);
        EXPECT_STREQ(dir[i].name, want[i].name);
        EXPECT_EQ(dir[i].flashBase, want[i].base);
        EXPECT_EQ(dir[i].memBase, want[i].base);
        EXPECT_EQ(dir[i].size, want[i].size);
        EXPECT_EQ(dir[i].dataLength, want[i].datalen);
        EXPECT_EQ(dir[i].entryPoint, 0u);
        EXPECT_EQ(dir[i].descChecksum, 0u);
        for (uint32_t v : {want[i].base, want[i].base, want[i].size, want[i].datalen})
            for (int k = 0; k < 4; ++k)
                expected += ((v >> (8 * k)) & 0xFF) != 0;
        expected += std::strlen(want[i].name);
    }
    EXPECT_EQ(nonzero, expected);
    // Little-endian on the flash whatever the host.
    EXPECT_EQ(gFisImageQ80ZPlus[16], 0x00);
    EXPECT_EQ(gFisImageQ80ZPlus[18], 0xF0);
    EXPECT_EQ(gFisImageQ80ZPlus[19], 0xFF);
}

TEST(ShellQuote, QuotesEveryWordForTheShell)
{
    struct Case {
        const char *in, *out;
    };
    const Case cases[] = {
        {"", "''"},
        {"/volume1/upd@te/b@ckup/mtd_RedBoot Config", "'/volume1/upd@te/b@ckup/mtd_RedBoot Config'"},
        {"it's", "'it'\\''s'"},
        {"$(reboot);`x`\"", "'$(reboot);`x`\"'"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(VRALStrShellQuoteString(c.in), c.out);
        char buf[128];
        EXPECT_EQ(VRALStrShellQuote(c.in, buf, sizeof(buf)), static_cast<int>(std::strlen(c.out)));
        EXPECT_STREQ(buf, c.out);
    }
    char small[4] = "xyz";
    EXPECT_EQ(VRALStrShellQuote("abcd", small, sizeof(small)), -1);
    EXPECT_STREQ(small, "");
    EXPECT_EQ(VRALStrShellQuote("ab", small, 4), -1);  // 'ab' needs 5 bytes
    EXPECT_EQ(VRALStrShellQuote("a", small, 4), 3);
    EXPECT_EQ(VRALStrShellQuote(nullptr, small, 4), -1);
}

TEST(ShellQuote, AQuotedWordReachesTheShellUnchanged)
{
    const std::string word = "a b'c\"d$e`f\\g;h";
    std::string cmd = "test " + VRALStrShellQuoteString(word) + " = 'a b'\\''c\"d$e`f\\g;h'";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    cmd = "test x" + VRALStrShellQuoteString(word) + " = x" + VRALStrShellQuoteString(word);
    EXPECT_EQ(std::system(cmd.c_str()), 0);
}

}  // namespace

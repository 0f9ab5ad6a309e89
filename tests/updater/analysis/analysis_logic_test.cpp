// The analysis' own arithmetic: migration flags by build, the space rule.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <map>
#include <string>

#include "analysis_fixture.h"
#include "analysis_internal.h"
#include "updt_analysis.h"

namespace {

// Every migration flag by name, read through the analysis' interface.
std::map<std::string, int *> flagTable() { return analysistest::thresholdFlags(); }

// The last installed build each flag is set for.
const std::map<std::string, int> kLastBuild = {
    {"gRemoveRcAtalk", 107},       {"gRemovePapdConf", 210},     {"gAddFtpAccounts", 229},
    {"gRemoveEtcProfile", 250},    {"gRemoveJumboFrameScript", 251}, {"gConvertMTUValue", 308},
    {"gFixFtpPortRange", 659},     {"gUpdateRsyncdConf", 483},   {"gDumpPgsqlDbs", 537},
    {"gMoveMTUValue", 547},        {"gUpdateRsyncdSecrets", 552}, {"gUpdateSmmspGroup", 555},
    {"gDropMediaDb", 620},         {"gUpdateUsbBackup", 681},    {"gChmodPhotoEaDir", 702},
    {"gRewritePasswdHomes", 770},  {"gRewriteUserConf", 770},    {"gUpdateNetBackup", 770},
    {"gAddMailAccounts", 775},     {"gUpdateCodepage", 807},
};

void clearFlags()
{
    for (auto &[name, flag] : flagTable())
        *flag = 0;
    gPhotoDbUpdates = 0;
}

}  // namespace

TEST(ConfigFlags, EachThresholdIsInclusive)
{
    ASSERT_EQ(flagTable().size(), kLastBuild.size());
    for (const auto &[name, last] : kLastBuild) {
        for (int b : {last - 1, last, last + 1}) {
            clearFlags();
            UPDTSetConfigFlags(b);
            EXPECT_EQ(*flagTable()[name], b <= last ? 1 : 0) << name << " at build " << b;
        }
    }
}

TEST(ConfigFlags, PhotoBitsOnlyForBuildsWithThePhotoDatabase)
{
    const struct {
        int build;
        int bits;
    } cases[] = {{400, 0}, {401, 3}, {424, 3}, {425, 2}, {481, 2}, {482, 0}, {100, 0}};
    for (const auto &c : cases) {
        clearFlags();
        UPDTSetConfigFlags(c.build);
        EXPECT_EQ(gPhotoDbUpdates, c.bits) << "build " << c.build;
    }
}

TEST(ConfigFlags, OldBuildSetsAllButPhotoAndNothingIsCleared)
{
    clearFlags();
    UPDTSetConfigFlags(100);
    for (auto &[name, flag] : flagTable())
        EXPECT_EQ(*flag, 1) << name;
    EXPECT_EQ(gPhotoDbUpdates, 0);

    // a newer build afterwards clears nothing
    UPDTSetConfigFlags(900);
    for (auto &[name, flag] : flagTable())
        EXPECT_EQ(*flag, 1) << name;

    clearFlags();
    UPDTSetConfigFlags(808);
    for (auto &[name, flag] : flagTable())
        EXPECT_EQ(*flag, 0) << name;
}

TEST(SpaceRule, NeedIsExtractSizePlusReserve)
{
    const struct {
        uint64_t size;
        long long extract;
        int ok;
    } cases[] = {
        {10240, 0, 1},                 // nothing to extract still needs the reserve
        {10239, 0, 0},
        {20240, 10000, 1},             // equal is enough
        {20239, 10000, 0},
        {265041, 254801, 1},           // the enlarged factory partition
        {136521, 254801, 0},
        {UINT64_C(1) << 32, (1LL << 32) - 10240, 1},  // 4 TiB does not wrap
        {UINT64_MAX, LLONG_MAX, 0},    // need overflows: refused
        {UINT64_MAX, LLONG_MAX - 10240, 1},
        {UINT64_MAX, LLONG_MAX - 10239, 0},
        {UINT64_MAX, -1, 0},
        {UINT64_MAX, LLONG_MIN, 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(updt::analysis::volumeHolds(c.size, c.extract), c.ok) << c.size << " vs " << c.extract;
}

TEST(SpaceRule, FactoryPartitionCountsEnlargedOnlyWhenResizeable)
{
    EXPECT_EQ(updt::analysis::countedSectors(273042, true), 530082);
    EXPECT_EQ(updt::analysis::countedSectors(273042, false), 273042);
    EXPECT_EQ(updt::analysis::countedSectors(273043, true), 273043);
    EXPECT_EQ(updt::analysis::countedSectors(530082, true) / 2, 265041);
}

TEST(CompareVersion, Order)
{
    const struct {
        const char *a, *b;
        int r;
    } cases[] = {
        {"2.0", "2.0", 0},
        {"2.1", "2.0", 1},
        {"2.0", "2.1", -1},
        {"10.0", "9.9", 1},
        {"1.2", "1.2.0", -1},
        {"1.2.0", "1.2", 1},
        {"1.2.", "1.2", 0},
        {"1.beta", "1.alpha", 1},
        {"1.rc", "1.beta", 1},
        {"1.RC", "1.rc", 0},
        {"1.rc", "1.0", -1},
        {"1.x", "1.0", 0},
        {"", "1", -1},
        {"1", "", 1},
        {"", "", 0},
        {nullptr, "1", 0},
        {"1", nullptr, 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(UPDTCompareVersion(c.a, c.b), c.r) << (c.a ? c.a : "NULL") << " vs " << (c.b ? c.b : "NULL");
}

TEST(CompareVersion, LongTextsAreComparedWhole)
{
    // beyond 32 characters the later parts still count
    const std::string base(40, '1');
    const std::string a = "1." + base + ".2";
    const std::string b = "1." + base + ".3";
    EXPECT_EQ(UPDTCompareVersion(a.c_str(), b.c_str()), -1);
    EXPECT_EQ(UPDTCompareVersion(b.c_str(), a.c_str()), 1);
    std::string many;
    for (int i = 0; i < 200; ++i)
        many += "1.";
    EXPECT_EQ(UPDTCompareVersion((many + "2").c_str(), (many + "2").c_str()), 0);
    EXPECT_EQ(UPDTCompareVersion((many + "2").c_str(), (many + "1").c_str()), 1);
}

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

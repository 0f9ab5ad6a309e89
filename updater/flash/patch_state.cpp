// The built-in partition tables and the working state of the flash stages.
#include "updt_patch.h"

#include <cstdio>
#include <cstring>

namespace {

// Every partition either variant knows, in the normal variant's order.
enum Row { kRedBoot, kZImage, kRdGz, kAllLib, kVendor, kVexacfg, kBootConfig, kFisDir };

struct Partition {
    const char *part;
    const char *file;
};

constexpr Partition kPartitions[] = {
    {"RedBoot", "RedBoot.msys"},
    {"zImage", "zImage"},
    {"rd.gz", "rd.bin"},
    {"AllLib.tgz", "AllLib.tgz"},
    {"vendor", "vendor"},
    {"vexacfg", "vexacfg"},
    {"RedBoot Config", "RedBoot Config"},
    {"FIS Directory", "FIS Directory"},
};

constexpr const char *kDevices[] = {"/dev/mtd0", "/dev/mtd1", "/dev/mtd2", "/dev/mtd3",
                                    "/dev/mtd4", "/dev/mtd5", "/dev/mtd6", "/dev/mtd7"};

constexpr PATCHINFO patch(Row r)
{
    return PATCHINFO{kPartitions[r].part, kPartitions[r].file, 0, 0, 0, 0, 0, 0};
}

// The partition at position pos of a variant is reached through /dev/mtd<pos>.
constexpr PARTDEV pair(Row r, int pos)
{
    return PARTDEV{kPartitions[r].part, kDevices[pos]};
}

}  // namespace

extern "C" {

const PATCHINFO gPatchInfoNormal[UPDT_NORMAL_COUNT] = {
    patch(kRedBoot), patch(kZImage),  patch(kRdGz),       patch(kAllLib),
    patch(kVendor),  patch(kVexacfg), patch(kBootConfig), patch(kFisDir),
};

const PARTDEV gPartDevNormal[UPDT_NORMAL_COUNT + 1] = {
    pair(kRedBoot, 0), pair(kZImage, 1),  pair(kRdGz, 2),       pair(kAllLib, 3),
    pair(kVendor, 4),  pair(kVexacfg, 5), pair(kBootConfig, 6), pair(kFisDir, 7),
    {nullptr, nullptr},
};

// Bantam models have no AllLib.tgz and no vexacfg partition.
const PATCHINFO gPatchInfoBantam[UPDT_BANTAM_COUNT] = {
    patch(kRedBoot), patch(kZImage), patch(kRdGz), patch(kVendor), patch(kBootConfig), patch(kFisDir),
};

const PARTDEV gPartDevBantam[UPDT_BANTAM_COUNT + 1] = {
    pair(kRedBoot, 0), pair(kZImage, 1),     pair(kRdGz, 2),
    pair(kVendor, 3),  pair(kBootConfig, 4), pair(kFisDir, 5),
    {nullptr, nullptr},
};

PARTDEV gPartDevTable[UPDT_TABLE_MAX];
PATCHINFO gPatchInfo[UPDT_TABLE_MAX];
int gPatchCount;
char gszDevMtdPartition[16];
uint32_t gEraseBlockSize;
uint64_t gProgressTotal;
uint64_t gProgressDone;

char gszPatchDir[256];
int gGroupUpdate;

void UPDTSelectPartitionTables(int bantam)
{
    const PATCHINFO *patches = bantam ? gPatchInfoBantam : gPatchInfoNormal;
    const PARTDEV *devices = bantam ? gPartDevBantam : gPartDevNormal;
    const int count = bantam ? UPDT_BANTAM_COUNT : UPDT_NORMAL_COUNT;
    std::memset(gPatchInfo, 0, sizeof(gPatchInfo));
    std::memset(gPartDevTable, 0, sizeof(gPartDevTable));
    std::memcpy(gPatchInfo, patches, sizeof(PATCHINFO) * count);
    std::memcpy(gPartDevTable, devices, sizeof(PARTDEV) * (count + 1));
    gPatchCount = count;
    // The flash directory is the last partition of either variant.
    std::snprintf(gszDevMtdPartition, sizeof(gszDevMtdPartition), "%s", kDevices[count - 1]);
}

}  // extern "C"

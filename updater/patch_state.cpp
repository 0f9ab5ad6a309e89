// The built-in partition tables and the working state of the flash stages.
#include "updt_patch.h"

#include <cstdio>
#include <cstring>

extern "C" {

const PATCHINFO gPatchInfoNormal[UPDT_NORMAL_COUNT] = {
    {"RedBoot", "RedBoot.msys", 0, 0, 0, 0, 0, 0},
    {"zImage", "zImage", 0, 0, 0, 0, 0, 0},
    {"rd.gz", "rd.bin", 0, 0, 0, 0, 0, 0},
    {"AllLib.tgz", "AllLib.tgz", 0, 0, 0, 0, 0, 0},
    {"vendor", "vendor", 0, 0, 0, 0, 0, 0},
    {"vexacfg", "vexacfg", 0, 0, 0, 0, 0, 0},
    {"RedBoot Config", "RedBoot Config", 0, 0, 0, 0, 0, 0},
    {"FIS Directory", "FIS Directory", 0, 0, 0, 0, 0, 0},
};

const PARTDEV gPartDevNormal[UPDT_NORMAL_COUNT + 1] = {
    {"RedBoot", "/dev/mtd0"},
    {"zImage", "/dev/mtd1"},
    {"rd.gz", "/dev/mtd2"},
    {"AllLib.tgz", "/dev/mtd3"},
    {"vendor", "/dev/mtd4"},
    {"vexacfg", "/dev/mtd5"},
    {"RedBoot Config", "/dev/mtd6"},
    {"FIS Directory", "/dev/mtd7"},
    {nullptr, nullptr},
};

const PATCHINFO gPatchInfoBantam[UPDT_BANTAM_COUNT] = {
    {"RedBoot", "RedBoot.msys", 0, 0, 0, 0, 0, 0},
    {"zImage", "zImage", 0, 0, 0, 0, 0, 0},
    {"rd.gz", "rd.bin", 0, 0, 0, 0, 0, 0},
    {"vendor", "vendor", 0, 0, 0, 0, 0, 0},
    {"RedBoot Config", "RedBoot Config", 0, 0, 0, 0, 0, 0},
    {"FIS Directory", "FIS Directory", 0, 0, 0, 0, 0, 0},
};

const PARTDEV gPartDevBantam[UPDT_BANTAM_COUNT + 1] = {
    {"RedBoot", "/dev/mtd0"},
    {"zImage", "/dev/mtd1"},
    {"rd.gz", "/dev/mtd2"},
    {"vendor", "/dev/mtd3"},
    {"RedBoot Config", "/dev/mtd4"},
    {"FIS Directory", "/dev/mtd5"},
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
    std::memset(gPatchInfo, 0, sizeof(gPatchInfo));
    std::memset(gPartDevTable, 0, sizeof(gPartDevTable));
    if (bantam) {
        std::memcpy(gPatchInfo, gPatchInfoBantam, sizeof(gPatchInfoBantam));
        std::memcpy(gPartDevTable, gPartDevBantam, sizeof(gPartDevBantam));
        gPatchCount = UPDT_BANTAM_COUNT;
        std::snprintf(gszDevMtdPartition, sizeof(gszDevMtdPartition), "%s", "/dev/mtd5");
    } else {
        std::memcpy(gPatchInfo, gPatchInfoNormal, sizeof(gPatchInfoNormal));
        std::memcpy(gPartDevTable, gPartDevNormal, sizeof(gPartDevNormal));
        gPatchCount = UPDT_NORMAL_COUNT;
        std::snprintf(gszDevMtdPartition, sizeof(gszDevMtdPartition), "%s", "/dev/mtd7");
    }
}

}  // extern "C"

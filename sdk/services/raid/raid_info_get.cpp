// One md array: level, sizes, members, sync state and status.
#include <fcntl.h>

#include <cstdlib>
#include <cstring>

#include "services/mtd/vexa_mtd.h"  // vexamtd::Fd
#include "services/raid/raid_internal.h"

namespace {

int levelOf(int mdLevel)
{
    switch (mdLevel) {
    case 0:
        return VEXA_RAID_LEVEL_RAID0;
    case 1:
        return VEXA_RAID_LEVEL_RAID1;
    case 5:
        return VEXA_RAID_LEVEL_RAID5;
    case 6:
        return VEXA_RAID_LEVEL_RAID6;
    case -1:
        return VEXA_RAID_LEVEL_LINEAR;
    default:
        VRAL_LOG(LOG_DEBUG, "Not supported RAID level: %d", mdLevel);
        return VEXA_RAID_LEVEL_OTHER;
    }
}

// "/dev/sd" and exactly two letters: the first letter's disk index.
int firstDiskOf(const VEXARAIDDISK *head)
{
    if (head == nullptr)
        return -1;
    const char *d = head->szDevice;
    if (strncmp(d, "/dev/sd", 7) != 0)
        return -1;
    const char *rest = d + 7;
    auto isLetter = [](char c) { return c >= 'a' && c <= 'z'; };
    if (strlen(rest) == 2 && isLetter(rest[0]) && isLetter(rest[1]))
        return rest[0] - 'a';
    return -1;
}

}  // namespace

extern "C" void VEXARaidInfoFree(VEXARAIDINFO *pInfo)
{
    if (pInfo == nullptr)
        return;
    VEXARaidDiskListFree(pInfo->pMembers);
    free(pInfo);
}

extern "C" int VEXARaidInfoGet(const char *szPath, VEXARAIDINFO **ppInfo)
{
    if (szPath == nullptr || ppInfo == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    const int md = vexa::raid::mdNumberOf(szPath);
    if (md < 0 || strlen(szPath) >= sizeof(VEXARAIDINFO{}.szPath)) {
        VRAL_LOG(LOG_DEBUG, "invalide path %s, errno=%m", szPath);
        VRAL_ERR_SET(ERR_BAD_MD_PATH);
        return -1;
    }
    auto *info = static_cast<VEXARAIDINFO *>(calloc(1, sizeof(VEXARAIDINFO)));
    if (info == nullptr) {
        VRAL_LOG(LOG_DEBUG, "Failed to calloc, errno=%m");
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return -1;
    }
    info->mdNumber = md;
    info->firstDisk = -1;
    strcpy(info->szPath, szPath);

    vexamtd::Fd fd(open(szPath, O_RDONLY | O_CLOEXEC));
    if (!fd.ok()) {
        VRAL_LOG(LOG_DEBUG, "Failed to open %s, errno=%m", szPath);
        VRAL_ERR_SET(ERR_OPEN_FAILED);
        VEXARaidInfoFree(info);
        return -1;
    }

    VEXAMDARRAYINFO arrayInfo{};
    if (VEXARaidIoctlInfo(fd.get(), &arrayInfo) < 0) {
        const int code = VRALErrGet();
        VEXARaidInfoFree(info);
        if (code == ERR_NO_DEVICE)
            return 0;
        VRAL_LOG(LOG_DEBUG, "Failed to ioctl for raid status, errno=0X%X", code);
        return -1;
    }
    info->level = levelOf(arrayInfo.level);
    // the record carries KiB in an int; a negative value is md's overflow mark
    info->arraySize = arrayInfo.size >= 0 ? static_cast<uint64_t>(arrayInfo.size) * 1024u : 0;
    info->raidDisks = arrayInfo.raid_disks;

    if (VEXARaidIoctlSize(fd.get(), &info->deviceSize) < 0) {
        VRAL_LOG(LOG_DEBUG, "Failed to ioctl for raid size, errno=0X%X", VRALErrGet());
        VEXARaidInfoFree(info);
        return -1;
    }

    VEXARAIDDISK *members = nullptr;
    if (VEXARaidDiskListGet(szPath, &members) < 0) {
        VRAL_LOG(LOG_DEBUG, "Failed to get disk list for /dev/md%d, errno=0X%X", md, VRALErrGet());
        VEXARaidInfoFree(info);
        return -1;
    }
    info->pMembers = members;
    info->firstDisk = firstDiskOf(members);

    if (VEXARaidRebuildStatusGet(fd.get(), info->sync) < 0) {
        VRAL_LOG(LOG_DEBUG, "Failed to get sync status for /dev/md%d, errno=0X%X", md, VRALErrGet());
        VEXARaidInfoFree(info);
        return -1;
    }
    if (VEXARaidDecideStatus(&arrayInfo, info->pMembers, &info->status) < 0) {
        VRAL_LOG(LOG_DEBUG, "Failed to decide raid status for /dev/md%d, errno=0X%X", md, VRALErrGet());
        VEXARaidInfoFree(info);
        return -1;
    }
    *ppInfo = info;
    return 1;
}

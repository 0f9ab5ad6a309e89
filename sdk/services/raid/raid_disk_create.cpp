#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/err/err_guard.h"
#include "services/raid/raid_internal.h"

namespace {

constexpr size_t kMaxMemberName = 31;
constexpr int kStateLine = 32;

int deviceFromDir(const char *szDir, VEXARAIDDISK *pDisk)
{
    const char *p = strstr(szDir, "dev-");
    if (p == nullptr) {
        VRAL_LOG(LOG_DEBUG, "Failed to strstr %s, errno=%m", szDir);
        VRAL_ERR_SET(ERR_BAD_PATH);
        return -1;
    }
    const char *name = p + 4;
    const size_t len = strlen(name);
    // a name cut short would be another disk's name
    if (len == 0 || len > kMaxMemberName || strchr(name, '/') != nullptr) {
        VRAL_LOG(LOG_DEBUG, "Failed to strstr %s, errno=%m", szDir);
        VRAL_ERR_SET(ERR_BAD_PATH);
        return -1;
    }
    snprintf(pDisk->szDevice, sizeof pDisk->szDevice, "/dev/%s", name);
    return 0;
}

int stateFromDir(const char *szDir, VEXARAIDDISK *pDisk)
{
    char line[kStateLine] = {};
    std::string path = std::string(szDir) + "/state";
    if (VEXARaidReadSysfsLine(path.c_str(), line, sizeof line) < 0) {
        VRAL_LOG(LOG_DEBUG, "Failed to get status from %s, errno=0X%X", path.c_str(), VRALErrGet());
        return -1;
    }
    if (strstr(line, "faulty") != nullptr) {
        pDisk->state = VEXA_RAID_DISK_FAULTY;
    } else if (strstr(line, "error") != nullptr) {
        pDisk->state = VEXA_RAID_DISK_ERROR;
    } else if (strstr(line, "in_sync") != nullptr) {
        pDisk->state = VEXA_RAID_DISK_IN_SYNC;
    } else if (strstr(line, "spare") != nullptr) {
        char slot[kStateLine] = {};
        path = std::string(szDir) + "/slot";
        if (VEXARaidReadSysfsLine(path.c_str(), slot, sizeof slot) < 0) {
            VRAL_LOG(LOG_DEBUG, "Failed to get status from %s, errno=0X%X", path.c_str(), VRALErrGet());
            return -1;
        }
        pDisk->state = strstr(slot, "none") != nullptr ? VEXA_RAID_DISK_SPARE_NONE : VEXA_RAID_DISK_SPARE;
    } else {
        pDisk->state = VEXA_RAID_DISK_IN_SYNC;
    }
    return 0;
}

}  // namespace

extern "C" int VEXARaidDiskCreate(const char *szDir, VEXARAIDDISK **ppDisk)
{
    if (szDir == nullptr || ppDisk == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    auto *disk = static_cast<VEXARAIDDISK *>(calloc(1, sizeof(VEXARAIDDISK)));
    if (disk == nullptr) {
        VRAL_LOG(LOG_DEBUG, "Failed to calloc, errno=%m");
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return -1;
    }
    if (deviceFromDir(szDir, disk) < 0) {
        VRAL_LOG(LOG_DEBUG, "Failed to get path from %s ,errno=0X%X", szDir, VRALErrGet());
        free(disk);
        return -1;
    }
    if (vral::NoThrow(-1, [&] { return stateFromDir(szDir, disk); }) < 0) {
        VRAL_LOG(LOG_DEBUG, "Failed to get status from %s, errno=0X%X", szDir, VRALErrGet());
        free(disk);
        return -1;
    }
    *ppDisk = disk;
    return 0;
}

// The flash stage of the run: it speaks for the driver ("main") in its
// messages, as the exit codes it returns are the driver's.
#include "updt_flash_stage.h"

#include <syslog.h>

#include <cerrno>
#include <new>

#include "updt_driver.h"
#include "updt_status.h"

namespace {

constexpr const char *kFn = "main";
constexpr char kState = UPDT_STATE_PATCH;

#define STAGE_LOG(fmt, ...) syslog(LOG_ERR, "%s(%d): " fmt, kFn, __LINE__, ##__VA_ARGS__)

// The directory as the driver logs it before the table is built.
void logDirectory(const std::vector<FISDIRENTRY> &directory, int entries)
{
    syslog(LOG_ERR, "number of partitions = [%d]", entries);
    for (int i = 0; i < entries; ++i) {
        const FISDIRENTRY &e = directory[static_cast<size_t>(i)];
        syslog(LOG_ERR, "[%.*s]  0x%08lX  0x%08lX  0x%08lX\n", FIS_NAME_LEN, e.name,
               static_cast<unsigned long>(e.flashBase), static_cast<unsigned long>(e.size),
               static_cast<unsigned long>(e.dataLength));
    }
}

}  // namespace

int UPDTFlashReadTable(std::vector<FISDIRENTRY> &directory, int &entries)
{
    entries = 0;
    UPDTSetProgress(kState, 0);
    int cbNeed = 0;
    if (VEXAMTDGetPartitionInfo(gszDevMtdPartition, nullptr, 0, &cbNeed) < 0 || cbNeed < 0) {
        STAGE_LOG("fail to get partition info");
        return UPDT_ERR_PARTITION_INFO;
    }
    size_t count = (static_cast<size_t>(cbNeed) + sizeof(FISDIRENTRY) - 1) / sizeof(FISDIRENTRY);
    try {
        directory.assign(count > 0 ? count : 1, FISDIRENTRY{});
    } catch (const std::bad_alloc &) {
        STAGE_LOG("malloc fail, errno = %d", ENOMEM);
        return UPDT_ERR_SPACE;
    }
    // Exactly the bytes asked for: an empty directory is refused here.
    int cbUsed = 0;
    int n = VEXAMTDGetPartitionInfo(gszDevMtdPartition, directory.data(), cbNeed, &cbUsed);
    if (n < 0) {
        STAGE_LOG("fail to get partition info");
        return UPDT_ERR_PARTITION_INFO;
    }
    entries = n;
    logDirectory(directory, entries);

    UPDTSetProgress(kState, 10);
    if (UPDTInitPatchInfo(directory.data(), entries) < 0) {
        STAGE_LOG("fail to initialize patch info ");
        return UPDT_ERR_PATCH_INFO;
    }
    UPDTSetProgress(kState, 20);
    return UPDT_OK;
}

int UPDTFlashWritePartitions(std::vector<FISDIRENTRY> &directory, int entries, bool &rollBack)
{
    rollBack = false;
    if (!gGroupUpdate && UPDTBackupOldPartition(directory.data(), entries) < 0) {
        STAGE_LOG("fail to backup old patch info ");
        return UPDT_ERR_BACKUP;
    }
    UPDTSetProgress(kState, 60);
    if (UPDTDoPatch(directory.data(), entries) < 0) {
        STAGE_LOG("fail to patch new binaries!!");
        rollBack = true;
        return UPDT_ERR_FLASH_WRITE;
    }
    STAGE_LOG("Turn on the reinstall library flag...!!");
    UPDTSetProgress(kState, 100);
    return UPDT_OK;
}

int UPDTFlashStage(std::vector<FISDIRENTRY> &directory, int &entries, bool &rollBack)
{
    rollBack = false;
    try {
        if (int code = UPDTFlashReadTable(directory, entries); code != UPDT_OK)
            return code;
        return UPDTFlashWritePartitions(directory, entries, rollBack);
    } catch (const std::bad_alloc &) {
        // Once the flash was touched only the roll-back makes it whole.
        STAGE_LOG("malloc fail, errno = %d", ENOMEM);
        rollBack = UPDTFlashTouched() != 0;
        return rollBack ? UPDT_ERR_FLASH_WRITE : UPDT_ERR_SPACE;
    }
}

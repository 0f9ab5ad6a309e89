// The flash stage of a run, for each kind of flash: it speaks for the
// sequence that calls it ("main", or "UPDTMSysUpdate" on MSys flash), as
// the exit codes it returns are the driver's.
#include "updt_flash_stage.h"

#include <syslog.h>

#include <cerrno>
#include <new>

#include "base/err/err_log.h"
#include "patch_internal.h"
#include "updt_driver.h"
#include "updt_msys.h"
#include "updt_status.h"

namespace {

constexpr const char *kNorCaller = "main";
constexpr const char *kMSysCaller = "UPDTMSysUpdate";
constexpr char kState = UPDT_STATE_PATCH;

// What both kinds do once the directory is read: log it, then build the
// patch table with init; progress P 10 and 20.
int buildPatchTable(const char *fn, std::vector<FISDIRENTRY> &directory, int entries,
                    int (*init)(FISDIRENTRY *, int))
{
    updtpatch::logDirectory(directory.data(), entries);
    UPDTSetProgress(kState, 10);
    if (init(directory.data(), entries) < 0) {
        VRAL_LOG_CALL(fn, "fail to initialize patch info ");
        return UPDT_ERR_PATCH_INFO;
    }
    UPDTSetProgress(kState, 20);
    return UPDT_OK;
}

// The backup (not with -g) and the write through patch; progress P 60
// to 100.  A failed write asks for the roll-back.
int backupAndWrite(const char *fn, std::vector<FISDIRENTRY> &directory, int entries, bool &rollBack,
                   int (*patch)(FISDIRENTRY *, int))
{
    rollBack = false;
    if (!gGroupUpdate && UPDTBackupOldPartition(directory.data(), entries) < 0) {
        VRAL_LOG_CALL(fn, "fail to backup old patch info ");
        return UPDT_ERR_BACKUP;
    }
    UPDTSetProgress(kState, 60);
    if (patch(directory.data(), entries) < 0) {
        VRAL_LOG_CALL(fn, "fail to patch new binaries!!");
        rollBack = true;
        return UPDT_ERR_FLASH_WRITE;
    }
    VRAL_LOG_CALL(fn, "Turn on the reinstall library flag...!!");
    UPDTSetProgress(kState, 100);
    return UPDT_OK;
}

// Whether this run's MSys write re-partitioned: its roll-back lays the
// old sizes down first.  Reset when the table is read.
int gMSysReparted = 0;

int msysReadTable(std::vector<FISDIRENTRY> &directory, int &entries)
{
    entries = 0;
    gMSysReparted = 0;
    UPDTSetProgress(kState, 0);
    directory.assign(VEXA_MSYS_PARTITIONS, FISDIRENTRY{});
    const int count = UPDTMSysGetPartitionInfo(directory.data());  // logs its failure
    if (count < 0)
        return UPDT_ERR_PARTITION_INFO;
    entries = count;
    return buildPatchTable(kMSysCaller, directory, entries, UPDTMSysInitPatchInfo);
}

int msysWritePartitions(std::vector<FISDIRENTRY> &directory, int entries, bool &rollBack)
{
    return backupAndWrite(kMSysCaller, directory, entries, rollBack, [](FISDIRENTRY *d, int n) {
        return UPDTMSysDoPatch(d, n, &gMSysReparted);
    });
}

int msysRollBack(FISDIRENTRY *directory, int entries)
{
    return UPDTMSysRollBack(directory, entries, gMSysReparted);
}

}  // namespace

int UPDTFlashReadTable(std::vector<FISDIRENTRY> &directory, int &entries)
{
    entries = 0;
    UPDTSetProgress(kState, 0);
    int cbNeed = 0;
    if (VEXAMTDGetPartitionInfo(gszDevMtdPartition, nullptr, 0, &cbNeed) < 0 || cbNeed < 0) {
        VRAL_LOG_CALL(kNorCaller, "fail to get partition info");
        return UPDT_ERR_PARTITION_INFO;
    }
    size_t count = (static_cast<size_t>(cbNeed) + sizeof(FISDIRENTRY) - 1) / sizeof(FISDIRENTRY);
    try {
        directory.assign(count > 0 ? count : 1, FISDIRENTRY{});
    } catch (const std::bad_alloc &) {
        VRAL_LOG_CALL(kNorCaller, "malloc fail, errno = %d", ENOMEM);
        return UPDT_ERR_SPACE;
    }
    // Exactly the bytes asked for: an empty directory is refused here.
    int cbUsed = 0;
    int n = VEXAMTDGetPartitionInfo(gszDevMtdPartition, directory.data(), cbNeed, &cbUsed);
    if (n < 0) {
        VRAL_LOG_CALL(kNorCaller, "fail to get partition info");
        return UPDT_ERR_PARTITION_INFO;
    }
    entries = n;
    return buildPatchTable(kNorCaller, directory, entries, UPDTInitPatchInfo);
}

int UPDTFlashWritePartitions(std::vector<FISDIRENTRY> &directory, int entries, bool &rollBack)
{
    return backupAndWrite(kNorCaller, directory, entries, rollBack, UPDTDoPatch);
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
        VRAL_LOG_CALL(kNorCaller, "malloc fail, errno = %d", ENOMEM);
        rollBack = UPDTFlashTouched() != 0;
        return rollBack ? UPDT_ERR_FLASH_WRITE : UPDT_ERR_SPACE;
    }
}

const UPDTFlashOps UPDTNorFlash = {kNorCaller, UPDTFlashReadTable, UPDTFlashWritePartitions, UPDTRollBack};
const UPDTFlashOps UPDTMSysFlash = {kMSysCaller, msysReadTable, msysWritePartitions, msysRollBack};

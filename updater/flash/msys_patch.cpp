// The MSys flash: the write with its re-partitioning and the roll-back to
// the old table and contents.
#include "updt_msys.h"

#include <syslog.h>

#include <string>
#include <vector>

#include "patch_internal.h"
#include "updt_driver.h"
#include "updt_status.h"

namespace {

using updtpatch::Plan;

constexpr int kParts = VEXA_MSYS_PARTITIONS;

uint32_t unitsFor(uint32_t bytes)
{
    return (bytes + VEXA_MSYS_UNIT_SIZE - 1) / VEXA_MSYS_UNIT_SIZE;
}

// Up to three attempts at copying a planned partition and reading it back.
bool writeWithAttempts(const Plan &plan, const char *fn)
{
    for (int attempt = 0; attempt < UPDT_ATTEMPTS; ++attempt) {
        if (updtpatch::writeAndVerify(plan, attempt, false, fn) == 0)
            return true;
    }
    PATCH_LOG(fn, "Try to Update [%s] %d counts failed ...", plan.device, UPDT_ATTEMPTS);
    return false;
}

// Settles what is to be written and, when an image does not fit, the new
// unit counts; nothing here touches the flash.  false, logged.
bool planPatch(FISDIRENTRY *directory, int count, bool &repart, uint32_t blocks[kParts], std::vector<Plan> &plans)
{
    const char *fn = "UPDTMSysDoPatch";
    repart = UPDTNeedResize(gPatchInfo, gPatchCount) != 0;
    if (repart) {
        syslog(LOG_ERR, "%s(%d): NEED RE-PARTITION!!", fn, __LINE__);
        // The format wipes every partition; without copies (-g) each needs
        // its image.
        for (int i = 0; gGroupUpdate && i < gPatchCount; ++i) {
            if (!updtpatch::gHasImage[i]) {
                syslog(LOG_ERR, "%s(%d): failed to update. [%s] does not exist", fn, __LINE__,
                       updtpatch::packagePath(gPatchInfo[i].file).c_str());
                return false;
            }
        }
        if (ErrUPDTAdjustPartitionSize(gPatchInfo, gPatchCount) != 0 ||
            UPDTCheckLayout(gPatchInfo, gPatchCount, directory, count) != 0) {
            syslog(LOG_ERR, "%s(%d): fail to resize", fn, __LINE__);
            return false;
        }
        for (int k = 0; k < kParts; ++k)
            blocks[k] = unitsFor(gPatchInfo[k].size);
    }
    plans.resize(static_cast<size_t>(gPatchCount));
    for (int i = 0; i < gPatchCount; ++i) {
        if (!repart && !gPatchInfo[i].fneedupdate)
            continue;
        if (!updtpatch::planEntry(i, directory, count, plans[static_cast<size_t>(i)], fn))
            return false;
    }
    return true;
}

// Partition i back from its copy in b@ckup; 0 or -1.
int restorePartition(int i, const FISDIRENTRY &old)
{
    const char *fn = "UPDTMSysRollBack";
    Plan plan;
    plan.device = SzUPDTGetDeviceByName(gPatchInfo[i].part);
    plan.dirName = updtpatch::entryName(old);
    plan.sourceName = updtpatch::backupCopyPath(plan.dirName);
    plan.length = old.size;
    long long have = -1;
    plan.source.emplace(updtpatch::openCopy(plan.dirName, have));
    if (plan.device == nullptr || have != static_cast<long long>(old.size)) {
        syslog(LOG_ERR, "%s(%d): backup [%s] of partition %d is missing or not 0x%08X bytes, not restored", fn,
               __LINE__, plan.sourceName.c_str(), i, old.size);
        return -1;
    }
    if (old.size > 0 && !writeWithAttempts(plan, fn))
        return -1;
    UPDTSetProgress(UPDT_STATE_PATCH, 65 + 5 * i);
    syslog(LOG_ERR, "%s: Finish updating [%s]", fn, gPatchInfo[i].part);
    return 0;
}

}  // namespace

extern "C" int UPDTMSysDoPatch(FISDIRENTRY *directory, int count, int *reparted)
try {
    updtpatch::gFlashTouched = false;
    if (directory == nullptr || count <= 0 || reparted == nullptr) {
        syslog(LOG_ERR, "%s(%d): parameter error ", __func__, __LINE__);
        return -1;
    }
    bool repart = false;
    uint32_t blocks[kParts] = {};
    std::vector<Plan> plans;
    if (!planPatch(directory, count, repart, blocks, plans))
        return -1;
    // Only the steps of the sequence report progress.
    gProgressTotal = 0;
    gProgressDone = 0;
    if (repart) {
        // Set first: a format that fails half-way may have wiped the flash,
        // and the roll-back must then lay the old sizes down again.
        *reparted = 1;
        updtpatch::gFlashTouched = true;
        if (UPDTMSysFormat(blocks, kParts) != 0) {
            syslog(LOG_ERR, "%s(%d): fail to resize", __func__, __LINE__);
            return -1;
        }
    }
    for (int i = 0; i < gPatchCount; ++i) {
        const PATCHINFO &p = gPatchInfo[i];
        if (!repart && !p.fneedupdate) {
            syslog(LOG_ERR, "%s: skip updating [%s]", __func__, p.part);
            continue;
        }
        updtpatch::gFlashTouched = true;
        if (!writeWithAttempts(plans[static_cast<size_t>(i)], __func__))
            return -1;
        UPDTSetProgress(UPDT_STATE_PATCH, 65 + 5 * i);
        syslog(LOG_ERR, "%s: Finish updating [%s]", __func__, p.part);
    }
    return 0;
} catch (...) {
    // Nothing escapes to the C caller: a failed allocation fails the call.
    return updtpatch::outOfMemory(__func__);
}

extern "C" int UPDTMSysRollBack(FISDIRENTRY *directory, int count, int reparted)
try {
    if (int go = updtpatch::rollBackStart(directory, count, __func__); go <= 0)
        return go;
    if (reparted) {
        uint32_t blocks[kParts] = {};
        for (int k = 0; k < kParts && k < count; ++k)
            blocks[k] = unitsFor(directory[k].size);
        int attempts = 0;
        bool formatted = false;
        while (!formatted && attempts++ < UPDT_ATTEMPTS)
            formatted = UPDTMSysFormat(blocks, kParts) == 0;
        if (!formatted) {
            syslog(LOG_ERR, "%s(%d): fail to resize; the old partitions stay in %s/%s", __func__, __LINE__,
                   gszPatchDir, UPDT_BACKUP_DIR);
            return -1;
        }
    }
    bool failed = false;
    for (int i = 0; i < gPatchCount && i < count; ++i) {
        // A partition that fails does not stop the others.
        if (updtpatch::restoreShortOfMemory(__func__, [&] { return restorePartition(i, directory[i]); }) != 0)
            failed = true;
    }
    return updtpatch::rollBackEnd(failed, __func__);
} catch (...) {
    // Nothing escapes to the C caller: a failed allocation fails the call.
    return updtpatch::outOfMemory(__func__);
}

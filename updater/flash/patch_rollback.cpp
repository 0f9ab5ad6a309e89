// Restores every marked partition and its directory entry from the copies
// in the backup folder after a failed write or migration.
#include "updt_patch.h"

#include <cstdio>
#include <cstring>
#include <syslog.h>

#include "patch_internal.h"
#include "updt_status.h"

namespace {

// One partition back to its old range and bytes; 0 or -1.
int restorePartition(int i, const PATCHINFO &p, const FISDIRENTRY &old)
{
    using namespace updtpatch;
    const char *fn = "UPDTRollBack";
    const char *device = SzUPDTGetDeviceByName(p.part);
    if (device == nullptr) {
        syslog(LOG_ERR, "%s(%d): fail to get device path", fn, __LINE__);
        return -1;
    }
    const std::string name = entryName(old);
    const std::string path = backupCopyPath(name);
    long long have = -1;
    vexamtd::Fd copy(openCopy(name, have));
    // Without a whole copy the partition is better left as it is.
    if (have != static_cast<long long>(old.size)) {
        syslog(LOG_ERR, "%s(%d): backup [%s] of partition %d is missing or not 0x%08X bytes, not restored", fn,
               __LINE__, path.c_str(), i, old.size);
        return -1;
    }
    // An empty partition holds nothing to erase or copy: only its entry
    // goes back (a window of no block cannot be set on the device).
    if (old.size == 0) {
        if (recordEntry(name, old.flashBase, 0, old.dataLength, fn) != 0)
            return -1;
        syslog(LOG_ERR, "%s: Finish recovering [%s]", fn, p.part);
        return 0;
    }
    int attempts = 0;
    while (attempts < UPDT_ATTEMPTS) {
        ++attempts;
        // Each request may fail once: all of them are in the attempts.
        if (VEXAMTDModifyPartitionSize(device, old.flashBase, old.size) < 0) {
            syslog(LOG_ERR, "%s: VEXAMTDModifyPartitionSize() fail", fn);
            continue;
        }
        if (VEXAMTDUnlockPartition(device) < 0) {
            syslog(LOG_ERR, "%s: unlock [%s] fail", fn, device);
            continue;
        }
        PATCH_LOG(fn, "VEXAMTDErasePartition(%s)...", device);
        if (VEXAMTDErasePartition(device) < 0) {
            syslog(LOG_ERR, "%s: VEXAMTDErasePartition() fail", fn);
            continue;
        }
        // From the copy held open since the backup, never by its path.
        syslog(LOG_ERR, "%s(%d): restoring %s from %s", fn, __LINE__, device, path.c_str());
        if (copyToDevice(copy.get(), path.c_str(), device, old.size, UPDT_COPY_CHUNK, false, fn) != 0)
            continue;
        if (compareWithDevice(copy.get(), path.c_str(), device, old.size, UPDT_VERIFY_CHUNK, false, fn) != 0)
            continue;
        if (recordEntry(name, old.flashBase, old.size, old.dataLength, fn) != 0)
            continue;
        syslog(LOG_ERR, "%s: Finish recovering [%s]", fn, p.part);
        return 0;
    }
    PATCH_LOG(fn, "Try to recover [%s] %d counts failed ...", device, attempts);
    return -1;
}

}  // namespace

namespace updtpatch {

int rollBackStart(const FISDIRENTRY *directory, int count, const char *func)
{
    if (directory == nullptr || count <= 0) {
        syslog(LOG_ERR, "%s(%d): parameter error ", func, __LINE__);
        return -1;
    }
    if (!gFlashTouched) {
        syslog(LOG_ERR, "%s(%d): the flash was not written, nothing to restore", func, __LINE__);
        return 0;
    }
    return 1;
}

int rollBackEnd(bool failed, const char *func)
{
    if (!failed)
        return 0;
    syslog(LOG_ERR, "%s(%d): roll-back incomplete; the old partitions stay in %s/%s", func, __LINE__, gszPatchDir,
           UPDT_BACKUP_DIR);
    return -1;
}

}  // namespace updtpatch

extern "C" int UPDTRollBack(FISDIRENTRY *directory, int count)
try {
    if (int go = updtpatch::rollBackStart(directory, count, __func__); go <= 0)
        return go;
    bool failed = false;
    for (int i = 0; i < gPatchCount && i < UPDT_TABLE_MAX && gPatchInfo[i].part != nullptr; ++i) {
        const PATCHINFO &p = gPatchInfo[i];
        if (!p.fneedupdate) {
            syslog(LOG_ERR, "%s: skip recoverying [%s]", __func__, p.part);
            continue;
        }
        int idx = updtpatch::entryIndex(p.part, i, directory, count, __func__, __LINE__);
        // A partition that still fails does not stop the others.
        if (idx < 0 ||
            updtpatch::restoreShortOfMemory(__func__, [&] { return restorePartition(i, p, directory[idx]); }) != 0)
            failed = true;
    }
    return updtpatch::rollBackEnd(failed, __func__);
} catch (...) {
    // Nothing escapes to the C caller: a failed allocation fails the call.
    return updtpatch::outOfMemory(__func__);
}

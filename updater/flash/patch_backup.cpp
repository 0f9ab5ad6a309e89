// Copies every partition of the flash directory into the package's backup
// folder before anything is written, and reads each copy back; all of it
// in-process, through descriptors the updater opened itself.
#include "updt_patch.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>
#include <vector>

#include "patch_internal.h"
#include "updt_status.h"

extern "C" int UPDTBackupOldPartition(FISDIRENTRY *directory, int count)
try {
    using namespace updtpatch;
    if (directory == nullptr || count <= 0) {
        syslog(LOG_ERR, "%s(%d): parameter error ", __func__, __LINE__);
        return -1;
    }

    // Every device is settled first: one that does not reach exactly its
    // entry's range would give a copy that cannot restore it.
    std::vector<const char *> devices;
    for (int i = 0; i < count; ++i) {
        const std::string name = entryName(directory[i]);
        const char *device = SzUPDTGetDeviceByName(name.c_str());
        if (device == nullptr) {
            syslog(LOG_ERR, "%s(%d): fail to get device path", __func__, __LINE__);
            return -1;
        }
        uint32_t size = 0;
        if (!deviceInfo(device, &size, nullptr)) {
            syslog(LOG_ERR, "%s(%d): fail to get device info of %s", __func__, __LINE__, device);
            return -1;
        }
        // An empty partition has nothing to copy; its device may still
        // reach the range a rolled-back run gave it (no window of no block
        // can be set).
        if (directory[i].size != 0 && size != directory[i].size) {
            syslog(LOG_ERR, "%s(%d): %s holds 0x%08X bytes but [%s] is recorded with 0x%08X", __func__,
                   __LINE__, device, size, name.c_str(), directory[i].size);
            return -1;
        }
        devices.push_back(device);
    }

    if (!makeBackupFolder(__func__))
        return -1;

    for (int i = 0; i < count; ++i) {
        const std::string name = entryName(directory[i]);
        const char *device = devices[static_cast<size_t>(i)];
        const std::string path = backupCopyPath(name);
        syslog(LOG_ERR, "%s(%d): copying %s to %s", __func__, __LINE__, device, path.c_str());
        // Made inside the held folder, never through a link or over a
        // file planted there, and read back at once: a copy that reads
        // differently would restore other bytes than the flash held.
        vexamtd::Fd copy(createCopy(name, __func__));
        vexamtd::Fd dev(device, O_RDONLY | O_CLOEXEC);
        if (!copy.ok() || !dev.ok()) {
            syslog(LOG_ERR, "%s(%d): cannot open %s, errno = %d", __func__, __LINE__, device, errno);
            return -1;
        }
        const uint64_t size = directory[i].size;
        if (size > 0 &&
            (copyBetween(dev.get(), device, copy.get(), path.c_str(), size, UPDT_COPY_CHUNK, false, __func__) != 0 ||
             ::fsync(copy.get()) != 0)) {
            syslog(LOG_ERR, "%s(%d): backup [%s] of %s failed", __func__, __LINE__, path.c_str(), device);
            return -1;
        }
        if (size > 0 &&
            compareWithDevice(copy.get(), path.c_str(), device, size, UPDT_VERIFY_CHUNK, false, __func__) != 0) {
            syslog(LOG_ERR, "%s(%d): backup [%s] differs from %s", __func__, __LINE__, path.c_str(), device);
            return -1;
        }
        UPDTSetProgress('P', 30 + 5 * i);
    }
    return 0;
} catch (...) {
    // Nothing escapes to the C caller: a failed allocation fails the call.
    return updtpatch::outOfMemory(__func__);
}

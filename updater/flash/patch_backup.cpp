// Copies every partition of the flash directory into the package's backup
// folder before anything is written, and reads each copy back.
#include "updt_patch.h"

#include <cstring>
#include <syslog.h>
#include <vector>

#include "patch_internal.h"
#include "updt_shell.h"
#include "updt_status.h"

extern "C" int UPDTBackupOldPartition(FISDIRENTRY *directory, int count)
{
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
        if (size != directory[i].size) {
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
        // Made inside the held folder, never through a link or over a
        // file planted there.
        const std::string cmd = "/bin/dd if=" + VRALStrShellQuoteString(device) +
                                " of=" + VRALStrShellQuoteString(copyName(name)) +
                                " bs=16384 conv=excl oflag=nofollow";
        if (runInBackupFolder(cmd, __func__, __LINE__) != 0)
            return -1;
        // A copy tool that stops early without saying so leaves a copy
        // that cannot restore the partition.
        long long have = -1;
        vexamtd::Fd copy(openCopy(name, have));
        const std::string path = backupCopyPath(name);
        if (!copy.ok() || have != static_cast<long long>(directory[i].size)) {
            syslog(LOG_ERR, "%s(%d): backup [%s] holds %lld bytes, 0x%08X expected", __func__, __LINE__,
                   path.c_str(), have, directory[i].size);
            return -1;
        }
        // Read back at once by a tool of its own: a copy that reads
        // differently would restore other bytes than the flash held.
        const std::string check =
            "/usr/bin/cmp " + VRALStrShellQuoteString(copyName(name)) + " " + VRALStrShellQuoteString(device);
        if (runInBackupFolder(check, __func__, __LINE__) != 0) {
            syslog(LOG_ERR, "%s(%d): backup [%s] differs from %s", __func__, __LINE__, path.c_str(), device);
            return -1;
        }
        UPDTSetProgress('P', 30 + 5 * i);
    }
    return 0;
}

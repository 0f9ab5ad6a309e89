// Copies every partition of the flash directory into the package's backup
// folder before anything is written.
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

    const std::string folder = VRALStrShellQuoteString(std::string(gszPatchDir) + "/" UPDT_BACKUP_DIR);
    if (runCommand("/bin/rm -rf " + folder + "; /bin/mkdir -p " + folder, __func__, __LINE__, false) != 0)
        return -1;

    for (int i = 0; i < count; ++i) {
        const std::string copy = backupCopyPath(entryName(directory[i]));
        const std::string cmd = "/bin/dd if=" + VRALStrShellQuoteString(devices[static_cast<size_t>(i)]) +
                                " of=" + VRALStrShellQuoteString(copy) + " bs=16384";
        if (runCommand(cmd, __func__, __LINE__, true) != 0)
            return -1;
        // A copy tool that stops early without saying so leaves a copy
        // that cannot restore the partition.
        long long have = regularFileSize(copy);
        if (have != static_cast<long long>(directory[i].size)) {
            syslog(LOG_ERR, "%s(%d): backup [%s] holds %lld bytes, 0x%08X expected", __func__, __LINE__,
                   copy.c_str(), have, directory[i].size);
            return -1;
        }
        UPDTSetProgress('P', 30 + 5 * i);
    }
    return 0;
}

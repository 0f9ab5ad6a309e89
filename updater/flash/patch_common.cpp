// Helpers shared by the backup, the write and the roll-back.
#include "patch_internal.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include "base/err/vral_err.h"
#include "updt_shell.h"
#include "updt_status.h"

namespace updtpatch {

bool gFlashTouched = false;
bool gHasImage[UPDT_TABLE_MAX];

std::string entryName(const FISDIRENTRY &e)
{
    return std::string(e.name, strnlen(e.name, sizeof(e.name)));
}

std::string copyName(const std::string &name)
{
    return UPDT_BACKUP_PREFIX + name;
}

std::string backupCopyPath(const std::string &name)
{
    return std::string(gszPatchDir) + "/" UPDT_BACKUP_DIR "/" + copyName(name);
}

std::string packagePath(const char *file)
{
    return std::string(gszPatchDir) + "/" + file;
}

int outOfMemory(const char *func) noexcept
{
    syslog(LOG_ERR, "%s(%d): out of memory", func, __LINE__);
    VRALErrSetCode(ERR_OUT_OF_MEMORY);
    return -1;
}

int entryIndex(const char *part, int i, FISDIRENTRY *directory, int count, const char *func, int line)
{
    int idx = GetIdxByName(part, directory, count);
    if (idx < 0)
        syslog(LOG_ERR, "%s(%d): get idx of partition %d [%s] fail", func, line, i, part);
    return idx;
}

int recordEntry(const std::string &name, uint32_t base, uint32_t size, uint32_t datalen, const char *func)
{
    MTDFISENTRY entry{};
    std::snprintf(entry.name, sizeof(entry.name), "%s", name.c_str());
    entry.flashBase = base;
    entry.size = size;
    entry.dataLength = datalen;
    if (VEXAMTDModifyFISEntry(gszDevMtdPartition, &entry) < 0) {
        syslog(LOG_ERR, "%s: VEXAMTDModifyFISEntry() fail", func);
        return -1;
    }
    return 0;
}

int runCommand(const std::string &cmd, const char *func, int line, bool commandStyle)
{
    if (commandStyle)
        syslog(LOG_ERR, "%s(%d): command=[%s]", func, line, cmd.c_str());
    else
        syslog(LOG_ERR, "szCmd=[%s]", cmd.c_str());
    if (cmd.size() > UPDT_CMD_MAX) {
        syslog(LOG_ERR, "%s(%d): command line of %zu bytes is too long", func, line, cmd.size());
        return -1;
    }
    return UPDTExecute(cmd.c_str()) == 0 ? 0 : -1;
}

void setWriteProgress()
{
    if (gProgressTotal == 0)
        return;
    uint64_t done = gProgressDone > gProgressTotal ? gProgressTotal : gProgressDone;
    UPDTSetProgress('P', static_cast<int>(60 + (40 * done) / gProgressTotal));
}

bool deviceInfo(const char *device, uint32_t *size, uint32_t *eraseSize)
{
    unsigned char info[MTD_INFO_USER_SIZE];
    if (VEXAMTDGetDeviceInfo(device, info, sizeof(info)) != 0)
        return false;
    if (size != nullptr)
        std::memcpy(size, info + MTD_INFO_SIZE_OFFSET, sizeof(*size));
    if (eraseSize != nullptr)
        std::memcpy(eraseSize, info + MTD_INFO_ERASESIZE_OFFSET, sizeof(*eraseSize));
    return true;
}

}  // namespace updtpatch

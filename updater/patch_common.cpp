// Helpers shared by the backup, the write and the roll-back.
#include "patch_internal.h"

#include <cstring>
#include <sys/stat.h>
#include <syslog.h>

#include "updt_shell.h"
#include "updt_status.h"

namespace updtpatch {

bool gFlashTouched = false;
bool gHasImage[UPDT_TABLE_MAX];

std::string entryName(const FISDIRENTRY &e)
{
    return std::string(e.name, strnlen(e.name, sizeof(e.name)));
}

std::string backupCopyPath(const std::string &name)
{
    return std::string(gszPatchDir) + "/" UPDT_BACKUP_DIR "/" UPDT_BACKUP_PREFIX + name;
}

std::string packagePath(const char *file)
{
    return std::string(gszPatchDir) + "/" + file;
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

long long regularFileSize(const std::string &path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    return static_cast<long long>(st.st_size);
}

}  // namespace updtpatch

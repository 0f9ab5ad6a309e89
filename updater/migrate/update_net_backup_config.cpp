// Every network backup set backs up the share of its own name, and each
// set folder's configuration backup moves into its @app folder.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "backup_migrate.h"
#include "base/err/vral_err.h"
#include "services/backup/vexa_backup.h"
#include "updt_shell.h"

#define NET_LOG(fmt, ...) syslog(LOG_ERR, "%s:%d " fmt, "updater", __LINE__ __VA_OPT__(, ) __VA_ARGS__)

namespace {

constexpr char kNetBackup[] = "/var/services/NetBackup";

struct DirClose {
    void operator()(DIR *d) const { closedir(d); }
};

void setSharesToOwnName()
{
    void **raw = nullptr;
    const int n = VEXABackupConfGetAll(&raw, BACKUP_TYPE_NETBKP);
    if (n < 0) {
        NET_LOG("VEXABackupConfGetAll() failed!! bkptype=[BACKUP_TYPE_NETBKP], vexaerr=[0x%04X]", VRALErrGet());
        return;
    }
    auto **sets = reinterpret_cast<VEXANETBKPCONF **>(raw);
    for (int i = 0; i < n; ++i) {
        VEXANETBKPCONF *set = sets[i];
        char *shares = strdup(set->szSetName);
        if (shares == nullptr) {
            NET_LOG("out of memory!! szOldBkpset=[%s]", set->szSetName);
            continue;
        }
        free(set->bkp_shares);
        set->bkp_shares = shares;
        if (VEXANetBkpConfSetOne(set->szSetName, set) < 0)
            NET_LOG("VEXANetBkpConfSetOne() failed!! szOldBkpset=[%s], vexaerr=[0x%04X]", set->szSetName, VRALErrGet());
    }
    VEXANetBkpConfFreeAll(sets, n);
}

// The @app folder of a set folder, made when missing (mode 0777 whatever
// the umask).  False when the move must not happen: the folder is a link
// (the move would write where it points) or cannot be made.
bool appFolderReady(const std::string &app)
{
    struct stat st { };
    if (lstat(app.c_str(), &st) == 0) {
        if (S_ISLNK(st.st_mode)) {
            NET_LOG("Not moving through a link!! szPath=[%s]", app.c_str());
            return false;
        }
        return true;
    }
    if (errno != ENOENT) {
        NET_LOG("Failed to stat [%s], errno=[%d/%m]", app.c_str(), errno);
        return false;
    }
    if (mkdir(app.c_str(), 0777) != 0) {
        NET_LOG("Failed to mkdir!! szPath=[%s], errno=[%d/%m]", app.c_str(), errno);
        return false;
    }
    const int fd = open(app.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 || fchmod(fd, 0777) != 0)
        NET_LOG("Failed to chmod!! szPath=[%s], errno=[%d/%m]", app.c_str(), errno);
    if (fd >= 0)
        close(fd);
    return true;
}

}  // namespace

void MoveNetBackupConfigBackup(void)
{
    std::unique_ptr<DIR, DirClose> dir(opendir(kNetBackup));
    if (!dir)
        return;
    while (const struct dirent *entry = readdir(dir.get())) {
        if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0)
            continue;
        const std::string folder = std::string(kNetBackup) + "/" + entry->d_name;
        // Backup clients name these folders: only real folders are entered.
        struct stat st { };
        if (lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
            continue;
        const std::string file = folder + "/configbackup.dss";
        if (lstat(file.c_str(), &st) != 0)
            continue;
        const std::string app = folder + "/@app";
        if (!appFolderReady(app))
            continue;
        const std::string cmd =
            "mv " + VRALStrShellQuoteString(file) + " " + VRALStrShellQuoteString(app + "/configbackup.dss");
        if (cmd.size() >= UPDT_CMD_MAX) {
            NET_LOG("command too long, not run!! szPath=[%s]", folder.c_str());
            continue;
        }
        // Its result is not looked at: a failed move leaves the file.
        const int rc = system(cmd.c_str());
        (void)rc;
    }
}

void UpdateNetBackupConfig(void)
{
    try {
        setSharesToOwnName();
    } catch (const std::bad_alloc &) {
        NET_LOG("out of memory!!");
    }
    try {
        MoveNetBackupConfigBackup();
    } catch (const std::bad_alloc &) {
        NET_LOG("out of memory!!");
    }
}

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
#include "base/io/io_fd.h"
#include "services/backup/vexa_backup.h"
#include "updt_log.h"

namespace {

constexpr char kNetBackup[] = "/var/services/NetBackup";
constexpr char kConfigBackup[] = "configbackup.dss";

struct DirClose {
    void operator()(DIR *d) const { closedir(d); }
};

void setSharesToOwnName()
{
    void **raw = nullptr;
    const int n = VEXABackupConfGetAll(&raw, BACKUP_TYPE_NETBKP);
    if (n < 0) {
        UPDT_LOG("VEXABackupConfGetAll() failed!! bkptype=[BACKUP_TYPE_NETBKP], vexaerr=[0x%04X]", VRALErrGet());
        return;
    }
    auto **sets = reinterpret_cast<VEXANETBKPCONF **>(raw);
    for (int i = 0; i < n; ++i) {
        VEXANETBKPCONF *set = sets[i];
        char *shares = strdup(set->szSetName);
        if (shares == nullptr) {
            UPDT_LOG("out of memory!! szOldBkpset=[%s]", set->szSetName);
            continue;
        }
        free(set->bkp_shares);
        set->bkp_shares = shares;
        if (VEXANetBkpConfSetOne(set->szSetName, set) < 0)
            UPDT_LOG("VEXANetBkpConfSetOne() failed!! szOldBkpset=[%s], vexaerr=[0x%04X]", set->szSetName,
                     VRALErrGet());
    }
    VEXANetBkpConfFreeAll(sets, n);
}

// The @app folder of a set folder, held without following a link and made
// when missing (mode 0777 whatever the umask).  -1 when the move must not
// happen: @app is a link or no folder, or cannot be made.
int holdAppFolder(int set, const std::string &app)
{
    struct stat st { };
    if (fstatat(set, "@app", &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT) {
            UPDT_LOG("Failed to stat [%s], errno=[%d/%m]", app.c_str(), errno);
            return -1;
        }
        if (mkdirat(set, "@app", 0777) != 0) {
            UPDT_LOG("Failed to mkdir!! szPath=[%s], errno=[%d/%m]", app.c_str(), errno);
            return -1;
        }
        const int fd = openat(set, "@app", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0 || fchmod(fd, 0777) != 0)
            UPDT_LOG("Failed to chmod!! szPath=[%s], errno=[%d/%m]", app.c_str(), errno);
        return fd;
    }
    if (!S_ISDIR(st.st_mode)) {
        UPDT_LOG("Not a folder, not moved into!! szPath=[%s]", app.c_str());
        return -1;
    }
    return openat(set, "@app", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// One set folder, held as the folder it is now: a link put in its place
// is never entered, and the file moves between the two held folders, its
// target replaced as a file, never entered or reached through a link.
void moveOne(int top, const char *name)
{
    const std::string folder = std::string(kNetBackup) + "/" + name;
    vralio::Fd set(openat(top, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!set.ok())
        return;
    struct stat st { };
    if (fstatat(set.get(), kConfigBackup, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return;
    const std::string app = folder + "/@app";
    vralio::Fd appFd(holdAppFolder(set.get(), app));
    if (!appFd.ok())
        return;
    if (fstatat(appFd.get(), kConfigBackup, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode)) {
        UPDT_LOG("A folder stands at the target, not moved!! szPath=[%s/%s]", app.c_str(), kConfigBackup);
        return;
    }
    if (renameat(set.get(), kConfigBackup, appFd.get(), kConfigBackup) != 0)
        UPDT_LOG("Failed to move [%s/%s], errno=[%d/%m]", folder.c_str(), kConfigBackup, errno);
}

}  // namespace

void MoveNetBackupConfigBackup(void)
{
    vralio::Fd top(open(kNetBackup, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!top.ok())
        return;
    const int listFd = dup(top.get());
    std::unique_ptr<DIR, DirClose> dir(listFd >= 0 ? fdopendir(listFd) : nullptr);
    if (!dir) {
        if (listFd >= 0)
            close(listFd);
        return;
    }
    while (const struct dirent *entry = readdir(dir.get())) {
        if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0)
            continue;
        moveOne(top.get(), entry->d_name);
    }
}

void UpdateNetBackupConfig(void)
{
    try {
        setSharesToOwnName();
    } catch (const std::bad_alloc &) {
        UPDT_LOG("out of memory!!");
    }
    try {
        MoveNetBackupConfigBackup();
    } catch (const std::bad_alloc &) {
        UPDT_LOG("out of memory!!");
    }
}

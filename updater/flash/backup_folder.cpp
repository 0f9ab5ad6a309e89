// The backup folder of the run.  The package folder belongs to a user who
// may rename or replace anything in it while the updater runs, so the
// folder is made by the updater, held open, and every copy is made and
// read through that descriptor, never through its path.
#include "patch_internal.h"

#include "base/err/err_guard.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

namespace updtpatch {

namespace {

int gFolder = -1;
// The folder this run made, told from one put in its place.
bool gMade = false;
dev_t gMadeDev = 0;
ino_t gMadeIno = 0;

// How many earlier folders may be kept aside before the run gives up.
constexpr int kKeptMax = 1000;

// A folder or file of the updater's own, readable by nobody else.
bool ownPrivate(const struct stat &st, mode_t type)
{
    return (st.st_mode & S_IFMT) == type && st.st_uid == geteuid() && (st.st_mode & 077) == 0;
}

// A b@ckup left by an earlier run may be the only copy of a flash that a
// failed roll-back could not restore: it is renamed, never removed.
bool keepEarlierFolder(int pkg, const char *func)
{
    struct stat st {};
    if (::fstatat(pkg, UPDT_BACKUP_DIR, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT)
            return true;
        syslog(LOG_ERR, "%s(%d): cannot examine %s/%s, errno = %d", func, __LINE__, gszPatchDir, UPDT_BACKUP_DIR,
               errno);
        return false;
    }
    for (int n = 1; n <= kKeptMax; ++n) {
        const std::string aside = std::string(UPDT_BACKUP_DIR ".") + std::to_string(n);
        if (::renameat2(pkg, UPDT_BACKUP_DIR, pkg, aside.c_str(), RENAME_NOREPLACE) == 0) {
            syslog(LOG_ERR, "%s(%d): %s/%s of an earlier run is kept as %s/%s", func, __LINE__, gszPatchDir,
                   UPDT_BACKUP_DIR, gszPatchDir, aside.c_str());
            return true;
        }
        if (errno != EEXIST)
            break;
    }
    syslog(LOG_ERR, "%s(%d): cannot move %s/%s of an earlier run aside, errno = %d", func, __LINE__, gszPatchDir,
           UPDT_BACKUP_DIR, errno);
    return false;
}

}  // namespace

bool makeBackupFolder(const char *func)
{
    closeBackupFolder();
    vexamtd::Fd pkg(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!pkg.ok()) {
        syslog(LOG_ERR, "%s(%d): cannot open the package folder, errno = %d", func, __LINE__, errno);
        return false;
    }
    if (!keepEarlierFolder(pkg.get(), func))
        return false;
    if (::mkdirat(pkg.get(), UPDT_BACKUP_DIR, 0700) != 0) {
        syslog(LOG_ERR, "%s(%d): cannot make %s/%s, errno = %d", func, __LINE__, gszPatchDir, UPDT_BACKUP_DIR,
               errno);
        return false;
    }
    int fd = ::openat(pkg.get(), UPDT_BACKUP_DIR, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st {};
    // Between the two calls the name may have been given to another
    // folder: only the one made here is used.
    if (fd < 0 || ::fstat(fd, &st) != 0 || !ownPrivate(st, S_IFDIR) || ::fchmod(fd, 0700) != 0) {
        syslog(LOG_ERR, "%s(%d): %s/%s is not the folder just made, errno = %d", func, __LINE__, gszPatchDir,
               UPDT_BACKUP_DIR, errno);
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    gFolder = fd;
    gMade = true;
    gMadeDev = st.st_dev;
    gMadeIno = st.st_ino;
    syslog(LOG_ERR, "%s(%d): the copies go to %s/%s", func, __LINE__, gszPatchDir, UPDT_BACKUP_DIR);
    return true;
}

void closeBackupFolder()
{
    if (gFolder >= 0)
        ::close(gFolder);
    gFolder = -1;
}

int createCopy(const std::string &name, const char *func)
{
    if (gFolder < 0) {
        syslog(LOG_ERR, "%s(%d): no backup folder", func, __LINE__);
        return -1;
    }
    // The copies hold the boot loader's configuration: root's alone,
    // whatever the umask.
    const std::string file = copyName(name);
    int fd = ::openat(gFolder, file.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0 && ::fchmod(fd, 0600) != 0) {
        ::close(fd);
        fd = -1;
    }
    if (fd < 0)
        syslog(LOG_ERR, "%s(%d): cannot create %s/%s/%s, errno = %d", func, __LINE__, gszPatchDir, UPDT_BACKUP_DIR,
               file.c_str(), errno);
    return fd;
}

int openCopy(const std::string &name, long long &size)
{
    size = -1;
    if (gFolder < 0)
        return -1;
    const std::string file = copyName(name);
    int fd = ::openat(gFolder, file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat st {};
    // Only a copy this run made: one name, the updater's, nobody else's.
    if (::fstat(fd, &st) != 0 || !ownPrivate(st, S_IFREG) || st.st_nlink != 1) {
        ::close(fd);
        return -1;
    }
    size = static_cast<long long>(st.st_size);
    return fd;
}

}  // namespace updtpatch

extern "C" int UPDTKeepEarlierBackup(void)
{
    vexamtd::Fd pkg(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!pkg.ok()) {
        syslog(LOG_ERR, "%s(%d): cannot open the package folder, errno = %d", __func__, __LINE__, errno);
        return -1;
    }
    return vral::NoThrow(-1, [&] { return updtpatch::keepEarlierFolder(pkg.get(), __func__) ? 0 : -1; });
}

extern "C" int UPDTBackupIsOwn(void)
{
    if (!updtpatch::gMade)
        return 0;
    struct stat st {};
    return ::fstatat(AT_FDCWD, UPDT_BACKUP_DIR, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode) &&
                   st.st_dev == updtpatch::gMadeDev && st.st_ino == updtpatch::gMadeIno
               ? 1
               : 0;
}

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/err/vral_err.h"
#include "base/lock/vral_lock.h"

namespace {

// LOCK_DIR without its closing "/", which would make lstat follow a link.
constexpr char kLockDirName[] = "/tmp/lock";
static_assert(sizeof LOCK_DIR == sizeof kLockDirName + 1);

// Creates a missing lock file empty. The folder is world-reachable, so a
// planted link or FIFO is refused rather than followed or waited on.
bool createLockFile(const char *path)
{
    const int fd = open(path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    struct stat st {};
    const bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    close(fd);
    return regular;
}

}  // namespace

extern "C" int VRALFileLockCheckDir(void)
{
    struct stat st {};
    // the folder itself, not what a link planted in its place points at
    if (lstat(kLockDirName, &st) != 0 || !S_ISDIR(st.st_mode)) {
        // the final mode must not depend on the umask
        if (mkdir(kLockDirName, 0700) == 0) {
            if (chmod(kLockDirName, 0755) != 0) {
                VRAL_ERR_SET(ERR_LOCK_DIR_FAILED);
                return -1;
            }
        } else if (errno != EEXIST || lstat(kLockDirName, &st) != 0 || !S_ISDIR(st.st_mode)) {
            // another process may just have made it: that is no failure
            VRAL_ERR_SET(ERR_LOCK_DIR_FAILED);
            return -1;
        }
    }
    for (VRALLockFile *e = gLockFileTable; e->bit != 0; ++e) {
        struct stat fst {};
        if (lstat(e->path, &fst) == 0 && S_ISREG(fst.st_mode))
            continue;
        if (!createLockFile(e->path)) {
            VRAL_ERR_SET(ERR_OPEN_FAILED);
            return -1;
        }
    }
    return 0;
}

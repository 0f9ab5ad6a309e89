// Secrets files are made readable for their group before a secret is in
// them, never after: the umask must not decide who can read one.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "services/mtd/vexa_mtd.h"  // vexamtd::Fd
#include "services/netbkp/vexa_netbkp.h"

namespace {

bool writeAll(int fd, const char *p, size_t n)
{
    while (n > 0) {
        const ssize_t w = write(fd, p, n);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0) {
            if (w == 0)
                errno = EIO;
            return false;
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

bool protect(int fd)
{
    // Owner before mode: a change of owner may clear mode bits.
    return fchown(fd, NETBKP_SECRETS_UID, NETBKP_SECRETS_GID) == 0 && fchmod(fd, NETBKP_SECRETS_MODE) == 0;
}

}  // namespace

extern "C" int VEXANetBkpSecretsFileCreate(const char *szPath, const char *pData, size_t cbData)
{
    if (szPath == nullptr || (pData == nullptr && cbData > 0)) {
        errno = EINVAL;
        return -1;
    }
    int fd = open(szPath, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return -1;
    bool ok = protect(fd) && writeAll(fd, pData, cbData) && fsync(fd) == 0;
    int e = errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        e = errno;
    }
    if (!ok) {
        unlink(szPath);
        errno = e;
        return -1;
    }
    return 0;
}

extern "C" int VEXANetBkpSecretsFileProtect(const char *szPath)
{
    if (szPath == nullptr) {
        errno = EINVAL;
        return -1;
    }
    vexamtd::Fd fd(open(szPath, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (!fd.ok() || fstat(fd.get(), &st) != 0)
        return -1;
    if (!S_ISREG(st.st_mode)) {
        errno = EINVAL;
        return -1;
    }
    return protect(fd.get()) ? 0 : -1;
}

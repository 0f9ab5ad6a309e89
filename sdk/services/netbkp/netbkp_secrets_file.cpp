// Secrets files are made readable for their group before a secret is in
// them, never after: the umask must not decide who can read one.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/io/io_fd.h"
#include "base/io/vral_io.h"
#include "services/netbkp/vexa_netbkp.h"

namespace {

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
    bool ok = protect(fd);
    if (ok && VRALIoWriteAll(fd, pData, cbData) != static_cast<ssize_t>(cbData)) {
        // A write that moved nothing leaves errno 0.
        if (errno == 0)
            errno = EIO;
        ok = false;
    }
    ok = ok && fsync(fd) == 0;
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
    vralio::Fd fd(open(szPath, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (!fd.ok() || fstat(fd.get(), &st) != 0)
        return -1;
    if (!S_ISREG(st.st_mode)) {
        errno = EINVAL;
        return -1;
    }
    return protect(fd.get()) ? 0 : -1;
}

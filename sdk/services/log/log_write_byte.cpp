#include <unistd.h>

#include "base/io/vral_io.h"
#include "services/log/log_internal.h"

int VEXALogWriteByte(int fd, const void *buf, int n)
{
    if (n < 0 || VRALIoWriteAll(fd, buf, static_cast<size_t>(n)) != n) {
        syslog(LOG_ERR, "VEXALogWriteByte(): write() error!, input count is [%d]", n);
        return -1;
    }
    return n;
}

int VEXALogReadByte(int fd, void *buf, int n)
{
    return n >= 0 && VRALIoReadAll(fd, buf, static_cast<size_t>(n)) == n ? n : -1;
}

namespace vexalog {

bool readAll(int fd, std::string *pBytes)
{
    const off_t size = lseek(fd, 0, SEEK_END);
    if (size < 0 || size > 0x7fffffff || lseek(fd, 0, SEEK_SET) != 0)
        return false;
    pBytes->assign(static_cast<size_t>(size), '\0');
    return VEXALogReadByte(fd, pBytes->data(), static_cast<int>(size)) == size;
}

}  // namespace vexalog

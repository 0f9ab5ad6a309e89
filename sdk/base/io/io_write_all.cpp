// Writes that go on until every byte is out; a write that moves nothing
// ends the loop as a failure instead of spinning on it.
#include <unistd.h>

#include "base/io/io_transfer.h"
#include "base/io/vral_io.h"

extern "C" ssize_t VRALIoWriteAll(int fd, const void *buf, size_t n)
{
    const char *p = static_cast<const char *>(buf);
    return vralio::TransferAll(n, [&](size_t done) { return ::write(fd, p + done, n - done); });
}

extern "C" ssize_t VRALIoPWriteAll(int fd, const void *buf, size_t n, off_t off)
{
    const char *p = static_cast<const char *>(buf);
    return vralio::TransferAll(n, [&](size_t done) {
        return ::pwrite(fd, p + done, n - done, off + static_cast<off_t>(done));
    });
}

// Reads that go on until the bytes asked for are in or the file ends.
#include <unistd.h>

#include "base/io/io_transfer.h"
#include "base/io/vral_io.h"

extern "C" ssize_t VRALIoReadAll(int fd, void *buf, size_t n)
{
    char *p = static_cast<char *>(buf);
    return vralio::TransferAll(n, [&](size_t done) { return ::read(fd, p + done, n - done); });
}

extern "C" ssize_t VRALIoPReadAll(int fd, void *buf, size_t n, off_t off)
{
    char *p = static_cast<char *>(buf);
    return vralio::TransferAll(n, [&](size_t done) {
        return ::pread(fd, p + done, n - done, off + static_cast<off_t>(done));
    });
}

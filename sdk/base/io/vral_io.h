/* Whole transfers on a descriptor: reads and writes that go on after
 * short transfers and EINTR until every byte has moved.  A failure leaves
 * errno as the failing call set it, so callers can log it; a transfer that
 * stops early without a failing call (end of file, a write of 0 bytes)
 * leaves errno 0 and is told apart by its count. */
#ifndef VRAL_IO_H
#define VRAL_IO_H

#include <stddef.h>
#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Reads up to n bytes into buf.  Returns the bytes read: n, or fewer when
 * the file ended first (errno 0); -1 when a read failed (errno kept). */
ssize_t VRALIoReadAll(int fd, void *buf, size_t n);

/* As VRALIoReadAll, from offset off on, without moving the file offset. */
ssize_t VRALIoPReadAll(int fd, void *buf, size_t n, off_t off);

/* Writes all n bytes of buf.  Returns n; fewer when a write moved no byte
 * (a failure too, errno 0); -1 when a write failed (errno kept). */
ssize_t VRALIoWriteAll(int fd, const void *buf, size_t n);

/* As VRALIoWriteAll, at offset off on, without moving the file offset. */
ssize_t VRALIoPWriteAll(int fd, const void *buf, size_t n, off_t off);

#ifdef __cplusplus
}
#endif

#endif

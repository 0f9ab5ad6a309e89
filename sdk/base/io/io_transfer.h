// The loop that the whole-transfer functions share: one call of step at a
// time until n bytes have moved, a call moved nothing, or one failed.
#ifndef VRAL_IO_TRANSFER_H
#define VRAL_IO_TRANSFER_H

#include <sys/types.h>

#include <cerrno>
#include <cstddef>

namespace vralio {

// step(done) transfers from byte done on and returns what the system call
// returned.
template <typename Step>
ssize_t TransferAll(size_t n, Step step)
{
    size_t done = 0;
    while (done < n) {
        errno = 0;
        ssize_t r = step(done);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (r == 0) {
            errno = 0;
            break;
        }
        done += static_cast<size_t>(r);
    }
    return static_cast<ssize_t>(done);
}

}  // namespace vralio

#endif

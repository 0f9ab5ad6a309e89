// Owner of a descriptor, closed on every path: the SDK's one, used by the
// flash, RAID and network services and by the updater's own device and
// status-file access.
#ifndef VRAL_IO_FD_H
#define VRAL_IO_FD_H

#include <fcntl.h>
#include <unistd.h>

namespace vralio {

// Opens path itself or takes over a descriptor already opened (negative:
// none).
class Fd {
public:
    Fd() : fd_(-1) {}
    Fd(const char *path, int flags) : fd_(::open(path, flags)) {}
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Fd(Fd &&other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    Fd &operator=(Fd &&) = delete;
    bool ok() const { return fd_ >= 0; }
    int get() const { return fd_; }

private:
    int fd_;
};

}  // namespace vralio

#endif

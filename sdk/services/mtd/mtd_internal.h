// Shared by the flash functions: a descriptor closed on every path.
#ifndef VEXA_MTD_INTERNAL_H
#define VEXA_MTD_INTERNAL_H

#include <fcntl.h>
#include <unistd.h>

namespace vexamtd {

class Fd {
public:
    Fd(const char *path, int flags) : fd_(::open(path, flags)) {}
    ~Fd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    bool ok() const { return fd_ >= 0; }
    int get() const { return fd_; }

private:
    int fd_;
};

}  // namespace vexamtd

#endif

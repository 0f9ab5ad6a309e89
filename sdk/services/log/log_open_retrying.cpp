#include <fcntl.h>
#include <unistd.h>

#include "services/log/log_internal.h"

namespace vexalog {

int openRetrying(const char *path, int flags)
{
    for (int attempt = 0;; ++attempt) {
        const int fd = open(path, flags | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0 || attempt == 10)
            return fd;
        sleep(1);
    }
}

}  // namespace vexalog

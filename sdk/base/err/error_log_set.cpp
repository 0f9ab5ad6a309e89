#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/err/vral_err.h"
#include "base/io/vral_io.h"

extern "C" int VRALErrorLogSet(const char *path, const char *line)
{
    if (path == nullptr || line == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    const int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        VRAL_ERR_SET(ERR_OPEN_FAILED);
        return -1;
    }
    struct stat st {};
    const bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    // Straight to the file: nothing of the line waits in a buffer that a
    // later close could still add behind a failure.
    const size_t len = strlen(line);
    bool failed = VRALIoWriteAll(fd, line, len) != static_cast<ssize_t>(len) ||
                  VRALIoWriteAll(fd, "\n", 1) != 1;
    // A line that never reached the file is a failure, not a success.
    if (!failed && fsync(fd) != 0 && errno != EINVAL && errno != EROFS)
        failed = true;
    // Part of a line would glue the next one onto it: the file is cut
    // back to what it held before.
    if (failed && regular && ftruncate(fd, st.st_size) != 0) {
        // nothing more to undo with
    }
    if (close(fd) != 0)
        failed = true;
    if (failed) {
        VRAL_ERR_SET(ERR_WRITE_FAILED);
        return -1;
    }
    return 0;
}

extern "C" void VRALErrorLogClear(const char *path)
{
    if (path == nullptr)
        return;
    FILE *fp = fopen(path, "w");
    if (fp == nullptr)
        return;
    fflush(fp);
    fsync(fileno(fp));
    fclose(fp);
}

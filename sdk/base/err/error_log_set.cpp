#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/err/vral_err.h"

extern "C" int VRALErrorLogSet(const char *path, const char *line)
{
    if (path == nullptr || line == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    FILE *fp = fopen(path, "a+");
    if (fp == nullptr) {
        VRAL_ERR_SET(ERR_OPEN_FAILED);
        return -1;
    }
    size_t len = strlen(line);
    if (fwrite(line, 1, len, fp) != len || fputc('\n', fp) == EOF) {
        VRAL_ERR_SET(ERR_WRITE_FAILED);
        fclose(fp);
        return -1;
    }
    // A line that never reached the file is a failure, not a success.
    bool failed = fflush(fp) != 0;
    if (!failed && fsync(fileno(fp)) != 0 && errno != EINVAL && errno != EROFS)
        failed = true;
    if (fclose(fp) != 0)
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

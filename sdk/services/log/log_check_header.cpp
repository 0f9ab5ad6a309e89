// The 16-byte header: "VEXA", an unused word, the oldest-record offset and
// the write offset.
#include <unistd.h>

#include <cstring>

#include "services/log/log_internal.h"

namespace {

// Every transfer starts with a seek from the file's start.
int WriteU32At(int fd, off_t at, uint32_t v)
{
    unsigned char b[4];
    vexalog::putU32(b, v);
    return lseek(fd, at, SEEK_SET) == at ? VEXALogWriteByte(fd, b, 4) : -1;
}

int ReadU32At(int fd, off_t at)
{
    unsigned char b[4];
    if (lseek(fd, at, SEEK_SET) != at || VEXALogReadByte(fd, b, 4) != 4)
        return -1;
    const uint32_t v = vexalog::getU32(b);
    // No log file reaches 2 GiB: such an offset is past its end anyway.
    return v > 0x7fffffff ? 0x7fffffff : static_cast<int>(v);
}

}  // namespace

int VEXALogCheckHeader(int fd)
{
    char magic[4];
    if (lseek(fd, 0, SEEK_SET) == 0 && VEXALogReadByte(fd, magic, 4) == 4 && memcmp(magic, "VEXA", 4) == 0)
        return 4;
    if (lseek(fd, 0, SEEK_SET) != 0 || VEXALogWriteByte(fd, "VEXA", 4) != 4) {
        syslog(LOG_ERR, "sdk/vexalog1: line 99");
        return -1;
    }
    if (WriteU32At(fd, 8, vexalog::kFirst) != 4) {
        syslog(LOG_ERR, "sdk/vexalog1: line 104");
        return -1;
    }
    if (WriteU32At(fd, 12, vexalog::kFirst) != 4) {
        syslog(LOG_ERR, "sdk/vexalog1: line 110");
        return -1;
    }
    return 12;
}

int VEXALogGetStartOffset(int fd)
{
    return ReadU32At(fd, 8);
}

int VEXALogGetEndOffset(int fd)
{
    return ReadU32At(fd, 12);
}

int VEXALogSetStartOffset(int fd, uint32_t offset)
{
    // Records are given up on disk before their bytes are overwritten.
    if (WriteU32At(fd, 8, offset) != 4 || fsync(fd) != 0) {
        syslog(LOG_ERR, "sdk/vexalog1: line 160");
        return -1;
    }
    return 4;
}

int VEXALogSetEndOffset(int fd, uint32_t offset)
{
    // A record's bytes reach the disk before the offset that publishes it.
    if (fsync(fd) != 0 || WriteU32At(fd, 12, offset) != 4) {
        syslog(LOG_ERR, "sdk/vexalog1: line 138");
        return -1;
    }
    return 4;
}

#include "services/mtd/vexa_mtd.h"

#include <cerrno>
#include <cstring>
#include <syslog.h>

#include "base/io/io_fail_text.h"
#include "base/io/vral_io.h"
#include "services/mtd/mtd_internal.h"

extern "C" int VEXAMTDGetPartitionInfo(const char *device, FISDIRENTRY *buffer, int cb, int *cbUsed)
{
    if (device == nullptr || cbUsed == nullptr || (buffer != nullptr && cb <= 0) ||
        (buffer == nullptr && cb > 0)) {
        syslog(LOG_ERR, "%s(%d): parameter error", __func__, __LINE__);
        return -1;
    }
    vexamtd::Fd fd(device, O_RDONLY);
    if (!fd.ok()) {
        syslog(LOG_ERR, "%s(%d): fail to open mtd device, errno = %d", __func__, __LINE__, errno);
        return -1;
    }
    int count = 0;
    for (;;) {
        FISDIRENTRY entry;
        std::memset(&entry, 0, sizeof(entry));
        ssize_t got = VRALIoReadAll(fd.get(), &entry, sizeof(entry));
        if (got != static_cast<ssize_t>(sizeof(entry))) {
            syslog(LOG_ERR, "%s(%d): failed to read from %s: %s", __func__, __LINE__, device,
                   vralio::TransferFailText(got, sizeof(entry), "read").c_str());
            return -1;
        }
        if (static_cast<unsigned char>(entry.name[0]) == FIS_END_MARK)
            break;
        if (buffer != nullptr) {
            if (static_cast<long long>(count + 1) * FIS_ENTRY_SIZE > cb) {
                syslog(LOG_ERR, "%s(%d): not enough memory", __func__, __LINE__);
                return -1;
            }
            std::memcpy(&buffer[count], &entry, sizeof(entry));
        }
        if (count == (1 << 22)) {
            // A directory of millions of entries is not a directory.
            syslog(LOG_ERR, "%s(%d): failed to read from %s(errno = %d)", __func__, __LINE__, device, EFBIG);
            return -1;
        }
        ++count;
    }
    *cbUsed = count * FIS_ENTRY_SIZE;
    return count;
}

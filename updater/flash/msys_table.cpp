// The MSys driver's partition table: reading it, the patch table filled
// from it by position, and the format that lays down new sizes.
#include "updt_msys.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "patch_internal.h"

namespace {

constexpr int kParts = VEXA_MSYS_PARTITIONS;
constexpr uint64_t kFlashBytes = uint64_t{VEXA_MSYS_UNIT_COUNT} * VEXA_MSYS_UNIT_SIZE;

// Reads the driver's table through the open "/dev/mtd0"; false, logged as
// func's, when the request fails.
bool readTable(int fd, MSYSPARTINFO &info, const char *func)
{
    std::memset(&info, 0, sizeof(info));
    if (::ioctl(fd, VEXA_MTD_MSYS_GET_INFO, &info) != 0) {
        syslog(LOG_ERR, "%s(%d): fail to get partition information, errno = %d", func, __LINE__, errno);
        return false;
    }
    return true;
}

}  // namespace

extern "C" int UPDTMSysGetPartitionInfo(FISDIRENTRY directory[VEXA_MSYS_PARTITIONS])
try {
    if (directory == nullptr) {
        syslog(LOG_ERR, "%s(%d): parameter error ", __func__, __LINE__);
        return -1;
    }
    // Partition k is named after patch-table entry k: a shorter table
    // would leave partitions without a name, and so without a copy.
    if (gPatchCount != kParts) {
        syslog(LOG_ERR, "%s(%d): MSys flash has %d partitions, this model's table %d", __func__, __LINE__, kParts,
               gPatchCount);
        return -1;
    }
    vexamtd::Fd fd(::open(VEXA_MSYS_DEVICE, O_RDWR | O_CLOEXEC));
    if (!fd.ok()) {
        syslog(LOG_ERR, "%s(%d): fail to open /dev/mtd0, errno = %d", __func__, __LINE__, errno);
        return -1;
    }
    MSYSPARTINFO info;
    if (!readTable(fd.get(), info, __func__))
        return -1;
    std::memset(directory, 0, sizeof(FISDIRENTRY) * kParts);
    uint64_t base = 0;
    for (int k = 0; k < kParts; ++k) {
        FISDIRENTRY &e = directory[k];
        std::snprintf(e.name, sizeof(e.name), "%s", gPatchInfo[k].part);
        e.flashBase = static_cast<uint32_t>(base);
        e.size = info.part[k].size;
        e.dataLength = info.part[k].dataLength;
        base += info.part[k].size;
    }
    if (base > kFlashBytes) {
        syslog(LOG_ERR, "%s(%d): the partitions hold 0x%llX bytes, more than the flash", __func__, __LINE__,
               static_cast<unsigned long long>(base));
        return -1;
    }
    return kParts;
} catch (...) {
    // Nothing escapes to the C caller: a failed allocation fails the call.
    return updtpatch::outOfMemory(__func__);
}

extern "C" int UPDTMSysInitPatchInfo(FISDIRENTRY *directory, int count)
try {
    if (directory == nullptr || count <= 0) {
        syslog(LOG_ERR, "%s(%d): parameter error ", __func__, __LINE__);
        return -1;
    }
    gEraseBlockSize = VEXA_MSYS_UNIT_SIZE;
    syslog(LOG_ERR, "Available flash units = %d blocks, eraseblock = %d bytes", VEXA_MSYS_UNIT_COUNT,
           VEXA_MSYS_UNIT_SIZE);
    if (UPDTCheckDirectory(directory, count) != 0)
        return -1;
    uint64_t total = 0;
    std::fill(std::begin(updtpatch::gHasImage), std::end(updtpatch::gHasImage), false);
    for (int i = 0; i < gPatchCount && i < UPDT_TABLE_MAX; ++i) {
        long long nblock = updtpatch::fillEntry(i, directory, count, __func__, "partition");
        if (nblock < 0)
            return -1;
        total += static_cast<uint64_t>(nblock);
    }
    if (total > VEXA_MSYS_UNIT_COUNT) {
        syslog(LOG_ERR, "%s(%d): the binary size exceeds flash size limit(total = %d blocks)", __func__, __LINE__,
               static_cast<int>(total));
        return -1;
    }
    return 0;
} catch (...) {
    // Nothing escapes to the C caller: a failed allocation fails the call.
    return updtpatch::outOfMemory(__func__);
}

extern "C" int UPDTMSysFormat(const uint32_t blocks[VEXA_MSYS_PARTITIONS], int count)
try {
    if (blocks == nullptr || count != kParts) {
        syslog(LOG_ERR, "%s(%d): parameter error", __func__, __LINE__);
        return -1;
    }
    vexamtd::Fd fd(::open(VEXA_MSYS_DEVICE, O_RDWR | O_CLOEXEC));
    if (!fd.ok()) {
        syslog(LOG_ERR, "%s(%d): failed to open /dev/mtd0, errno = %d", __func__, __LINE__, errno);
        return -1;
    }
    // The unit count itself is the argument, not its address.
    if (::ioctl(fd.get(), VEXA_MTD_MSYS_FORMAT, static_cast<unsigned long>(VEXA_MSYS_UNIT_COUNT)) != 0) {
        syslog(LOG_ERR, "%s(%d): failed to format, errno = %d", __func__, __LINE__, errno);
        return -1;
    }
    MSYSPARTBLOCKS counts;
    std::memcpy(counts.blocks, blocks, sizeof(counts.blocks));
    if (::ioctl(fd.get(), VEXA_MTD_MSYS_PARTITION, &counts) != 0) {
        syslog(LOG_ERR, "%s(%d): failed to partition, errno = %d", __func__, __LINE__, errno);
        return -1;
    }
    // Read back: a partition of another size would take the wrong bytes.
    MSYSPARTINFO info;
    if (!readTable(fd.get(), info, __func__))
        return -1;
    for (int k = 0; k < kParts; ++k) {
        if (uint64_t{info.part[k].size} != uint64_t{blocks[k]} * VEXA_MSYS_UNIT_SIZE) {
            syslog(LOG_ERR, "%s(%d): partition %d holds 0x%08X bytes, %u units asked", __func__, __LINE__, k,
                   info.part[k].size, blocks[k]);
            return -1;
        }
    }
    return 0;
} catch (...) {
    // Nothing escapes to the C caller: a failed allocation fails the call.
    return updtpatch::outOfMemory(__func__);
}

/* Flash (MTD) partition access: device information, erase, lock, the boot
 * loader's flash directory and the driver's resize and entry requests.
 * These functions log their failures (priority error) and return -1; they
 * record nothing in the error state. */
#ifndef VEXA_MTD_H
#define VEXA_MTD_H

#include <stdint.h>

#include "services/kernel/vexa_kernel.h"

#ifdef __cplusplus
extern "C" {
#endif

#define FIS_ENTRY_SIZE      256
#define FIS_NAME_LEN        16
#define FIS_END_MARK        0xFF   /* first byte of erased flash */
#define MTD_INFO_USER_SIZE  32     /* Linux mtd_info_user */
#define MTD_INFO_SIZE_OFFSET      8
#define MTD_INFO_ERASESIZE_OFFSET 12

/* One flash-directory entry as the boot loader stores it: 256 bytes,
 * little-endian, back to back from the start of the directory partition. */
typedef struct FISDIRENTRY {
    char name[FIS_NAME_LEN];        /*   0: NUL-terminated, NUL-padded */
    uint32_t flashBase;             /*  16: flash address of the partition */
    uint32_t memBase;               /*  20: load address */
    uint32_t size;                  /*  24: partition size in bytes */
    uint32_t entryPoint;            /*  28: execution entry point */
    uint32_t dataLength;            /*  32: bytes of data held */
    unsigned char reserved[212];    /*  36: unused here */
    uint32_t descChecksum;          /* 248: checksum over the descriptor */
    uint32_t fileChecksum;          /* 252: checksum over the image data */
} FISDIRENTRY;

/* 0 with the device's mtd_info_user (32 bytes) in buffer, the rest of the
 * cb bytes zeroed; -1 (cb below 32, open or request failed). */
int VEXAMTDGetDeviceInfo(const char *device, void *buffer, unsigned cb);

/* 0 when the whole partition was erased; -1. */
int VEXAMTDErasePartition(const char *device);

/* Lock (fLock 1) or unlock (any other value) the whole partition; 0 or -1. */
int VEXAMTDILock(const char *device, int fLock);
int VEXAMTDLockPartition(const char *device);
int VEXAMTDUnlockPartition(const char *device);

/* Reads the flash directory from device.  Returns the number of entries
 * before the first one starting with 0xFF and stores their bytes in
 * *cbUsed; a NULL buffer with cb 0 only counts.  -1 on a bad parameter, a
 * short read or a buffer too small. */
int VEXAMTDGetPartitionInfo(const char *device, FISDIRENTRY *buffer, int cb, int *cbUsed);

/* Asks the driver to give the partition behind device a new start and
 * size ('M' 22); 0 or -1. */
int VEXAMTDModifyPartitionSize(const char *device, uint32_t start, uint32_t size);

/* Asks the driver to rewrite the directory entry named in entry ('M' 23),
 * device being the directory partition's; 0 or -1. */
int VEXAMTDModifyFISEntry(const char *device, const MTDFISENTRY *entry);

/* 1 on MSys flash, else 0 (also when the kernel lacks the call). */
int VEXAMTDIsMSys(void);

#ifdef __cplusplus
}  /* extern "C" */

#include <cstddef>

#include "base/io/io_fd.h"

namespace vexamtd {
using Fd = vralio::Fd;
}  /* namespace vexamtd */

static_assert(sizeof(FISDIRENTRY) == 256, "FISDIRENTRY is 256 bytes");
static_assert(offsetof(FISDIRENTRY, flashBase) == 16);
static_assert(offsetof(FISDIRENTRY, memBase) == 20);
static_assert(offsetof(FISDIRENTRY, size) == 24);
static_assert(offsetof(FISDIRENTRY, entryPoint) == 28);
static_assert(offsetof(FISDIRENTRY, dataLength) == 32);
static_assert(offsetof(FISDIRENTRY, reserved) == 36);
static_assert(offsetof(FISDIRENTRY, descChecksum) == 248);
static_assert(offsetof(FISDIRENTRY, fileChecksum) == 252);
#else
_Static_assert(sizeof(FISDIRENTRY) == 256, "FISDIRENTRY is 256 bytes");
#endif

#endif

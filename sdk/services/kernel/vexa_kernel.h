/* Interfaces of the appliance's own kernel beyond standard Linux: two
 * system calls, the flash driver's extra requests, the md driver's
 * sync-state request and the hardware-version entry.  Every product
 * source names them from here, nowhere else. */
#ifndef VEXA_KERNEL_H
#define VEXA_KERNEL_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* System call: argument 1 reserves the flash driver's buffer, 0 releases
 * it.  0 on success, else -1 with errno (ENOSYS: the kernel lacks it). */
#define VEXA_SYS_MTD_BUFFER        405
#define VEXA_MTD_BUFFER_RESERVE    1
#define VEXA_MTD_BUFFER_RELEASE    0

/* System call: takes the address of an int; returns 0 and sets bit 0 of
 * the int on MSys flash (0x900191 in the old ARM numbering). */
#define VEXA_SYS_IS_MSYS           401
#define VEXA_SYS_IS_MSYS_OABI      0x900191
#define VEXA_IS_MSYS_BIT           0x1

/* 'M' 22 on a partition's device: give it a new place and size. */
#define VEXA_MTD_SET_PARTITION     0x40084d16u
/* 'M' 23 on the flash-directory partition's device: rewrite one entry. */
#define VEXA_MTD_SET_FIS_ENTRY     0x401c4d17u
/* 'M' 24 on "/dev/mtd0": format MSys flash; the argument is the unit
 * count itself, not a pointer. */
#define VEXA_MTD_MSYS_FORMAT       0x40044d18u
/* 'M' 25 on "/dev/mtd0": partition MSys flash (address of eight u32
 * unit counts). */
#define VEXA_MTD_MSYS_PARTITION    0x40044d19u
/* 'M' 26 on "/dev/mtd0": read the eight MSys partitions (64 bytes). */
#define VEXA_MTD_MSYS_GET_INFO     0x80044d1au

#define VEXA_MSYS_DEVICE           "/dev/mtd0"
#define VEXA_MSYS_UNIT_SIZE        16384u
#define VEXA_MSYS_UNIT_COUNT       967u
#define VEXA_MSYS_PARTITIONS       8

/* Argument of 'M' 22: two u32, start and size in bytes. */
typedef struct MTDPARTRANGE {
    uint32_t start;
    uint32_t size;
} MTDPARTRANGE;

/* Argument of 'M' 23, 28 bytes little-endian: the entry of that name gets
 * the new flash base, size and data length. */
typedef struct MTDFISENTRY {
    char name[16];          /* NUL-terminated within the 16 bytes */
    uint32_t flashBase;
    uint32_t size;
    uint32_t dataLength;
} MTDFISENTRY;

/* Argument of 'M' 25: erase units for partitions 0 to 7 in order. */
typedef struct MSYSPARTBLOCKS {
    uint32_t blocks[VEXA_MSYS_PARTITIONS];
} MSYSPARTBLOCKS;

/* Filled by 'M' 26, 64 bytes: per partition its size and data length. */
typedef struct MSYSPARTENTRY {
    uint32_t size;
    uint32_t dataLength;
} MSYSPARTENTRY;

typedef struct MSYSPARTINFO {
    MSYSPARTENTRY part[VEXA_MSYS_PARTITIONS];
} MSYSPARTINFO;

/* md sync state on "/dev/md<n>": three ints; the first is 0 when no
 * synchronisation runs. */
#define VEXA_MD_GET_SYNC_STATE     0x800c0960u

typedef struct MDSYNCSTATE {
    int state;
    int value1;
    int value2;
} MDSYNCSTATE;

/* Hardware-version line; ending "-b" before the newline marks bantam. */
#define VEXA_HW_VERSION_PATH       "/proc/sys/kernel/vexa_hw_version"

#ifdef __cplusplus
}  /* extern "C" */

static_assert(sizeof(MTDPARTRANGE) == 8, "MTDPARTRANGE is two u32");
static_assert(sizeof(MTDFISENTRY) == 28, "MTDFISENTRY is 28 bytes");
static_assert(sizeof(MSYSPARTBLOCKS) == 32, "MSYSPARTBLOCKS is 32 bytes");
static_assert(sizeof(MSYSPARTINFO) == 64, "MSYSPARTINFO is 64 bytes");
static_assert(sizeof(MDSYNCSTATE) == 12, "MDSYNCSTATE is 12 bytes");
#else
_Static_assert(sizeof(MTDFISENTRY) == 28, "MTDFISENTRY is 28 bytes");
_Static_assert(sizeof(MSYSPARTINFO) == 64, "MSYSPARTINFO is 64 bytes");
#endif

#endif

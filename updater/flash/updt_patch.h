/* The flash patch engine: partition tables, the patch table, the flash
 * write with its backup and roll-back, and the flash-directory repair. */
#ifndef UPDT_PATCH_H
#define UPDT_PATCH_H

#include <stdint.h>

#include "services/mtd/vexa_mtd.h"

#ifdef __cplusplus
extern "C" {
#endif

/* One pair of the partition-device table; a NULL name ends the table. */
typedef struct PARTDEV {
    const char *name;       /* partition name as in the flash directory */
    const char *device;     /* its MTD character device */
} PARTDEV;

/* One partition of the patch table; a NULL part ends the table. */
typedef struct PATCHINFO {
    const char *part;       /* partition name, as in the flash directory */
    const char *file;       /* its image file in the package folder */
    uint32_t start;         /* flash address; moved by the adjustment */
    uint32_t datalen;       /* image size, or the data length recorded now */
    uint32_t size;          /* partition size; changed by the adjustment */
    int balance;            /* spare erase blocks, negative when short */
    int nresize;            /* blocks gained (+) or given away (-) */
    int fneedupdate;        /* 1: the partition is to be written */
} PATCHINFO;

#define UPDT_TABLE_MAX       9        /* working tables incl. their end */
#define UPDT_NORMAL_COUNT    8
#define UPDT_BANTAM_COUNT    6
#define UPDT_BACKUP_DIR      "b@ckup"
#define UPDT_BACKUP_PREFIX   "mtd_"
#define UPDT_FIS_IMAGE_SIZE  1536
#define UPDT_ATTEMPTS        3
#define UPDT_COPY_CHUNK      16384
#define UPDT_VERIFY_CHUNK    8192

/* Built-in variants, copied into the working tables by the driver. */
extern const PATCHINFO gPatchInfoNormal[UPDT_NORMAL_COUNT];
extern const PARTDEV gPartDevNormal[UPDT_NORMAL_COUNT + 1];
extern const PATCHINFO gPatchInfoBantam[UPDT_BANTAM_COUNT];
extern const PARTDEV gPartDevBantam[UPDT_BANTAM_COUNT + 1];

/* Working state (defined with the patch table). */
extern PARTDEV gPartDevTable[UPDT_TABLE_MAX];
extern PATCHINFO gPatchInfo[UPDT_TABLE_MAX];
extern int gPatchCount;
extern char gszDevMtdPartition[16];
extern uint32_t gEraseBlockSize;
extern uint64_t gProgressTotal;
extern uint64_t gProgressDone;
extern const unsigned char gFisImageQ80ZPlus[UPDT_FIS_IMAGE_SIZE];

/* The driver's state that the flash stages read: the package folder (an
 * absolute path, the current folder) and option -g.  The driver sets them;
 * they are defined in patch_state.cpp so that the flash stages link and
 * test on their own (the driver must not define them again). */
extern char gszPatchDir[256];
extern int gGroupUpdate;

/* Copies the built-in variant (bantam non-zero: six partitions) into the
 * working tables and sets gPatchCount and gszDevMtdPartition. */
void UPDTSelectPartitionTables(int bantam);

/* Device of the first pair named part (ignoring case); NULL. */
const char *SzUPDTGetDeviceByName(const char *part);
/* Index of the first of count entries named name (ignoring case); -1. */
int GetIdxByName(const char *name, FISDIRENTRY *directory, int count);
/* Fills gPatchInfo from the directory and the package folder; 0 or -1. */
int UPDTInitPatchInfo(FISDIRENTRY *directory, int count);
/* 1 when any of the first count entries has a negative balance, else 0. */
int UPDTNeedResize(PATCHINFO *table, int count);
/* 1 for "vexacfg", "vendor", "RedBoot Config", "FIS Directory". */
int IsFixedPartition(const char *part);
/* Moves erase blocks to the short partitions and shifts those behind;
 * 0, or -1 when no donor is left or a fixed partition is short. */
int ErrUPDTAdjustPartitionSize(PATCHINFO *table, int count);
/* Checks a moved layout against the directory it came from: every
 * partition block-aligned, inside the directory's flash span, no two
 * overlapping, each large enough for its data.  0 or -1. */
int UPDTCheckLayout(const PATCHINFO *table, int count, const FISDIRENTRY *directory, int entries);
/* Checks the directory as read: every partition block-aligned, inside the
 * flash up to the end of the directory partition, no two overlapping, no
 * name listed twice.  0 or -1. */
int UPDTCheckDirectory(const FISDIRENTRY *directory, int entries);

/* Copies every directory entry's partition into a new "b@ckup" (root's,
 * 0700, held open for the write and the roll-back; one of an earlier run is
 * renamed "b@ckup.<n>", never removed) and reads each copy back against
 * its device; 0 or -1. */
int UPDTBackupOldPartition(FISDIRENTRY *directory, int count);
/* Renames a "b@ckup" of an earlier run in the package folder (the current
 * folder) to the first free "b@ckup.<n>" and logs where; every road of a
 * run does so first.  0 (also when there is none) or -1: it stays. */
int UPDTKeepEarlierBackup(void);
/* 1 when "b@ckup" in the package folder is the folder this run made, the
 * only one the run may remove; else 0. */
int UPDTBackupIsOwn(void);
/* Writes, verifies and records every marked partition; 0 or -1. */
int UPDTDoPatch(FISDIRENTRY *directory, int count);
/* Copies exactly length bytes of source onto device; 0 or -1 (also when
 * the source ends early). */
int UPDTCopyFile(const char *source, const char *device, uint64_t length, int chunk);
/* 0 when the first length bytes of device equal those of source; -1. */
int UPDTVerifyFile(const char *source, const char *device, uint64_t length, int chunk);
/* Restores every marked partition and its entry from "b@ckup" (the
 * directory as read before the write).  Goes on after a failed partition
 * and returns -1 when any failed; 0 at once when the write never reached
 * the flash.  After -1 "b@ckup" must be kept: it holds the only copies. */
int UPDTRollBack(FISDIRENTRY *directory, int count);
/* 1 once UPDTDoPatch has issued its first flash operation, else 0. */
int UPDTFlashTouched(void);

/* Rewrites the directory partition from the built-in image; 0 or -1. */
int RecoverFISDirTable_Q80ZPlus_V284(void);

/* Lock (1) or unlock (other) every partition but the directory and the
 * boot loader's configuration; 0 or -1 at the first failure. */
int UPDTLockAll(int mode);
int UPDTLockAllPartitions(void);
int UPDTUnlockAllPartitions(void);

#ifdef __cplusplus
}
#endif

#endif

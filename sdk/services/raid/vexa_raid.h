/* RAID arrays, disk partitions and the model line. */
#ifndef VEXA_RAID_H
#define VEXA_RAID_H

#include <stdint.h>
#include <linux/major.h> /* MD_MAJOR, for the md requests */
#include <linux/raid/md_u.h>

#include "base/lock/vral_lock.h" /* VEXAIsSupportRaid */

#ifdef __cplusplus
extern "C" {
#endif

/* md levels as this SDK numbers them */
#define VEXA_RAID_LEVEL_OTHER  0
#define VEXA_RAID_LEVEL_RAID0  1
#define VEXA_RAID_LEVEL_RAID1  2
#define VEXA_RAID_LEVEL_RAID5  3
#define VEXA_RAID_LEVEL_RAID6  4
#define VEXA_RAID_LEVEL_LINEAR 5

/* array status */
#define VEXA_RAID_STATUS_NORMAL   1
#define VEXA_RAID_STATUS_DEGRADED 2
#define VEXA_RAID_STATUS_CRASHED  3

/* member state */
#define VEXA_RAID_DISK_IN_SYNC     0
#define VEXA_RAID_DISK_FAULTY      1
#define VEXA_RAID_DISK_ERROR       2
#define VEXA_RAID_DISK_SPARE       3
#define VEXA_RAID_DISK_SPARE_NONE  4

/* sync[0] */
#define VEXA_RAID_SYNC_NONE    0
#define VEXA_RAID_SYNC_RUNNING 1
#define VEXA_RAID_SYNC_OTHER   2

typedef struct _tag_VEXARAIDDISK {
    char szDevice[128];              /* "/dev/" + member name */
    int state;                       /* VEXA_RAID_DISK_* */
    struct _tag_VEXARAIDDISK *next;
} VEXARAIDDISK;

typedef struct _tag_VEXARAIDINFO {
    int mdNumber;                    /* n of /dev/md<n> */
    int firstDisk;                   /* -1 when not set */
    char szPath[128];
    int level;                       /* VEXA_RAID_LEVEL_* */
    int status;                      /* VEXA_RAID_STATUS_* */
    int sync[3];
    uint64_t deviceSize;             /* bytes, block-device size request */
    uint64_t arraySize;              /* bytes, from the md array information */
    int raidDisks;
    VEXARAIDDISK *pMembers;          /* NULL when the array has none */
} VEXARAIDINFO;

/* Linux md's 72-byte array-information record */
typedef mdu_array_info_t VEXAMDARRAYINFO;

int VEXARaidInfoGet(const char *szPath, VEXARAIDINFO **ppInfo);
void VEXARaidInfoFree(VEXARAIDINFO *pInfo);

int VEXARaidIoctlInfo(int fd, VEXAMDARRAYINFO *pArrayInfo);
int VEXARaidIoctlSize(int fd, uint64_t *pSize);
int VEXARaidRebuildStatusGet(int fd, int sync[3]);
int VEXARaidDecideStatus(const VEXAMDARRAYINFO *pArrayInfo, const VEXARAIDDISK *pMembers, int *pStatus);

int VEXARaidDiskListGet(const char *szPath, VEXARAIDDISK **ppList);
void VEXARaidDiskListFree(VEXARAIDDISK *pList);
void VEXARaidDiskListPush(VEXARAIDDISK **ppList, VEXARAIDDISK *pDisk);
int VEXARaidDiskCreate(const char *szDir, VEXARAIDDISK **ppDisk);
int VEXARaidReadSysfsLine(const char *szPath, char *szBuf, int cbBuf);

/* Size in sectors of partition partno of device, with its start sector and
 * type id; -1 when sfdisk gives no usable line. */
long long RCPartitionConfigs(int partno, const char *szDevice, unsigned long *pStart, unsigned long *pId);

/* 1 on a bantam model, else 0. */
int VEXAIsBantamModel(void);

#ifdef __cplusplus
}
#endif

#endif

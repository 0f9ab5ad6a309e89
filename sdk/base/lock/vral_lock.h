/* Appliance-wide lock files under /tmp/lock/ and the guarded writes of
 * /etc/vexainfo.conf. */
#ifndef VRAL_LOCK_H
#define VRAL_LOCK_H

#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

#define LOCK_DIR "/tmp/lock/"

#define LOCK_ID_PW        0x10
#define LOCK_ID_GR        0x20
#define LOCK_ID_SMB       0x40
#define LOCK_ID_RC        0x80
#define LOCK_ID_HOST      0x100
#define LOCK_ID_EXPORTS   0x200
#define LOCK_ID_NW        0x400
#define LOCK_ID_VEXAINFO  0x800
#define LOCK_ID_APPLE     0x1000
#define LOCK_ID_SNMP      0x2000
#define LOCK_ID_WIN       0x4000
#define LOCK_ID_TAPEBKP   0x8000
#define LOCK_ID_CONNECT   0x10000
#define LOCK_ID_USBIDMAP  0x20000
#define LOCK_ID_DUSERUID  0x40000
#define LOCK_ID_DUSERGID  0x80000
#define LOCK_ID_FSTAB     0x100000
#define LOCK_ID_HOTSWAP   0x200000

/* low four bits of a lock id: the flock operation */
#define LOCK_ID_OP_MASK   0xf

#define LOCK_FILE_COUNT   18

typedef struct _tag_VRALLockFile {
    FILE *fp;            /* open while this process holds the lock */
    const char *path;
    int bit;             /* 0 ends the table */
    int refcount;
    int mode;            /* flock operation it was taken with */
} VRALLockFile;

/* 18 entries and an end entry, walked in lock order */
extern VRALLockFile gLockFileTable[LOCK_FILE_COUNT + 1];

int VRALFileLock(int id, int seconds);
int VRALFileUnlock(int id);
int VRALFileLockCheckDir(void);
int VRALFileLockCloseAll(void);

int VEXAINFOSetKeyValue(const char *szKey, const char *szValue);

/* 1 when "supportraid" is "yes" in the factory defaults; read once. */
int VEXAIsSupportRaid(void);

#ifdef __cplusplus
}
#endif

#endif

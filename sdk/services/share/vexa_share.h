/* The share database: a cache of the file-sharing configuration
 * /usr/vexa/etc/smb.conf in one btree file under /tmp; one share's record
 * and its stored form; reads, listings by kind and the dump that rewrites
 * smb.conf from the cache. */
#ifndef VEXA_SHARE_H
#define VEXA_SHARE_H

#include <stdio.h>

#include "base/hash/vral_hash.h"
#include "base/list/vral_list.h"
#include "services/bdb/vexa_bdb.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct _tag_VEXASHARE {
    char *szName;
    char *szComment;
    char *szPath;
    char *szInvalidUsers;
    char *szWriteList;
    char *szReadList;
    int fType;          /* SHARE_TYPE_*: exactly one of them as parsed */
    int fBrowseable;
    int fFtpWriteOnly;
    int cbAlloc;        /* size of the block */
    int cbRecord;       /* size as VEXAShareAlloc built it */
} VEXASHARE;

typedef struct _tag_VEXASHAREDB {
    VEXABDB *pShareDB;
} VEXASHAREDB;

/* Callbacks of a filtered walk: begin and end both or neither; filter
 * required, 0 accepts the share. */
typedef struct _tag_VEXAShareEnumOps {
    int (*begin)(struct _tag_VEXAShareEnumOps *pOps, void *pArg);
    int (*filter)(struct _tag_VEXAShareEnumOps *pOps, const VEXASHARE *pShare, int flags);
    int (*end)(struct _tag_VEXAShareEnumOps *pOps);
} VEXAShareEnumOps;

#define SHARE_TYPE_GUEST_READ  1   /* guest ok, read only */
#define SHARE_TYPE_GUEST_WRITE 2   /* guest ok, writeable */
#define SHARE_TYPE_DENIED      4   /* neither */

/* Kinds of share names, as flag bits of a listing. */
#define SHARE_KIND_NORMAL 1
#define SHARE_KIND_USB    2
#define SHARE_KIND_SATA   4

#define SHARE_DB_PREFIX      "/tmp/.db.vexashare"
#define SHARE_DB_TMP_PREFIX  "/tmp/.db.vexashare.tmp"
#define SHARE_DB_SUFFIX      ".0832"
#define SHARE_CONF           "/usr/vexa/etc/smb.conf"
#define SHARE_CONF_TMP       "/usr/vexa/etc/smb.conf.tmp"
#define SHARE_KEY_SIZE       492
#define SHARE_SECTION_SIZE   495
/* The stored record's header: eleven 4-byte words. */
#define SHARE_STORED_HEADER  44

/* ---- Records ------------------------------------------------------------ */
VEXASHARE *VEXAShareAlloc(const VEXASHARE *pTemplate);
void VEXAShareFree(void *p);
/* The stored form (its size through *pcb), or NULL. */
void *VEXAShareDBPack(const VEXASHARE *pShare, int *pcb);
/* Unpacks cb stored bytes into *ppShare (grown or allocated); 0 or -1
 * (ERR_BAD_FORMAT when the words do not describe a record of cb bytes). */
int VEXAShareDBUnPack(const void *pStored, int cb, VEXASHARE **ppShare);

/* ---- Names -------------------------------------------------------------- */
int VEXAShareNameIsValid(const char *szName);
int VEXAShareIsUsbName(const char *szName);
int VEXAShareIsSataName(const char *szName);
/* 1 reserved section (global, home, printers), 0 share, -1. */
int VEXAShareSectionTypeGet(const char *szSection);
int VEXAShareParseSectionName(const char *szLine, char *szBuf, int cbBuf);

/* ---- smb.conf parse ----------------------------------------------------- */
/* 2, 1 or 4 from the "guest ok" and "writeable" values; -1 when unknown. */
int ShareFTypeGetFromConf(const char *szGuestOk, const char *szWriteable);
/* The record of one share section's key/value pairs, or NULL. */
VEXASHARE *ShareAllocFromConf(const char *szSection, VRALSzHash *pPairs);

/* ---- The cache ---------------------------------------------------------- */
/* 1 built, 0 opened, -1. */
int VEXAShareDBOpenFile(VEXASHAREDB **ppDb, const char *prefix);
VEXASHAREDB *VEXAShareDBOpen(void);
void VEXAShareDBClose(VEXASHAREDB *pDb);
/* 1 rebuilt or reopened, 0 current, -1. */
int VEXAShareDBCheckAndRebuild(VEXASHAREDB **ppDb);
int VEXAShareDBRebuild(void);
int VEXAShareDBBuild(FILE *fp, VEXASHAREDB *pDb);

int VEXAShareDBSet(VEXASHAREDB *pDb, const char *szOldName, const VEXASHARE *pShare);
int VEXAShareDBDelete(VEXASHAREDB *pDb, const char *szName);
/* 1 exists, 0 does not or failed. */
int VEXAShareDBCheckExists(VEXASHAREDB *pDb, const char *NAME, int lenNAME, char *szBuf, int cbBuf);

/* ---- Reads, listings and the dump --------------------------------------- */
int VEXAShareDBCursorGet(VEXASHAREDB *pDb, VEXASHARE **ppShare);
int VEXAShareDBGet(VEXASHAREDB *pDb, const char *szName, VEXASHARE **ppShare);
int VEXAShareGet(const char *szName, VEXASHARE **ppShare);
int VEXAShareDBEnumInternal(VEXASHAREDB *pDb, VRALSzList **ppList, VEXAShareEnumOps *pOps, void *pArg, int flags);
int VEXAShareDBEnumTypeMatched(const VEXASHARE *pShare, int flags);
int VEXAShareEnumFilter(VEXAShareEnumOps *pOps, const VEXASHARE *pShare, int flags);
int VEXAShareEnum(VRALSzList **ppList, int flags);
int ShareFTypeSetToConf(int fType, char *szGuestOk, char *szWriteable, int cbGuestOk, int cbWriteable);
/* 1 done, 0 for an empty list, -1. */
int RemoveSameUsers(char *szUserList);
int VEXAShareDBDump(VEXASHAREDB *pDb);

#ifdef __cplusplus
}
#endif

#endif

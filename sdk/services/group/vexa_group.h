/* The group database: a cache of /etc/group, /etc/group_desc and the
 * domain groups in three btree files under /tmp; one group's record; the
 * writes, the dump that rewrites the group files from the cache, and the
 * public reads and changes of one group. */
#ifndef VEXA_GROUP_H
#define VEXA_GROUP_H

#include <grp.h>
#include <stdio.h>

#include "base/hash/vral_hash.h"
#include "services/bdb/vexa_bdb.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct _tag_VEXAGROUP {
    char *szName;
    int gid;            /* -1: a domain group; in a write, asks for a new id */
    char **ppszMember;  /* NULL-terminated */
    int type;           /* 1 local, 2 domain */
    int cbAlloc;
} VEXAGROUP;

typedef struct _tag_VEXAGROUPDB {
    VEXABDB *pGRPName;
    VEXABDB *pGRPGID;
    VEXABDB *pGRPDesc;
} VEXAGROUPDB;

#define GROUP_DB_PREFIX      "/tmp/.db.group"
#define GROUP_DB_TMP_PREFIX  "/tmp/.db.group.tmp"
#define GROUP_KEY_CURRENT_GID "#CURRENT_GID"
#define GROUP_KEY_CURRENT_GID_LEN 12
#define GROUP_GID_HEADER     "_@GID__INDEX@_"
#define GROUP_FIRST_GID      0x10000
#define GROUP_LAST_GID       0x2ffff

#define GROUP_FILE           "/etc/group"
#define GROUP_FILE_DESC      "/etc/group_desc"
#define GROUP_FILE_DOMAIN    "/usr/vexa/etc/private/domain_group"
#define GROUP_FILE_TMP       "/etc/group_tmp"
#define GROUP_FILE_DESC_TMP  "/etc/group_desc.tmp"

/* ---- Record and lookups -------------------------------------------------- */
int VEXAGroupDBCheckExists(VEXAGROUPDB *pDb, const char *NAME, int len, char *buf, int cb);
/* 0 with the next group, -1 at the end (ERR_END_OF_RECORDS) or on error. */
int VEXAGroupDBGetByCursor(VEXAGROUPDB *pDb, VEXAGROUP **ppGroup, int typeMask, int fAll);
int VEXAGroupDBUnpack(const char *line, VEXAGROUP **ppGroup);
VEXAGROUP *VEXAGroupAlloc(const char *line);
int VEXAGroupAlloc2(VEXAGROUP **ppGroup, const char *name, int gid, char **ppszMember);
void VEXAGroupFree(VEXAGROUP *pGroup);
int VEXAGroupNameIsValid(const char *name);

/* ---- The cache set ------------------------------------------------------- */
VEXAGROUPDB *VEXAGroupDBOpen(void);
/* 1 built, 0 opened, -1. */
int VEXAGroupDBOpenFile(VEXAGROUPDB **ppDb, const char *prefix);
void VEXAGroupDBClose(VEXAGROUPDB *pDb);
/* 1 rebuilt or reopened, 0 current, -1. */
int VEXAGroupDBCheckAndRebuild(VEXAGROUPDB **ppDb);
int VEXAGroupDBRebuild(void);
int VEXAGroupDBBuild(VEXAGROUPDB *pDb);
int GroupDBDomainBuild(VEXABDB *pNameDb);
int GroupDbConfSyncTimeSet(VEXAGROUPDB *pDb, FILE *fpGroup, FILE *fpDesc);

/* ---- Writes and the dump -------------------------------------------------- */
int VEXAGroupDBSet(VEXAGROUPDB *pDb, const char *OLDNAME, int oldLen, VEXAGROUP *pGroup);
int VEXAGroupDBDelete(VEXAGROUPDB *pDb, const char *NAME, int len);
int VEXAGroupGetFreeGid(VEXAGROUPDB *pDb);
int VEXAGroupToUnixGroup(const VEXAGROUP *pGroup, struct group *pGr);
/* The group line's length with its NUL, or -1. */
int VEXAGroupDBPackFromUnix(struct group *pGr, char **ppBuf, int *pcb);
int VEXAGroupDBDump(VEXAGROUPDB *pDb);
/* Copies every record of one database into the hash: 0 or -1. */
int GroupDBLoadHash(VEXABDB *pDb, VRALSzHash **ppHash);
int GROUPIRenameTempFiles(void);
int GROUPIRemoveTempFiles(void);

/* ---- Public operations ---------------------------------------------------- */
int VEXAGroupGet(const char *name, VEXAGROUP **ppGroup);
/* 0 or -1; a rename is carried into every share's user lists. */
int VEXAGroupSet(const char *oldName, VEXAGROUP *pGroup);
/* 1 replaced, 0 not present, -1; *ppOut must be NULL on entry. */
int ReplaceGrpInString(const char *list, char **ppOut, const char *oldGroup, const char *newGroup);

#ifdef __cplusplus
}
#endif

#endif

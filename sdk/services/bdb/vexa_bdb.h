/* Berkeley-DB btree files of the account caches under /tmp: open, read,
 * write, delete and cursor walks over byte strings of explicit length, the
 * "#" marker keys, and the stored form of a string list. */
#ifndef VEXA_BDB_H
#define VEXA_BDB_H

#include <db_185.h>

#include "base/list/vral_list.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct _tag_VEXABDB {
    DB *pDB;
    int cursorType; /* BDB_CURSOR_*; BDB_CURSOR_NEXT after open */
} VEXABDB;

#define BDB_CURSOR_SET   1
#define BDB_CURSOR_FIRST 2
#define BDB_CURSOR_LAST  3
#define BDB_CURSOR_NEXT  4
#define BDB_CURSOR_PREV  5

#define BDB_KEY_SYNC_TIME   "#VEXA@SYNC@TIME"
#define BDB_KEY_SYNC_TIME_LEN 15
#define BDB_KEY_DEPRECATED  "#VEXA@DEPRECATED"
#define BDB_KEY_DEPRECATED_LEN 17
#define BDB_KEY_EXPIRE_TIME "#VEXA@EXPIRE@TIME"
#define BDB_KEY_EXPIRE_TIME_LEN 17

/* Opens (oflags O_RDWR, O_RDWR|O_CREAT or O_RDONLY) a btree file; fDup 1
 * allows duplicate keys.  As root only a regular file owned by root is
 * taken, and its mode becomes 0644.  NULL on failure. */
VEXABDB *VEXABDbOpen(const char *path, int oflags, int fDup);
/* Closes and frees; 0, or -1 for NULL. */
int VEXABDbClose(VEXABDB *h);
/* Copies the key's value into the growable buffer; -1 (ERR_NOT_FOUND when
 * absent). */
int VEXABDbGet(VEXABDB *h, const void *key, int klen, char **ppBuf, int *pcb);
/* Stores a record; a "#" key keeps one record. */
int VEXABDbSet(VEXABDB *h, const void *key, int klen, const void *data, int dlen);
/* Removes every record of the key; -1 (ERR_NOT_FOUND when absent). */
int VEXABDbDelete(VEXABDB *h, const void *key, int klen);
/* Removes the one record (key, data) of a file with duplicate keys, the
 * others of the key staying; -1 (ERR_NOT_FOUND when there is none). */
int VEXABDbDeleteDup(VEXABDB *h, const void *key, int klen, const void *data, int dlen);
int VEXABDbCursorSetType(VEXABDB *h, int type);
/* One cursor step; -1 (ERR_END_OF_RECORDS at the end). */
int VEXABDbCursorGet(VEXABDB *h, int fSkipMeta, char **ppKey, int *pcbKey, char **ppData, int *pcbData);
int VEXABDbDBTSet(DBT *pDbt, void *data, int size);
int VEXABDbDBTCopyOut(const DBT *pDbt, char **ppBuf, int *pcb);
void VEXABDbDataFree(void *p);

int VEXABDbConfSyncTimeSet(VEXABDB *h, int t);
/* *ppBuf must be NULL; receives a heap block with the 4-byte value. */
int VEXABDbConfSyncTimeGet(VEXABDB *h, char **ppBuf);
/* 1 when the stored sync time differs from mtime or is missing, 0 when
 * equal, -1 when the file cannot be read. */
int VEXABDbIsNeedToRebuild(VEXABDB *h, int mtime);
int VEXABDbDeprecatedSet(VEXABDB *h, int flag);
/* The stored flag, or -1. */
int VEXABDbDeprecatedGet(VEXABDB *h);
int VEXABDbDomainExpireTimeSet(VEXABDB *h);
int VEXABDbDomainExpireTimeGet(VEXABDB *h, char **ppBuf);
/* 1 when the domain users were loaded more than 300 seconds ago, or never;
 * else 0. */
int VEXABDbDomainIsNeedToRebuild(VEXABDB *h);

/* Stored form of a string list: pointers as offsets from the block. */
void *VEXAListDBPack(const VRALSzList *pList, int cb);
/* NULL also when the stored words do not describe a list inside cb bytes. */
VRALSzList *VEXAListDBUnpack(const void *pPacked, int cb);
int VEXAListDBSet(VEXABDB *h, const char *szSection, const VRALSzList *pList);

#ifdef __cplusplus
}
#endif

#endif

/* String hash: string keys to string values in one heap block.
 *
 * The block is a 20-byte header, nSlot slots of two 4-byte words and a
 * string area of cbString bytes.  Every string word holds a 4-byte offset
 * from the block's start (0 stands for "none": offset 0 is the header), so a
 * block is position-independent and is copied or stored as it is.  Keys are
 * placed by open addressing with linear probing; a removed key leaves a
 * tombstone (no key, value kept).  Reach strings through the getters or
 * VRALSzHashSlotKey() / VRALSzHashSlotValue(). */
#ifndef VRAL_HASH_H
#define VRAL_HASH_H

#include <stdint.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

#define VRAL_SZHASH_HEADER        20   /* five 4-byte words */
#define VRAL_SZHASH_SLOT_SIZE     8    /* two 4-byte words */
#define VRAL_SZHASH_DEFAULT_SLOTS 31
#define VRAL_SZHASH_MIN_STRING    512

struct _tag_VRALSzList;

typedef struct _tag_VRALSzHashSlot {
    int32_t pszKey;     /* offset of the key, 0 when none */
    int32_t pszValue;   /* offset of the value, 0 when none */
} VRALSzHashSlot;

typedef struct _tag_VRALSzHash {
    int32_t cbString;   /* size of the string area in bytes */
    int32_t cbFree;     /* bytes of the string area not yet used */
    int32_t nSlot;      /* number of slots */
    int32_t nItem;      /* number of live keys */
    int32_t pszNext;    /* offset of the next free string byte */
    VRALSzHashSlot slots[];
} VRALSzHash;

/* Unchecked access for loops over 0 .. nSlot - 1: the slot's key or value,
 * NULL when the slot holds none.  A slot is live when it has a key. */
static inline char *VRALSzHashSlotKey(const VRALSzHash *pMap, int slot)
{
    int32_t off = pMap->slots[slot].pszKey;
    return off != 0 ? (char *)pMap + off : (char *)0;
}

static inline char *VRALSzHashSlotValue(const VRALSzHash *pMap, int slot)
{
    int32_t off = pMap->slots[slot].pszValue;
    return off != 0 ? (char *)pMap + off : (char *)0;
}

/* Size in bytes of the whole block. */
static inline int64_t VRALSzHashBlockSize(const VRALSzHash *pMap)
{
    return (int64_t)VRAL_SZHASH_HEADER + (int64_t)VRAL_SZHASH_SLOT_SIZE * pMap->nSlot + pMap->cbString;
}

/* A map of 31 slots and max(cbSize, 512) string bytes, or NULL. */
VRALSzHash *VRALSzHashAlloc(int cbSize);
/* A zeroed map of nSlot slots (1 or more) and cbString string bytes, or
 * NULL (ERR_BAD_PARAMETERS for sizes out of range, ERR_OUT_OF_MEMORY). */
VRALSzHash *VRALSzHashAllocator(int nSlot, int cbString);
void VRALSzHashFree(VRALSzHash *pMap);
/* The map, emptied (NULL for NULL). */
VRALSzHash *VRALSzHashClear(VRALSzHash *pMap);

/* The key's value (inside the block), or NULL. */
char *SzVRALSzHashGetValue(VRALSzHash *pMap, const char *szKey);
/* Sets key to value; the map may move (stored through ppMap).  Returns the
 * key's slot, or -1 with the map unchanged. */
int VRALSzHashSetValue(VRALSzHash **ppMap, const char *szKey, const char *szValue);
/* Removes the key; returns its value (still inside the block), or NULL. */
char *SzVRALSzHashRemove(VRALSzHash *pMap, const char *szKey);

/* Number of live keys, pushing each (in slot order) onto *ppList when
 * ppList is given; -1 on failure. */
int VRALSzHashKeyList(VRALSzHash *pMap, struct _tag_VRALSzList **ppList);

/* Writes "[section]\n" (when section is given) and format(key, value) for
 * every live key in slot order; format NULL means "%s=%s\n".  0 or -1. */
int VRALSzHashWriteFile(FILE *fp, const char *szSection, VRALSzHash *pMap, const char *szFormat);
/* 1 when format has "%s", then "=", then "%s", then a newline (or is NULL),
 * else 0. */
int VRALSzHashFormatCheck(const char *szFormat);

/* Building blocks of the operations above. */
int VRALSzHashIndex(const char *szKey, int nSlot);
int VRALSzHashFind(VRALSzHash *pMap, const char *szKey);
int VRALSzHashFindSlot(VRALSzHash *pMap, const char *szKey);
VRALSzHash *VRALSzHashGrow(VRALSzHash *pMap, int cbNeed);
VRALSzHash *VRALSzHashResize(VRALSzHash *pMap, int nSlot, int cbString);
void VRALSzHashRehash(VRALSzHash *pFrom, VRALSzHash *pTo);
VRALSzHash *VRALSzHashInsert(VRALSzHash *pMap, const char *szKey, const char *szValue, int *pSlot);
VRALSzHash *VRALSzHashReplaceValue(VRALSzHash *pMap, const char *szKey, const char *szValue, int *pSlot);
void VRALSzHashPutStrings(VRALSzHash *pMap, const char *szKey, const char *szValue, int slot);

/* 1 when cb bytes at pMap form a sound map block (header, slot offsets and
 * strings all inside it), else 0: for blocks read back from storage. */
int VRALSzHashIsValid(const VRALSzHash *pMap, int64_t cb);

#ifdef __cplusplus
}
#endif

#endif

/* String list: header, item table and strings in one growable heap block.
 *
 * The block is position-independent: the header's string-area words and
 * every item hold 4-byte offsets from the block's start, so a block is
 * stored or copied as it is.  Items grow up from the header, strings down
 * from the block's end; the block's last byte is always 0 and serves as the
 * shared empty item for padding.  Reach strings through SzVRALSzListGet()
 * (checked) or VRALSzListItem() (unchecked). */
#ifndef VRAL_LIST_H
#define VRAL_LIST_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define VRAL_SZLIST_MIN_SIZE   512
#define VRAL_SZLIST_HEADER     24   /* six 4-byte words */
#define VRAL_SZLIST_ITEM_SIZE  4

/* sortMode values */
#define VRAL_SZLIST_UNSORTED   0
#define VRAL_SZLIST_SORT_BYTE  1    /* strcmp order */
#define VRAL_SZLIST_SORT_CASE  16   /* VRALUnicodeUTF8StrCaseCmp order; strings
                                       that are not valid UTF-8 after all
                                       others, in strcmp order */

typedef struct _tag_VRALSzList {
    int32_t cbAlloc;    /* size of the whole block in bytes */
    int32_t nItem;      /* number of items */
    int32_t cbFree;     /* bytes free between the item table and the strings */
    int32_t sortMode;   /* 0, 1 or 16; set right after allocating */
    int32_t pszTop;     /* offset of the lowest string byte (cbAlloc when none) */
    int32_t pszEmpty;   /* offset of the block's last byte, always 0 */
    int32_t pszItem[];  /* offset of each item's string */
} VRALSzList;

/* Unchecked access for loops over 0 .. nItem - 1. */
static inline char *VRALSzListItem(const VRALSzList *pList, int i)
{
    return (char *)pList + pList->pszItem[i];
}

VRALSzList *PslVRALSzListAlloc(int cbSize);
void VRALSzListFree(VRALSzList *pList);
VRALSzList *VRALSzListClear(VRALSzList *pList);

char *SzVRALSzListGet(VRALSzList *pList, int idx);

/* Insertion: the index at which the string now stands, or -1.  The list may
 * move; the new block is stored through ppList. */
int VRALSzListInsert(VRALSzList **ppList, int idx, const char *szStr);
int VRALSzListPush(VRALSzList **ppList, const char *szStr);
int VRALSzListUnshift(VRALSzList **ppList, const char *szStr);

int VRALSzListSet(VRALSzList **ppList, int idx, const char *szStr);

/* Removal: the removed string (still inside the block), or NULL. */
char *SzVRALSzListRemove(VRALSzList *pList, int idx);
char *SzVRALSzListShift(VRALSzList *pList);
char *SzVRALSzListPop(VRALSzList *pList);

int VRALSzListFind(VRALSzList *pList, const char *szStr);
int VRALSzListCaseFind(VRALSzList *pList, const char *szStr);

/* Index of an equal item within lo .. hi, or -(insertion point) - 1. */
int VRALSzListBinarySearch(VRALSzList *pList, int hi, int lo, const char *szStr, int fCase);

/* A new block of twice the size holding the same items (the old one is
 * freed), or NULL with the old list untouched. */
VRALSzList *VRALSzListExpand(VRALSzList *pList);

/* 1 when cb bytes at pList form a sound list block (header words, item
 * offsets and strings all inside it), else 0: for blocks read back from
 * storage before they are used. */
int VRALSzListIsValid(const VRALSzList *pList, int cb);

/* qsort comparators over arrays of string pointers (const char **), in
 * byte order and in the case order of VRAL_SZLIST_SORT_CASE. */
int VRALSzListCmp(const void *pA, const void *pB);
int VRALSzListCaseCmp(const void *pA, const void *pB);

#ifdef __cplusplus
}
#endif

#endif

/* User lists of groups and shared folders: comma-separated user names and
 * "@group" items, cleaned against the user and group databases, and names
 * renamed or dropped inside one list. */
#ifndef VEXA_USER_LIST_H
#define VEXA_USER_LIST_H

#include "base/hash/vral_hash.h"
#include "services/user/vexa_user.h"

#ifdef __cplusplus
extern "C" {
#endif

struct _tag_VEXAGROUPDB;

/* Keeps the items naming an existing user, or with a group database an
 * existing group ("@name"), in their stored spelling, once each, joined
 * with "," into the growable *pBuf (capacity *pcb).  "nobody", empty items
 * and names without a key form are dropped; an "@" item without a group
 * database fails (ERR_BAD_FORMAT).  0 or -1. */
int VEXAUserGetValidUserListCore(const char **rgszItem, char **pBuf, int *pcb, struct _tag_VEXAGROUPDB *pGroupDb,
                                 VEXAUSERDB *pUserDb);
/* The same with the user database opened here and no group database. */
int VEXAUserGetValidUserList(const char **rgszItem, char **pBuf, int *pcb);
/* The same on a comma-separated list. */
int VEXAUserGetValidUserList2(const char *szList, char **pBuf, int *pcb, struct _tag_VEXAGROUPDB *pGroupDb,
                              VEXAUSERDB *pUserDb);
/* Applies a rename map (key form of an old name -> new name, "" drops it)
 * to the items of szList: 0 unchanged (*pOut = szList, *pcbOut its length
 * plus 1), 1 changed (the new list in the growable *pOut), -1. */
int VEXAUserModifyListConfig(const char *szList, char **pOut, int *pcbOut, VRALSzHash *pRenameMap);

#ifdef __cplusplus
}
#endif

#endif

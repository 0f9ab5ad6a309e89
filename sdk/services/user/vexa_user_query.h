/* Reads of the user accounts: one user or its file-sharing hashes, the
 * local users an administrator may see, counts, the next free uid, the
 * domain users the shares name and the members of a group. */
#ifndef VEXA_USER_QUERY_H
#define VEXA_USER_QUERY_H

#include "base/hash/vral_hash.h"
#include "base/list/vral_list.h"
#include "services/user/vexa_user.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct _tag_VEXALOCALUSERINFO {
    int uid;
    int gid;
    char *szName;
    struct _tag_VEXALOCALUSERINFO *pNext;
} VEXALOCALUSERINFO;

/* Kinds of users in an enumeration mask. */
#define USER_KIND_LOCAL        1
#define USER_KIND_DOMAIN       2
#define USER_KIND_SHARE_DOMAIN 4

#define USER_UID_FIRST 1024
#define USER_UID_LAST  3072
#define USER_UID_GUEST 1025

int VEXAUserGet(const char *szName, VEXAUSER **ppUser);
/* The LM and NT hashes as stored; both sizes must be 33.  0 or -1. */
int VEXAUserGetSmbPasswd(const char *szName, char *szLm, int cbLm, char *szNt, int cbNt);

/* The local users that are not hidden, in key order: their number, *ppHead
 * the first node (NULL when none); -1 with *ppHead NULL.  Each node and its
 * name are one heap block: VEXALocalUserInfoFree frees both, and a name is
 * never freed or kept apart from its node. */
int VEXALocalUserInfoEnum(VEXALOCALUSERINFO **ppHead);
void VEXALocalUserInfoFree(VEXALOCALUSERINFO **ppHead);

/* Pushes the names of the kinds in mask onto *ppList: how many, or -1. */
int VEXAUserEnum(VRALSzList **ppList, int mask);
int VEXAUserTotalNum(int mask);
/* "maxaccounts" less the local and domain users (0 without the key). */
int VEXAUserAvailableNum(void);
/* A free uid from USER_UID_FIRST to USER_UID_LAST after "#CURRENT_UID";
 * -1 (ERR_NO_FREE_UID when every one is taken). */
int VEXAUserGetFreeUid(VEXAUSERDB *pDb);

/* Pushes every domain user the shares' write lists name, once: how many,
 * or -1. */
int VEXAUserPushDUserUsed(VRALSzList **ppList);
/* 1 pushed, 0 skipped (local, or seen before), -1. */
int UserPushDUser(const char *szName, VRALSzList **ppList, VRALSzHash **ppSeen);

/* Pushes the group's members that are users now, in stored spelling;
 * "users" (any case) lists every local user.  0 or -1. */
int VEXAGroupListMember(const char *szGroup, VRALSzList **ppList);

#ifdef __cplusplus
}
#endif

#endif

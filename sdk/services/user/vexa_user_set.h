/* Changes of the user accounts: batches of new, updated and renamed users
 * carried into the groups, the shares and the services that know users by
 * name; stored password hashes; a rename map applied to the groups and the
 * shares; the member list of the group smmsp. */
#ifndef VEXA_USER_SET_H
#define VEXA_USER_SET_H

#include "base/hash/vral_hash.h"
#include "services/user/vexa_user.h"

#ifdef __cplusplus
extern "C" {
#endif

#define USER_HOME_ROOT "/var/services/homes/"
#define USER_DEFAULT_GID 100
#define AFPD_CONF "/usr/vexa/etc/afpd.conf"
#define AFPD_CONF_TMP "/usr/vexa/etc/afpd.conf.tmp"
#define SMMSP_GROUP "smmsp"
#define SMMSP_GID 25

/* Operations of VEXASmmspGroupSet. */
#define SMMSP_OP_ADD    1
#define SMMSP_OP_RENAME 2
#define SMMSP_OP_REMOVE 3

/* Writes each user (old name NULL: a new one) and completes its record in
 * place (uid, gid); 0 when one was written and the account files and the
 * FTP chroot list followed, else -1. */
int VEXAUserSetMulti(const char **oldNames, VEXAUSER **users, int n);
int VEXAUserSet(const char *oldName, VEXAUSER *user);

/* Replaces the stored hashes of users (by szName only).  Texts holding ":",
 * CR or LF are refused (ERR_BAD_PARAMETERS) before anything is written.  0
 * when one was written and dumped, else -1. */
int VEXAUserSetPasswd(VEXAUSER **users, const char **hashes, const char **lmHashes, const char **ntHashes, int n);

/* Apply a rename map (key form of an old name -> new name, "" drops it)
 * to the group members and the shares' user lists; the caller holds
 * LOCK_ID_GR respectively LOCK_ID_SMB exclusively.  0 or -1. */
int VEXAUserModifyGroup(VRALSzHash *pRenameMap);
int VEXAUserModifySmbConf(VRALSzHash *pRenameMap);

/* op SMMSP_OP_ADD adds newUser, SMMSP_OP_RENAME renames user to newUser,
 * SMMSP_OP_REMOVE removes user; the line keeps gid 25.  0 or -1. */
int VEXASmmspGroupSet(const char *user, const char *newUser, int op);

#ifdef __cplusplus
}
#endif

#endif

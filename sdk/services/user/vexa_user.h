/* The user database: a cache of /etc/passwd, /etc/vexauser.conf,
 * /etc/shadow, the smbpasswd file and the domain users in five btree files
 * under /tmp; one user's record; the writes and the dump that rewrites the
 * account files from the cache. */
#ifndef VEXA_USER_H
#define VEXA_USER_H

#include <pwd.h>
#include <shadow.h>

#include "services/bdb/vexa_bdb.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct _tag_VEXAUSER {
    char *szName;
    char *szPasswd;
    int uid;
    int gid;
    char *szGecos;
    char *szHome;
    char *szShell;
    int expire;
    char *szMail;
    int type;      /* 1 local, 2 domain */
    int privilege;
    int cbAlloc;
} VEXAUSER;

typedef struct _tag_VEXAUSERDB {
    VEXABDB *pPWDName;
    VEXABDB *pPWDUID;
    VEXABDB *pPWDSMB;
    VEXABDB *pPWDVexaser;
    VEXABDB *pPWDShadow;
} VEXAUSERDB;

#define USER_DB_PREFIX      "/tmp/.db.user"
#define USER_DB_TMP_PREFIX  "/tmp/.db.user.tmp"
#define USER_KEY_SIZE       492
#define USER_KEY_CURRENT_UID "#CURRENT_UID"
#define USER_KEY_CURRENT_UID_LEN 12

#define USER_FILE_PASSWD    "/etc/passwd"
#define USER_FILE_SHADOW    "/etc/shadow"
#define USER_FILE_VEXAUSER  "/etc/vexauser.conf"
#define USER_FILE_SMBPASSWD "/usr/vexa/etc/private/smbpasswd"
#define USER_FILE_DOMAIN    "/usr/vexa/etc/private/domain_user"

int VEXAUserAlloc(VEXAUSER **ppUser, const char *name, const char *passwd, int uid, int gid, const char *gecos,
                  const char *home, const char *shell, int expire, const char *mail, int privilege);
void VEXAUserFree(VEXAUSER *pUser);

/* 1 built, 0 opened, -1. */
int VEXAUserDBOpenFile(VEXAUSERDB **ppDb, const char *prefix);
/* The set at USER_DB_PREFIX, checked when nothing was built; NULL when it
 * cannot be opened (for a process other than root also when stale). */
VEXAUSERDB *VEXAUserDBOpen(void);
void VEXAUserDBClose(VEXAUSERDB *pDb);
/* 1 rebuilt or reopened, 0 current, -1. */
int VEXAUserDBCheckAndRebuild(VEXAUSERDB **ppDb);
int VEXAUserDBRebuild(void);
int VEXAUserDBBuild(VEXAUSERDB *pDb);
int UserDBGetLineBuild(VEXABDB *h, const char *path, const char *delims);
int UserDBDomainBuild(VEXABDB *h);
int UserDbConfSyncTimeSet(VEXAUSERDB *pDb);

int VEXAUserDBGet(VEXAUSERDB *pDb, const char *NAME, VEXAUSER **ppUser);
/* 1 exists, 0 otherwise. */
int VEXAUserDBCheckExists(VEXAUSERDB *pDb, const char *NAME, int lenNAME, char *buf, unsigned cb);
int VEXAUserDBUnpackPasswd(const char *line, struct passwd **ppBuf, int *pcb);
int VEXAUserDBUnpackShadow(const char *line, struct spwd **ppBuf, int *pcb);
int VEXAUserGetByUid(int uid, VEXAUSER **ppUser);

/* ---- Writes and the dump ------------------------------------------------ */
int VEXAUserNameIsValid(const char *name);
int VEXAUserIsPasswdMD5Encrypt(const char *s);
const char *SzSDKIWrapMD5Encrypt(const char *password, const char *salt);
char UserDBSaltChar(int x);
/* The passwd line with its NUL: its length, or -1. */
int VEXAUserDBPack(const VEXAUSER *pUser, char **ppBuf, int *pcb);
int VEXAUserDBSet(VEXAUSERDB *pDb, const char *OLDNAME, int lenOLDNAME, VEXAUSER *pUser);
int VEXAUserDBDelete(VEXAUSERDB *pDb, const char *NAME);
int VEXAUserDBDump(VEXAUSERDB *pDb);
int USERIRenameTmpFiles(void);
int USERIRemoveTmpFiles(void);

#ifdef __cplusplus
}
#endif

#endif

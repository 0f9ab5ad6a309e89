/* Network-backup accounts: the account list of "/etc/rsyncd.conf", the
 * secrets of "/etc/rsyncd.secrets", the stored password form and the
 * reserved account names.  Only "root", "admin" and "rsync" have accounts;
 * "admin" is kept under "root" in both files. */
#ifndef VEXA_NETBKP_H
#define VEXA_NETBKP_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#define SZF_RSYNCD_CONF        "/etc/rsyncd.conf"
#define SZF_RSYNCD_SECRETS     "/etc/rsyncd.secrets"
#define SZF_RSYNCD_SCRIPT      "/usr/vexa/etc/rc.d/S84rsyncd.sh"

/* Mode and owner of every secrets file, set before it holds a secret. */
#define NETBKP_SECRETS_MODE    0640
#define NETBKP_SECRETS_UID     0
#define NETBKP_SECRETS_GID     25

/* Operations of VEXANetBackupSetServerPasswd. */
#define NETBKP_OP_ADD          1
#define NETBKP_OP_RENAME       2
#define NETBKP_OP_DELETE       3

/* crypt() of the password with the fixed salt, into szOut (cbOut bytes,
 * cleared first, cut to cbOut - 1 characters; 0 writes nothing).  0, or -1
 * for bad arguments or a failed crypt(). */
int VEXANetBkpCryptPass(const char *szPassword, char *szOut, int cbOut);

/* The secret of an account (the rest of its secrets line after "name:");
 * "admin" reads the line of "root".  0 or -1. */
int VEXANetBackupGetServerPasswd(const char *szName, char *szOut, int cbOut);

/* 1 for "root", "admin" and "rsync" in any letter case, else 0 (NULL too). */
int VEXANetBackupIsReservedUser(const char *szName);

/* op 1 adds szNewName with szSecret, op 2 renames szOldName to szNewName
 * with szSecret, op 3 deletes szOldName.  The rsync service is stopped
 * around the edit.  0 or -1 (the service then stays stopped). */
int VEXANetBackupSetServerPasswd(const char *szOldName, const char *szNewName, const char *szSecret, int op);

/* Deletes the first secrets line of the name; 0 also when there is none,
 * -1 for a NULL name, a missing file or a failed rewrite. */
int NetBackupDelSecret(const char *szName);

/* Creates szPath, which must not exist (a link there is never followed),
 * with mode 0640 and owner 0:25 before anything is written, then writes
 * the cbData bytes of pData, syncs and closes it.  Every step is checked;
 * on a failure the file is removed again.  0, or -1 with errno set. */
int VEXANetBkpSecretsFileCreate(const char *szPath, const char *pData, size_t cbData);

/* Owner 0:25 and mode 0640 on the regular file szPath (not through a
 * link).  0 or -1. */
int VEXANetBkpSecretsFileProtect(const char *szPath);

#ifdef __cplusplus
}
#endif

#endif

/* Configuration steps after the flash write that bring the old firmware's
 * accounts into the new firmware's shape: copies of local accounts that use
 * the FTP service's reserved names, the home folders in /etc/passwd, the
 * user file /etc/vexauser.conf and the mail server's accounts.  Each returns
 * 0, or -1 when it failed (logged). */
#ifndef UPDT_ACCOUNTS_H
#define UPDT_ACCOUNTS_H

/* Copies a local user of this name (uid above 1024) with its password
 * hashes to the first free "<name><n>".  0 nothing to do or copied; -1. */
int CopyReservedNameUser(const char *szName);

/* The group and users ftp and anonymous: local ones are copied to free
 * numbered names, missing system entries are added. */
int AddFtpAccounts(void);

/* Homes of the local users under /var/services/homes; domain users are
 * dropped from /etc/passwd.  The file changes only when all went well. */
int RewritePasswdHomes(void);

/* /etc/vexauser.conf anew from the local users, its header kept. */
int RewriteUserConf(void);

/* The mail server's groups and users, each when missing. */
int AddMailAccounts(void);

#endif

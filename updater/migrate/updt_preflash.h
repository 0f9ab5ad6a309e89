/* Configuration steps run before the flash write, while the old firmware's
 * services still use these files: the FTP passive port range, the rsync
 * daemon's configuration and secrets, the smmsp mail group and the
 * code-page keys. */
#ifndef UPDT_PREFLASH_H
#define UPDT_PREFLASH_H

/* Caps the FTP passive port range at 128 ports.  0, or -1 when a key could
 * not be read or written (the update must not go on). */
int UpdateFTPPassivePortRange(void);

/* "use chroot = no" in "/etc/rsyncd.conf"; the modes of both rsync files. */
void UpdateRsyncdConf(void);

/* Rewrites "/etc/rsyncd.secrets" so that every secret is base64 text. */
void CheckAndUpdateRsyncdSecrets(void);

/* Gives the group "admin" a place among the members of smmsp. */
void CheckAndUpdateSmmspGroup(void);

/* Numeric code pages become language codes; codepage_apple goes. */
void UpdateCodepageConfig(void);
void UpdateCodepageKey(const char *szKey);

#endif

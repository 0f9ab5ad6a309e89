/* Settings the account code asks for: guest support, whether the file
 * server runs, and its domain mode with the workgroup or realm. */
#ifndef VEXA_ACCOUNT_H
#define VEXA_ACCOUNT_H

#ifdef __cplusplus
extern "C" {
#endif

/* 1 unless "guestsupport" of /etc.defaults/vexainfo.conf is "no"; read
 * once per process. */
int VEXAGuestSupportGet(void);

/* 1 when "runsamba" of /etc/vexainfo.conf is "yes" (any case), else 0,
 * also when the file, the key or the lock is not to be had. */
int VEXARunSambaGet(void);

/* The [global] section of /usr/vexa/etc/smb.conf: the realm (security
 * "ads") or the workgroup into buf, cut to cb - 1 bytes and NUL-ended;
 * *pIsDomain 1 for security "domain" or "ads", else 0; *pSambaOn (may be
 * NULL) as VEXARunSambaGet.  0, or -1 with nothing written. */
int VEXAWinsQuery1(char *buf, int cb, int *pIsDomain, int *pSambaOn);

#ifdef __cplusplus
}
#endif

#endif

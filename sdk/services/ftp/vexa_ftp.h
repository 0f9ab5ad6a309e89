/* The FTP server's chroot list "/usr/vexa/etc/ftpchroot.conf": one user
 * name a line, "#" comments and empty lines ignored on reading and dropped
 * on rewriting; names compared ignoring case.  No lock is taken: the
 * caller holds what it needs.  A missing list is only ENOENT; any other
 * failure to read it fails the call and leaves it as it was.  The name
 * lists given must not be byte-ordered (no case-insensitive search). */
#ifndef VEXA_FTP_H
#define VEXA_FTP_H

#include "base/list/vral_list.h"

#ifdef __cplusplus
extern "C" {
#endif

#define FTP_CHROOT_CONF "/usr/vexa/etc/ftpchroot.conf"

/* Pushes the list's names onto *ppList: its item count afterwards, 0 when
 * the file does not exist, -1. */
int VEXAFTPEnumChrootUser(VRALSzList **ppList);

/* Every name of pNames is in the list afterwards (appended in list order;
 * names the file holds already are taken out of pNames).  0 or -1. */
int VEXAFTPAddChrootUser(VRALSzList *pNames);

/* None of pNames is in the list afterwards.  0 (also when the file does not
 * exist; nothing is created) or -1. */
int VEXAFTPDeleteChrootUser(VRALSzList *pNames);

/* The delete of pDelete and then the add of pAdd (either may be NULL) in
 * one rewrite, with exactly the bytes the two calls in turn give; a failure
 * leaves the list as it was.  0 or -1. */
int VEXAFTPReplaceChrootUser(VRALSzList *pDelete, VRALSzList *pAdd);

#ifdef __cplusplus
}
#endif

#endif

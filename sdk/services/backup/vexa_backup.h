/* Backup sets: network sets in "/etc/vexanetbkp.conf", local sets in
 * "/etc/vexalocalbkp.conf", one section each ("[name]" over tab-indented
 * key="value" lines).  Records and their strings are heap blocks owned by
 * the caller and released with the free functions below.  No lock is
 * taken: callers run one at a time. */
#ifndef VEXA_BACKUP_H
#define VEXA_BACKUP_H

#include "base/hash/vral_hash.h"

#ifdef __cplusplus
extern "C" {
#endif

#define BACKUP_TYPE_NETBKP 0
#define BACKUP_TYPE_LOCALBKP 1

#define VEXA_NETBKP_CONF "/etc/vexanetbkp.conf"
#define VEXA_LOCALBKP_CONF "/etc/vexalocalbkp.conf"

/* The longest set name. */
#define VEXA_BKPSET_NAME_MAX 194

typedef struct _tag_VEXANETBKPCONF {
    int last_bkp_status; /* -1 when missing */
    int ssh;
    int blockbkp;
    int incrbkp;
    int server_type; /* 1 when missing */
    char *szSetName;
    char *bkp_server;
    char *bkp_ip;
    char *bkp_auth_user;
    char *server_pass;
    char *last_bkp_time;
    char *bkp_module;
    char *server_pass2;
    char *bkp_shares;
    char *bkp_apps;
} VEXANETBKPCONF;

/* dest_type as stored: 0 "internal", 1 "usb", 2 "esata", 3 "usbbkp",
 * 4 "esatabkp"; -1 for any other word or none. */
typedef struct _tag_VEXALOCALBKPCONF {
    int dest_type;
    int incrbkp;
    char *szSetName;
    char *dest_id;
    char *dest_share;
    char *bkp_shares;
    char *bkp_apps;
    char *last_bkp_time;
    char *last_bkp_result;
} VEXALOCALBKPCONF;

/* Every set of the network file (type 0) or the local file (any other type)
 * into a new array of record pointers, in file order, stored at *pppConf.
 * The number of records (0 with NULL for a file without sets or a missing
 * one), or -1 with NULL. */
int VEXABackupConfGetAll(void ***pppConf, int type);

/* Number of section header lines of the file; 0 when it does not exist, -1
 * for NULL or a file that cannot be opened. */
int VEXABackupConfSectionCount(const char *szPath);

/* Frees count records and the array by type (0 network, 1 local); another
 * type is logged and frees nothing. */
void VEXABackupConfFreeAll(void **rgConf, int count, int type);
void VEXANetBkpConfFreeAll(VEXANETBKPCONF **rgConf, int count);
void VEXALocalBkpConfFreeAll(VEXALOCALBKPCONF **rgConf, int count);
void VEXANetBkpConfFree(VEXANETBKPCONF *pConf);
void VEXALocalBkpConfFree(VEXALOCALBKPCONF *pConf);

/* A record from a section's pairs, missing keys at their defaults; NULL for
 * a NULL or empty name or a NULL hash (ERR_BAD_PARAMETERS) or without memory
 * (ERR_OUT_OF_MEMORY). */
VEXANETBKPCONF *VEXANetBkpConfAlloc(const char *szSetName, VRALSzHash *pHash);
VEXALOCALBKPCONF *VEXALocalBkpConfAlloc(const char *szSetName, VRALSzHash *pHash);

/* Writes one set under the record's name.  When szOldBkpset names a set of
 * the file, that set is replaced (renamed when the names differ), keeping
 * the keys the record does not know; otherwise the set is added.  Adding a
 * name that is taken, renaming onto another set's name, a name that is
 * empty, longer than VEXA_BKPSET_NAME_MAX or holds "[", "]" or a line
 * break, and a value with a line break are refused.  A new network file
 * is made readable by root only (it holds server passwords).  0 or -1. */
int VEXANetBkpConfSetOne(const char *szOldBkpset, const VEXANETBKPCONF *pConf);
int VEXALocalBkpConfSetOne(const char *szOldBkpset, const VEXALOCALBKPCONF *pConf);

#ifdef __cplusplus
}
#endif

#endif

/* Error state of the SDK: the last recorded failure with its source site
 * and a snapshot of the call stack, plus the update-log helpers. */
#ifndef VRAL_ERR_H
#define VRAL_ERR_H

#ifdef __cplusplus
extern "C" {
#endif

#define ERR_BUFFER_TOO_SMALL   0x0100
#define ERR_OUT_OF_MEMORY      0x0200
#define ERR_ACCESS_DENIED      0x0300
#define ERR_LOCK_FAILED        0x0400
#define ERR_UNLOCK_FAILED      0x0500
#define ERR_NO_DEVICE          0x0600
#define ERR_FILE_NOT_FOUND     0x0700
#define ERR_OPEN_FAILED        0x0900
#define ERR_READ_FAILED        0x0a00
#define ERR_WRITE_FAILED       0x0b00
#define ERR_LOCK_DIR_FAILED    0x0c00
#define ERR_BAD_PARAMETERS     0x0d00
#define ERR_BAD_SHARE_NAME     0x1200
#define ERR_SHARE_EXISTS       0x1300
#define ERR_SHARE_NOT_FOUND    0x1400
#define ERR_BAD_GROUP_NAME     0x1600
#define ERR_GROUP_EXISTS       0x1700
#define ERR_GROUP_NOT_FOUND    0x1800
#define ERR_NO_FREE_GID        0x1900
#define ERR_BAD_USER_NAME      0x1a00
#define ERR_USER_EXISTS        0x1c00
#define ERR_USER_NOT_FOUND     0x1d00
#define ERR_NO_FREE_UID        0x1f00
#define ERR_NOT_FOUND          0x2000
#define ERR_UNSUPPORTED_KIND   0x2200
#define ERR_STAT_FAILED        0x2700
#define ERR_RENAME_FAILED      0x2800
#define ERR_NO_SPACE           0x2900
#define ERR_CHILD_FAILED       0x2a00
#define ERR_REMOVE_FAILED      0x3900
#define ERR_BAD_FORMAT         0x4000
#define ERR_IO                 0x6c00
#define ERR_CONVERSION_FAILED  0x8000
#define ERR_READ_ONLY          0x8400
#define ERR_ENUM_FAILED        0x9800
#define ERR_BAD_PATH           0x9900
#define ERR_INTERRUPTED        0xaa00
#define ERR_INVALID_ARGUMENT   0xb100
#define ERR_DB_GET_FAILED      0xb200
#define ERR_DB_PUT_FAILED      0xb300
#define ERR_DB_DEL_FAILED      0xb400
#define ERR_END_OF_RECORDS     0xb500
#define ERR_BAD_SHARE_TYPE     0xb600
#define ERR_GROUP_UNDELETABLE  0xb700
#define ERR_USER_UNDELETABLE   0xb800
#define ERR_BAD_MD_PATH        0xbe00

#define VRAL_ERR_MAX_FRAMES 64

void VRALErrSet(int code, const char *file, int line);
void VRALErrSetCode(int code);
int VRALErrGet(void);
const char *VRALErrFileGet(void);
int VRALErrLineGet(void);
void VRALErrBacktracePrint(void);
void VRALErrBacktraceLog(void);
void VRALErrBacktraceFree(void);

int VRALErrorLogSet(const char *path, const char *line);
void VRALErrorLogClear(const char *path);

/* Records code at the calling site. */
#define VRAL_ERR_SET(code) VRALErrSet((code), __FILE__, __LINE__)

#ifdef __cplusplus
}
#endif

#endif

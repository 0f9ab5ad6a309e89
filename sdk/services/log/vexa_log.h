/* The appliance's binary event logs under /var/log/: one ring of
 * variable-length records behind a 16-byte header per log class, with the
 * file names and size limits in /etc/vexalog.conf.
 *
 * Header (little-endian): "VEXA", an unused word, the oldest record's
 * offset, the write offset.  Record: u16 length (24 + the six strings),
 * u16 level, u32 time, u16 program-name length, u16 user-name length, u32
 * event code, four u16 text lengths, then the six strings unterminated.  A
 * u16 0 where a length is due (or the file's end) ends a lap; the oldest
 * offset stays above the write offset while the ring is wrapped. */
#ifndef VEXA_LOG_H
#define VEXA_LOG_H

#ifdef __cplusplus
extern "C" {
#endif

#define VEXA_LOG_CONF      "/etc/vexalog.conf"
#define VEXA_LOG_SIZE_MIN  4096
#define VEXA_LOG_SIZE_MAX  (16 * 1024 * 1024)

/* Size limit in bytes of the class being written; set by VEXALogSet. */
extern int gLogSizeLimit;

/* Appends one event to the log of class iClass (1 to 8, not 4; class 2 is
 * the system log).  NULL texts are recorded as "", empty ones as " ".  0 or
 * -1; an event too long for a record or for the limit is refused with the
 * file untouched. */
int VEXALogSet(int iClass, int iLevel, unsigned int uEvent, const char *szText1, const char *szText2,
               const char *szText3, const char *szText4);

/* Shrinks the class's built-in log file to at most iMax bytes by dropping
 * its oldest records.  0 when nothing was to be done (also for a class
 * without a file, or a missing file) or the shrink succeeded; -1 when it
 * failed or iMax is not from VEXA_LOG_SIZE_MIN to VEXA_LOG_SIZE_MAX. */
int VEXALogChangeSize(int iMax, int iClass);

/* Writes /etc/vexalog.conf anew with its fourteen default lines.  0 or -1
 * (ERR_OPEN_FAILED when it cannot be created). */
int VEXALogSetLogConf(void);

#ifdef __cplusplus
}
#endif

#endif

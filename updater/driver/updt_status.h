/* What the updater reports: the progress file and the message file read by
 * the user interface, the update log kept for the administrator, and the
 * shell-command runner whose failures the updater acts on. */
#ifndef UPDT_STATUS_H
#define UPDT_STATUS_H

#ifdef __cplusplus
extern "C" {
#endif

#define UPDT_PROGRESS_FILE   "/tmp/update.progress"
#define UPDT_MESSAGE_FILE    "/tmp/update.message"
#define UPDT_LOG_FILE        "/var/log/vexaupdate.log"
#define UPDT_MESSAGE_KEY     "extramsg"
#define UPDT_LOG_SIZE_LIMIT  10000   /* bytes kept at start-up */

/* Progress states. */
#define UPDT_STATE_START     'A'     /* start, analysis, pre-flash steps */
#define UPDT_STATE_PATCH     'P'     /* flash write */
#define UPDT_STATE_CONFIG    'C'     /* configuration after the write */
#define UPDT_STATE_DONE      'R'

/* Results of UPDTWriteStatusFile. */
#define UPDT_STATUS_OK         0
#define UPDT_STATUS_NO_FILE   -1     /* neither opened nor created */
#define UPDT_STATUS_NO_LOCK   -2     /* the exclusive lock was not obtained */
#define UPDT_STATUS_NO_WRITE  -3     /* the write failed */

/* Writes text at offset 0 of path without truncating it, under an
 * exclusive flock (wait non-zero: up to 21 tries).  Never written through
 * a link and never blocking: anything at path but a regular file of the
 * caller's with one name is removed and a new file made.  0, -1, -2 or -3
 * as above (-1 also for a NULL argument). */
int UPDTWriteStatusFile(const char *szPath, const char *szText, int fWait);

/* Writes "%c:%d:      " of state and value to the progress file. */
int UPDTSetProgress(char chState, int value);

/* Sets the key's line "%s=\"%s\"\n" of key and value (at most 1023
 * characters) in the message file: the key's first line replaced, its later
 * lines dropped, the line appended when missing, other lines kept.  Written
 * whole to a temporary file made exclusively beside it, root's and 0644,
 * then renamed over it; old lines are read only from a regular file of the
 * caller's with one name, anything else gives a file of just the key.  0,
 * -1 (no temporary file, or a NULL argument) or -3 (not written). */
int UPDTWriteMessage(const char *szKey, const char *szValue);

/* Appends "<local time>\t<text>" and a newline to the update log.  Silent;
 * a NULL text does nothing. */
void UPDTWriteLog(const char *szText);

/* Empties the update log when it is larger than 10000 bytes. */
void UPDTCheckLogSize(void);

/* Runs a shell command line and waits for it.  0 when the shell ran it and
 * it exited with status 0; -1 otherwise (NULL, no shell, a non-zero
 * status, or ended by a signal), logged with the command. */
int UPDTExecute(const char *szCmd);

#ifdef __cplusplus
}
#endif

#endif

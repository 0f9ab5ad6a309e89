/* Scheduled jobs of the system crontab "/etc/crontab": one line per job,
 * found by the job's command text, in the form
 * "minute<TAB>hours<TAB>*<TAB>*<TAB>weekdays<TAB>root<TAB>command".
 * Every change tells the cron daemon (pid in "/var/run/crond.pid") to
 * reload with SIGHUP.  No lock is taken: callers run one at a time. */
#ifndef VEXA_CRONTAB_H
#define VEXA_CRONTAB_H

#ifdef __cplusplus
extern "C" {
#endif

#define VEXA_SCHEDULE_CMD_SIZE 1024

typedef struct _tag_VEXASCHEDULE {
    int wdayMask;     /* bit d for cron weekday d (0 to 6); 127 every day */
    int hourFirst;    /* 0 to 23 */
    int hourInterval; /* 0 to 23; 0 one run a day */
    int hourLast;     /* 0 to 23, not below hourFirst */
    int minute;       /* 0 to 59 */
    int runsPerDay;   /* filled by VEXAScheduleGet only */
    char szCmd[VEXA_SCHEDULE_CMD_SIZE];
} VEXASCHEDULE, *PVEXASCHEDULE;

/* Reads the first line holding szCmd into the record.  1 found, 0 no such
 * line (ERR_NOT_FOUND), -1 on failure.  The command comes back as its
 * first word. */
int VEXAScheduleGet(const char *szCmd, PVEXASCHEDULE pSchedule);

/* Replaces the job's line, or appends it, and signals the cron daemon.
 * 0 or -1. */
int VEXAScheduleSet(PVEXASCHEDULE pSchedule);

/* Deletes the first line holding szCmd (none is no error) and signals the
 * cron daemon.  0 or -1. */
int VEXAScheduleRemove(const char *szCmd);

/* With szLine: replaces the first line holding szCmd or appends szLine;
 * with NULL: deletes that line.  Then signals the cron daemon.  0 or -1. */
int VEXAUpdateCrontab(const char *szCmd, const char *szLine);

#ifdef __cplusplus
}
#endif

#endif

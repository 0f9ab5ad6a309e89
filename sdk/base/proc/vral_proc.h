/* Running a program without the shell. */
#ifndef VRAL_PROC_H
#define VRAL_PROC_H

#ifdef __cplusplus
extern "C" {
#endif

/* Runs path with up to four arguments (the first NULL ends them) as a
 * detached child and waits for it: its exit status, or -1
 * (ERR_CHILD_FAILED) when it could not be started, ended by a signal, or
 * its status was lost (reaped elsewhere).  The child gets none of the
 * caller's descriptors above 2, default actions for SIGHUP, SIGINT,
 * SIGQUIT, SIGTERM and SIGPIPE, and no blocked signals. */
int VEXAProcExec(const char *path, const char *szArg1, const char *szArg2,
                 const char *szArg3, const char *szArg4);

#ifdef __cplusplus
}
#endif

#endif

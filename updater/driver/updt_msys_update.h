// The run on MSys flash, once the driver has prepared it.
#ifndef UPDT_MSYS_UPDATE_H
#define UPDT_MSYS_UPDATE_H

#ifdef __cplusplus
extern "C" {
#endif

/* The run's one sequence with the MSys flash operations: table, backup,
 * write with its re-partitioning, UPDTUpdateConfig alone (not with -g),
 * finish or roll-back, clean-up.  state is the driver's state letter,
 * left as the sequence last set it.  The exit code: 0, 15, 16, 17, 18,
 * 19 or 20. */
int UPDTMSysUpdate(char *state);

#ifdef __cplusplus
}
#endif

#endif

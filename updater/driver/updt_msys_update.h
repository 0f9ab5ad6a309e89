// The run's sequence on MSys flash: the driver's, with the MSys flash
// operations (updt_msys.h) in place of the normal ones.
#ifndef UPDT_MSYS_UPDATE_H
#define UPDT_MSYS_UPDATE_H

#include "updt_msys.h"

// What the driver does once the sequence returns.
struct MSysEnding {
    bool cleanUp = false;     /* move hda1.tgz, remove b@ckup (0, 17, 20) */
    bool keepBackup = false;  /* the roll-back failed: b@ckup is the way back */
};

// The whole sequence; state is the driver's state letter, moved P, C, R.
// configure runs the migration after the write (UPDTUpdateConfig; not
// with -g).  The exit code: 0, 15, 17, 18, 19 or 20.
int UPDTMSysUpdate(char *state, int (*configure)(void), MSysEnding &ending);

#endif

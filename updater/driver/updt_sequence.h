// The run from the flash write to its result: one sequence for every kind
// of flash, to which each road passes its flash operations and says which
// steps it takes beside the write.
#ifndef UPDT_SEQUENCE_H
#define UPDT_SEQUENCE_H

#include "updt_flash_stage.h"

namespace updt {

struct Road {
    const UPDTFlashOps *flash;
    // The migration after the write (not with -g): 0, or non-zero for
    // exit code 17 and the roll-back.
    int (*configure)(void);
    // ".NormalShutdown" is left after a whole update.
    bool shutdownMarker;
    // "hda1.tgz" goes to the volume also after a write or migration that
    // failed (codes 20 and 17), not only after a whole update.
    bool archiveMovedAfterFailure;
};

// NOR flash: the photo-folder row, UpdatePgsqlDatabases and
// UPDTUpdateConfig after the write, the shutdown marker.
Road norRoad();
// MSys flash: UPDTUpdateConfig alone, no marker, the archive moved after
// 0, 17 and 20.
Road msysRoad();

// How the sequence ended, for its caller's checks.
struct Ending {
    bool cleanUp = false;     // it reached the clean-up (codes 0, 17, 20)
    bool keepBackup = false;  // the roll-back failed: b@ckup is the way back
};

// The flash stage, the migration, the finish or the roll-back, and the
// clean-up; state is the run's state letter, moved P, C, R.  The exit
// code: 0, 15, 16, 17, 18, 19 or 20.  Nothing escapes: an unexpected
// failure rolls back a flash the write or migration left half-done.
int runSequence(char *state, const Road &road, Ending &ending);

}  // namespace updt

#endif

// The flash stage of a run, as the driver's one sequence calls it: the
// flash directory, the patch table, the backup, the write and the
// roll-back, for NOR flash and for MSys flash.
#ifndef UPDT_FLASH_STAGE_H
#define UPDT_FLASH_STAGE_H

#include <vector>

#include "updt_patch.h"

// Reads the flash directory into directory (entries: its entry count) and
// builds the patch table; progress P 0, 10 and 20.  0, or the exit code:
// 18 (directory unreadable), 16 (no memory for it), 19 (no patch table).
int UPDTFlashReadTable(std::vector<FISDIRENTRY> &directory, int &entries);

// Backs up every partition (not with -g) and writes the marked ones;
// progress P 60 to 100.  0, or 15 (backup failed) or 20 (write failed;
// rollBack is then set: the flash must be restored from the backup).
int UPDTFlashWritePartitions(std::vector<FISDIRENTRY> &directory, int entries, bool &rollBack);

// Both, in that order: the whole flash stage on NOR flash.
int UPDTFlashStage(std::vector<FISDIRENTRY> &directory, int &entries, bool &rollBack);

// A kind of flash as the sequence drives it.  readTable and
// writePartitions return as the two functions above; rollBack restores
// what the write changed from "b@ckup", 0 or -1.  caller is the name the stage's
// messages carry, and the sequence's own about the roll-back.
struct UPDTFlashOps {
    const char *caller;
    int (*readTable)(std::vector<FISDIRENTRY> &directory, int &entries);
    int (*writePartitions)(std::vector<FISDIRENTRY> &directory, int entries, bool &rollBack);
    int (*rollBack)(FISDIRENTRY *directory, int entries);
};

// NOR flash: the boot loader's directory, UPDTDoPatch, UPDTRollBack.
extern const UPDTFlashOps UPDTNorFlash;
// MSys flash: the driver's table, UPDTMSysDoPatch with its
// re-partitioning, UPDTMSysRollBack (the old sizes first when the write
// re-partitioned).
extern const UPDTFlashOps UPDTMSysFlash;

#endif

// The flash stage of a run on NOR flash, as the driver calls it: the flash
// directory, the patch table, the backup and the write.
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

// Both, in that order: the driver's whole flash stage.
int UPDTFlashStage(std::vector<FISDIRENTRY> &directory, int &entries, bool &rollBack);

#endif

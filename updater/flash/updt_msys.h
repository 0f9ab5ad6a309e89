/* MSys flash: its driver keeps the partition table itself (eight
 * partitions in units of 16384 bytes, 967 units in all).  The run reads
 * the table, fills the patch table by position, backs the partitions up,
 * formats and partitions the flash anew when an image does not fit, writes
 * and reads back, migrates, and restores the old table and contents when
 * the write or the migration fails. */
#ifndef UPDT_MSYS_H
#define UPDT_MSYS_H

#include <stdint.h>

#include "updt_patch.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Reads the driver's table into eight entries named after the patch table
 * (bases back to back from 0); 8, or -1 (also when this model's table has
 * other than eight entries: nothing is asked of the flash then). */
int UPDTMSysGetPartitionInfo(FISDIRENTRY directory[VEXA_MSYS_PARTITIONS]);
/* Fills gPatchInfo from the directory by position; 0, or -1 when the data
 * would need 968 units or more. */
int UPDTMSysInitPatchInfo(FISDIRENTRY *directory, int count);
/* Re-partitions when an image does not fit (*reparted becomes 1 before the
 * format starts) and writes and reads back what must be written: after a
 * re-partitioning every partition, from its image or its copy.  0 or -1;
 * UPDTFlashTouched() tells whether the flash was changed. */
int UPDTMSysDoPatch(FISDIRENTRY *directory, int count, int *reparted);
/* Formats the flash and gives partition k blocks[k] units, then reads the
 * table back against them; 0 or -1 (count must be 8). */
int UPDTMSysFormat(const uint32_t blocks[VEXA_MSYS_PARTITIONS], int count);
/* Formats back to the old sizes when reparted (three attempts) and
 * restores every partition from "b@ckup", each read back (three attempts);
 * goes on after a failed partition and returns -1 when any failed; 0 at
 * once when the write never changed the flash. */
int UPDTMSysRollBack(FISDIRENTRY *directory, int count, int reparted);

#ifdef __cplusplus
}
#endif

#endif

/* Package analysis against the installed firmware, and the migration
 * flags chosen from the installed build number. */
#ifndef UPDT_ANALYSIS_H
#define UPDT_ANALYSIS_H

#include "migrate_flags.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Space the unpacked package needs beyond extractsize, in KiB. */
#define UPDT_EXTRACT_RESERVE_KB 10240LL

/* 0, or the exit code 6, 7, 8, 9, 10, 12, 13, 16 or 22. */
int ErrUPDTIAnalyze_WholeSystem(void);

/* 1 when the system volume holds extractsize KiB plus the reserve, else 0. */
int IsSystemPartitionSufficient(long long extractsize);
/* 1 when partition 3 of /dev/hda starts beyond sector 1333331, else 0. */
int IsSystemPartitionResizeable(void);

/* Sets every migration flag whose build threshold holds for build; clears none. */
void UPDTSetConfigFlags(int build);

/* 1, 0 or -1 as dotted version a is above, equal to or below b; kept for
 * callers outside the run, which does not use it. */
int UPDTCompareVersion(const char *a, const char *b);

#ifdef __cplusplus
}
#endif

#endif

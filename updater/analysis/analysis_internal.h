// Pieces of the package analysis that tests reach directly.
#ifndef UPDT_ANALYSIS_INTERNAL_H
#define UPDT_ANALYSIS_INTERNAL_H

#include <cstdint>

// The analysis's messages speak for the program: "updater:<line> ".
#include "updt_log.h"

namespace updt::analysis {

// The small factory layout of the first disk partition, and what it counts
// as once partition 3 starts late enough to let it grow.
constexpr long long kFactorySectors = 273042;
constexpr long long kEnlargedSectors = 530082;

// Room needed for a package of extractsize KiB: extractsize plus the
// reserve; false when extractsize is negative or the sum overflows.
bool neededKiB(long long extractsize, long long &need);

// 1 when a volume of sizeKiB holds the package, else 0 (logs the shortfall).
int volumeHolds(uint64_t sizeKiB, long long extractsize);

// Sectors of the first partition as the space check counts them: the small
// factory layout counts as its enlarged size when partition 3 leaves room.
long long countedSectors(long long sectors, bool resizeable);

}  // namespace updt::analysis

#endif

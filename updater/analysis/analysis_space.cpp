// The space arithmetic of the package analysis.
#include <syslog.h>

#include <cinttypes>

#include "analysis_internal.h"
#include "updt_analysis.h"

namespace updt::analysis {

bool neededKiB(long long extractsize, long long &need)
{
    if (extractsize < 0)
        return false;
    return !__builtin_add_overflow(extractsize, UPDT_EXTRACT_RESERVE_KB, &need);
}

int volumeHolds(uint64_t sizeKiB, long long extractsize)
{
    long long need = 0;
    if (!neededKiB(extractsize, need)) {
        UPDT_LOG("System Partition is not sufficient. (%" PRIu64 " < %lld)", sizeKiB, extractsize);
        return 0;
    }
    if (static_cast<uint64_t>(need) > sizeKiB) {
        UPDT_LOG("System Partition is not sufficient. (%" PRIu64 " < %lld)", sizeKiB, need);
        return 0;
    }
    return 1;
}

long long countedSectors(long long sectors, bool resizeable)
{
    return sectors == kFactorySectors && resizeable ? kEnlargedSectors : sectors;
}

}  // namespace updt::analysis

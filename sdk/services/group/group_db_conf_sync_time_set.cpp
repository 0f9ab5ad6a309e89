#include <sys/stat.h>

#include "base/err/err_guard.h"
#include "services/group/group_internal.h"

namespace {

int groupDbConfSyncTimeSet(VEXAGROUPDB *pDb, FILE *fpGroup, FILE *fpDesc)
{
    if (pDb == nullptr || pDb->pGRPName == nullptr || pDb->pGRPGID == nullptr || pDb->pGRPDesc == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    struct stat st[vexagroup::kSourceCount];
    if (vexabdb::cacheStatSources(vexagroup::kGroupSet, st) != 0)
        return -1;
    // an open stream stands for what it was opened on
    const std::pair<FILE *, const char *> given[] = {{fpGroup, GROUP_FILE}, {fpDesc, GROUP_FILE_DESC}};
    for (const auto &[fp, path] : given) {
        struct stat fst {};
        if (fp == nullptr)
            continue;
        if (fstat(fileno(fp), &fst) != 0) {
            VRAL_LOG_ERR("stat [%s] failed!! errno=%d/%m", path, errno);
            VRAL_ERR_SET(ERR_OPEN_FAILED);
            return -1;
        }
        if (fp == fpGroup)
            st[vexagroup::kSrcGroup] = st[vexagroup::kSrcGroupGid] = fst;
        else
            st[vexagroup::kSrcDesc] = fst;
    }
    return vexabdb::cacheStoreSources(vexagroup::kGroupSet, pDb, st);
}

}  // namespace

extern "C" int GroupDbConfSyncTimeSet(VEXAGROUPDB *pDb, FILE *fpGroup, FILE *fpDesc)
{
    return vral::NoThrow(-1, [&] { return groupDbConfSyncTimeSet(pDb, fpGroup, fpDesc); });
}

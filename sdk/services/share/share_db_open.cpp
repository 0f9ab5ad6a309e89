#include <cerrno>
#include <cstddef>
#include <cstdio>

#include "base/err/err_guard.h"
#include "services/share/share_internal.h"

namespace vexashare {

namespace {

int buildShares(void *rec)
{
    FILE *fp = fopen(SHARE_CONF, "re");
    if (fp == nullptr) {
        VRAL_LOG_ERR("fopen(%s) failed. errno=%d/%m", SHARE_CONF, errno);
        VRAL_ERR_SET(ERR_OPEN_FAILED);
        return -1;
    }
    const int r = VEXAShareDBBuild(fp, static_cast<VEXASHAREDB *>(rec));
    fclose(fp);
    return r;
}

const vexabdb::CacheFile kFiles[] = {
    {SHARE_DB_SUFFIX, offsetof(VEXASHAREDB, pShareDB), false, false},
};

const vexabdb::CacheSource kSources[] = {
    {SHARE_CONF, 0, true},
};

}  // namespace

const vexabdb::CacheSet kShareSet = {
    SHARE_DB_PREFIX,
    SHARE_DB_TMP_PREFIX,
    SHARE_DB_PREFIX ".lock",
    kFiles,
    1,
    kSources,
    1,
    sizeof(VEXASHAREDB),
    buildShares,
    "VEXAShareDBOpenFile",
    "VEXAShareDBRebuild",
};

}  // namespace vexashare

namespace {

int shareDBOpenFile(VEXASHAREDB **ppDb, const char *prefix)
{
    return vexabdb::cacheOpen(vexashare::kShareSet, reinterpret_cast<void **>(ppDb), prefix);
}

}  // namespace

extern "C" int VEXAShareDBOpenFile(VEXASHAREDB **ppDb, const char *prefix)
{
    return vral::NoThrow(-1, [&] { return shareDBOpenFile(ppDb, prefix); });
}

namespace {

VEXASHAREDB *shareDBOpen(void)
{
    return static_cast<VEXASHAREDB *>(vexabdb::cacheOpenChecked(vexashare::kShareSet));
}

}  // namespace

extern "C" VEXASHAREDB *VEXAShareDBOpen(void)
{
    return vral::NoThrow(static_cast<VEXASHAREDB *>(nullptr), [&] { return shareDBOpen(); });
}

extern "C" void VEXAShareDBClose(VEXASHAREDB *pDb)
{
    if (pDb == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return;
    }
    vexabdb::cacheClose(vexashare::kShareSet, pDb);
}

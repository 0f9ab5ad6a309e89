#include <cstddef>

#include "base/err/err_guard.h"
#include "services/group/group_internal.h"

namespace vexagroup {

namespace {

int buildGroups(void *rec)
{
    return VEXAGroupDBBuild(static_cast<VEXAGROUPDB *>(rec));
}

const vexabdb::CacheFile kFiles[] = {
    {".name.0832", offsetof(VEXAGROUPDB, pGRPName), false, false},
    {".id.0832", offsetof(VEXAGROUPDB, pGRPGID), true, false},
    {".desc.0832", offsetof(VEXAGROUPDB, pGRPDesc), false, false},
};

// In GroupSource order.
const vexabdb::CacheSource kSources[] = {
    {GROUP_FILE, 0, true},
    {GROUP_FILE, 1, false},
    {GROUP_FILE_DESC, 2, true},
};
static_assert(sizeof kSources / sizeof kSources[0] == kSourceCount);

}  // namespace

const vexabdb::CacheSet kGroupSet = {
    GROUP_DB_PREFIX,
    GROUP_DB_TMP_PREFIX,
    GROUP_DB_PREFIX ".lock",
    kFiles,
    3,
    kSources,
    kSourceCount,
    sizeof(VEXAGROUPDB),
    buildGroups,
    "VEXAGroupDBOpenFile",
    "VEXAGroupDBRebuild",
};

}  // namespace vexagroup

namespace {

int groupDBOpenFile(VEXAGROUPDB **ppDb, const char *prefix)
{
    return vexabdb::cacheOpen(vexagroup::kGroupSet, reinterpret_cast<void **>(ppDb), prefix);
}

}  // namespace

extern "C" int VEXAGroupDBOpenFile(VEXAGROUPDB **ppDb, const char *prefix)
{
    return vral::NoThrow(-1, [&] { return groupDBOpenFile(ppDb, prefix); });
}

namespace {

VEXAGROUPDB *groupDBOpen(void)
{
    return static_cast<VEXAGROUPDB *>(vexabdb::cacheOpenChecked(vexagroup::kGroupSet));
}

}  // namespace

extern "C" VEXAGROUPDB *VEXAGroupDBOpen(void)
{
    return vral::NoThrow(static_cast<VEXAGROUPDB *>(nullptr), [&] { return groupDBOpen(); });
}

extern "C" void VEXAGroupDBClose(VEXAGROUPDB *pDb)
{
    vexabdb::cacheClose(vexagroup::kGroupSet, pDb);
}

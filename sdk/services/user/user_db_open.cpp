#include <cstddef>

#include "base/err/err_guard.h"
#include "services/user/user_internal.h"

namespace vexauser {

namespace {

int buildUsers(void *rec)
{
    return VEXAUserDBBuild(static_cast<VEXAUSERDB *>(rec));
}

const vexabdb::CacheFile kFiles[] = {
    {".name.0832", offsetof(VEXAUSERDB, pPWDName), false, false},
    {".misc.0832", offsetof(VEXAUSERDB, pPWDVexaser), false, false},
    {".shadow.0832", offsetof(VEXAUSERDB, pPWDShadow), false, true},
    {".smb.0832", offsetof(VEXAUSERDB, pPWDSMB), false, true},
    {".uid.0832", offsetof(VEXAUSERDB, pPWDUID), true, false},
};

// In UserSource order.
const vexabdb::CacheSource kSources[] = {
    {USER_FILE_PASSWD, 0, true},
    {USER_FILE_PASSWD, 4, false},
    {USER_FILE_VEXAUSER, 1, true},
    {USER_FILE_SHADOW, 2, true},
    {USER_FILE_SMBPASSWD, 3, true},
};
static_assert(sizeof kSources / sizeof kSources[0] == kSourceCount);

}  // namespace

const vexabdb::CacheSet kUserSet = {
    USER_DB_PREFIX,
    USER_DB_TMP_PREFIX,
    USER_DB_PREFIX ".lock",
    kFiles,
    5,
    kSources,
    kSourceCount,
    sizeof(VEXAUSERDB),
    buildUsers,
    "VEXAUserDBOpenFile",
    "VEXAUserDBRebuild",
};

}  // namespace vexauser

namespace {

int userDBOpenFile(VEXAUSERDB **ppDb, const char *prefix)
{
    return vexabdb::cacheOpen(vexauser::kUserSet, reinterpret_cast<void **>(ppDb), prefix);
}

}  // namespace

extern "C" int VEXAUserDBOpenFile(VEXAUSERDB **ppDb, const char *prefix)
{
    return vral::NoThrow(-1, [&] { return userDBOpenFile(ppDb, prefix); });
}

namespace {

VEXAUSERDB *userDBOpen(void)
{
    return static_cast<VEXAUSERDB *>(vexabdb::cacheOpenChecked(vexauser::kUserSet));
}

}  // namespace

extern "C" VEXAUSERDB *VEXAUserDBOpen(void)
{
    return vral::NoThrow(static_cast<VEXAUSERDB *>(nullptr), [&] { return userDBOpen(); });
}

extern "C" void VEXAUserDBClose(VEXAUSERDB *pDb)
{
    vexabdb::cacheClose(vexauser::kUserSet, pDb);
}

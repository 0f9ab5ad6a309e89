#include "services/share/share_internal.h"
#include "services/user/user_internal.h"

namespace {

int shareDBDelete(VEXASHAREDB *db, const char *name)
{
    if (db == nullptr || db->pShareDB == nullptr || name == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    char key[SHARE_KEY_SIZE];
    const int len = vexauser::keyForm(name, key, sizeof key);
    if (len < 0) {
        VRAL_LOG_ERR("VRALUnicodeUTF8StrUpper [%s] failed.", name);
        // no stored share has such a name
        VRAL_ERR_SET(ERR_NOT_FOUND);
        return -1;
    }
    return VEXABDbDelete(db->pShareDB, key, len + 1);
}

}  // namespace

extern "C" int VEXAShareDBDelete(VEXASHAREDB *db, const char *name)
{
    return vexabdb::cacheWriteGuarded(vexashare::kShareSet, db, [&] { return shareDBDelete(db, name); });
}

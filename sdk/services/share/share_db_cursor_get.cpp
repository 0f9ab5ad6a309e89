#include <cstdlib>

#include "base/err/err_guard.h"
#include "services/share/share_internal.h"

namespace {

int shareDBCursorGet(VEXASHAREDB *db, VEXASHARE **ppShare)
{
    if (db == nullptr || db->pShareDB == nullptr || ppShare == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    char *key = nullptr;
    char *data = nullptr;
    int cbKey = 0;
    int cbData = 0;
    int r = VEXABDbCursorGet(db->pShareDB, 1, &key, &cbKey, &data, &cbData);
    if (r == 0)
        r = VEXAShareDBUnPack(data, cbData, ppShare);
    free(key);
    free(data);
    return r;
}

}  // namespace

extern "C" int VEXAShareDBCursorGet(VEXASHAREDB *db, VEXASHARE **ppShare)
{
    return vral::NoThrow(-1, [&] { return shareDBCursorGet(db, ppShare); });
}

#include <cstdlib>

#include "base/err/err_guard.h"
#include "base/file/vral_file.h"
#include "services/user/user_query_internal.h"

namespace {

int userTotalNum(int mask)
{
    if ((mask & (USER_KIND_LOCAL | USER_KIND_DOMAIN)) == 0) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    VRALSzList *list = PslVRALSzListAlloc(512);
    if (list == nullptr) {
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return -1;
    }
    const int r = VEXAUserEnum(&list, mask);
    VRALSzListFree(list);
    return r;
}

}  // namespace

extern "C" int VEXAUserTotalNum(int mask)
{
    return vral::NoThrow(-1, [&] { return userTotalNum(mask); });
}

namespace {

int userAvailableNum(void)
{
    const int total = VEXAUserTotalNum(USER_KIND_LOCAL | USER_KIND_DOMAIN);
    if (total < 0)
        return -1;
    char value[33] = {};
    const int r = VRALFileGetKeyValue("/etc.defaults/vexainfo.conf", "maxaccounts", value, sizeof value, 0);
    if (r < 0)
        return -1;
    if (r == 0 || value[0] == '\0')
        return 0;
    return atoi(value) - total;
}

}  // namespace

extern "C" int VEXAUserAvailableNum(void)
{
    return vral::NoThrow(-1, [&] { return userAvailableNum(); });
}

#include <cstdlib>

#include "services/share/share_internal.h"

namespace vexashare {

int getStored(VEXABDB *h, const char *key, int klen, VEXASHARE **ppShare)
{
    char *p = nullptr;
    int cb = 0;
    if (VEXABDbGet(h, key, klen, &p, &cb) != 0)
        return -1;
    const int r = VEXAShareDBUnPack(p, cb, ppShare);
    free(p);
    return r;
}

}  // namespace vexashare

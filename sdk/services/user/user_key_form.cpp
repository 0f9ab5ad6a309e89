#include <cstdio>
#include <cstdlib>

#include "base/unicode/vral_unicode.h"
#include "services/user/user_internal.h"

namespace vexauser {

int keyForm(const char *name, char *out, int cb)
{
    if (cb > 0)
        out[0] = '\0';
    if (name == nullptr || name[0] == '\0' || cb <= 0)
        return -1;
    // The upper-caser gives the full length also when it did not fit; the
    // empty text it then leaves behind is never used as a key.
    const int len = VRALUnicodeUTF8StrUpper(name, out, cb);
    if (len <= 0 || len >= cb) {
        out[0] = '\0';
        return -1;
    }
    return len;
}

UidKey uidKey(int uid)
{
    UidKey k{};
    snprintf(k.text, sizeof k.text, "%06d", uid);
    return k;
}

int getLine(VEXABDB *h, const void *key, int klen, char **ppBuf, int *pcb)
{
    if (VEXABDbGet(h, key, klen, ppBuf, pcb) != 0)
        return -1;
    if (*pcb <= 0 || (*ppBuf)[*pcb - 1] != '\0') {
        VRAL_ERR_SET(ERR_BAD_FORMAT);
        return -1;
    }
    return 0;
}

}  // namespace vexauser

#include <sys/file.h>

#include <cstring>
#include <string>

#include "base/err/err_guard.h"
#include "base/file/vral_file.h"
#include "base/lock/vral_lock.h"
#include "services/net/net_internal.h"

namespace {

// Text that would break the key="value" line it is written into.
bool breaksLine(const char *s, bool isName)
{
    for (const char *p = s; *p != '\0'; ++p) {
        if (*p == '\n' || *p == '\r' || *p == '"')
            return true;
        if (isName && (*p == '=' || *p == ' ' || *p == '\t'))
            return true;
    }
    return false;
}

}  // namespace

extern "C" int VEXANetConfSetMTUValue(const char *szMtu, const char *szIfName)
{
    if (szMtu == nullptr || szIfName == nullptr || *szIfName == '\0' || breaksLine(szIfName, true) ||
        breaksLine(szMtu, false)) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    // the whole name: a key cut short would belong to another interface
    std::string key;
    if (!vral::NoThrow(false, [&] {
            key = std::string(szIfName) + "_mtu";
            return true;
        }))
        return -1;

    if (VRALFileLock(LOCK_ID_VEXAINFO | LOCK_EX | LOCK_NB, 5) < 0) {
        VRAL_LOG_SPACED("Failed to lock vexainfo(%X)", VRALErrGet());
        return -1;
    }
    int result = 0;
    if (VRALFileSetKeyValue(VEXA_INFO_CONF, key.c_str(), szMtu, "%s=\"%s\"\n") < 0) {
        VRAL_LOG_SPACED("Failed to set MTU value(%X)", VRALErrGet());
        result = -1;
    }
    if (VRALFileUnlock(LOCK_ID_VEXAINFO) < 0) {
        VRAL_LOG_SPACED("Failed to unlock vexainfo(%X)", VRALErrGet());
        return -1;
    }
    return result;
}

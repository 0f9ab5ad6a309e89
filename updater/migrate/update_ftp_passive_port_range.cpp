#include <syslog.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "base/file/vral_file.h"
#include "base/lock/vral_lock.h"
#include "updt_preflash.h"

namespace {

constexpr const char *kInfo = VEXA_INFO_CONF;
constexpr const char *kStep = "UpdateFTPPassivePortRange";
constexpr long kMaxPorts = 128;

// A port: the whole text a decimal number from 1 to 65535.  0 otherwise,
// so that nothing is written from a missing or broken value.
long port(const char *sz)
{
    if (*sz < '0' || *sz > '9')
        return 0;
    char *end = nullptr;
    errno = 0;
    const long v = strtol(sz, &end, 10);
    if (errno != 0 || *end != '\0' || v < 1 || v > 65535)
        return 0;
    return v;
}

}  // namespace

int UpdateFTPPassivePortRange(void)
{
    char low[128] = {};
    if (VRALFileGetKeyValue(kInfo, "ftplowport", low, sizeof low, 0) < 0) {
        syslog(LOG_ERR, "%s:%d(%s) VRALFileGetKeyValue(SZF_VEXA_INFO, SZK_FTP_LOW_PORT) fail", "updater", __LINE__,
               kStep);
        return -1;
    }
    char high[128] = {};
    if (VRALFileGetKeyValue(kInfo, "ftphighport", high, sizeof high, 0) < 0) {
        syslog(LOG_ERR, "%s:%d(%s) VRALFileGetKeyValue(SZF_VEXA_INFO, SZK_FTP_HIGH_PORT) fail", "updater", __LINE__,
               kStep);
        return -1;
    }
    const long lo = port(low);
    const long hi = port(high);
    // Only a sound range is capped; anything else is left as it is.
    if (lo == 0 || hi == 0 || lo > hi || hi - lo + 1 <= kMaxPorts)
        return 0;
    char buf[24];
    snprintf(buf, sizeof buf, "%ld", lo + kMaxPorts - 1);
    if (VEXAINFOSetKeyValue("ftphighport", buf) != 0) {
        syslog(LOG_ERR, "%s:%d(%s) VEXAINFOSetKeyValue(SZK_FTP_HIGH_PORT, szBuf=[%s]) fail", "updater", __LINE__,
               kStep, buf);
        return -1;
    }
    return 0;
}

#include <syslog.h>

#include <cstring>
#include <memory>

#include "base/err/vral_err.h"
#include "base/file/vral_file.h"
#include "base/hash/vral_hash.h"
#include "services/account/vexa_account.h"

#define WINS_LOG(fmt, ...) syslog(LOG_ERR, "%s:%d " fmt, __FILE_NAME__, __LINE__ __VA_OPT__(, ) __VA_ARGS__)

namespace {

struct HashFree {
    void operator()(VRALSzHash *p) const { VRALSzHashFree(p); }
};

}  // namespace

extern "C" int VEXAWinsQuery1(char *buf, int cb, int *pIsDomain, int *pSambaOn)
{
    if (buf == nullptr || cb <= 0 || pIsDomain == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    std::unique_ptr<VRALSzHash, HashFree> map(VRALSzHashAlloc(1024));
    if (!map) {
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return -1;
    }
    VRALSzHash *pMap = map.release();
    const int read = VRALFileGetSection("/usr/vexa/etc/smb.conf", "global", &pMap);
    map.reset(pMap);
    if (read < 0) {
        WINS_LOG("VRALFileGetSection failed [%X]!!", VRALErrGet());
        return -1;
    }

    const char *security = SzVRALSzHashGetValue(map.get(), "security");
    if (security == nullptr) {
        WINS_LOG("key [security] not found or error!!");
        return -1;
    }
    const bool ads = strcmp(security, "ads") == 0;
    const char *key = ads ? "realm" : "workgroup";
    const char *name = SzVRALSzHashGetValue(map.get(), key);
    if (name == nullptr) {
        WINS_LOG("key [%s] not found or error!!", key);
        return -1;
    }

    // Cut to fit with its terminator: callers pass the buffer on as a string.
    memset(buf, 0, static_cast<size_t>(cb));
    memcpy(buf, name, strnlen(name, static_cast<size_t>(cb) - 1));
    *pIsDomain = ads || strcmp(security, "domain") == 0 ? 1 : 0;
    if (pSambaOn != nullptr)
        *pSambaOn = VEXARunSambaGet();
    return 0;
}

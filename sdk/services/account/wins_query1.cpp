#include <strings.h>
#include <syslog.h>

#include <cstring>
#include <memory>

#include "base/err/err_guard.h"
#include "base/err/err_log.h"
#include "base/err/vral_err.h"
#include "base/file/file_internal.h"
#include "base/file/vral_file.h"
#include "base/hash/vral_hash.h"
#include "base/list/vral_list.h"
#include "base/string/vral_string.h"
#include "services/account/vexa_account.h"
#include "services/share/share_internal.h"

namespace {

struct HashFree {
    void operator()(VRALSzHash *p) const { VRALSzHashFree(p); }
};
struct ListFree {
    void operator()(VRALSzList *p) const { VRALSzListFree(p); }
};

// The global settings as samba and the share cache take them: every
// section named "global" in any ASCII case, a later value replacing an
// earlier one.  The item count, or -1.
int readGlobals(VRALSzHash **ppMap)
{
    static const char *const kKeys[] = {"security", "realm", "workgroup"};
    std::unique_ptr<VRALSzList, ListFree> pair(PslVRALSzListAlloc(VRAL_SZLIST_MIN_SIZE));
    if (!pair) {
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return -1;
    }
    bool global = false;
    int failed = 0;
    const int rc = vralfile::ScanLines(SHARE_CONF, [&](vralfile::LineReader &reader) {
        const char *line = reader.Data();
        if (VRALFileIsSectionLine(line, static_cast<int>(reader.Length())) == 1) {
            char name[SHARE_SECTION_SIZE];
            global = VEXAShareParseSectionName(line, name, sizeof name) == 0 && strcasecmp(name, "global") == 0;
            return true;
        }
        if (!global)
            return true;
        VRALSzList *pList = pair.release();
        const int sep = VRALStrSepPair(line, &pList);
        pair.reset(pList);
        if (!pair) {
            VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
            failed = 1;
            return false;
        }
        if (sep == 0 && pair->nItem == 2) {
            for (const char *key : kKeys) {
                if (strcmp(VRALSzListItem(pair.get(), 0), key) == 0 &&
                    VRALSzHashSetValue(ppMap, key, VRALSzListItem(pair.get(), 1)) < 0) {
                    failed = 1;
                    return false;
                }
            }
        }
        VRALSzListClear(pair.get());
        return true;
    });
    return rc < 0 || failed ? -1 : (*ppMap)->nItem;
}

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
    const int read = vral::NoThrow(-1, [&] { return readGlobals(&pMap); });
    map.reset(pMap);
    if (read < 0) {
        VRAL_LOG_ERR("VRALFileGetSection failed [%X]!!", VRALErrGet());
        return -1;
    }

    const char *security = SzVRALSzHashGetValue(map.get(), "security");
    if (security == nullptr) {
        VRAL_LOG_ERR("key [security] not found or error!!");
        return -1;
    }
    const bool ads = strcmp(security, "ads") == 0;
    const char *key = ads ? "realm" : "workgroup";
    const char *name = SzVRALSzHashGetValue(map.get(), key);
    if (name == nullptr) {
        VRAL_LOG_ERR("key [%s] not found or error!!", key);
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

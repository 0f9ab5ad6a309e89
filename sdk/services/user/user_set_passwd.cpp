#include <sys/file.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/list/vral_list.h"
#include "base/err/err_guard.h"
#include "base/lock/lock_holder.h"
#include "base/string/vral_string.h"
#include "services/user/user_query_internal.h"
#include "services/user/user_set_internal.h"

namespace {

// A text that would add fields or lines to a shadow or smbpasswd line.
bool injects(const char *s)
{
    return strpbrk(s, ":\r\n") != nullptr;
}

bool skipped(VEXAUSER *const *users, const char *const *hashes, const char *const *lm, const char *const *nt, int i)
{
    // no user has the empty name: skipped like a miss
    return users[i] == nullptr || users[i]->szName == nullptr || users[i]->szName[0] == '\0' ||
           hashes[i] == nullptr || lm[i] == nullptr || nt[i] == nullptr;
}

struct Fields {
    VRALSzList *p = PslVRALSzListAlloc(512);
    ~Fields() { VRALSzListFree(p); }
    // Splits a stored line at every ":": its field count, or -1.
    int split(const char *line)
    {
        VRALSzListClear(p);
        return VRALStrSep(line, ":", &p) < 0 ? -1 : p->nItem;
    }
    std::string at(int i) const { return VRALSzListItem(p, i); }
};

// Both records of one user, read and checked before either is written:
// 1 written, 0 skipped, -1 ends the loop.  *stored tells that the cache
// changed.
int setOne(VEXAUSERDB *db, const char *name, const char *hash, const char *lm, const char *nt, Fields &f,
           bool *stored)
{
    char NAME[USER_KEY_SIZE];
    const int len = vexauser::keyForm(name, NAME, sizeof NAME);
    if (len < 0) {
        VRAL_LOG_ERR("VRALUnicodeUTF8StrUpper failed [%s]", name);
        return -1;
    }
    char *shadow = nullptr;
    char *smb = nullptr;
    int cb = 0;
    vexauser::FreeBoth own{shadow, smb};
    if (vexauser::getLine(db->pPWDShadow, NAME, len + 1, &shadow, &cb) != 0) {
        syslog(LOG_NOTICE, "%s:%d VEXABDbGet pPWDShadow [%s] failed. vexaerr=0x%04X", __FILE_NAME__, __LINE__,
               NAME, VRALErrGet());
        return 0;
    }
    cb = 0;
    if (vexauser::getLine(db->pPWDSMB, NAME, len + 1, &smb, &cb) != 0) {
        syslog(LOG_NOTICE, "%s:%d VEXABDbGet pPWDSMB [%s] failed. vexaerr=0x%04X", __FILE_NAME__, __LINE__, NAME,
               VRALErrGet());
        return 0;
    }
    if (f.split(shadow) != 9)
        return 0;
    const std::string shadowLine =
        f.at(0) + ":" + hash + ":" + f.at(2) + ":0:99999:7::" + f.at(7) + ":";
    if (f.split(smb) != 7)
        return 0;
    const std::string smbLine = f.at(0) + ":" + f.at(1) + ":" + lm + ":" + nt + ":" + f.at(4) + ":" + f.at(5) + ":";
    if (shadowLine.size() >= 16384 ||
        VEXABDbSet(db->pPWDShadow, NAME, len + 1, shadowLine.c_str(), static_cast<int>(shadowLine.size()) + 1) != 0) {
        VRAL_LOG_ERR("VEXABDbSet pPWDShadow failed. vexaerr=0x%04X", VRALErrGet());
        return -1;
    }
    *stored = true;
    if (VEXABDbSet(db->pPWDSMB, NAME, len + 1, smbLine.c_str(), static_cast<int>(smbLine.size()) + 1) != 0) {
        VRAL_LOG_ERR("VEXABDbSet pPWDSMB failed. vexaerr=0x%04X", VRALErrGet());
        return -1;
    }
    return 1;
}

}  // namespace

namespace {

int userSetPasswd(VEXAUSER **users, const char **hashes, const char **lmHashes, const char **ntHashes, int n)
{
    if (users == nullptr || hashes == nullptr || lmHashes == nullptr || ntHashes == nullptr || n < 0) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    for (int i = 0; i < n; ++i) {
        if (!skipped(users, hashes, lmHashes, ntHashes, i) &&
            (injects(hashes[i]) || injects(lmHashes[i]) || injects(ntHashes[i]))) {
            VRAL_LOG_ERR("hash of [%s] holds a field or line break", users[i]->szName);
            VRAL_ERR_SET(ERR_BAD_PARAMETERS);
            return -1;
        }
    }
    if (n == 0)
        return 0;
    Fields f;
    if (f.p == nullptr) {
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return -1;
    }
    vral::LockHolder lock(LOCK_ID_PW | LOCK_EX | LOCK_NB, 5);
    if (!lock.held()) {
        VRAL_ERR_SET(ERR_LOCK_FAILED);
        return -1;
    }
    vexauser::UserDb db(VEXAUserDBOpen());
    if (db == nullptr) {
        vexabdb::cacheOpenFailed();
        return lock.release(-1);
    }
    const int r = vexabdb::cacheWriteGuarded(vexauser::kUserSet, db.get(), [&] {
        int written = 0;
        int one = 0;
        bool stored = false;
        for (int i = 0; i < n && one >= 0; ++i) {
            if (skipped(users, hashes, lmHashes, ntHashes, i))
                continue;
            one = setOne(db.get(), users[i]->szName, hashes[i], lmHashes[i], ntHashes[i], f, &stored);
            written += one > 0 ? 1 : 0;
        }
        if (one < 0 || written == 0) {
            // nothing of a loop that ended early reaches the files, nor
            // does any record it stored reach a later writer's dump
            if (stored) {
                const int code = VRALErrGet();
                vexabdb::cacheMarkStale(vexauser::kUserSet, db.get());
                VRALErrSetCode(code);
            }
            return -1;
        }
        if (VEXAUserDBDump(db.get()) != 0) {
            VRAL_LOG_ERR("VEXAUserDBDump failed. vexaerr=0x%04X", VRALErrGet());
            const int code = VRALErrGet();
            vexabdb::cacheMarkStale(vexauser::kUserSet, db.get());
            VRALErrSetCode(code);
            return -1;
        }
        return 0;
    });
    db.reset();
    return lock.release(r);
}

}  // namespace

extern "C" int VEXAUserSetPasswd(VEXAUSER **users, const char **hashes, const char **lmHashes,
                                 const char **ntHashes, int n)
{
    return vral::NoThrow(-1, [&] { return userSetPasswd(users, hashes, lmHashes, ntHashes, n); });
}

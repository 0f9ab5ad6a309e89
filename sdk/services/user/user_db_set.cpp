#include <crypt.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "base/err/err_guard.h"
#include "base/list/vral_list.h"
#include "base/string/heap_ptr.h"
#include "base/string/vral_string.h"
#include "base/unicode/vral_unicode.h"
#include "services/smbhash/vexa_smbhash.h"
#include "services/user/user_internal.h"

namespace {

bool hasLineBreak(const char *s)
{
    return s != nullptr && strpbrk(s, "\r\n") != nullptr;
}

// A field that would end its line early or add fields to it.
bool fieldsOk(const VEXAUSER *u)
{
    if (hasLineBreak(u->szGecos) || hasLineBreak(u->szHome) || hasLineBreak(u->szShell) || hasLineBreak(u->szMail))
        return false;
    return (u->szHome == nullptr || strchr(u->szHome, ':') == nullptr) &&
           (u->szShell == nullptr || strchr(u->szShell, ':') == nullptr);
}

// A stored line, or none.
struct Stored {
    bool found = false;
    std::string text;
};

int fetch(VEXABDB *h, const char *key, int klen, Stored *out)
{
    char *p = nullptr;
    int cb = 0;
    if (vexauser::getLine(h, key, klen, &p, &cb) != 0)
        return VRALErrGet() == ERR_NOT_FOUND ? 0 : -1;
    out->found = true;
    out->text = p;
    free(p);
    return 0;
}

int store(VEXABDB *h, const char *key, int klen, const std::string &line)
{
    return VEXABDbSet(h, key, klen, line.c_str(), static_cast<int>(line.size()) + 1);
}

std::string hex(const unsigned char (&hash)[VEXA_SMB_HASH_SIZE])
{
    char b[2 * VEXA_SMB_HASH_SIZE + 1];
    for (int i = 0; i < VEXA_SMB_HASH_SIZE; ++i)
        snprintf(b + 2 * i, 3, "%02X", hash[i]);
    return b;
}

// The user as it stood before the write.
struct OldUser {
    VEXAUSER *user = nullptr;
    Stored passwd, shadow, misc, smb;
    std::string lm, nt;  // from a sound smbpasswd line
    bool smbSound = false;
    ~OldUser() { VEXAUserFree(user); }
};

int readOld(VEXAUSERDB *db, const char *OLDNAME, int klen, OldUser *old)
{
    if (strchr(OLDNAME, '\\') != nullptr) {
        VRAL_ERR_SET(ERR_BAD_USER_NAME);
        return -1;
    }
    if (VEXAUserDBGet(db, OLDNAME, &old->user) != 0) {
        VRAL_ERR_SET(ERR_USER_NOT_FOUND);
        return -1;
    }
    if (fetch(db->pPWDName, OLDNAME, klen, &old->passwd) != 0 || fetch(db->pPWDShadow, OLDNAME, klen, &old->shadow) != 0 ||
        fetch(db->pPWDVexaser, OLDNAME, klen, &old->misc) != 0 || fetch(db->pPWDSMB, OLDNAME, klen, &old->smb) != 0)
        return -1;
    if (!old->smb.found)
        return 0;
    VRALSzList *f = PslVRALSzListAlloc(512);
    if (f == nullptr) {
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return -1;
    }
    const int n = VRALStrSep(old->smb.text.c_str(), ":", &f);
    if (n == 7) {
        old->smbSound = true;
        old->lm = std::string(VRALSzListItem(f, 2)).substr(0, 32);
        old->nt = std::string(VRALSzListItem(f, 3)).substr(0, 32);
    }
    VRALSzListFree(f);
    if (n != 7) {
        VRAL_ERR_SET(ERR_BAD_FORMAT);
        return -1;
    }
    return 0;
}

// Puts the old user's records back after a failed write.
void restore(VEXAUSERDB *db, const char *NAME, int klenName, const char *OLDNAME, int klenOld, const OldUser &old,
             bool restoreUid)
{
    for (VEXABDB *h : {db->pPWDName, db->pPWDSMB, db->pPWDVexaser, db->pPWDShadow})
        VEXABDbDelete(h, NAME, klenName);
    if (OLDNAME == nullptr)
        return;
    const std::pair<VEXABDB *, const Stored *> lines[] = {
        {db->pPWDName, &old.passwd}, {db->pPWDShadow, &old.shadow}, {db->pPWDVexaser, &old.misc}, {db->pPWDSMB, &old.smb}};
    for (const auto &[h, s] : lines) {
        if (s->found)
            store(h, OLDNAME, klenOld, s->text);
    }
    if (restoreUid) {
        const vexauser::UidKey k = vexauser::uidKey(old.user->uid);
        VEXABDbDeleteDup(db->pPWDUID, k.text, sizeof k.text, OLDNAME, klenOld);
        VEXABDbSet(db->pPWDUID, k.text, sizeof k.text, OLDNAME, klenOld);
    }
}

}  // namespace

extern "C" char UserDBSaltChar(int x)
{
    static const char kAlphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz./";
    const long v = x < 0 ? -static_cast<long>(x) : x;
    return kAlphabet[v % 64];
}

namespace {

const char *szSDKIWrapMD5Encrypt(const char *password, const char *salt)
{
    if (password == nullptr || salt == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return nullptr;
    }
    char setting[32];
    if (salt[0] == '\0') {
        const int t = static_cast<int>(time(nullptr));
        snprintf(setting, sizeof setting, "$1$%c%c", UserDBSaltChar(t), UserDBSaltChar(t + 10));
    } else if (VEXAUserIsPasswdMD5Encrypt(salt)) {
        snprintf(setting, sizeof setting, "%s", salt);
    } else {
        snprintf(setting, sizeof setting, "$1$%s", salt);
    }
    const char *hash = crypt(password, setting);
    // anything but an MD5-crypt hash ("*0" and the like) is a failure, not
    // a password to store
    if (hash == nullptr || strncmp(hash, "$1$", 3) != 0) {
        VRAL_ERR_SET(ERR_CONVERSION_FAILED);
        return nullptr;
    }
    return hash;
}

}  // namespace

extern "C" const char *SzSDKIWrapMD5Encrypt(const char *password, const char *salt)
{
    return vral::NoThrow(static_cast<const char *>(nullptr), [&] { return szSDKIWrapMD5Encrypt(password, salt); });
}

namespace {

int userDBSet(VEXAUSERDB *db, const char *OLDNAME, int lenOLDNAME, VEXAUSER *pUser)
{
    if (db == nullptr || pUser == nullptr || db->pPWDSMB == nullptr || db->pPWDShadow == nullptr ||
        (OLDNAME != nullptr && lenOLDNAME <= 0)) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    if (!VEXAUserNameIsValid(pUser->szName)) {
        VRAL_ERR_SET(ERR_BAD_USER_NAME);
        return -1;
    }
    if (!fieldsOk(pUser)) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    char NAME[USER_KEY_SIZE];
    const int len = vexauser::keyForm(pUser->szName, NAME, sizeof NAME);
    if (len < 0) {
        VRAL_LOG_ERR("VRALUnicodeUTF8StrUpper failed [%s]", pUser->szName);
        VRAL_ERR_SET(ERR_BAD_USER_NAME);
        return -1;
    }
    const int klen = len + 1;
    const int klenOld = lenOLDNAME + 1;

    OldUser old;
    bool keepUid = false;
    if (OLDNAME == nullptr) {
        if (VEXAUserDBCheckExists(db, NAME, len, nullptr, 0)) {
            VRAL_ERR_SET(ERR_USER_EXISTS);
            return -1;
        }
    } else {
        if (readOld(db, OLDNAME, klenOld, &old) != 0)
            return -1;
        if (static_cast<unsigned int>(old.user->uid) <= vexauser::deleteFloor()) {
            // a system user is rewritten in place, never renamed
            if (strcmp(OLDNAME, NAME) != 0) {
                VRAL_ERR_SET(ERR_USER_UNDELETABLE);
                return -1;
            }
            keepUid = true;
        }
        if (strcmp(OLDNAME, NAME) != 0 && VEXAUserDBCheckExists(db, NAME, len, nullptr, 0)) {
            VRAL_ERR_SET(ERR_USER_EXISTS);
            return -1;
        }
    }

    // Defaults: shell, password and mail stay in the caller's record, the
    // home only for this call.
    static char kShell[] = "/bin/csh";
    static char kEmpty[] = "";
    if (pUser->szShell == nullptr)
        pUser->szShell = kShell;
    if (pUser->szPasswd == nullptr)
        pUser->szPasswd = kEmpty;
    if (pUser->szMail == nullptr)
        pUser->szMail = kEmpty;
    const std::string home =
        pUser->szHome != nullptr ? pUser->szHome : std::string("/var/services/homes/") + pUser->szName;

    // Everything is computed before the cache is touched.
    std::string passwdLine;
    {
        const char *gecos = pUser->szGecos != nullptr ? pUser->szGecos : "";
        const size_t cbEnc = 2 * strlen(gecos) + 1;
        vral::HeapPtr<char> enc(static_cast<char *>(malloc(cbEnc)));
        if (!enc) {
            VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
            return -1;
        }
        if (VRALStrEncodeColon(gecos, enc.get(), static_cast<int>(cbEnc)) < 0)
            return -1;
        VEXAUSER u = *pUser;
        u.szGecos = enc.get();
        u.szHome = const_cast<char *>(home.c_str());
        char *buf = nullptr;
        int cb = 0;
        if (VEXAUserDBPack(&u, &buf, &cb) < 0)
            return -1;
        passwdLine = buf;
        free(buf);
    }
    const std::string miscLine =
        std::string(pUser->szName) + ":" + std::to_string(pUser->privilege) + ":" + pUser->szMail;

    const char *password = pUser->szPasswd;
    std::string hash;
    bool changed = true;
    if (old.user != nullptr && strcmp(password, old.user->szPasswd) == 0) {
        hash = password;
        changed = false;
    } else {
        // an old hash that is no salt ("*", "!", a locked "!$1$...") gets a
        // fresh one
        const char *salt = old.user != nullptr && strncmp(old.user->szPasswd, "$1$", 3) == 0 &&
                                   VEXAUserIsPasswdMD5Encrypt(old.user->szPasswd)
                               ? old.user->szPasswd
                               : "";
        const char *h = SzSDKIWrapMD5Encrypt(password, salt);
        if (h == nullptr) {
            VRAL_LOG_ERR("SzSDKIWrapMD5Encrypt failed. vexaerr=0x%04X", VRALErrGet());
            return -1;
        }
        hash = h;
    }
    const time_t now = time(nullptr);
    const long day = static_cast<long>((now - now % 86400) / 86400);
    std::string shadowLine = std::string(pUser->szName) + ":" + hash + ":" + std::to_string(day) + ":0:99999:7::";
    shadowLine += pUser->expire > 0 ? std::to_string(pUser->expire) + ":" : ":";

    std::string smbLine;
    std::string lm;
    std::string nt;
    if (changed) {
        unsigned char lmHash[VEXA_SMB_HASH_SIZE];
        unsigned char ntHash[VEXA_SMB_HASH_SIZE];
        if (VEXAEncodingSmbLmHash(password, lmHash, 64) == 0) {
            lm = hex(lmHash);
        } else if (VRALErrGet() == ERR_CONVERSION_FAILED && VRALUnicodeUTF8StrCountChar(password) >= 0) {
            // text the code page cannot hold has no LAN Manager hash: samba's
            // field for none, so no other password's hash logs it in
            lm.assign(VEXA_SMB_HASH_SIZE * 2, 'X');
        } else {
            VRAL_LOG_ERR("file-sharing hash of %s failed. vexaerr=0x%04X", pUser->szName, VRALErrGet());
            return -1;
        }
        if (VEXAEncodingSmbMd4Hash(password, ntHash, 64) != 0) {
            VRAL_LOG_ERR("file-sharing hash of %s failed. vexaerr=0x%04X", pUser->szName, VRALErrGet());
            return -1;
        }
        nt = hex(ntHash);
    } else if (old.smbSound) {
        lm = old.lm;
        nt = old.nt;
    } else {
        // hashes of the stored hash text would become the password
        VRAL_LOG_ERR("no smbpasswd line of %s to keep, none written", pUser->szName);
    }
    if (!lm.empty() || !nt.empty()) {
        char lct[16];
        snprintf(lct, sizeof lct, "%08X", static_cast<unsigned int>(now));
        smbLine = std::string(pUser->szName) + ":" + std::to_string(pUser->uid) + ":" + lm + ":" + nt +
                  ":[U          ]:LCT-" + lct + ":";
    }

    // The cache from here on: a failure puts the old records back and
    // leaves the set for rebuild, so no dump writes a half-done change.
    int r = 0;
    if (old.user != nullptr)
        r = vexauser::removeRecords(db, OLDNAME, klenOld, old.user->uid, keepUid);
    if (r == 0 && store(db->pPWDName, NAME, klen, passwdLine) != 0) {
        VRAL_LOG_ERR("VEXABDbSet pPWDName %s failed. vexaerr=0x%04X", NAME, VRALErrGet());
        r = -1;
    }
    if (r == 0 && !keepUid) {
        const vexauser::UidKey k = vexauser::uidKey(pUser->uid);
        if (VEXABDbSet(db->pPWDUID, k.text, sizeof k.text, NAME, klen) != 0) {
            VRAL_LOG_ERR("VEXABDbSet pPWDUID failed. vexaerr=0x%04X", VRALErrGet());
            r = -1;
        }
    }
    if (r == 0 && store(db->pPWDVexaser, NAME, klen, miscLine) != 0) {
        VRAL_LOG_ERR("VEXABDbSet pPWDVexaser failed. vexaerr=0x%04X", VRALErrGet());
        r = -1;
    }
    if (r == 0 && store(db->pPWDShadow, NAME, klen, shadowLine) != 0) {
        VRAL_LOG_ERR("VEXABDbSet pPWDShadow failed. vexaerr=0x%04X", VRALErrGet());
        r = -1;
    }
    if (r == 0 && !smbLine.empty() && store(db->pPWDSMB, NAME, klen, smbLine) != 0) {
        VRAL_LOG_ERR("VEXABDbSet pPWDSMB failed. vexaerr=0x%04X", VRALErrGet());
        r = -1;
    }
    if (r != 0) {
        const int code = VRALErrGet();
        if (!keepUid) {
            const vexauser::UidKey k = vexauser::uidKey(pUser->uid);
            VEXABDbDeleteDup(db->pPWDUID, k.text, sizeof k.text, NAME, klen);
        }
        restore(db, NAME, klen, OLDNAME, klenOld, old, old.user != nullptr && !keepUid);
        vexabdb::cacheMarkStale(vexauser::kUserSet, db);
        VRALErrSetCode(code);
    }
    return r;
}

}  // namespace

extern "C" int VEXAUserDBSet(VEXAUSERDB *db, const char *OLDNAME, int lenOLDNAME, VEXAUSER *pUser)
{
    return vexabdb::cacheWriteGuarded(vexauser::kUserSet, db, [&] { return userDBSet(db, OLDNAME, lenOLDNAME, pUser); });
}

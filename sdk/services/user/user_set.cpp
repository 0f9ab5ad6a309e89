#include <signal.h>
#include <strings.h>
#include <sys/file.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

#include "base/err/err_guard.h"
#include "base/file/vral_file.h"
#include "base/lock/vral_lock.h"
#include "base/unicode/vral_unicode.h"
#include "services/fetchcrate/vexa_fetchcrate.h"
#include "services/group/group_internal.h"
#include "services/share/share_internal.h"
#include "services/user/user_set_internal.h"
#include "services/user/vexa_user_query.h"

namespace {

constexpr int kBatchLocks = LOCK_ID_PW | LOCK_ID_GR | LOCK_ID_SMB;

// The key form of a user's name, or -1 (logged as a bad name).
int newKey(const VEXAUSER *user, char (&NAME)[USER_KEY_SIZE])
{
    const int len = user->szName != nullptr ? vexauser::keyForm(user->szName, NAME, sizeof NAME) : -1;
    if (len <= 0)
        USER_NOTICE("pUser->szName[%s] is BAD.", user->szName != nullptr ? user->szName : "");
    return len;
}

// Moves "#CURRENT_UID" to uid.  0 or -1.
int storeCurrentUid(VEXAUSERDB *db, int uid)
{
    if (VEXABDbDelete(db->pPWDUID, USER_KEY_CURRENT_UID, USER_KEY_CURRENT_UID_LEN) != 0 &&
        VRALErrGet() != ERR_NOT_FOUND) {
        VRAL_ERR_SET(ERR_DB_DEL_FAILED);
        return -1;
    }
    if (VEXABDbSet(db->pPWDUID, USER_KEY_CURRENT_UID, USER_KEY_CURRENT_UID_LEN, &uid, sizeof uid) != 0) {
        VRAL_ERR_SET(ERR_DB_PUT_FAILED);
        return -1;
    }
    return 0;
}

int UserSetNew(VEXAUSERDB *db, VEXAUSER *user)
{
    char NAME[USER_KEY_SIZE];
    const int len = newKey(user, NAME);
    if (len <= 0)
        return -1;
    if (VEXAUserDBCheckExists(db, NAME, len, nullptr, 0) == 1) {
        VRAL_LOG_ERR("pUser->szName[%s] is EXIST.", user->szName);
        VRAL_ERR_SET(ERR_USER_EXISTS);
        return -1;
    }
    if (user->gid == -1)
        user->gid = USER_DEFAULT_GID;
    const bool allocated = user->uid == -1;
    if (allocated) {
        const int uid = VEXAUserGetFreeUid(db);
        if (uid < 0) {
            VRAL_LOG_ERR("VEXAUserGetFreeUid failed. VexaErr=[0x%04X]", VRALErrGet());
            return -1;
        }
        user->uid = uid;
    }
    if (VEXAUserDBSet(db, nullptr, 0, user) != 0)
        return -1;
    if (allocated && storeCurrentUid(db, user->uid) != 0) {
        // the user stays out, so the marker and the users agree
        const int code = VRALErrGet();
        VEXAUserDBDelete(db, NAME);
        VRALErrSetCode(code);
        return -1;
    }
    return 0;
}

// The caller's home pointer is put back on every return: the record never
// points into this call's buffer.
struct HomeRestore {
    VEXAUSER *user;
    char *saved;
    ~HomeRestore() { user->szHome = saved; }
};

int UserSetUpdate(VEXAUSERDB *db, const char *oldName, VEXAUSER *user, VRALSzHash **ppMap)
{
    char home[524];
    HomeRestore restore{user, user->szHome};
    if (user->szName != nullptr) {
        snprintf(home, sizeof home, "%s/%s", "/var/services/homes", user->szName);
        user->szHome = home;
    }
    char NAME[USER_KEY_SIZE];
    const int len = newKey(user, NAME);
    if (len <= 0)
        return -1;
    const bool newExists = VEXAUserDBCheckExists(db, NAME, len, nullptr, 0) == 1;
    if (VRALUnicodeUTF8StrCaseCmp(oldName, user->szName) != 0) {
        if (newExists) {
            VRAL_LOG_ERR("pUser->szName[%s] is EXIST.", user->szName);
            VRAL_ERR_SET(ERR_USER_EXISTS);
            return -1;
        }
    } else if (!newExists) {
        VRAL_LOG_ERR("szOldName=[%s] is NOT EXIST.", oldName);
        return -1;
    }
    char OLDNAME[USER_KEY_SIZE];
    const int oldLen = vexauser::keyForm(oldName, OLDNAME, sizeof OLDNAME);
    if (oldLen <= 0) {
        VRAL_LOG_ERR("VRALUnicodeUTF8StrUpper [%s] failed.", oldName);
        return -1;
    }
    if (SzVRALSzHashGetValue(*ppMap, OLDNAME) != nullptr) {
        USER_NOTICE("Duplicated key:[%s]", OLDNAME);
        return -1;
    }
    if (VEXAUserDBCheckExists(db, OLDNAME, oldLen, nullptr, 0) != 1) {
        VRAL_LOG_ERR("szOldName=[%s] is NOT EXIST.", oldName);
        return -1;
    }
    if (VRALSzHashSetValue(ppMap, OLDNAME, user->szName) < 0) {
        VRAL_LOG_ERR("HashSetValue failed.");
        return -1;
    }
    if (user->gid == -1)
        user->gid = USER_DEFAULT_GID;
    int r = 0;
    if (user->uid == -1) {
        VEXAUSER *stored = nullptr;
        if (VEXAUserDBGet(db, OLDNAME, &stored) != 0) {
            VRAL_LOG_ERR("VEXAUserDBGet failed. VexaErr=[0x%04X]", VRALErrGet());
            r = -1;
        } else {
            user->uid = stored->uid;
        }
        VEXAUserFree(stored);
    }
    if (r == 0)
        r = VEXAUserDBSet(db, OLDNAME, oldLen, user);
    if (r != 0) {
        const int code = VRALErrGet();
        SzVRALSzHashRemove(*ppMap, OLDNAME);
        VRALErrSetCode(code);
    }
    return r;
}

void signalScheduler()
{
    char value[4] = {};
    if (VRALFileGetKeyValue("/etc.defaults/vexainfo.conf", "support_download", value, sizeof value, 0) <= 0 ||
        strcasecmp(value, "yes") != 0)
        return;
    if (VEXADownloadSignalScheduler(SIGUSR1) != 0)
        syslog(LOG_ERR, "%s (%d)Failed to signal scheduled.", __FILE_NAME__, __LINE__);
}

// Takes the renames that keep the name byte for byte out of the map.
void dropUnchanged(const vexauser::Batch &b, VRALSzHash *map)
{
    for (int i = 0; i < b.n; ++i) {
        if (!b.isWritten(i) || b.isNew(i) || b.renames(i))
            continue;
        char OLDNAME[USER_KEY_SIZE];
        if (vexauser::keyForm(b.oldNames[i], OLDNAME, sizeof OLDNAME) > 0)
            SzVRALSzHashRemove(map, OLDNAME);
    }
}

// What the batch holds: the locks it took, its database, map and flags.
struct BatchState {
    bool locked = false;
    VEXAUSERDB *db = nullptr;
    VRALSzHash *map = nullptr;
    unsigned char *written = nullptr;
    const int exceptions = std::uncaught_exceptions();
    void closeDb()
    {
        VEXAUserDBClose(db);
        db = nullptr;
    }
    // Closes and releases what was taken: r, or -1 when the release fails.
    int finish(int r)
    {
        closeDb();
        if (locked) {
            locked = false;
            const int code = VRALErrGet();
            if (VRALFileUnlock(kBatchLocks) != 0) {
                VRAL_ERR_SET(ERR_UNLOCK_FAILED);
                return -1;
            }
            VRALErrSetCode(code);
        }
        return r;
    }
    ~BatchState()
    {
        // thrown out half-way: the writes made so far never pass as current
        if (db != nullptr && std::uncaught_exceptions() > exceptions)
            vexabdb::cacheMarkStale(vexauser::kUserSet, db);
        (void)finish(0);
        VRALSzHashFree(map);
        free(written);
    }
};

// 0 when the group and share sets open current, else the code of what
// failed (a build or rebuild; logged).
int renameSetsCode()
{
    VRALErrSetCode(0);
    VEXAGROUPDB *g = VEXAGroupDBOpen();
    bool current = g != nullptr && vexabdb::cacheIsCurrent(vexagroup::kGroupSet, g) == 1;
    int code = VRALErrGet();
    if (g != nullptr)
        VEXAGroupDBClose(g);
    if (current) {
        VEXASHAREDB *sh = VEXAShareDBOpen();
        current = sh != nullptr && vexabdb::cacheIsCurrent(vexashare::kShareSet, sh) == 1;
        code = VRALErrGet();
        if (sh != nullptr)
            VEXAShareDBClose(sh);
    }
    if (current)
        return 0;
    if (code == 0)
        code = ERR_OPEN_FAILED;
    VRAL_LOG_ERR("group or share set not current, renames refused. vexaerr=0x%04X", code);
    return code;
}

// A rename the batch cannot carry: the sets behind the lists are not
// current, or its old name is the new name of an earlier rename (the
// lists would take both steps as one).  true refused (logged, code set).
bool refusedRename(const char *oldName, int setsCode, const vexauser::SeenNames &renamedTo)
{
    if (setsCode != 0) {
        VRALErrSetCode(setsCode);
        return true;
    }
    char OLDNAME[USER_KEY_SIZE];
    if (vexauser::keyForm(oldName, OLDNAME, sizeof OLDNAME) > 0 && renamedTo.has(OLDNAME)) {
        USER_NOTICE("Duplicated key:[%s]", OLDNAME);
        return true;
    }
    return false;
}

// After the database, the account files: the groups and shares, the
// services, the homes and the chroot list follow.  0 or -1.
int followChanges(const vexauser::Batch &b, VRALSzHash *map)
{
    if (map->nItem > 0) {
        if (VEXAUserModifySmbConf(map) != 0)
            VRAL_LOG_ERR("VEXAUserModifySmbConf failed. vexaerr=0x%04X", VRALErrGet());
        if (VEXAUserModifyGroup(map) != 0)
            VRAL_LOG_ERR("VEXAUserModifyGroup failed. vexaerr=0x%04X", VRALErrGet());
    }
    for (int i = 0; i < b.n; ++i) {
        if (!b.isWritten(i))
            continue;
        const VEXAUSER *u = b.users[i];
        if (strcmp(u->szName, "guest") == 0 && vexauser::SDKISetGuestAfpd(u->szPasswd[0] == '\0') != 0)
            VRAL_LOG_ERR("SDKISetGuestAfpd failed. vexaerr=0x%04X", VRALErrGet());
        vexauser::NetBackupAuthUserSet(b.oldNames[i], u);
    }
    vexauser::SDKISetUserHome(b);
    return vexauser::SDKISetFTPChrootUser(b);
}

}  // namespace

namespace {

int userSetMulti(const char **oldNames, VEXAUSER **users, int n)
{
    if (oldNames == nullptr || users == nullptr || n < 0) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    if (n == 0)
        return 0;
    BatchState st;
    st.map = VRALSzHashAlloc(512);
    st.written = static_cast<unsigned char *>(calloc(static_cast<size_t>(n), 1));
    if (st.map == nullptr || st.written == nullptr) {
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return -1;
    }
    if (VRALFileLock(kBatchLocks | LOCK_EX | LOCK_NB, 5) != 0) {
        VRAL_ERR_SET(ERR_LOCK_FAILED);
        return -1;
    }
    st.locked = true;
    st.db = VEXAUserDBOpen();
    if (st.db == nullptr) {
        vexabdb::cacheOpenFailed();
        return st.finish(-1);
    }
    const vexauser::Batch b{oldNames, users, n, st.written};
    // The group and share caches are built now, while the old names are
    // users: built after the writes, they would have dropped them.  Sets
    // that cannot be had current would miss the renames: they are refused.
    int setsCode = 0;
    for (int i = 0; i < n; ++i) {
        if (oldNames[i] != nullptr) {
            setsCode = renameSetsCode();
            break;
        }
    }
    vexauser::SeenNames renamedTo;
    if (!renamedTo.ok()) {
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return st.finish(-1);
    }
    int nWritten = 0;
    for (int i = 0; i < n; ++i) {
        if (users[i] == nullptr) {
            VRAL_ERR_SET(ERR_BAD_PARAMETERS);
            continue;
        }
        if (oldNames[i] != nullptr && users[i]->szName != nullptr && strcmp(oldNames[i], users[i]->szName) != 0 &&
            refusedRename(oldNames[i], setsCode, renamedTo)) {
            USER_NOTICE("UserSetUpdate() failed. vexaerr=0x%04X", VRALErrGet());
            continue;
        }
        if (oldNames[i] == nullptr) {
            if (UserSetNew(st.db, users[i]) != 0) {
                USER_NOTICE("UserSetNew() failed. vexaerr=0x%04X", VRALErrGet());
                continue;
            }
        } else if (UserSetUpdate(st.db, oldNames[i], users[i], &st.map) != 0) {
            USER_NOTICE("UserSetUpdate() failed. vexaerr=0x%04X", VRALErrGet());
            continue;
        }
        st.written[i] = 1;
        ++nWritten;
        char NEWNAME[USER_KEY_SIZE];
        if (b.renames(i) && vexauser::keyForm(users[i]->szName, NEWNAME, sizeof NEWNAME) > 0)
            renamedTo.first(NEWNAME);
    }
    // the code of the last write, not of the steps after it
    const int code = VRALErrGet();
    dropUnchanged(b, st.map);
    signalScheduler();
    if (nWritten == 0) {
        VRALErrSetCode(code);
        return st.finish(-1);
    }
    if (VEXAUserDBDump(st.db) != 0) {
        VRAL_LOG_ERR("VEXAUserDBDump failed. vexaerr=0x%04X", VRALErrGet());
        // the next open rebuilds from the account files, as they still are
        const int code = VRALErrGet();
        vexabdb::cacheMarkStale(vexauser::kUserSet, st.db);
        VRALErrSetCode(code);
        return st.finish(-1);
    }
    st.closeDb();
    return st.finish(followChanges(b, st.map));
}

}  // namespace

extern "C" int VEXAUserSetMulti(const char **oldNames, VEXAUSER **users, int n)
{
    return vral::NoThrow(-1, [&] { return userSetMulti(oldNames, users, n); });
}

namespace {

int userSet(const char *oldName, VEXAUSER *user)
{
    if (user == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    return VEXAUserSetMulti(&oldName, &user, 1);
}

}  // namespace

extern "C" int VEXAUserSet(const char *oldName, VEXAUSER *user)
{
    return vral::NoThrow(-1, [&] { return userSet(oldName, user); });
}

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "base/err/err_guard.h"
#include "base/proc/vral_proc.h"
#include "services/group/group_internal.h"
#include "services/user/vexa_user_list.h"

namespace {

using vexauser::LineReader;

// 0 when the reader stopped at the end of its file, else -1 (logged).
int readEnd(const LineReader &in)
{
    if (in.atEnd())
        return 0;
    VRAL_LOG_ERR("feof failed. errno=%d/%m", errno);
    VRAL_ERR_SET(ERR_READ_FAILED);
    return -1;
}

struct UserDbOwner {
    VEXAUSERDB *db = VEXAUserDBOpen();
    ~UserDbOwner() { VEXAUserDBClose(db); }
};

// A second line of one key form ("staff" and "Staff") would leave one of
// the two out of every dump: 0 when NAME is new, else -1 (logged,
// ERR_BAD_FORMAT, as a name without a key form).
int keyTaken(VEXAGROUPDB *db, const LineReader &in, const char *line, const char *NAME, int len)
{
    vexagroup::Buf stored;
    if (VEXABDbGet(db->pGRPName, NAME, len + 1, &stored.p, &stored.cb) != 0)
        return VRALErrGet() == ERR_NOT_FOUND ? 0 : -1;
    const std::string value(stored.p, stored.cb > 0 ? static_cast<size_t>(stored.cb) - 1 : 0);
    const std::string before = value.substr(0, value.find(':'));
    VRAL_LOG_ERR("%s line %d: group %.*s has the key of group %s", in.path(), in.lineNo(),
                 static_cast<int>(strcspn(line, ":")), line, before.c_str());
    VRAL_ERR_SET(ERR_BAD_FORMAT);
    return -1;
}

int localBuild(VEXAGROUPDB *db)
{
    LineReader in(GROUP_FILE);
    UserDbOwner users;
    if (!in.ok() || users.db == nullptr) {
        vexabdb::cacheOpenFailed();
        return -1;
    }
    char NAME[vexagroup::kKeySize];
    vexagroup::Buf members;
    std::string value;
    while (char *line = in.next()) {
        vexauser::IdLine f;
        const int r = vexauser::idLine(in, line, NAME, sizeof NAME, &f);
        if (r < 0)
            return -1;
        if (r == 0)
            continue;
        const int len = f.len;
        if (keyTaken(db, in, line, NAME, len) != 0)
            return -1;
        if (VEXAUserGetValidUserList2(f.rest, &members.p, &members.cb, nullptr, users.db) != 0) {
            VRAL_LOG_ERR("VEXAUserGetValidUserList2() failed! vexaerr=0x%04X", VRALErrGet());
            return -1;
        }
        value.assign(line, static_cast<size_t>(f.rest - line));
        value += members.p;
        const vexauser::UidKey k = vexagroup::gidKey(f.id);
        if (VEXABDbSet(db->pGRPName, NAME, len + 1, value.c_str(), static_cast<int>(value.size()) + 1) != 0 ||
            VEXABDbSet(db->pGRPGID, k.text, sizeof k.text, NAME, len + 1) != 0) {
            VRAL_LOG_ERR("VEXABDbSet() failed! vexaerr=0x%04X", VRALErrGet());
            return -1;
        }
    }
    return readEnd(in);
}

int currentGidBuild(VEXAGROUPDB *db)
{
    LineReader in(GROUP_FILE);
    if (!in.ok()) {
        VRAL_ERR_SET(ERR_OPEN_FAILED);
        return -1;
    }
    const char *prefix = vexagroup::gidHeaderPrefix();
    const size_t cbPrefix = strlen(prefix);
    long value = -1;
    while (const char *line = in.next()) {
        const char *p = strchr(line, '#');
        if (p == nullptr || strncmp(p, prefix, cbPrefix) != 0)
            continue;
        char *end = nullptr;
        value = strtol(p + cbPrefix, &end, 10);
        if (*end == '$')
            break;
    }
    int gid = static_cast<int>(value);
    if (value < GROUP_FIRST_GID || value > GROUP_LAST_GID) {
        if (vexagroup::lastIndexedGid(db->pGRPGID, &gid) != 0)
            return -1;
    }
    return vexagroup::storeCurrentGid(db, gid);
}

int descBuild(VEXAGROUPDB *db)
{
    LineReader in(GROUP_FILE_DESC);
    if (!in.ok()) {
        VRAL_ERR_SET(ERR_OPEN_FAILED);
        return -1;
    }
    char NAME[vexagroup::kLookupKeySize];
    while (char *line = in.next()) {
        if (line[0] == '#')
            continue;
        char *colon = strchr(line, ':');
        if (colon == nullptr) {
            VRAL_LOG_ERR("%s format error, group name = %s", GROUP_FILE_DESC, line);
            continue;
        }
        *colon = '\0';
        const int len = vexauser::keyForm(line, NAME, sizeof NAME);
        *colon = ':';
        if (len < 0) {
            // no group can carry it: its name has no key
            VRAL_LOG_ERR("%s line %d: group name has no key form, skipped", in.path(), in.lineNo());
            continue;
        }
        if (VEXABDbSet(db->pGRPDesc, NAME, len + 1, line, static_cast<int>(strlen(line)) + 1) != 0)
            return -1;
    }
    return readEnd(in);
}

}  // namespace

namespace vexagroup {

int lastIndexedGid(VEXABDB *gidDb, int *pGid)
{
    char *key = nullptr;
    char *data = nullptr;
    int cbKey = 0;
    int cbData = 0;
    if (VEXABDbCursorSetType(gidDb, BDB_CURSOR_LAST) != 0) {
        VRAL_ERR_SET(ERR_CONVERSION_FAILED);
        return -1;
    }
    const int r = VEXABDbCursorGet(gidDb, 1, &key, &cbKey, &data, &cbData);
    if (r == 0)
        *pGid = cbKey > 0 && key[cbKey - 1] == '\0' ? atoi(key) : 0;
    free(key);
    free(data);
    VEXABDbCursorSetType(gidDb, BDB_CURSOR_NEXT);
    if (r != 0) {
        VRAL_ERR_SET(ERR_DB_GET_FAILED);
        return -1;
    }
    return 0;
}

int storeCurrentGid(VEXAGROUPDB *db, int gid)
{
    if (VEXABDbSet(db->pGRPGID, GROUP_KEY_CURRENT_GID, GROUP_KEY_CURRENT_GID_LEN, &gid, sizeof gid) != 0) {
        VRAL_ERR_SET(ERR_DB_PUT_FAILED);
        return -1;
    }
    return 0;
}

int currentGid(VEXAGROUPDB *db, int *pGid)
{
    char *p = nullptr;
    int cb = 0;
    if (VEXABDbGet(db->pGRPGID, GROUP_KEY_CURRENT_GID, GROUP_KEY_CURRENT_GID_LEN, &p, &cb) != 0)
        return -1;
    const bool ok = cb == static_cast<int>(sizeof *pGid);
    if (ok)
        memcpy(pGid, p, sizeof *pGid);
    free(p);
    if (!ok) {
        VRAL_ERR_SET(ERR_BAD_FORMAT);
        return -1;
    }
    return 0;
}

}  // namespace vexagroup

namespace {

int groupDBBuild(VEXAGROUPDB *db)
{
    if (db == nullptr || db->pGRPName == nullptr || db->pGRPGID == nullptr || db->pGRPDesc == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    // the sources are looked at before they are read: a change during the
    // build leaves the set stale, never current
    struct stat st[vexagroup::kSourceCount];
    if (vexabdb::cacheStatSources(vexagroup::kGroupSet, st) != 0)
        return -1;
    if (localBuild(db) != 0 || currentGidBuild(db) != 0)
        return -1;
    if (GroupDBDomainBuild(db->pGRPName) != 0) {
        VRAL_LOG_ERR("GroupDBDomainBuild() failed! vexaerr=0x%04X", VRALErrGet());
        VEXAProcExec("/usr/vexa/bin/vexalogset1", "sys", "err", "0x1180050A", nullptr);
    }
    if (descBuild(db) != 0)
        return -1;
    if (vexabdb::cacheStoreSources(vexagroup::kGroupSet, db, st) != 0) {
        VRAL_LOG_ERR("GroupDbConfSyncTimeSet() failed! vexaerr=0x%04X", VRALErrGet());
        return -1;
    }
    return 0;
}

}  // namespace

extern "C" int VEXAGroupDBBuild(VEXAGROUPDB *db)
{
    return vral::NoThrow(-1, [&] { return groupDBBuild(db); });
}

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>

#include "base/err/err_guard.h"
#include "base/proc/vral_proc.h"
#include "services/bdb/bdb_sorted_puts.h"
#include "services/user/user_internal.h"

namespace {

using vexauser::LineReader;

// A name without a usable key form stops the build: storing it under the
// empty key, or not at all, would lose the account at the next dump.
int badName(const LineReader &in)
{
    VRAL_LOG_ERR("%s line %d: name has no key form", in.path(), in.lineNo());
    VRAL_ERR_SET(ERR_BAD_FORMAT);
    return -1;
}

}  // namespace

namespace vexauser {

int idLine(const LineReader &in, char *line, char *NAME, int cb, IdLine *out)
{
    if (line[0] == '#')
        return 0;
    char *c1 = strchr(line, ':');
    char *c2 = c1 != nullptr ? strchr(c1 + 1, ':') : nullptr;
    char *c3 = c2 != nullptr ? strchr(c2 + 1, ':') : nullptr;
    if (c3 == nullptr)
        return 0;
    out->id = atoi(c2 + 1);
    out->rest = c3 + 1;
    if (out->id == 0 && c2[1] != '0') {
        VRAL_LOG_ERR("%s line %d: bad id", in.path(), in.lineNo());
        VRAL_ERR_SET(ERR_BAD_FORMAT);
        return -1;
    }
    *c1 = '\0';
    out->len = keyForm(line, NAME, cb);
    *c1 = ':';
    return out->len < 0 ? badName(in) : 1;
}

}  // namespace vexauser

namespace {

// Puts what was gathered: 0, or -1 (logged).
int putAll(vexabdb::SortedPuts &puts)
{
    if (puts.flush() == 0)
        return 0;
    VRAL_LOG_ERR("VEXABDbSet() failed! vexaerr=0x%04X", VRALErrGet());
    return -1;
}

// 0 when the reader stopped at the end of its file, else -1 (logged).
int readEnd(const LineReader &in, const char *what)
{
    if (in.atEnd())
        return 0;
    VRAL_LOG_ERR("%s. errno=%d/%m", what, errno);
    VRAL_ERR_SET(ERR_READ_FAILED);
    return -1;
}

// Gathers the name file's records into names (put once the domain users
// have joined them) and puts the uid index's, in key order.
int passwdBuild(VEXAUSERDB *db, vexabdb::SortedPuts &names)
{
    if (db->pPWDName == nullptr || db->pPWDUID == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    LineReader in(USER_FILE_PASSWD);
    if (!in.ok()) {
        VRAL_ERR_SET(ERR_OPEN_FAILED);
        return -1;
    }
    vexabdb::SortedPuts uids(db->pPWDUID);
    char name[USER_KEY_SIZE + 1];
    while (char *line = in.next()) {
        vexauser::IdLine f;
        const int r = vexauser::idLine(in, line, name, sizeof name, &f);
        if (r < 0)
            return -1;
        if (r == 0)
            continue;
        const vexauser::UidKey k = vexauser::uidKey(f.id);
        const int len = f.len;
        if (names.add(name, len + 1, line, static_cast<int>(strlen(line)) + 1) != 0 ||
            uids.add(k.text, sizeof k.text, name, len + 1) != 0)
            return -1;
    }
    if (readEnd(in, "feof failed") != 0)
        return -1;
    return putAll(uids);
}

int nextUidBuild(VEXAUSERDB *db)
{
    if (db->pPWDUID == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    LineReader in(USER_FILE_VEXAUSER);
    if (!in.ok()) {
        VRAL_ERR_SET(ERR_OPEN_FAILED);
        return -1;
    }
    static const char kHeader[] = "#$_@UID__INDEX@_$";
    long value = -1;
    while (const char *line = in.next()) {
        const char *p = strchr(line, '#');
        if (p == nullptr || strncmp(p, kHeader, sizeof kHeader - 1) != 0)
            continue;
        char *end = nullptr;
        value = strtol(p + sizeof kHeader - 1, &end, 10);
        if (*end == '$')
            break;
    }
    if (value < 1024 || value > 3072) {
        // the highest uid in the index
        char *key = nullptr;
        char *data = nullptr;
        int cbKey = 0;
        int cbData = 0;
        VEXABDbCursorSetType(db->pPWDUID, BDB_CURSOR_LAST);
        const int r = VEXABDbCursorGet(db->pPWDUID, 1, &key, &cbKey, &data, &cbData);
        value = r == 0 && key[cbKey - 1] == '\0' ? atoi(key) : 0;
        free(key);
        free(data);
        if (r != 0) {
            VRAL_ERR_SET(ERR_DB_GET_FAILED);
            return -1;
        }
    }
    const int current = static_cast<int>(value);
    if (VEXABDbSet(db->pPWDUID, USER_KEY_CURRENT_UID, USER_KEY_CURRENT_UID_LEN, &current, sizeof current) != 0) {
        VRAL_ERR_SET(ERR_DB_PUT_FAILED);
        return -1;
    }
    return 0;
}

}  // namespace

namespace {

int userDBGetLineBuild(VEXABDB *h, const char *path, const char *delims)
{
    if (h == nullptr || path == nullptr || delims == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    LineReader in(path);
    if (!in.ok()) {
        VRAL_ERR_SET(ERR_OPEN_FAILED);
        return -1;
    }
    vexabdb::SortedPuts puts(h);
    char name[USER_KEY_SIZE];
    while (char *line = in.next()) {
        if (line[0] == '#')
            continue;
        const size_t n = strcspn(line, delims);
        if (line[n] == '\0') {
            // the line itself may be a password hash: only its place is logged
            VRAL_LOG_ERR("%s format error, line %d", path, in.lineNo());
            continue;
        }
        const char saved = line[n];
        line[n] = '\0';
        const int len = vexauser::keyForm(line, name, sizeof name);
        line[n] = saved;
        if (len < 0)
            return badName(in);
        if (puts.add(name, len + 1, line, static_cast<int>(strlen(line)) + 1) != 0)
            return -1;
    }
    if (readEnd(in, "Fail to read the end of the file") != 0)
        return -1;
    return puts.flush();
}

}  // namespace

extern "C" int UserDBGetLineBuild(VEXABDB *h, const char *path, const char *delims)
{
    return vral::NoThrow(-1, [&] { return userDBGetLineBuild(h, path, delims); });
}

namespace {

int userDBBuild(VEXAUSERDB *db)
{
    if (db == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    // every source is looked at before it is read: a change during the
    // build leaves the set stale, never current
    struct stat st[vexauser::kSourceCount];
    if (vexabdb::cacheStatSources(vexauser::kUserSet, st) != 0)
        return -1;
    vexabdb::SortedPuts names(db->pPWDName);
    if (passwdBuild(db, names) != 0) {
        VRAL_LOG_ERR("UserDBPasswdBuild() failed! vexaerr=0x%04X", VRALErrGet());
        return -1;
    }
    if (nextUidBuild(db) != 0) {
        VRAL_LOG_ERR("UserDBNextUidBuild() failed! vexaerr=0x%04X", VRALErrGet());
        return -1;
    }
    // the domain users join the local ones, and the name file is put whole
    // (what a failed domain step gathered stays, as it would have been put)
    if (vexauser::domainListBuild(db->pPWDName, vexauser::kDomainUsers, &names) != 0) {
        VRAL_LOG_ERR("UserDBDomainBuild() failed! vexaerr=0x%04X", VRALErrGet());
        VEXAProcExec("/usr/vexa/bin/vexalogset1", "sys", "err", "0x1180050A", nullptr);
    }
    if (putAll(names) != 0) {
        VRAL_LOG_ERR("UserDBPasswdBuild() failed! vexaerr=0x%04X", VRALErrGet());
        return -1;
    }
    if (UserDBGetLineBuild(db->pPWDShadow, USER_FILE_SHADOW, ":") != 0 ||
        UserDBGetLineBuild(db->pPWDVexaser, USER_FILE_VEXAUSER, ":") != 0 ||
        UserDBGetLineBuild(db->pPWDSMB, USER_FILE_SMBPASSWD, ":") != 0) {
        VRAL_LOG_ERR("UserDBGetLineBuild() failed! vexaerr=0x%04X", VRALErrGet());
        return -1;
    }
    if (vexabdb::cacheStoreSources(vexauser::kUserSet, db, st) != 0) {
        VRAL_LOG_ERR("UserDbConfSyncTimeSet() failed! vexaerr=0x%04X", VRALErrGet());
        return -1;
    }
    return 0;
}

}  // namespace

extern "C" int VEXAUserDBBuild(VEXAUSERDB *db)
{
    return vral::NoThrow(-1, [&] { return userDBBuild(db); });
}

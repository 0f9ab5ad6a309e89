#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "base/file/file_tmp_file.h"
#include "services/user/user_internal.h"

namespace {

enum { kSmb, kShadow, kPasswd, kVexauser };

struct Walk {
    char *key = nullptr;
    char *data = nullptr;
    char *line = nullptr;
    int cbKey = 0;
    int cbData = 0;
    int cbLine = 0;
    ~Walk()
    {
        free(key);
        free(data);
        free(line);
    }
};

// Appends NAME's line of h and a newline; 1 written, 0 none, -1 failure.
int appendLine(VEXABDB *h, const char *NAME, int klen, Walk &w, std::string &out)
{
    if (vexauser::getLine(h, NAME, klen, &w.line, &w.cbLine) != 0)
        return VRALErrGet() == ERR_NOT_FOUND ? 0 : -1;
    out.append(w.line);
    out.push_back('\n');
    return 1;
}

// Walks the uid index and fills the four files' texts in uid order.
int fill(VEXAUSERDB *db, std::unique_ptr<vralfile::TmpFile> (&files)[4])
{
    Walk w;
    if (VEXABDbCursorSetType(db->pPWDUID, BDB_CURSOR_FIRST) != 0) {
        VRAL_LOG_ERR("VEXABDbCursorSetType() failed, vexaerr=0x%04X", VRALErrGet());
        return -1;
    }
    if (VEXABDbCursorGet(db->pPWDUID, 1, &w.key, &w.cbKey, &w.data, &w.cbData) != 0) {
        VRAL_LOG_ERR("VEXABDbCursorGet() failed! vexaerr=0x%04X", VRALErrGet());
        return -1;
    }
    if (VEXABDbCursorSetType(db->pPWDUID, BDB_CURSOR_NEXT) != 0) {
        VRAL_LOG_ERR("VEXABDbCursorSetType() failed. vexaerr=0x%04X", VRALErrGet());
        return -1;
    }
    do {
        if (w.data[w.cbData - 1] != '\0') {
            VRAL_ERR_SET(ERR_BAD_FORMAT);
            return -1;
        }
        if (strchr(w.data, '\\') != nullptr)
            continue;
        if (appendLine(db->pPWDName, w.data, w.cbData, w, files[kPasswd]->text()) != 1) {
            VRAL_LOG_ERR("VEXABDbGet(pUserDb->pPWDName) [%s] failed. vexaerr=0x%04X", w.data, VRALErrGet());
            return -1;
        }
        // a user without a shadow line is logged, not kept from the others
        const int shadow = appendLine(db->pPWDShadow, w.data, w.cbData, w, files[kShadow]->text());
        if (shadow != 1)
            VRAL_LOG_ERR("VEXABDbGet(pUserDb->pPWDShadow) [%s] failed. vexaerr=0x%04X", w.data, VRALErrGet());
        if (shadow < 0)
            return -1;
        if (appendLine(db->pPWDVexaser, w.data, w.cbData, w, files[kVexauser]->text()) < 0 ||
            appendLine(db->pPWDSMB, w.data, w.cbData, w, files[kSmb]->text()) < 0)
            return -1;
    } while (VEXABDbCursorGet(db->pPWDUID, 1, &w.key, &w.cbKey, &w.data, &w.cbData) == 0);
    return VRALErrGet() == ERR_END_OF_RECORDS ? 0 : -1;
}

}  // namespace

namespace {

int userDBDump(VEXAUSERDB *db)
{
    if (db == nullptr || db->pPWDSMB == nullptr || db->pPWDShadow == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    // The cache must still mirror the account files: an edit made since,
    // or a write that failed half-way, is never overwritten by it.
    if (!vexabdb::cacheIsCurrent(vexauser::kUserSet, db)) {
        VRAL_LOG_ERR("user db does not mirror the account files, not dumped");
        VRAL_ERR_SET(ERR_OPEN_FAILED);
        return -1;
    }
    std::unique_ptr<vralfile::TmpFile> files[4];
    for (int i = 0; i < 4; ++i) {
        const vexauser::DumpFile &f = vexauser::kDumpFiles[i];
        files[i] = std::make_unique<vralfile::TmpFile>(f.target, f.tmp, f.defaultMode);
        if (!files[i]->ok())
            return -1;
    }
    int current = 0;
    char *p = nullptr;
    int cb = 0;
    if (VEXABDbGet(db->pPWDUID, USER_KEY_CURRENT_UID, USER_KEY_CURRENT_UID_LEN, &p, &cb) != 0 ||
        cb != static_cast<int>(sizeof current)) {
        free(p);
        VRAL_LOG_ERR("VEXABDbGet() failed, vexaerr=0x%04X", VRALErrGet());
        return -1;
    }
    memcpy(&current, p, sizeof current);
    free(p);
    files[kVexauser]->text() = "#$_@UID__INDEX@_$" + std::to_string(current) +
                               "$\n# record user misc, format \"user_name:user_privilege:user_mail\"\n";
    if (fill(db, files) != 0)
        return -1;
    for (auto &f : files) {
        if (f->finish() != 0)
            return -1;
    }
    for (int i = 0; i < 4; ++i) {
        if (files[i]->moveIn() != 0) {
            // the account files are no longer one state the cache mirrors
            vexabdb::cacheMarkStale(vexauser::kUserSet, db);
            return -1;
        }
    }
    struct stat st[vexauser::kSourceCount];
    st[vexauser::kSrcPasswd] = files[kPasswd]->written();
    st[vexauser::kSrcPasswdUid] = files[kPasswd]->written();
    st[vexauser::kSrcVexauser] = files[kVexauser]->written();
    st[vexauser::kSrcShadow] = files[kShadow]->written();
    st[vexauser::kSrcSmb] = files[kSmb]->written();
    if (vexabdb::cacheStoreSources(vexauser::kUserSet, db, st) != 0) {
        VRAL_LOG_ERR("UserDbConfSyncTimeSet() failed! vexaerr=0x%04X", VRALErrGet());
        return -1;
    }
    return 0;
}

}  // namespace

extern "C" int VEXAUserDBDump(VEXAUSERDB *db)
{
    return vexabdb::cacheWriteGuarded(vexauser::kUserSet, db, [&] { return userDBDump(db); });
}

#include <cstdlib>
#include <cstring>
#include <string>

#include "base/err/err_guard.h"
#include "base/string/heap_ptr.h"
#include "base/file/file_tmp_file.h"
#include "services/share/share_internal.h"

namespace {

struct Walk {
    char *key = nullptr;
    char *data = nullptr;
    int cbKey = 0;
    int cbData = 0;
    ~Walk()
    {
        free(key);
        free(data);
    }
};

// A stored line list: "[item 0]" and each further item, as the format
// gives; 0 or -1.
int listDump(const Walk &w, const char *head, const char *line, std::string &out)
{
    if (w.data == nullptr || w.cbData <= 0) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    vral::HeapPtr<VRALSzList> list(VEXAListDBUnpack(w.data, w.cbData));
    if (!list || list->nItem < 1) {
        const int code = list ? ERR_BAD_FORMAT : VRALErrGet();
        VRAL_LOG_ERR("errno=%d VEXAListDBUnpack() failed!!", code);
        VRAL_ERR_SET(code);
        return -1;
    }
    for (int i = 0; i < list->nItem; ++i) {
        out += i == 0 ? head : line;
        out += VRALSzListItem(list.get(), i);
        out += i == 0 && head[0] == '[' ? "]\n" : "\n";
    }
    return 0;
}

void listLine(std::string &out, const char *key, const char *list)
{
    out += "\t";
    out += key;
    out += "=nobody,";
    out += vexashare::listToConf(list);
    if (list[0] != '\0')
        out += ",";
    out += "nobody\n";
}

int generalSectionDump(const Walk &w, std::string &out)
{
    if (w.data == nullptr || w.cbData <= 0) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    VEXASHARE *raw = nullptr;
    if (VEXAShareDBUnPack(w.data, w.cbData, &raw) != 0) {
        VEXAShareFree(raw);
        VRAL_LOG_ERR("VEXAShareDBUnPack() failed!! vexaerr=0x%04X", VRALErrGet());
        return -1;
    }
    vral::HeapPtr<VEXASHARE> s(raw);
    std::string valid = s->szReadList;
    if (!valid.empty() && s->szWriteList[0] != '\0')
        valid += ",";
    valid += s->szWriteList;
    if (RemoveSameUsers(valid.data()) < 0) {
        VRAL_LOG_ERR("RemoveSameUsers() failed! vexaerr=0x%04X, szUserList=[%s]", VRALErrGet(), valid.c_str());
        return -1;
    }
    valid.resize(strlen(valid.c_str()));
    char guestOk[32];
    char writeable[32];
    if (ShareFTypeSetToConf(s->fType, guestOk, writeable, sizeof guestOk, sizeof writeable) != 0) {
        VRAL_LOG_ERR("ShareFTypeSetToConf() failed! vexaerror=0x%04X, session[%s], fType=%d", VRALErrGet(), s->szName,
                     s->fType);
        return -1;
    }
    out += "[" + std::string(s->szName) + "]\n";
    listLine(out, "invalid users", s->szInvalidUsers);
    listLine(out, "valid users", valid.c_str());
    out += "\tcomment=\"" + std::string(s->szComment) + "\"\n";
    out += "\tpath=" + std::string(s->szPath) + "\n";
    out += "\tguest ok=" + std::string(guestOk) + "\n";
    out += std::string("\tbrowseable=") + (s->fBrowseable != 0 ? "yes" : "no") + "\n";
    out += std::string("\tftp write only=") + (s->fFtpWriteOnly != 0 ? "yes" : "no") + "\n";
    listLine(out, "read list", s->szReadList);
    listLine(out, "write list", s->szWriteList);
    out += "\twriteable=" + std::string(writeable) + "\n";
    return 0;
}

// Reserved sections (their keys sort first), the shares, then the
// sections the parse kept as read.
int fill(VEXABDB *h, std::string &out)
{
    std::string kept;
    Walk w;
    if (VEXABDbCursorSetType(h, BDB_CURSOR_FIRST) != 0) {
        VRAL_LOG_ERR("VEXABDbCursorSetType() failed, vexaerr=0x%04X", VRALErrGet());
        return -1;
    }
    int r = VEXABDbCursorGet(h, 0, &w.key, &w.cbKey, &w.data, &w.cbData);
    if (VEXABDbCursorSetType(h, BDB_CURSOR_NEXT) != 0) {
        VRAL_LOG_ERR("VEXABDbCursorSetType() failed, vexaerr=0x%04X", VRALErrGet());
        return -1;
    }
    for (; r == 0; r = VEXABDbCursorGet(h, 0, &w.key, &w.cbKey, &w.data, &w.cbData)) {
        // the meta keys are stored without a NUL: passed over first
        if (w.key != nullptr && w.cbKey > 0 && w.key[0] == '#' && w.key[w.cbKey - 1] != '\0')
            continue;
        if (w.key == nullptr || w.cbKey <= 0 || w.key[w.cbKey - 1] != '\0') {
            syslog(LOG_WARNING, "%s:%d VEXABDbCursorGet() get a NULL key!", __FILE_NAME__, __LINE__);
            continue;
        }
        if (w.key[0] == '#') {
            int d = 0;
            if (VEXAShareSectionTypeGet(w.key + 1) == 1)
                d = listDump(w, "[", "\t", out);
            else if (strncmp(w.key, vexashare::kKeptPrefix, sizeof vexashare::kKeptPrefix - 1) == 0)
                d = listDump(w, "", "", kept);
            if (d != 0) {
                VRAL_LOG_ERR("ReservedSectionDump() failed! key=%s, vexaerr=0x%04X", w.key + 1, VRALErrGet());
                return -1;
            }
        } else if (generalSectionDump(w, out) != 0) {
            VRAL_LOG_ERR("GeneralSectionDump() failed!! key=%s, vexaerr=0x%04X", w.key, VRALErrGet());
            return -1;
        }
    }
    if (VRALErrGet() != ERR_END_OF_RECORDS)
        return -1;
    out += kept;
    return 0;
}

}  // namespace

namespace {

int shareDBDump(VEXASHAREDB *db)
{
    if (db == nullptr || db->pShareDB == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    return vral::NoThrow(-1, [&] {
        // an edit of smb.conf made since the cache was built is never
        // overwritten by it
        if (!vexabdb::cacheIsCurrent(vexashare::kShareSet, db)) {
            VRAL_LOG_ERR("share db does not mirror %s, not dumped", SHARE_CONF);
            VRAL_ERR_SET(ERR_OPEN_FAILED);
            return -1;
        }
        vralfile::TmpFile f(SHARE_CONF, SHARE_CONF_TMP, 0644);
        if (!f.ok())
            return -1;
        if (fill(db->pShareDB, f.text()) != 0 || f.finish() != 0 || f.moveIn() != 0)
            return -1;
        if (vexabdb::cacheStoreSources(vexashare::kShareSet, db, &f.written()) != 0) {
            VRAL_LOG_ERR("ShareDbConfSyncTimeSet() failed! vexaerr=0x%04X", VRALErrGet());
            return -1;
        }
        return 0;
    });
}

}  // namespace

extern "C" int VEXAShareDBDump(VEXASHAREDB *db)
{
    return vexabdb::cacheWriteGuarded(vexashare::kShareSet, db, [&] { return shareDBDump(db); });
}

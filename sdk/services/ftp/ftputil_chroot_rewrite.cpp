#include <unistd.h>

#include <cstring>

#include "base/err/vral_err.h"
#include "base/string/vral_string.h"
#include "base/file/file_tmp_file.h"
#include "services/ftp/ftp_internal.h"

namespace vexaftp {

namespace {

// A byte-ordered list cannot be searched ignoring case, and a name with a
// line break would become two lines of the list.
bool usable(const VRALSzList *p)
{
    if (p == nullptr)
        return true;
    if (p->sortMode == VRAL_SZLIST_SORT_BYTE)
        return false;
    for (int i = 0; i < p->nItem; ++i) {
        const char *sz = VRALSzListItem(p, i);
        if (strchr(sz, '\n') != nullptr || strchr(sz, '\r') != nullptr)
            return false;
    }
    return true;
}

bool holds(VRALSzList *p, const std::string &name)
{
    return p != nullptr && VRALSzListCaseFind(p, name.c_str()) >= 0;
}

}  // namespace

int chrootRewrite(VRALSzList *pDelete, VRALSzList *pAdd, const char *who)
{
    if (!usable(pDelete) || !usable(pAdd)) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    std::vector<std::string> names;
    const int r = chrootRead(names, who);
    if (r < 0)
        return -1;
    if (r == 0 && pAdd == nullptr)
        return 0;  // nothing to delete from; a delete creates no list

    char tmpPath[sizeof FTP_CHROOT_CONF + 40];
    if (VRALFileTempNameGet(FTP_CHROOT_CONF ".", tmpPath, sizeof tmpPath) != 0)
        return -1;
    vralfile::TmpFile tmp(FTP_CHROOT_CONF, tmpPath, 0644);
    if (!tmp.ok())
        return -1;
    std::string &text = tmp.text();
    for (const std::string &name : names) {
        if (holds(pDelete, name))
            continue;
        if (pAdd != nullptr) {
            int idx;
            while ((idx = VRALSzListCaseFind(pAdd, name.c_str())) >= 0)
                SzVRALSzListRemove(pAdd, idx);
        }
        text += name;
        text += '\n';
    }
    for (int i = 0; pAdd != nullptr && i < pAdd->nItem; ++i) {
        text += VRALSzListItem(pAdd, i);
        text += '\n';
    }
    if (tmp.finish() != 0 || tmp.moveIn() != 0)
        return -1;
    return 0;
}

}  // namespace vexaftp

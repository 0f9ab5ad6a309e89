#include "base/list/list_internal.h"
#include "base/list/vral_list.h"
#include "services/ftp/vexa_ftp.h"
#include "services/user/user_set_internal.h"

namespace {

struct Lists {
    VRALSzList *add = PslVRALSzListAlloc(1024);
    VRALSzList *del = PslVRALSzListAlloc(1024);
    VRALSzList *chroot = PslVRALSzListAlloc(1024);
    ~Lists()
    {
        VRALSzListFree(add);
        VRALSzListFree(del);
        VRALSzListFree(chroot);
    }
};

}  // namespace

namespace vexauser {

int SDKISetFTPChrootUser(const Batch &b)
{
    // the list is read only for a batch that changes a name: one that
    // cannot be read then fails no other batch
    bool renames = false;
    for (int i = 0; i < b.n && !renames; ++i)
        renames = b.isWritten(i) && b.renames(i);
    if (!renames)
        return 0;
    Lists l;
    if (l.add == nullptr || l.del == nullptr || l.chroot == nullptr) {
        VRAL_LOG_ERR("Failed to malloc list.");
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return -1;
    }
    // Read unsorted and sorted once: a sorted push moves the item table
    // each time, which grows with the square of the list.
    if (VEXAFTPEnumChrootUser(&l.chroot) < 0) {
        VRAL_LOG_ERR("VEXAFTPEnumChrootUser failed!! vexaerr=0x%04X", VRALErrGet());
        return -1;
    }
    l.chroot->sortMode = VRAL_SZLIST_SORT_CASE;
    vral::list::sortItems(l.chroot);
    for (int i = 0; i < b.n; ++i) {
        if (!b.isWritten(i) || !b.renames(i) || VRALSzListCaseFind(l.chroot, b.oldNames[i]) < 0)
            continue;
        if (VRALSzListPush(&l.del, b.oldNames[i]) < 0 || VRALSzListPush(&l.add, b.users[i]->szName) < 0) {
            VRAL_LOG_ERR("VRALSzListPush failed!! vexaerr=0x%04X", VRALErrGet());
            return -1;
        }
    }
    if (l.del->nItem == 0)
        return 0;
    // one rewrite: a failure never leaves a renamed user out of the list
    if (VEXAFTPReplaceChrootUser(l.del, l.add) != 0) {
        VRAL_LOG_ERR("VEXAFTPReplaceChrootUser failed!! vexaerr=0x%04X", VRALErrGet());
        return -1;
    }
    return 0;
}

}  // namespace vexauser

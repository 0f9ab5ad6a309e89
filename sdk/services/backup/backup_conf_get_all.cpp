// Reads every set of a backup-set file into records.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "base/err/err_guard.h"
#include "base/err/vral_err.h"
#include "base/file/file_internal.h"
#include "base/file/vral_file.h"
#include "base/list/vral_list.h"
#include "base/string/vral_string.h"
#include "services/backup/backup_internal.h"
#include "services/share/vexa_share.h"

namespace {

struct HashFree {
    void operator()(VRALSzHash *p) const { VRALSzHashFree(p); }
};
struct ListFree {
    void operator()(VRALSzList *p) const { VRALSzListFree(p); }
};
struct FileClose {
    void operator()(FILE *p) const { fclose(p); }
};

// The records made so far, freed unless handed to the caller.
struct Records {
    void **slots = nullptr;
    int made = 0;
    int type = 0;
    ~Records()
    {
        if (slots == nullptr)
            return;
        if (made > 0)
            VEXABackupConfFreeAll(slots, made, type == BACKUP_TYPE_NETBKP ? BACKUP_TYPE_NETBKP : BACKUP_TYPE_LOCALBKP);
        else
            free(slots);
    }
};

int GetAll(void ***pppConf, int type)
{
    const char *path = type == BACKUP_TYPE_NETBKP ? VEXA_NETBKP_CONF : VEXA_LOCALBKP_CONF;
    const int cBkpset = VEXABackupConfSectionCount(path);
    if (cBkpset < 0) {
        VRAL_LOG_ERR("VEXABackupConfSectionCount() failed!! errno=[0x%04X]", VRALErrGet());
        return -1;
    }
    if (cBkpset == 0)
        return 0;

    Records rec;
    rec.type = type;
    rec.slots = static_cast<void **>(calloc(static_cast<size_t>(cBkpset), sizeof(void *)));
    std::unique_ptr<VRALSzList, ListFree> list(PslVRALSzListAlloc(512));
    std::unique_ptr<VRALSzHash, HashFree> hash(VRALSzHashAlloc(1024));
    if (rec.slots == nullptr || !list || !hash) {
        VRAL_LOG_ERR("out of memory!!");
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return -1;
    }
    std::unique_ptr<FILE, FileClose> fp(fopen(path, "re"));
    if (!fp) {
        VRAL_ERR_SET(ERR_OPEN_FAILED);
        return -1;
    }

    char szCurSetName[VEXA_BKPSET_NAME_MAX + 1] = "";
    // Makes the record of the set read so far, if one is open.
    auto finish = [&]() {
        if (szCurSetName[0] == '\0')
            return true;
        void *p = nullptr;
        if (type == BACKUP_TYPE_NETBKP) {
            p = VEXANetBkpConfAlloc(szCurSetName, hash.get());
            if (p == nullptr)
                VRAL_LOG_ERR("VEXANetBkpConfAlloc() failed!! szCurSetName=[%s], idx=[%d], errno=[0x%04X]", szCurSetName,
                             rec.made, VRALErrGet());
        } else {
            p = VEXALocalBkpConfAlloc(szCurSetName, hash.get());
            if (p == nullptr)
                VRAL_LOG_ERR("VEXALocalBkpConfAlloc() failed!! szCurSetName=[%s], idx=[%d], errno=[0x%04X]", szCurSetName,
                             rec.made, VRALErrGet());
        }
        if (p == nullptr)
            return false;
        rec.slots[rec.made++] = p;
        return true;
    };
    // The file gained sets since they were counted.
    auto full = [&]() {
        if (rec.made < cBkpset)
            return false;
        VRAL_LOG_ERR("iCount [%d] >= cBkpset [%d].", rec.made, cBkpset);
        return true;
    };

    vralfile::LineReader line(fp.get());
    while (line.Next()) {
        const ssize_t len = static_cast<ssize_t>(line.Length());
        if (VRALFileIsSectionLine(line.Data(), static_cast<int>(len)) == 1) {
            if (full() || !finish())
                return -1;
            if (VEXAShareParseSectionName(line.Data(), szCurSetName, sizeof szCurSetName) != 0) {
                VRAL_LOG_ERR("Failed to parse section name[%s], errno=[0x%04X]", line.Data(), VRALErrGet());
                szCurSetName[0] = '\0';
            } else {
                VRALSzHashClear(hash.get());
            }
            continue;
        }
        if (szCurSetName[0] == '\0')
            continue;
        VRALSzList *raw = list.release();
        const int split = vexabkp::SetLinePair(line.Data(), &raw);
        list.reset(raw);
        if (split < 0) {
            VRAL_LOG_ERR("VRALStrTrimSpace() failed! szInput[%s], errno=[0x%04X]", line.Data(), VRALErrGet());
            return -1;
        }
        if (!list) {
            VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
            return -1;
        }
        if (split == 0)
            continue;
        if (split == 1) {
            VRAL_LOG_ERR("VRALStrSepPair [%s] failed!! errno=[0x%04X]", line.Data(), VRALErrGet());
            continue;
        }
        VRALSzHash *map = hash.release();
        const int set = VRALSzHashSetValue(&map, VRALSzListItem(list.get(), 0), VRALSzListItem(list.get(), 1));
        hash.reset(map);
        if (set < 0) {
            VRAL_LOG_ERR("VRALSzHashSetValue() failed. errno=[0x%04X]", VRALErrGet());
            return -1;
        }
    }
    if (line.Failed()) {
        VRAL_ERR_SET(ERR_READ_FAILED);
        return -1;
    }
    if (full() || !finish())
        return -1;
    // Headers that name no set give no records: nothing to hand out.
    if (rec.made == 0)
        return 0;
    *pppConf = rec.slots;
    rec.slots = nullptr;
    return rec.made;
}

}  // namespace

extern "C" int VEXABackupConfGetAll(void ***pppConf, int type)
{
    if (pppConf == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    *pppConf = nullptr;
    return vral::NoThrow(-1, [&] { return GetAll(pppConf, type); });
}

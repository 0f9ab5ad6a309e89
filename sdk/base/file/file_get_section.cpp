// Reads the pairs of one section into a string hash.

#include "base/err/vral_err.h"
#include "base/file/file_internal.h"
#include "base/file/vral_file.h"
#include "base/hash/vral_hash.h"
#include "base/list/vral_list.h"
#include "base/string/vral_string.h"

namespace {

struct ListFree {
    void operator()(VRALSzList *p) const { VRALSzListFree(p); }
};

}  // namespace

extern "C" int VRALFileGetSection(const char *szFile, const char *section, VRALSzHash **ppMap)
{
    if (ppMap == nullptr || *ppMap == nullptr || szFile == nullptr || section == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    return vralfile::Guarded([&] {
        std::unique_ptr<VRALSzList, ListFree> pair(PslVRALSzListAlloc(VRAL_SZLIST_MIN_SIZE));
        if (!pair) {
            VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
            return -1;
        }
        vralfile::UniqueFile fp(vralfile::OpenTarget(szFile, "r"));
        if (!fp) {
            VRAL_ERR_SET(ERR_OPEN_FAILED);
            return -1;
        }
        if (vralfile::IsDirectory(fp.get()))
            return (*ppMap)->nItem;

        vralfile::LineReader reader(fp.get());
        bool inSection = false;
        while (reader.Next()) {
            const char *line = reader.Data();
            int len = static_cast<int>(reader.Length());
            if (!inSection) {
                inSection = VRALFileIsSectionLine(line, len) && VRALFileMatchSection(line, len, section) == 1;
                continue;
            }
            // Only the first section of that name is read.
            if (line[0] == '[')
                break;
            VRALSzList *pList = pair.release();
            int rc = VRALStrSepPair(line, &pList);
            pair.reset(pList);
            // Only a line without '=' or without a key is passed over; a
            // pair lost for want of memory would read as a missing key.
            if (rc != 0 && VRALErrGet() != ERR_BAD_PARAMETERS)
                return -1;
            if (rc == 0 && pList != nullptr && pList->nItem == 2) {
                if (VRALSzHashSetValue(ppMap, VRALSzListItem(pList, 0), VRALSzListItem(pList, 1)) < 0)
                    return -1;
            }
            if (!pair) {
                VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
                return -1;
            }
            VRALSzListClear(pair.get());
        }
        if (reader.Failed()) {
            VRAL_ERR_SET(ERR_READ_FAILED);
            return -1;
        }
        return (*ppMap)->nItem;
    });
}

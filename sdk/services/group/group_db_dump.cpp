#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/err/err_guard.h"
#include "base/file/file_tmp_file.h"
#include "services/group/group_internal.h"
#include "services/user/user_list_internal.h"

namespace {

struct HashOwner {
    VRALSzHash *p = VRALSzHashAlloc(0x1400);
    ~HashOwner() { VRALSzHashFree(p); }
};

// The line as the dump writes it: a group of the appliance's own gets its
// members between "nobody" entries, also one the build took from the file.
std::string dumpLine(const char *line)
{
    std::vector<std::string> fields;
    const char *p = line;
    for (const char *colon; fields.size() < 3 && (colon = strchr(p, ':')) != nullptr; p = colon + 1)
        fields.emplace_back(p, static_cast<size_t>(colon - p));
    const int gid = fields.size() == 3 ? atoi(fields[2].c_str()) : 0;
    if (fields.size() != 3 || !vexagroup::isApplianceGid(gid))
        return line;
    std::string members;
    for (const std::string &m : vexauser::splitList(p)) {
        if (m.empty() || m == "nobody")
            continue;
        if (!members.empty())
            members.push_back(',');
        members += m;
    }
    return vexagroup::groupLine(fields[0], fields[1], fields[2], gid, members);
}

// Walks the gid index and fills both texts in gid order.
int fill(VEXAGROUPDB *db, VRALSzHash *names, VRALSzHash *descs, std::string &group, std::string &desc)
{
    vexagroup::Buf key;
    vexagroup::Buf data;
    if (VEXABDbCursorSetType(db->pGRPGID, BDB_CURSOR_FIRST) != 0)
        return -1;
    int r = VEXABDbCursorGet(db->pGRPGID, 1, &key.p, &key.cb, &data.p, &data.cb);
    VEXABDbCursorSetType(db->pGRPGID, BDB_CURSOR_NEXT);
    for (; r == 0; r = VEXABDbCursorGet(db->pGRPGID, 1, &key.p, &key.cb, &data.p, &data.cb)) {
        if (data.cb <= 0 || data.p[data.cb - 1] != '\0') {
            VRAL_ERR_SET(ERR_BAD_FORMAT);
            return -1;
        }
        if (strchr(data.p, '\\') != nullptr)
            continue;
        const char *line = SzVRALSzHashGetValue(names, data.p);
        if (line == nullptr) {
            VRAL_LOG_ERR("SzVRALSzHashGetValue(%s) failed", data.p);
            VRAL_ERR_SET(ERR_NOT_FOUND);
            return -1;
        }
        group += dumpLine(line);
        group.push_back('\n');
        if (const char *d = SzVRALSzHashGetValue(descs, data.p)) {
            desc += d;
            desc.push_back('\n');
        }
    }
    return VRALErrGet() == ERR_END_OF_RECORDS ? 0 : -1;
}

}  // namespace

namespace {

int groupDBLoadHash(VEXABDB *h, VRALSzHash **ppHash)
{
    if (h == nullptr || ppHash == nullptr || *ppHash == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    vexagroup::Buf key;
    vexagroup::Buf data;
    if (VEXABDbCursorSetType(h, BDB_CURSOR_FIRST) != 0)
        return -1;
    int r = VEXABDbCursorGet(h, 1, &key.p, &key.cb, &data.p, &data.cb);
    VEXABDbCursorSetType(h, BDB_CURSOR_NEXT);
    for (; r == 0; r = VEXABDbCursorGet(h, 1, &key.p, &key.cb, &data.p, &data.cb)) {
        if (key.cb <= 0 || key.p[key.cb - 1] != '\0' || data.cb <= 0 || data.p[data.cb - 1] != '\0') {
            VRAL_ERR_SET(ERR_BAD_FORMAT);
            return -1;
        }
        if (VRALSzHashSetValue(ppHash, key.p, data.p) < 0)
            return -1;
    }
    return VRALErrGet() == ERR_END_OF_RECORDS ? 0 : -1;
}

}  // namespace

extern "C" int GroupDBLoadHash(VEXABDB *h, VRALSzHash **ppHash)
{
    return vral::NoThrow(-1, [&] { return groupDBLoadHash(h, ppHash); });
}

extern "C" int VEXAGroupDBDump(VEXAGROUPDB *db)
{
    return vexabdb::cacheWriteGuarded(vexagroup::kGroupSet, db, [&] {
        if (db == nullptr || db->pGRPName == nullptr || db->pGRPGID == nullptr || db->pGRPDesc == nullptr) {
            VRAL_ERR_SET(ERR_BAD_PARAMETERS);
            return -1;
        }
        // The cache must still mirror the group files: an edit made since,
        // or a write that failed half-way, is never overwritten by it.
        if (!vexabdb::cacheIsCurrent(vexagroup::kGroupSet, db)) {
            VRAL_LOG_ERR("group db does not mirror the group files, not dumped");
            VRAL_ERR_SET(ERR_OPEN_FAILED);
            return -1;
        }
        vralfile::TmpFile group(GROUP_FILE, GROUP_FILE_TMP, 0644);
        if (!group.ok())
            return -1;
        vralfile::TmpFile desc(GROUP_FILE_DESC, GROUP_FILE_DESC_TMP, 0644);
        if (!desc.ok())
            return -1;
        HashOwner names;
        HashOwner descs;
        if (names.p == nullptr || descs.p == nullptr) {
            VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
            return -1;
        }
        if (GroupDBLoadHash(db->pGRPName, &names.p) != 0 || GroupDBLoadHash(db->pGRPDesc, &descs.p) != 0) {
            VRAL_LOG_ERR("GroupDBLoadHash() failed! vexaerr=0x%04X", VRALErrGet());
            return -1;
        }
        int current = 0;
        if (vexagroup::currentGid(db, &current) != 0)
            return -1;
        group.text() = vexagroup::gidHeaderPrefix() + std::to_string(current) + "$\n";
        if (fill(db, names.p, descs.p, group.text(), desc.text()) != 0)
            return -1;
        if (group.finish() != 0 || desc.finish() != 0)
            return -1;
        if (group.moveIn() != 0 || desc.moveIn() != 0) {
            VRAL_LOG_ERR("GROUPIRenameTempFiles() failed!! errno=%d/%m", errno);
            // the group files are no longer one state the cache mirrors
            vexabdb::cacheMarkStale(vexagroup::kGroupSet, db);
            return -1;
        }
        struct stat st[vexagroup::kSourceCount];
        st[vexagroup::kSrcGroup] = group.written();
        st[vexagroup::kSrcGroupGid] = group.written();
        st[vexagroup::kSrcDesc] = desc.written();
        if (vexabdb::cacheStoreSources(vexagroup::kGroupSet, db, st) != 0) {
            VRAL_LOG_ERR("GroupDbConfSyncTimeSet() failed! vexaerr=0x%04X", VRALErrGet());
            return -1;
        }
        return 0;
    });
}

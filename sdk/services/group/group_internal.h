// Pieces the group database's functions share: the cache set, key forms
// and the stored lines.
#ifndef VEXA_GROUP_INTERNAL_H
#define VEXA_GROUP_INTERNAL_H

#include <syslog.h>

#include <cstdlib>
#include <string>

#include "base/err/vral_err.h"
#include "base/hash/vral_hash.h"
#include "services/bdb/bdb_cache.h"
#include "services/group/vexa_group.h"
#include "services/user/user_internal.h"

#include "base/err/err_log.h"

namespace vexagroup {

// The group set: name, gid and description files under /tmp.
extern const vexabdb::CacheSet kGroupSet;

// Source order of kGroupSet.
enum GroupSource { kSrcGroup, kSrcGroupGid, kSrcDesc, kSourceCount };

// Key buffers: lookups, the build and writes, domain groups.
constexpr int kLookupKeySize = 128;
constexpr int kKeySize = 129;
constexpr int kDomainKeySize = 256;

// The gid key ("%06d" with its NUL; a longer gid by its first six digits).
inline vexauser::UidKey gidKey(int gid)
{
    return vexauser::uidKey(gid);
}

// A growable buffer of the SDK's own (pointer and size), freed at scope end.
struct Buf {
    char *p = nullptr;
    int cb = 0;
    Buf() = default;
    Buf(const Buf &) = delete;
    Buf &operator=(const Buf &) = delete;
    ~Buf() { free(p); }
};

// A gid of the groups created on the appliance (read as unsigned).
inline bool isApplianceGid(int gid)
{
    return static_cast<unsigned int>(gid) >= GROUP_FIRST_GID;
}

// "#CURRENT_GID" of the gid index: 0, or -1 (the read's code; ERR_BAD_FORMAT
// for a value that is no 4-byte int).
int currentGid(VEXAGROUPDB *db, int *pGid);
int storeCurrentGid(VEXAGROUPDB *db, int gid);

// The gid of the last key of the gid index: 0, or -1.
int lastIndexedGid(VEXABDB *gidDb, int *pGid);

// The text after a name's "#$_@GID__INDEX@_$" header prefix.
inline const char *gidHeaderPrefix()
{
    return "#$" GROUP_GID_HEADER "$";
}

// The group line of a write: the members (already filtered, joined with
// ",") between "nobody" entries for a gid of the appliance's own.
std::string groupLine(const std::string &name, const std::string &passwd, const std::string &gidText, int gid,
                      const std::string &members);

// Rewrites the members of the stored group NAME (len its length), its
// name, password and gid as they stand: a member rename is no group write,
// so neither the name rule nor the refusal of "users" applies.  0 or -1.
int setMembers(VEXAGROUPDB *db, const char *NAME, int len, char **members);

// Removes a local group's records: its own gid-index entry (unless
// keepGid), then NAME from the name and description files.  Absent records
// pass; 0 or -1.
int removeRecords(VEXAGROUPDB *db, const char *NAME, int klen, int gid, bool keepGid);

}  // namespace vexagroup

#endif

// Pieces the share database's functions share: the cache set, key forms
// and the order of a record's strings.
#ifndef VEXA_SHARE_INTERNAL_H
#define VEXA_SHARE_INTERNAL_H

#include <sys/file.h>
#include <syslog.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/err/vral_err.h"
#include "base/lock/lock_holder.h"
#include "services/bdb/bdb_cache.h"
#include "services/share/vexa_share.h"
#include "services/user/vexa_user.h"

struct _tag_VEXAGROUPDB;

#include "base/err/err_log.h"

namespace vexashare {

// The share set: one file under /tmp mirroring smb.conf.
extern const vexabdb::CacheSet kShareSet;

// The record's strings from the front of the string area to its end: the
// name ends at the block's last byte.
constexpr int kStrings = 6;
inline char *VEXASHARE::*const kStringOrder[kStrings] = {
    &VEXASHARE::szReadList, &VEXASHARE::szWriteList, &VEXASHARE::szInvalidUsers,
    &VEXASHARE::szPath,     &VEXASHARE::szComment,   &VEXASHARE::szName,
};

// The strings in the order of the stored form's offset words 1 to 6.
inline char *VEXASHARE::*const kStoredOrder[kStrings] = {
    &VEXASHARE::szName,         &VEXASHARE::szComment,   &VEXASHARE::szPath,
    &VEXASHARE::szInvalidUsers, &VEXASHARE::szWriteList, &VEXASHARE::szReadList,
};

// Reads the stored record under key into *ppShare; 0 or -1 (the read's code).
int getStored(VEXABDB *h, const char *key, int klen, VEXASHARE **ppShare);

// Keys of the sections the parse refused, kept as read: this prefix and a
// six-digit number in file order.
inline constexpr char kKeptPrefix[] = "#VEXA@KEPT@";

// The key of a share line as samba matches it (ASCII case and blanks
// ignored), spelled as this system writes it: one of the keys the parse
// reads, or "valid users"; nullptr for any other.
const char *confKey(std::string_view key);
// True for the four user-list keys.
bool isListKey(const char *key);
// A user list as read: items between "," with one pair of enclosing double
// quotes taken off.
std::string listFromConf(std::string_view raw);
// A user list as written: samba splits items at blanks, so an item
// holding one goes in double quotes.
std::string listToConf(std::string_view list);

// VEXAShareDBSet; the parse passes fKeptCounts false: it stores what it
// reads as it always did.
int dbSet(VEXASHAREDB *db, const char *oldName, const VEXASHARE *pShare, bool fKeptCounts);

// Stores the lines of the n-th kept section (from 1, in file order); 0 or
// -1.
int keptStore(VEXABDB *h, int n, const VRALSzList *lines);
// 1 when a kept section's name has the key form key (len bytes), 0 when
// none has, -1 when they cannot be read.
int keptHolds(VEXABDB *h, const char *key, int len);
// What a rename makes of one list item: its new text ("" drops it), or
// nothing.
using Rename = std::function<std::optional<std::string>(const std::string &)>;
// Renames the items of the four list lines of every kept section; the
// number of sections changed, or -1.
int keptRename(VEXABDB *h, const Rename &rename);
// A rename map of users (key form of the old name to the new name, ""
// removes) applied to the kept sections; as keptRename.
int keptRenameUsers(VEXASHAREDB *db, VRALSzHash *map);
// A group's rename ("@old" and its "+", "&" forms) applied alike.
int keptRenameGroup(VEXASHAREDB *db, const char *oldGroup, const char *newGroup);

// The group and user databases a parse cleans its user lists against,
// open for a whole build.
struct ParseDbs {
    struct _tag_VEXAGROUPDB *groups = nullptr;
    VEXAUSERDB *users = nullptr;
    ParseDbs() = default;
    ParseDbs(const ParseDbs &) = delete;
    ParseDbs &operator=(const ParseDbs &) = delete;
    ~ParseDbs();
    // 0, or -1 (ERR_OPEN_FAILED).
    int open();
};

// The record of one share section's pairs, its lists cleaned; NULL when
// the section is refused.
VEXASHARE *allocFromConf(const char *section, VRALSzHash *pairs, const ParseDbs &dbs);

// Runs body(db) on the opened cache under the share lock held shared, and
// releases only a lock it took; body's result, or -1.
template <typename Body>
int withReadLock(Body body)
{
    vral::LockHolder lock(LOCK_ID_SMB | LOCK_SH | LOCK_NB, 5);
    if (!lock.held()) {
        VRAL_ERR_SET(ERR_LOCK_FAILED);
        return -1;
    }
    const std::unique_ptr<VEXASHAREDB, void (*)(VEXASHAREDB *)> db(VEXAShareDBOpen(), VEXAShareDBClose);
    if (db == nullptr) {
        vexabdb::cacheOpenFailed();
        return -1;
    }
    return body(db.get());
}

}  // namespace vexashare

#endif

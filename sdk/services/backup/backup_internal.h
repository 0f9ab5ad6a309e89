// Pieces shared by the backup-set files.
#ifndef VEXA_BACKUP_INTERNAL_H
#define VEXA_BACKUP_INTERNAL_H

#include <sys/types.h>
#include <syslog.h>

#include <functional>
#include <span>
#include <utility>
#include <string_view>

#include "base/hash/vral_hash.h"
#include "services/backup/vexa_backup.h"

#define BKP_LOG(fmt, ...) syslog(LOG_ERR, "%s:%d " fmt, __FILE_NAME__, __LINE__ __VA_OPT__(,) __VA_ARGS__)

namespace vexabkp {

// The format every key line of a set is written with.
inline constexpr char kKeyFormat[] = "\t%s=\"%s\"\n";

// Hands every section header line of the file (newline included) to take,
// which returns false to stop.  1 when the file was read, 0 when it does not
// exist, -1 when it cannot be opened or read (ERR_OPEN_FAILED,
// ERR_READ_FAILED).
int ScanHeaders(const char *szPath, const std::function<bool(std::string_view)> &take);

// A string copy for a record: the key's value, or "" when it is missing.
// NULL only without memory.
char *PairCopy(VRALSzHash *pHash, const char *szKey);

// An int key as atoi reads it, or fallback when it is missing.
int PairInt(VRALSzHash *pHash, const char *szKey, int fallback);

// Sets key to value in the hash; false without memory (recorded).
bool PairSet(VRALSzHash **ppHash, const char *szKey, const char *szValue);
bool PairSetInt(VRALSzHash **ppHash, const char *szKey, int value);

// dest_type to its word ("" outside 0 to 4) and back (-1 for any other
// word, compared byte for byte).
const char *DestTypeWord(int type);
int DestTypeFromWord(const char *word);

// A key of a set and the record's value for it.
using Pair = std::pair<const char *, const char *>;
using IntPair = std::pair<const char *, int>;

// The write behind both writers: checks the name and the values, decides
// between adding and replacing by whether szOldBkpset's header is in the
// file, sets the record's keys over the old section's (a NULL string keeps
// the old value, or with nullAsEmpty is written as "") and writes the set.
// A missing file is created with mode newMode (less the umask).  src names
// the calling source file in messages.  0 or -1.
int WriteSet(const char *src, const char *szFile, mode_t newMode, const char *szOldBkpset, const char *szSetName,
             std::span<const Pair> strings, std::span<const IntPair> ints, bool nullAsEmpty);

}  // namespace vexabkp

#endif

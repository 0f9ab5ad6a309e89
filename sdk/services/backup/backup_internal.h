// Pieces shared by the backup-set files.
#ifndef VEXA_BACKUP_INTERNAL_H
#define VEXA_BACKUP_INTERNAL_H

#include <sys/types.h>
#include <syslog.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <span>
#include <string_view>
#include <utility>

#include "base/err/vral_err.h"
#include "base/hash/vral_hash.h"
#include "base/list/vral_list.h"
#include "services/backup/vexa_backup.h"

#include "base/err/err_log.h"

namespace vexabkp {

// The format every key line of a set is written with.
inline constexpr char kKeyFormat[] = "\t%s=\"%s\"\n";

// Hands every section header line of the file (newline included) to take,
// which returns false to stop.  1 when the file was read, 0 when it does not
// exist, -1 when it cannot be opened or read (ERR_OPEN_FAILED,
// ERR_READ_FAILED).
int ScanHeaders(const char *szPath, const std::function<bool(std::string_view)> &take);

// A zeroed record for a set of that name and its pairs; NULL for a NULL or
// empty name or a NULL hash (ERR_BAD_PARAMETERS) or without memory.
template <typename Record> Record *NewRecord(const char *szSetName, const VRALSzHash *pHash)
{
    if (szSetName == nullptr || szSetName[0] == '\0' || pHash == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return nullptr;
    }
    auto *p = static_cast<Record *>(calloc(1, sizeof(Record)));
    if (p == nullptr)
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
    return p;
}

// The record once its strings are all there: no record with a NULL string
// reaches a caller (ERR_OUT_OF_MEMORY, the record freed, NULL).
template <typename Record>
Record *CompleteRecord(Record *p, std::initializer_list<const char *> strings, void (*freeRecord)(Record *))
{
    for (const char *s : strings) {
        if (s == nullptr) {
            freeRecord(p);
            VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
            return nullptr;
        }
    }
    return p;
}

// Frees the first count records of an array, clearing their slots, then
// the array.
template <typename Record> void FreeRecords(Record **rgConf, int count, void (*freeRecord)(Record *))
{
    if (rgConf == nullptr || count <= 0)
        return;
    for (int i = 0; i < count; ++i) {
        freeRecord(rgConf[i]);
        rgConf[i] = nullptr;
    }
    free(rgConf);
}

// A string copy for a record: the key's value, or "" when it is missing.
// NULL only without memory.
char *PairCopy(VRALSzHash *pHash, const char *szKey);

// The pair of a set's line as the set reader takes it: the line trimmed
// whole (one pair of enclosing quotes too), then split at its first "=".
// line is trimmed in place.  -1 when trimming fails, 0 for a line empty
// once trimmed, 1 for a line that is no pair, 2 with the key and the value
// as items 0 and 1 of *ppList (NULL afterwards without memory).
int SetLinePair(char *line, VRALSzList **ppList);

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

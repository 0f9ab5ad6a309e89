#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/err/err_guard.h"
#include "base/file/vral_file.h"
#include "base/string/heap_ptr.h"
#include "base/string/vral_string.h"
#include "services/share/share_internal.h"

namespace {

using vexashare::ParseDbs;

enum SecType { kNone = -1, kShare = 0, kReserved = 1 };

// The section being read.
struct Section {
    int type = kNone;
    char name[SHARE_SECTION_SIZE] = "";
    VRALSzList *lines = PslVRALSzListAlloc(512);  // reserved: trimmed; share: as read
    VRALSzHash *pairs = VRALSzHashAlloc(1024);
    Section() = default;
    Section(const Section &) = delete;
    Section &operator=(const Section &) = delete;
    ~Section()
    {
        VRALSzListFree(lines);
        VRALSzHashFree(pairs);
    }
    bool ok() const { return lines != nullptr && pairs != nullptr; }
    void reset()
    {
        type = kNone;
        VRALSzListClear(lines);
        VRALSzHashClear(pairs);
    }
};

// A share section that the parse refuses is kept as it was read, and the
// dump writes it back after the shares: dropping it would delete it from
// smb.conf.
int keepVerbatim(VEXASHAREDB *db, const Section &sec, int *kept)
{
    char key[32];
    const int klen = snprintf(key, sizeof key, "%s%06d", vexashare::kKeptPrefix, ++*kept) + 1;
    vral::HeapPtr<void> packed(VEXAListDBPack(sec.lines, sec.lines->cbAlloc));
    if (!packed || VEXABDbSet(db->pShareDB, key, klen, packed.get(), sec.lines->cbAlloc) != 0) {
        SHARE_LOG("cannot keep section [%s]. vexaerr=0x%04X", sec.name, VRALErrGet());
        return -1;
    }
    return 0;
}

// Stores the open section: 0 stored or kept, -1 when the cache failed.
int setOne(VEXASHAREDB *db, const Section &sec, const ParseDbs &dbs, int *kept)
{
    if (sec.type == kReserved) {
        if (VEXAListDBSet(db->pShareDB, sec.name, sec.lines) != 0) {
            SHARE_LOG("VEXAListDBSet [%s] failed. vexaerr=0x%04X", sec.name, VRALErrGet());
            return -1;
        }
        return 0;
    }
    if (sec.type != kShare)
        return 0;
    if (sec.pairs->nItem == 0) {
        SHARE_LOG("section [%s] holds no key", sec.name);
        return keepVerbatim(db, sec, kept);
    }
    vral::HeapPtr<VEXASHARE> rec(vexashare::allocFromConf(sec.name, sec.pairs, dbs));
    if (!rec) {
        SHARE_LOG("ShareAllocFromConf [%s] failed. vexaerr=0x%04X", sec.name, VRALErrGet());
        return keepVerbatim(db, sec, kept);
    }
    if (VEXAShareDBSet(db, nullptr, rec.get()) != 0) {
        SHARE_LOG("VEXAShareDBSet failed. vexaerr=0x%04X", VRALErrGet());
        return keepVerbatim(db, sec, kept);
    }
    return 0;
}

// One line of a share section: a key=value pair into the section's pairs;
// a comment or a malformed line is skipped, the share kept.
int shareLine(Section &sec, const char *line)
{
    if (VRALSzListPush(&sec.lines, line) < 0)
        return -1;
    std::string trimmed(line);
    if (VRALStrTrimSpace(trimmed.data(), nullptr) <= 0)
        return 0;
    const char *first = line + strspn(line, " \t");
    if (*first == '#' || *first == ';') {
        SHARE_LOG("comment line skipped. section[%s]", sec.name);
        return 0;
    }
    VRALSzList *pair = PslVRALSzListAlloc(512);
    if (pair == nullptr)
        return -1;
    int r = 0;
    if (VRALStrSepPair(line, &pair) != 0 || pair->nItem != 2) {
        SHARE_LOG("Failed to set section data. section[%s], vexaerr=0x%04X", sec.name, VRALErrGet());
    } else if (VRALSzHashSetValue(&sec.pairs, VRALSzListItem(pair, 0), VRALSzListItem(pair, 1)) < 0) {
        r = -1;
    }
    VRALSzListFree(pair);
    return r;
}

int reservedLine(Section &sec, const char *line)
{
    std::string trimmed(line);
    VRALStrTrimSpace(trimmed.data(), nullptr);
    return VRALSzListPush(&sec.lines, trimmed.c_str()) < 0 ? -1 : 0;
}

int sectionLine(Section &sec, const char *line)
{
    if (VEXAShareParseSectionName(line, sec.name, sizeof sec.name) != 0) {
        SHARE_LOG("Failed to parse section name[%s], vexaerr=0x%04X", line, VRALErrGet());
        return 0;
    }
    sec.type = VEXAShareSectionTypeGet(sec.name) == 1 ? kReserved : kShare;
    // a reserved section's item 0 is its name, a share's its line as read
    if (VRALSzListPush(&sec.lines, sec.type == kReserved ? sec.name : line) < 0) {
        SHARE_LOG("VRALSzListPush [%s] failed!! vexaerr=0x%04X", line, VRALErrGet());
        return -1;
    }
    return 0;
}

int parse(FILE *fp, VEXASHAREDB *db)
{
    Section sec;
    ParseDbs dbs;
    if (!sec.ok()) {
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return -1;
    }
    if (dbs.open() != 0) {
        SHARE_LOG("cannot open the group and user databases. vexaerr=0x%04X", VRALErrGet());
        return -1;
    }
    int kept = 0;
    char *line = nullptr;
    size_t cap = 0;
    ssize_t n;
    int r = 0;
    while (r == 0 && (n = getline(&line, &cap, fp)) >= 0) {
        if (n > 0 && line[n - 1] == '\n')
            line[--n] = '\0';
        if (VRALFileIsSectionLine(line, static_cast<int>(n)) == 1) {
            r = setOne(db, sec, dbs, &kept);
            sec.reset();
            if (r == 0)
                r = sectionLine(sec, line);
        } else if (sec.type == kReserved) {
            r = reservedLine(sec, line);
        } else if (sec.type == kShare) {
            r = shareLine(sec, line);
        }
    }
    if (r == 0)
        r = setOne(db, sec, dbs, &kept);
    free(line);
    if (r == 0 && !feof(fp)) {
        SHARE_LOG("Fail to read the end of the file. errno=%d/%m", errno);
        VRAL_ERR_SET(ERR_READ_FAILED);
        r = -1;
    }
    return r;
}

}  // namespace

namespace {

int shareDBBuild(FILE *fp, VEXASHAREDB *db)
{
    if (fp == nullptr || db == nullptr || db->pShareDB == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    return vral::NoThrow(-1, [&] {
        // looked at before it is read: a change during the build leaves the
        // cache stale, never current
        struct stat st {};
        if (fstat(fileno(fp), &st) != 0) {
            SHARE_LOG("fstat() failed!! errno=%d/%m", errno);
            VRAL_ERR_SET(ERR_STAT_FAILED);
            return -1;
        }
        if (parse(fp, db) != 0)
            return -1;
        if (vexabdb::cacheStoreSources(vexashare::kShareSet, db, &st) != 0) {
            SHARE_LOG("VEXABDbConfSyncTimeSet() failed!! vexaerr=0x%04X", VRALErrGet());
            return -1;
        }
        return 0;
    });
}

}  // namespace

extern "C" int VEXAShareDBBuild(FILE *fp, VEXASHAREDB *db)
{
    return vral::NoThrow(-1, [&] { return shareDBBuild(fp, db); });
}

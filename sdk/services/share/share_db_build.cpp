#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/err/err_guard.h"
#include "base/file/file_line_reader.h"
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
};

// A share section that the parse refuses is kept as it was read, and the
// dump writes it back after the shares: dropping it would delete it from
// smb.conf.
int keepVerbatim(VEXASHAREDB *db, const VRALSzList *lines, const char *name, int *kept)
{
    if (vexashare::keptStore(db->pShareDB, ++*kept, lines) != 0) {
        VRAL_LOG_ERR("cannot keep section [%s]. vexaerr=0x%04X", name, VRALErrGet());
        return -1;
    }
    return 0;
}

// samba reads a later reserved section of the same name as more lines of
// the first: its lines go after those stored, under the first spelling.
// 0 (lines then holds them all, name the first spelling) or -1.
int mergeReserved(VEXASHAREDB *db, VRALSzList *&lines, char (&name)[SHARE_SECTION_SIZE])
{
    std::string key = "#";
    for (const char *p = name; *p != '\0'; ++p)
        key += *p >= 'a' && *p <= 'z' ? static_cast<char>(*p - 'a' + 'A') : *p;
    char *data = nullptr;
    int cb = 0;
    const int got = VEXABDbGet(db->pShareDB, key.c_str(), static_cast<int>(key.size()) + 1, &data, &cb);
    vral::HeapPtr<char> own(data);
    if (got != 0)
        return VRALErrGet() == ERR_NOT_FOUND ? 0 : -1;
    VRALSzList *stored = VEXAListDBUnpack(data, cb);
    if (stored == nullptr)
        return -1;
    int r = 0;
    for (int i = 1; r == 0 && i < lines->nItem; ++i)
        r = VRALSzListPush(&stored, VRALSzListItem(lines, i)) < 0 ? -1 : 0;
    if (stored == nullptr)
        return -1;
    if (stored->nItem < 1)
        r = -1;
    if (r == 0)
        snprintf(name, sizeof name, "%s", VRALSzListItem(stored, 0));
    std::swap(stored, lines);
    VRALSzListFree(stored);
    return r;
}

// Stores the open section: 0 stored or kept, -1 when the cache failed.
// Beyond the section it takes what the build opened once (the group and
// user databases behind a share's lists) and the count of sections kept
// verbatim; a reserved section merged with an earlier one of its name
// comes back in lines and name.
int ShareDBSetOne(VEXASHAREDB *db, VRALSzList *&lines, VRALSzHash *pairs, char (&name)[SHARE_SECTION_SIZE],
                  int iSecType, const ParseDbs &dbs, int *kept)
{
    if (db == nullptr || lines == nullptr || pairs == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    if (iSecType == kReserved) {
        if (mergeReserved(db, lines, name) != 0 || VEXAListDBSet(db->pShareDB, name, lines) != 0) {
            VRAL_LOG_ERR("VEXAListDBSet [%s] failed. vexaerr=0x%04X", name, VRALErrGet());
            return -1;
        }
        return 0;
    }
    if (iSecType != kShare)
        return 0;
    if (pairs->nItem == 0) {
        VRAL_LOG_ERR("section [%s] holds no key", name);
        return keepVerbatim(db, lines, name, kept);
    }
    vral::HeapPtr<VEXASHARE> rec(vexashare::allocFromConf(name, pairs, dbs));
    if (!rec) {
        VRAL_LOG_ERR("ShareAllocFromConf [%s] failed. vexaerr=0x%04X", name, VRALErrGet());
        return keepVerbatim(db, lines, name, kept);
    }
    if (vexashare::dbSet(db, nullptr, rec.get(), false) != 0) {
        VRAL_LOG_ERR("VEXAShareDBSet failed. vexaerr=0x%04X", VRALErrGet());
        return keepVerbatim(db, lines, name, kept);
    }
    return 0;
}

// Empties what the section held for the next one: a share's pairs and the
// lines it keeps as read (for a verbatim copy), a reserved section's lines.
void ShareDBSectionReset(VRALSzList *lines, VRALSzHash *pairs, int iSecType)
{
    if (iSecType == kShare && pairs->nItem > 0)
        VRALSzHashClear(pairs);
    if ((iSecType == kShare || iSecType == kReserved) && lines->nItem > 0)
        VRALSzListClear(lines);
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
        VRAL_LOG_ERR("comment line skipped. section[%s]", sec.name);
        return 0;
    }
    VRALSzList *pair = PslVRALSzListAlloc(512);
    if (pair == nullptr)
        return -1;
    int r = 0;
    if (VRALStrSepPair(line, &pair) != 0 || pair->nItem != 2) {
        VRAL_LOG_ERR("Failed to set section data. section[%s], vexaerr=0x%04X", sec.name, VRALErrGet());
    } else {
        // samba's spelling of a key, any ASCII case and blanks, is ours
        const char *key = vexashare::confKey(VRALSzListItem(pair, 0));
        std::string value = VRALSzListItem(pair, 1);
        // a list's items are read one by one: the value's own enclosing
        // quotes are no pair around the whole list but an item's
        const char *eq = strchr(line, '=');
        if (vexashare::isListKey(key) && eq != nullptr) {
            ++eq;
            std::string raw = eq + strspn(eq, " \t");
            while (!raw.empty() && strchr(" \t\r\n", raw.back()) != nullptr)
                raw.pop_back();
            value = vexashare::listFromConf(raw);
        }
        if (VRALSzHashSetValue(&sec.pairs, key != nullptr ? key : VRALSzListItem(pair, 0), value.c_str()) < 0)
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
        VRAL_LOG_ERR("Failed to parse section name[%s], vexaerr=0x%04X", line, VRALErrGet());
        return 0;
    }
    sec.type = VEXAShareSectionTypeGet(sec.name) == 1 ? kReserved : kShare;
    // a reserved section's item 0 is its name, a share's its line as read
    if (VRALSzListPush(&sec.lines, sec.type == kReserved ? sec.name : line) < 0) {
        VRAL_LOG_ERR("VRALSzListPush [%s] failed!! vexaerr=0x%04X", line, VRALErrGet());
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
        VRAL_LOG_ERR("cannot open the group and user databases. vexaerr=0x%04X", VRALErrGet());
        return -1;
    }
    int kept = 0;
    vralfile::LineReader reader(fp);
    int r = 0;
    while (r == 0 && reader.Next()) {
        char *line = reader.Data();
        size_t n = reader.Length();
        if (n > 0 && line[n - 1] == '\n')
            line[--n] = '\0';
        if (VRALFileIsSectionLine(line, static_cast<int>(n)) == 1) {
            r = ShareDBSetOne(db, sec.lines, sec.pairs, sec.name, sec.type, dbs, &kept);
            ShareDBSectionReset(sec.lines, sec.pairs, sec.type);
            sec.type = kNone;
            if (r == 0)
                r = sectionLine(sec, line);
        } else if (sec.type == kReserved) {
            r = reservedLine(sec, line);
        } else if (sec.type == kShare) {
            r = shareLine(sec, line);
        }
    }
    if (r == 0)
        r = ShareDBSetOne(db, sec.lines, sec.pairs, sec.name, sec.type, dbs, &kept);
    if (r == 0 && reader.Failed()) {
        VRAL_LOG_ERR("Fail to read the end of the file. errno=%d/%m", errno);
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
            VRAL_LOG_ERR("fstat() failed!! errno=%d/%m", errno);
            VRAL_ERR_SET(ERR_STAT_FAILED);
            return -1;
        }
        if (parse(fp, db) != 0)
            return -1;
        if (vexabdb::cacheStoreSources(vexashare::kShareSet, db, &st) != 0) {
            VRAL_LOG_ERR("VEXABDbConfSyncTimeSet() failed!! vexaerr=0x%04X", VRALErrGet());
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

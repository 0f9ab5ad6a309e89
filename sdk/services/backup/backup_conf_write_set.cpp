// The one writer of a set behind the network and the local writer.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "base/err/err_log.h"
#include "base/err/vral_err.h"
#include "base/file/file_internal.h"
#include "base/file/vral_file.h"
#include "services/backup/backup_internal.h"

namespace vexabkp {

namespace {

    struct HashFree {
        void operator()(VRALSzHash *p) const { VRALSzHashFree(p); }
    };

    struct ListFree {
        void operator()(VRALSzList *p) const { VRALSzListFree(p); }
    };

    // A name the reader gets back whole; "" would be skipped by the reader,
    // so lost.  Values are kept to their key line the same way.
    bool NameWritable(const char *szName)
    {
        return szName != nullptr && szName[0] != '\0' && strlen(szName) <= VEXA_BKPSET_NAME_MAX &&
               strpbrk(szName, "\r\n") == nullptr;
    }

    // 1 when the file has a header of the section, 0 when not (or when there is
    // no file), -1 when it cannot be read.
    int HasSection(const char *szFile, const char *szName)
    {
        bool found = false;
        const int rc = ScanHeaders(szFile, [&](std::string_view line) {
            found = VRALFileMatchSection(line.data(), static_cast<int>(line.size()), szName) == 1;
            return !found;
        });
        return rc < 0 ? -1 : (found ? 1 : 0);
    }

    // The key of a set's line as the set reader takes it, or "" for a line
    // that holds no pair.  Throws std::bad_alloc without memory, which ends
    // the rewrite with the file as it was.
    std::string LineKey(std::string_view line)
    {
        std::string text(line);
        std::unique_ptr<VRALSzList, ListFree> list(PslVRALSzListAlloc(512));
        VRALSzList *raw = list.release();
        const int split = raw != nullptr ? SetLinePair(text.data(), &raw) : -1;
        list.reset(raw);
        if (!list || split < 0)
            throw std::bad_alloc();
        return split == 2 ? std::string(VRALSzListItem(list.get(), 0)) : std::string();
    }

    // The pairs of the first set of that name as the set reader reads it:
    // from its header to the next header.  1 found, 0 not, -1.
    int ReadSet(const char *szFile, const char *szName, VRALSzHash **ppHash)
    {
        struct stat st { };
        if (stat(szFile, &st) != 0)
            return 0;
        std::unique_ptr<FILE, int (*)(FILE *)> fp(fopen(szFile, "re"), fclose);
        std::unique_ptr<VRALSzList, ListFree> list(PslVRALSzListAlloc(512));
        if (!fp || !list) {
            VRAL_ERR_SET(!fp ? ERR_OPEN_FAILED : ERR_OUT_OF_MEMORY);
            return -1;
        }
        vralfile::LineReader line(fp.get());
        int found = 0;
        while (line.Next()) {
            const ssize_t len = static_cast<ssize_t>(line.Length());
            const bool header = VRALFileIsSectionLine(line.Data(), static_cast<int>(len)) == 1;
            if (found == 0) {
                found = header && VRALFileMatchSection(line.Data(), static_cast<int>(len), szName) == 1 ? 1 : 0;
                continue;
            }
            if (header)
                break;
            VRALSzList *raw = list.release();
            const int split = SetLinePair(line.Data(), &raw);
            list.reset(raw);
            if (!list || split < 0) {
                VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
                return -1;
            }
            if (split == 2 && !PairSet(ppHash, VRALSzListItem(list.get(), 0), VRALSzListItem(list.get(), 1)))
                return -1;
        }
        if (line.Failed()) {
            VRAL_ERR_SET(ERR_READ_FAILED);
            return -1;
        }
        return found;
    }

    // An empty file to add the first set to, never through what is there.
    int CreateFile(const char *src, const char *szFile, mode_t newMode)
    {
        struct stat st { };
        if (stat(szFile, &st) == 0)
            return 0;
        if (errno != ENOENT) {
            VRAL_LOG_AS(src, "Failed to stat file [%s], errno=[%d/%m]", szFile, errno);
            VRAL_ERR_SET(ERR_STAT_FAILED);
            return -1;
        }
        const int fd = open(szFile, O_RDWR | O_CREAT | O_EXCL | O_TRUNC | O_SYNC | O_CLOEXEC, newMode);
        if (fd < 0) {
            VRAL_LOG_AS(src, "Failed to open file [%s], errno=[%d/%m]", szFile, errno);
            VRAL_ERR_SET(ERR_OPEN_FAILED);
            return -1;
        }
        close(fd);
        return 0;
    }

}  // namespace

int WriteSet(const char *src, const char *szFile, mode_t newMode, const char *szOldBkpset, const char *szSetName,
             std::span<const Pair> strings, std::span<const IntPair> ints, bool nullAsEmpty)
{
    bool writable = NameWritable(szSetName);
    for (const auto &[key, value] : strings)
        writable = writable && (value == nullptr || strpbrk(value, "\r\n") == nullptr);
    if (!writable) {
        VRAL_LOG_AS(src, "set [%s] not written: a name or value it cannot keep", szSetName != nullptr ? szSetName : "");
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    std::unique_ptr<VRALSzHash, HashFree> old(VRALSzHashAlloc(1024));
    std::unique_ptr<VRALSzHash, HashFree> hash(VRALSzHashAlloc(1024));
    if (!old || !hash) {
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return -1;
    }
    const bool named = szOldBkpset != nullptr && szOldBkpset[0] != '\0';
    VRALSzHash *raw = old.release();
    const int replacing = named ? ReadSet(szFile, szOldBkpset, &raw) : 0;
    old.reset(raw);
    if (replacing < 0)
        return -1;
    const bool renaming = replacing == 0 || strcmp(szOldBkpset, szSetName) != 0;
    // A set read back whole keeps its name; only a new name may not hold
    // what reads as a header of its own.
    if (renaming && strpbrk(szSetName, "[]") != nullptr) {
        VRAL_LOG_AS(src, "set name [%s] refused: brackets", szSetName);
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    // A name taken by another set is never written a second time: by an
    // add, or by a rename, after which every replace would write both.
    if (renaming) {
        const int taken = HasSection(szFile, szSetName);
        if (taken != 0) {
            if (taken > 0 && replacing == 1) {
                VRAL_LOG_AS(src, "set [%s] exists, [%s] not renamed to it", szSetName, szOldBkpset);
                VRAL_ERR_SET(ERR_BAD_PARAMETERS);
            } else if (taken > 0) {
                VRAL_LOG_AS(src, "set [%s] exists in [%s], not added again", szSetName, szFile);
            }
            return -1;
        }
    }
    // The record's keys; a NULL string keeps the old set's value.
    bool filled = true;
    raw = hash.release();
    for (const auto &[key, value] : strings) {
        const char *kept = value == nullptr && !nullAsEmpty ? SzVRALSzHashGetValue(old.get(), key) : nullptr;
        if (value != nullptr || nullAsEmpty || kept != nullptr)
            filled = filled && PairSet(&raw, key, value != nullptr ? value : (kept != nullptr ? kept : ""));
    }
    for (const auto &[key, value] : ints)
        filled = filled && PairSetInt(&raw, key, value);
    hash.reset(raw);
    if (!filled)
        return -1;

    if (replacing == 0) {
        if (CreateFile(src, szFile, newMode) != 0)
            return -1;
        if (ErrVRALFileAddSection(szFile, szSetName, hash.get(), kKeyFormat) != 1) {
            VRAL_LOG_AS(src, "ErrVRALFileAddSection() failed!! szFile=[%s], section=[%s], errno=[0x%04X]", szFile,
                        szSetName, VRALErrGet());
            return -1;
        }
        return 0;
    }
    // The old set's lines stay byte for byte after the record's keys, but
    // for those that hold one of them: comments, keys the record does not
    // know, lines that are no pair.
    const int rc = vralfile::ModifySection(szFile, szOldBkpset, szSetName, hash.get(), true, kKeyFormat,
                                           [&](std::string_view line) {
                                               const std::string key = LineKey(line);
                                               return key.empty() ||
                                                      SzVRALSzHashGetValue(hash.get(), key.c_str()) == nullptr;
                                           });
    if (rc < 0) {
        VRAL_LOG_AS(src,
                    "ErrVRALFileSetSection() failed!! szFile=[%s], old_section=[%s], new_section=[%s], errno=[0x%04X]",
                    szFile, szOldBkpset, szSetName, VRALErrGet());
        return -1;
    }
    return 0;
}

}  // namespace vexabkp

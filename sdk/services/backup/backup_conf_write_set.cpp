// The one writer of a set behind the network and the local writer.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "base/err/vral_err.h"
#include "base/file/vral_file.h"
#include "services/backup/backup_internal.h"

#define SRC_LOG(fmt, ...) syslog(LOG_ERR, "%s:%d " fmt, src, __LINE__ __VA_OPT__(, ) __VA_ARGS__)

namespace vexabkp {

namespace {

    struct HashFree {
        void operator()(VRALSzHash *p) const { VRALSzHashFree(p); }
    };

    // A name the reader gets back whole and that cannot open or close a
    // section of its own; "" would be skipped by the reader, so lost.  Values
    // are kept to their key line the same way.
    bool NameWritable(const char *szName)
    {
        return szName != nullptr && szName[0] != '\0' && strlen(szName) <= VEXA_BKPSET_NAME_MAX &&
               strpbrk(szName, "[]\r\n") == nullptr;
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

    // An empty file to add the first set to, never through what is there.
    int CreateFile(const char *src, const char *szFile, mode_t newMode)
    {
        struct stat st { };
        if (stat(szFile, &st) == 0)
            return 0;
        if (errno != ENOENT) {
            SRC_LOG("Failed to stat file [%s], errno=[%d/%m]", szFile, errno);
            VRAL_ERR_SET(ERR_STAT_FAILED);
            return -1;
        }
        const int fd = open(szFile, O_RDWR | O_CREAT | O_EXCL | O_TRUNC | O_SYNC | O_CLOEXEC, newMode);
        if (fd < 0) {
            SRC_LOG("Failed to open file [%s], errno=[%d/%m]", szFile, errno);
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
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    std::unique_ptr<VRALSzHash, HashFree> hash(VRALSzHashAlloc(1024));
    if (!hash) {
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return -1;
    }
    const bool named = szOldBkpset != nullptr && szOldBkpset[0] != '\0';
    const int replacing = named ? HasSection(szFile, szOldBkpset) : 0;
    if (replacing < 0)
        return -1;
    if (replacing == 1) {
        VRALSzHash *raw = hash.release();
        const int rc = VRALFileGetSection(szFile, szOldBkpset, &raw);
        hash.reset(raw);
        if (rc < 0)
            return -1;
    }
    // A name taken by another set is never written a second time: by an
    // add, or by a rename, after which every replace would write both.
    if (replacing == 0 || strcmp(szOldBkpset, szSetName) != 0) {
        const int taken = HasSection(szFile, szSetName);
        if (taken != 0) {
            if (taken > 0 && replacing == 1) {
                SRC_LOG("set [%s] exists, [%s] not renamed to it", szSetName, szOldBkpset);
                VRAL_ERR_SET(ERR_BAD_PARAMETERS);
            } else if (taken > 0) {
                SRC_LOG("set [%s] exists in [%s], not added again", szSetName, szFile);
            }
            return -1;
        }
    }
    bool filled = true;
    VRALSzHash *raw = hash.release();
    for (const auto &[key, value] : strings) {
        if (value != nullptr || nullAsEmpty)
            filled = filled && PairSet(&raw, key, value != nullptr ? value : "");
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
            SRC_LOG("ErrVRALFileAddSection() failed!! szFile=[%s], section=[%s], errno=[0x%04X]", szFile, szSetName,
                    VRALErrGet());
            return -1;
        }
        return 0;
    }
    if (ErrVRALFileSetSection(szFile, szOldBkpset, szSetName, hash.get(), kKeyFormat) < 0) {
        SRC_LOG("ErrVRALFileSetSection() failed!! szFile=[%s], old_section=[%s], new_section=[%s], errno=[0x%04X]",
                szFile, szOldBkpset, szSetName, VRALErrGet());
        return -1;
    }
    return 0;
}

}  // namespace vexabkp

// The patch table: name lookups, filling from the flash directory and the
// package folder, and the moving of erase blocks between partitions.
#include "updt_patch.h"

#include "patch_internal.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>
#include <strings.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <syslog.h>

namespace {

bool sameName(const char *a, const char *b)
{
    return strcasecmp(a, b) == 0;
}

// A directory name is only trusted up to its 16 bytes.
bool entryNamed(const FISDIRENTRY &e, const char *name)
{
    return strncasecmp(e.name, name, sizeof(e.name)) == 0 && std::strlen(name) <= sizeof(e.name);
}

uint32_t blocksFor(uint64_t bytes, uint32_t blockSize)
{
    return static_cast<uint32_t>((bytes + blockSize - 1) / blockSize);
}

// The boot loader only gives blocks away when the package replaces it.
bool mayDonate(const PATCHINFO &p)
{
    if (IsFixedPartition(p.part))
        return false;
    if (sameName(p.part, "RedBoot") || sameName(p.part, "RedBoot.msys"))
        return p.fneedupdate == 1;
    return true;
}

}  // namespace

extern "C" const char *SzUPDTGetDeviceByName(const char *part)
{
    if (part == nullptr) {
        syslog(LOG_ERR, "%s(%d): parameter error", __func__, __LINE__);
        return nullptr;
    }
    for (const PARTDEV *p = gPartDevTable; p < gPartDevTable + UPDT_TABLE_MAX && p->name != nullptr; ++p) {
        if (sameName(p->name, part))
            return p->device;
    }
    syslog(LOG_ERR, "%s(%d): unknown partition name [%s]", __func__, __LINE__, part);
    return nullptr;
}

extern "C" int GetIdxByName(const char *name, FISDIRENTRY *directory, int count)
{
    if (name == nullptr || directory == nullptr) {
        syslog(LOG_ERR, "%s(%d): parameter error", __func__, __LINE__);
        return -1;
    }
    for (int i = 0; i < count; ++i) {
        if (entryNamed(directory[i], name))
            return i;
    }
    syslog(LOG_ERR, "%s(%d): unknown partition name [%s]", __func__, __LINE__, name);
    return -1;
}

extern "C" int IsFixedPartition(const char *part)
{
    if (part == nullptr)
        return 0;
    static const char *const fixed[] = {"vexacfg", "vendor", "RedBoot Config", "FIS Directory"};
    for (const char *f : fixed) {
        if (sameName(part, f))
            return 1;
    }
    return 0;
}

extern "C" int UPDTNeedResize(PATCHINFO *table, int count)
{
    if (table == nullptr)
        return 0;
    for (int i = 0; i < count && table[i].part != nullptr; ++i) {
        if (table[i].balance < 0)
            return 1;
    }
    return 0;
}

namespace {

// The erase-block size of the directory's device into gEraseBlockSize.
bool readEraseBlockSize()
{
    const char *dirDevice = SzUPDTGetDeviceByName("FIS Directory");
    if (dirDevice == nullptr || !updtpatch::deviceInfo(dirDevice, nullptr, &gEraseBlockSize)) {
        syslog(LOG_ERR, "%s(%d): fail to get device info", "UPDTInitPatchInfo", __LINE__);
        return false;
    }
    if (gEraseBlockSize == 0) {
        syslog(LOG_ERR, "%s(%d): gEraseBlockSize == 0", "UPDTInitPatchInfo", __LINE__);
        return false;
    }
    return true;
}

// The flash from zImage to the end of the directory partition, in bytes;
// 0 when the directory does not say.
uint32_t usableFlash(const FISDIRENTRY *directory, int count)
{
    uint32_t dirBase = 0, dirSize = 0, zImageBase = 0;
    for (int i = 0; i < count; ++i) {
        if (entryNamed(directory[i], "FIS Directory")) {
            dirBase = directory[i].flashBase;
            dirSize = directory[i].size;
        } else if (entryNamed(directory[i], "zImage")) {
            zImageBase = directory[i].flashBase;
        }
    }
    if (dirSize == 0 || dirBase <= zImageBase) {
        syslog(LOG_ERR, "%s(%d): ulAddrMtd7 = %lx, ulAddrMtd0 = %lx, ulSizeMtd7 = %lx", "UPDTInitPatchInfo",
               __LINE__, static_cast<unsigned long>(dirBase), static_cast<unsigned long>(zImageBase),
               static_cast<unsigned long>(dirSize));
        syslog(LOG_ERR, "%s(%d): flashsize == 0", "UPDTInitPatchInfo", __LINE__);
        return 0;
    }
    const uint32_t flashsize = dirBase - zImageBase + dirSize;
    if (flashsize == 0)
        syslog(LOG_ERR, "%s(%d): flashsize == 0", "UPDTInitPatchInfo", __LINE__);
    return flashsize;
}

// What the package holds for one partition: -1 refused, 0 no image (also
// an empty one), 1 an image of size bytes.  The image is looked at without
// following a link: only a regular file of the package is written.
int examineImage(const char *file, uint64_t &size, const char *fn)
{
    struct stat st {};
    if (::fstatat(AT_FDCWD, file, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT && errno != ENOTDIR) {
            syslog(LOG_ERR, "%s(%d): file [%s] cannot be examined, errno = %d", fn, __LINE__, file, errno);
            return -1;
        }
        syslog(LOG_ERR, "%s(%d): file [%s] not included in the patch package ", fn, __LINE__, file);
        return 0;
    }
    if (!S_ISREG(st.st_mode)) {
        syslog(LOG_ERR, "%s(%d): file [%s] is not a regular file", fn, __LINE__, file);
        return -1;
    }
    if (static_cast<uint64_t>(st.st_size) > UINT32_MAX) {
        syslog(LOG_ERR, "%s(%d): file [%s] is too large", fn, __LINE__, file);
        return -1;
    }
    if (st.st_size == 0) {
        // An empty image cannot be written; the partition keeps its data.
        syslog(LOG_ERR, "%s(%d): file [%s] is empty, ignored", fn, __LINE__, file);
        return 0;
    }
    size = static_cast<uint64_t>(st.st_size);
    return 1;
}

}  // namespace

namespace updtpatch {

long long fillEntry(int i, FISDIRENTRY *directory, int count, const char *fn, const char *label)
{
    PATCHINFO &p = gPatchInfo[i];
    if (p.part == nullptr || p.file == nullptr) {
        syslog(LOG_ERR, "%s(%d): parameter error ", fn, __LINE__);
        return -1;
    }
    int idx = updtpatch::entryIndex(p.part, i, directory, count, fn, __LINE__);
    if (idx < 0)
        return -1;
    const FISDIRENTRY &e = directory[idx];
    const uint32_t ebs = gEraseBlockSize;

    uint64_t imageSize = 0;
    int present = examineImage(p.file, imageSize, fn);
    if (present < 0)
        return -1;
    updtpatch::gHasImage[i] = present == 1;
    uint32_t nblock;
    if (present == 1) {
        p.datalen = static_cast<uint32_t>(imageSize);
        nblock = blocksFor(imageSize, ebs);
        p.fneedupdate = 1;
    } else {
        p.datalen = e.dataLength;
        nblock = blocksFor(e.dataLength, ebs);
        p.fneedupdate = 0;
    }
    p.start = e.flashBase;
    p.size = e.size;
    p.balance = static_cast<int>(e.size / ebs) - static_cast<int>(nblock);
    p.nresize = 0;
    syslog(LOG_ERR,
           "PATCHINFO: %s[%s] file[%s] start = [0x%08X] size = [0x%08X] datalen = [0x%08X] "
           "nblock = [%u] balance = [%d] fneedupdate = [%d]",
           label, p.part, p.file, p.start, p.size, p.datalen, nblock, p.balance, p.fneedupdate);
    return nblock;
}

}  // namespace updtpatch

extern "C" int UPDTInitPatchInfo(FISDIRENTRY *directory, int count)
try {
    if (directory == nullptr || count <= 0) {
        syslog(LOG_ERR, "%s(%d): parameter error ", __func__, __LINE__);
        return -1;
    }
    if (!readEraseBlockSize())
        return -1;
    const uint32_t flashsize = usableFlash(directory, count);
    if (flashsize == 0)
        return -1;
    syslog(LOG_ERR, "flashsize = 0x%08X, eraseblock = 0x%08X", flashsize, gEraseBlockSize);
    // Whatever the table will need: a directory that is not sound is
    // never written to.
    if (UPDTCheckDirectory(directory, count) != 0)
        return -1;

    uint64_t total = 0;
    std::fill(std::begin(updtpatch::gHasImage), std::end(updtpatch::gHasImage), false);
    for (int i = 0; i < gPatchCount && i < UPDT_TABLE_MAX; ++i) {
        long long nblock = updtpatch::fillEntry(i, directory, count, __func__, "part");
        if (nblock < 0)
            return -1;
        total += static_cast<uint64_t>(nblock);
    }

    if (total > flashsize / gEraseBlockSize) {
        syslog(LOG_ERR, "%s(%d): the binary size exceeds flash size limit(total = %d)", __func__, __LINE__,
               static_cast<int>(total));
        return -1;
    }
    return 0;
} catch (...) {
    // Nothing escapes to the C caller: a failed allocation fails the call.
    return updtpatch::outOfMemory(__func__);
}

extern "C" int ErrUPDTAdjustPartitionSize(PATCHINFO *table, int count)
try {
    if (table == nullptr || count <= 0) {
        syslog(LOG_ERR, "%s(%d): parameter error", __func__, __LINE__);
        return -1;
    }
    for (int i = 0; i < count && table[i].part != nullptr; ++i) {
        if (table[i].balance >= 0)
            continue;
        if (IsFixedPartition(table[i].part)) {
            // A fixed partition never moves nor grows.
            syslog(LOG_ERR, "%s(%d): fixed partition [%s] is too small for its image", __func__, __LINE__,
                   table[i].part);
            return -1;
        }
        while (table[i].balance < 0) {
            int donor = -1;
            for (int j = 0; j < count && table[j].part != nullptr; ++j) {
                if (j == i || !mayDonate(table[j]))
                    continue;
                if (donor < 0 || table[j].balance > table[donor].balance)
                    donor = j;
            }
            if (donor < 0 || table[donor].balance <= 0) {
                syslog(LOG_ERR, "%s(%d): negative balance", __func__, __LINE__);
                return -1;
            }
            --table[donor].balance;
            --table[donor].nresize;
            ++table[i].balance;
            ++table[i].nresize;
        }
    }

    long long shift = 0;
    for (PATCHINFO *p = table; p->part != nullptr; ++p) {
        if (IsFixedPartition(p->part))
            continue;
        if (shift == 0 && p->nresize == 0)
            continue;
        p->start = static_cast<uint32_t>(p->start + static_cast<long long>(gEraseBlockSize) * shift);
        p->size = static_cast<uint32_t>(p->size + static_cast<long long>(gEraseBlockSize) * p->nresize);
        p->fneedupdate = 1;
        shift += p->nresize;
    }
    return 0;
} catch (...) {
    // Nothing escapes to the C caller: a failed allocation fails the call.
    return updtpatch::outOfMemory(__func__);
}

namespace {

// One range of flash that must not overlap another.
struct Range {
    std::string name;
    uint64_t lo, hi;
};

std::string rangeName(const FISDIRENTRY &e)
{
    return updtpatch::entryName(e);
}

// The flash the directory describes: from its lowest partition to the end
// of the directory partition, which lies last; empty without it.
void flashSpan(const FISDIRENTRY *directory, int entries, uint64_t &lo, uint64_t &hi)
{
    lo = UINT64_MAX;
    hi = 0;
    for (int k = 0; k < entries; ++k) {
        lo = std::min<uint64_t>(lo, directory[k].flashBase);
        if (entryNamed(directory[k], "FIS Directory"))
            hi = std::max<uint64_t>(hi, uint64_t{directory[k].flashBase} + directory[k].size);
    }
}

// Every range block-aligned, inside [spanLo, spanHi), none overlapping
// another; each fault logged as func's.  0 or -1.
int checkRanges(const std::vector<Range> &ranges, uint64_t spanLo, uint64_t spanHi, const char *func)
{
    const uint64_t ebs = gEraseBlockSize;
    int rc = 0;
    for (const Range &r : ranges) {
        if (r.lo % ebs != 0 || (r.hi - r.lo) % ebs != 0) {
            syslog(LOG_ERR, "%s(%d): partition [%s] 0x%08llX+0x%08llX is not erase-block aligned", func, __LINE__,
                   r.name.c_str(), static_cast<unsigned long long>(r.lo), static_cast<unsigned long long>(r.hi - r.lo));
            rc = -1;
        }
        if (r.lo < spanLo || r.hi > spanHi) {
            syslog(LOG_ERR, "%s(%d): partition [%s] 0x%08llX+0x%08llX lies outside the flash", func, __LINE__,
                   r.name.c_str(), static_cast<unsigned long long>(r.lo), static_cast<unsigned long long>(r.hi - r.lo));
            rc = -1;
        }
    }
    for (size_t a = 0; a < ranges.size(); ++a) {
        for (size_t b = a + 1; b < ranges.size(); ++b) {
            if (ranges[a].lo < ranges[b].hi && ranges[b].lo < ranges[a].hi) {
                syslog(LOG_ERR, "%s(%d): partitions [%s] and [%s] overlap", func, __LINE__, ranges[a].name.c_str(),
                       ranges[b].name.c_str());
                rc = -1;
            }
        }
    }
    return rc;
}

}  // namespace

extern "C" int UPDTCheckDirectory(const FISDIRENTRY *directory, int entries)
{
    if (directory == nullptr || entries <= 0 || gEraseBlockSize == 0) {
        syslog(LOG_ERR, "%s(%d): parameter error", __func__, __LINE__);
        return -1;
    }
    int rc = 0;
    std::vector<Range> ranges;
    for (int k = 0; k < entries; ++k) {
        const std::string name = rangeName(directory[k]);
        for (int j = 0; j < k; ++j) {
            if (entryNamed(directory[j], name.c_str())) {
                syslog(LOG_ERR, "%s(%d): partition [%s] is listed twice", __func__, __LINE__, name.c_str());
                rc = -1;
            }
        }
        if (directory[k].size > 0)
            ranges.push_back({name, directory[k].flashBase, uint64_t{directory[k].flashBase} + directory[k].size});
    }
    uint64_t spanLo, spanHi;
    flashSpan(directory, entries, spanLo, spanHi);
    if (checkRanges(ranges, spanLo, spanHi, __func__) != 0)
        rc = -1;
    return rc;
}

extern "C" int UPDTCheckLayout(const PATCHINFO *table, int count, const FISDIRENTRY *directory, int entries)
{
    if (table == nullptr || directory == nullptr || count <= 0 || entries <= 0 || gEraseBlockSize == 0) {
        syslog(LOG_ERR, "%s(%d): parameter error", __func__, __LINE__);
        return -1;
    }

    // Ranges that must not overlap: the table's new ones, and directory
    // entries the table does not hold, which stay where they are.
    std::vector<Range> ranges;
    for (int k = 0; k < entries; ++k) {
        bool inTable = false;
        for (int i = 0; i < count && table[i].part != nullptr; ++i)
            inTable = inTable || entryNamed(directory[k], table[i].part);
        if (!inTable && directory[k].size > 0)
            ranges.push_back({rangeName(directory[k]), directory[k].flashBase,
                              uint64_t{directory[k].flashBase} + directory[k].size});
    }

    int rc = 0;
    for (int i = 0; i < count && table[i].part != nullptr; ++i) {
        const PATCHINFO &p = table[i];
        if (p.balance < 0 || p.datalen > p.size) {
            syslog(LOG_ERR, "%s(%d): partition [%s] is too small for its data", __func__, __LINE__, p.part);
            rc = -1;
        }
        if (p.size > 0)
            ranges.push_back({p.part, p.start, uint64_t{p.start} + p.size});
    }
    uint64_t spanLo, spanHi;
    flashSpan(directory, entries, spanLo, spanHi);
    if (checkRanges(ranges, spanLo, spanHi, __func__) != 0)
        rc = -1;
    return rc;
}

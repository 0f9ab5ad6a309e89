// The flash write: every marked partition gets its new place and size, is
// erased, written and read back (three attempts), and is recorded in the
// flash directory.
#include "updt_patch.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <memory>
#include <optional>
#include <string>
#include <syslog.h>
#include <unistd.h>
#include <vector>

#include "base/io/io_fail_text.h"
#include "base/io/vral_io.h"
#include "patch_internal.h"
#include "updt_status.h"

namespace {

using updtpatch::Plan;
using updtpatch::planEntry;
using vexamtd::Fd;

// Opens path for a copy or a verification, logging a failure as func's.
Fd openLogged(const char *path, int flags, const char *func, int line)
{
    Fd fd(path, flags | O_CLOEXEC);
    if (!fd.ok())
        PATCH_LOG_AT(line, func, "open [%s] error: (%d) %s.", path, errno, strerror(errno));
    return fd;
}

// Reads from the start of the open source.
bool rewind(int src, const char *source, const char *func, int line)
{
    if (::lseek(src, 0, SEEK_SET) == 0)
        return true;
    PATCH_LOG_AT(line, func, "read file [%s] error: (%d) %s.", source, errno, strerror(errno));
    return false;
}

// Allocates a transfer buffer of chunk bytes; NULL logged as func's.
std::unique_ptr<unsigned char[]> chunkBuffer(int chunk, const char *func, int line)
{
    std::unique_ptr<unsigned char[]> buf(new (std::nothrow) unsigned char[chunk]);
    if (!buf)
        PATCH_LOG_AT(line, func, "malloc [%d] fail: (%d) %s.", chunk, ENOMEM, strerror(ENOMEM));
    return buf;
}

// The next round of the source: up to chunk bytes, never past length;
// -1 logged as func's read failure, 0 at its end.
ssize_t readRound(int src, unsigned char *buf, int chunk, uint64_t done, uint64_t length,
                  const char *source, const char *func, int line)
{
    size_t want = static_cast<size_t>(std::min<uint64_t>(static_cast<uint64_t>(chunk), length - done));
    ssize_t got = VRALIoReadAll(src, buf, want);
    if (got < 0)
        PATCH_LOG_AT(line, func, "read file [%s] error: (%d) %s.", source, errno, strerror(errno));
    return got;
}

// A source that ended before length bytes: the partition would be left
// partly written or unchecked, so the attempt fails.
int shortSource(const char *source, uint64_t done, uint64_t length, const char *func, int line)
{
    PATCH_LOG_AT(line, func, "read file [%s] only %llu bytes, %llu bytes needed.", source,
                 static_cast<unsigned long long>(done), static_cast<unsigned long long>(length));
    return -1;
}

// Moves erase blocks when a partition is short and settles every marked
// partition's source: nothing touches the flash until all are known.
bool planWrite(FISDIRENTRY *directory, int count, std::vector<Plan> &plans)
{
    const char *fn = "UPDTDoPatch";
    if (UPDTNeedResize(gPatchInfo, gPatchCount)) {
        syslog(LOG_ERR, "%s(%d): NEED RESIZE THE PARTITION", fn, __LINE__);
        if (ErrUPDTAdjustPartitionSize(gPatchInfo, gPatchCount) != 0 ||
            UPDTCheckLayout(gPatchInfo, gPatchCount, directory, count) != 0) {
            syslog(LOG_ERR, "%s(%d): fail to resize", fn, __LINE__);
            return false;
        }
    }
    const int n = std::min(gPatchCount, UPDT_TABLE_MAX);
    plans.resize(static_cast<size_t>(std::max(n, 0)));
    uint64_t total = 0;
    for (int i = 0; i < n; ++i) {
        const PATCHINFO &p = gPatchInfo[i];
        if (p.part == nullptr || !p.fneedupdate)
            continue;
        if (!planEntry(i, directory, count, plans[static_cast<size_t>(i)], fn))
            return false;
        total += plans[static_cast<size_t>(i)].length;
    }
    gProgressTotal = 2 * total;
    gProgressDone = 0;
    return true;
}

// One attempt at a planned partition: unlock, erase, copy, verify.
bool writeAttempt(const Plan &plan, int attempt)
{
    const char *fn = "UPDTDoPatch";
    if (VEXAMTDUnlockPartition(plan.device) < 0) {
        syslog(LOG_ERR, "%s: unlock [%s] fail", fn, plan.device);
        return false;
    }
    PATCH_LOG(fn, "Try to Erase MTD Partition(%s), [%d/%d]...", plan.device, attempt, UPDT_ATTEMPTS);
    if (VEXAMTDErasePartition(plan.device) < 0) {
        syslog(LOG_ERR, "%s: VEXAMTDErasePartition() fail", fn);
        return false;
    }
    return updtpatch::writeAndVerify(plan, attempt, true, fn) == 0;
}

// Writes the planned partitions in table order; 0 or -1.
int writePlanned(const std::vector<Plan> &plans)
{
    using namespace updtpatch;
    const char *fn = "UPDTDoPatch";
    uint64_t before = 0;  // bytes of the earlier marked partitions
    for (size_t i = 0; i < plans.size(); ++i) {
        const PATCHINFO &p = gPatchInfo[i];
        if (p.part == nullptr)
            break;
        if (!p.fneedupdate) {
            syslog(LOG_ERR, "%s: skip updating [%s]", fn, p.part);
            continue;
        }
        const Plan &plan = plans[i];
        gFlashTouched = true;
        if (p.size == 0) {
            // No window of no block can be set: only the entry is recorded.
            if (recordEntry(plan.dirName, p.start, 0, 0, fn) != 0)
                return -1;
            syslog(LOG_ERR, "%s: Finish updating [%s]", fn, p.part);
            continue;
        }
        if (VEXAMTDModifyPartitionSize(plan.device, p.start, p.size) < 0) {
            syslog(LOG_ERR, "%s: VEXAMTDModifyPartitionSize() fail", fn);
            return -1;
        }
        int attempts = 0;
        bool done = false;
        while (attempts < UPDT_ATTEMPTS && !done) {
            gProgressDone = 2 * before;
            setWriteProgress();
            done = writeAttempt(plan, attempts++);
        }
        if (!done) {
            PATCH_LOG(fn, "Try to Update [%s] %d counts failed ...", plan.device, attempts);
            return -1;
        }
        if (recordEntry(plan.dirName, p.start, p.size, p.datalen, fn) != 0)
            return -1;
        syslog(LOG_ERR, "%s: Finish updating [%s]", fn, p.part);
        before += plan.length;
    }
    return 0;
}

}  // namespace

namespace updtpatch {

bool planEntry(int i, FISDIRENTRY *directory, int count, Plan &plan, const char *fn)
{
    const PATCHINFO &p = gPatchInfo[i];
    plan.device = SzUPDTGetDeviceByName(p.part);
    if (plan.device == nullptr) {
        syslog(LOG_ERR, "%s(%d): fail to get device path", fn, __LINE__);
        return false;
    }
    int idx = entryIndex(p.part, i, directory, count, fn, __LINE__);
    if (idx < 0)
        return false;
    const FISDIRENTRY &old = directory[idx];
    plan.dirName = entryName(old);
    if (gHasImage[i]) {
        plan.sourceName = packagePath(p.file);
        plan.source.emplace(openImage(plan.sourceName.c_str(), fn, __LINE__));
        struct stat st {};
        if (!plan.source->ok() || ::fstat(plan.source->get(), &st) != 0 ||
            st.st_size != static_cast<off_t>(p.datalen)) {
            syslog(LOG_ERR, "%s(%d): image [%s] is gone or changed since the patch table was built", fn, __LINE__,
                   plan.sourceName.c_str());
            return false;
        }
        plan.length = p.datalen;
        return true;
    }
    // An empty partition that gave its blocks away keeps no data: only its
    // entry changes, nothing is erased or copied.
    if (p.size == 0 && p.datalen == 0) {
        plan.length = 0;
        return true;
    }
    if (gGroupUpdate) {
        syslog(LOG_ERR, "%s(%d): partition [%s] must be moved but the package holds no image for it", fn, __LINE__,
               p.part);
        return false;
    }
    plan.sourceName = backupCopyPath(plan.dirName);
    long long have = -1;
    plan.source.emplace(openCopy(plan.dirName, have));
    if (have != static_cast<long long>(old.size)) {
        syslog(LOG_ERR, "%s(%d): backup [%s] is missing or not 0x%08X bytes", fn, __LINE__, plan.sourceName.c_str(),
               old.size);
        return false;
    }
    // Only what fits the new range; its data lies at the front.
    plan.length = std::min<uint64_t>(static_cast<uint64_t>(have), p.size);
    if (plan.length < p.datalen || plan.length == 0) {
        syslog(LOG_ERR, "%s(%d): partition [%s] is too small for its data", fn, __LINE__, p.part);
        return false;
    }
    return true;
}

int writeAndVerify(const Plan &plan, int attempt, bool progress, const char *fn)
{
    const int src = plan.source->get();
    PATCH_LOG(fn, "Try to Write MTD Partition(%s), [%d/%d]...", plan.device, attempt, UPDT_ATTEMPTS);
    if (copyToDevice(src, plan.sourceName.c_str(), plan.device, plan.length, UPDT_COPY_CHUNK, progress,
                     "UPDTCopyFile") < 0)
        return -1;
    PATCH_LOG(fn, "Try to Verify MTD Partition(%s), [%d/%d]...", plan.device, attempt, UPDT_ATTEMPTS);
    return compareWithDevice(src, plan.sourceName.c_str(), plan.device, plan.length, UPDT_VERIFY_CHUNK, progress,
                             "UPDTVerifyFile");
}

int openImage(const char *path, const char *func, int line)
{
    // Not blocking on a FIFO put in the image's place.
    int fd = ::open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat st {};
    if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
        ::close(fd);
        fd = -1;
        errno = EINVAL;
    }
    if (fd < 0)
        PATCH_LOG_AT(line, func, "open [%s] error: (%d) %s.", path, errno, strerror(errno));
    return fd;
}

int compareWithDevice(int src, const char *source, const char *device, uint64_t length, int chunk, bool progress,
                      const char *func)
{
    if (src < 0 || source == nullptr || device == nullptr || length == 0 || chunk <= 0)
        return -1;
    if (!rewind(src, source, func, __LINE__))
        return -1;
    Fd dev = openLogged(device, O_RDONLY, func, __LINE__);
    if (!dev.ok())
        return -1;
    std::unique_ptr<unsigned char[]> a = chunkBuffer(chunk, func, __LINE__);
    std::unique_ptr<unsigned char[]> b = a ? chunkBuffer(chunk, func, __LINE__) : nullptr;
    if (!a || !b)
        return -1;
    uint64_t done = 0;
    while (done < length) {
        ssize_t got = readRound(src, a.get(), chunk, done, length, source, func, __LINE__);
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        ssize_t got2 = VRALIoReadAll(dev.get(), b.get(), static_cast<size_t>(got));
        if (got2 != got) {
            PATCH_LOG(func, "read file [%s] error: %s.", device,
                      vralio::TransferFailText(got2, static_cast<size_t>(got), "read").c_str());
            return -1;
        }
        if (std::memcmp(a.get(), b.get(), static_cast<size_t>(got)) != 0) {
            PATCH_LOG(func, "compare file [%s] vs [%s] error at offset 0x%llX", source, device,
                      static_cast<unsigned long long>(done));
            return -1;
        }
        done += static_cast<uint64_t>(got);
        if (progress) {
            gProgressDone += static_cast<uint64_t>(got);
            setWriteProgress();
        }
    }
    return done == length ? 0 : shortSource(source, done, length, func, __LINE__);
}

int copyBetween(int src, const char *source, int dst, const char *target, uint64_t length, int chunk,
                bool progress, const char *func)
{
    if (src < 0 || dst < 0 || source == nullptr || target == nullptr || length == 0 || chunk <= 0)
        return -1;
    if (!rewind(src, source, func, __LINE__))
        return -1;
    std::unique_ptr<unsigned char[]> buf = chunkBuffer(chunk, func, __LINE__);
    if (!buf)
        return -1;
    uint64_t copied = 0;
    while (copied < length) {
        ssize_t got = readRound(src, buf.get(), chunk, copied, length, source, func, __LINE__);
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        ssize_t put = ::write(dst, buf.get(), static_cast<size_t>(got));
        if (put != got) {
            PATCH_LOG(func, "write file [%s] error: %s.", target,
                      vralio::TransferFailText(put, static_cast<size_t>(got), "write").c_str());
            return -1;
        }
        copied += static_cast<uint64_t>(put);
        if (progress) {
            gProgressDone += static_cast<uint64_t>(put);
            setWriteProgress();
        }
    }
    return copied == length ? 0 : shortSource(source, copied, length, func, __LINE__);
}

int copyToDevice(int src, const char *source, const char *device, uint64_t length, int chunk, bool progress,
                 const char *func)
{
    if (src < 0 || source == nullptr || device == nullptr || length == 0 || chunk <= 0)
        return -1;
    Fd dev = openLogged(device, O_WRONLY, func, __LINE__);
    if (!dev.ok())
        return -1;
    return copyBetween(src, source, dev.get(), device, length, chunk, progress, func);
}

}  // namespace updtpatch

extern "C" int UPDTCopyFile(const char *source, const char *device, uint64_t length, int chunk)
{
    if (source == nullptr || device == nullptr || length == 0 || chunk <= 0)
        return -1;
    Fd src(updtpatch::openImage(source, __func__, __LINE__));
    return updtpatch::copyToDevice(src.get(), source, device, length, chunk, true, __func__);
}

extern "C" int UPDTVerifyFile(const char *source, const char *device, uint64_t length, int chunk)
{
    if (source == nullptr || device == nullptr || length == 0 || chunk <= 0)
        return -1;
    Fd src(updtpatch::openImage(source, __func__, __LINE__));
    return updtpatch::compareWithDevice(src.get(), source, device, length, chunk, true, __func__);
}

extern "C" int UPDTFlashTouched(void)
{
    return updtpatch::gFlashTouched ? 1 : 0;
}

extern "C" int UPDTDoPatch(FISDIRENTRY *directory, int count)
try {
    updtpatch::gFlashTouched = false;
    if (directory == nullptr || count <= 0) {
        syslog(LOG_ERR, "%s(%d): parameter error ", __func__, __LINE__);
        return -1;
    }
    std::vector<Plan> plans;
    if (!planWrite(directory, count, plans))
        return -1;
    return writePlanned(plans);
} catch (...) {
    // Nothing escapes to the C caller: a failed allocation fails the call.
    return updtpatch::outOfMemory(__func__);
}

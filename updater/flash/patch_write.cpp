// The flash write: every marked partition gets its new place and size, is
// erased, written and read back (three attempts), and is recorded in the
// flash directory.
#include "updt_patch.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <syslog.h>
#include <unistd.h>
#include <vector>

#include "base/io/io_fail_text.h"
#include "base/io/vral_io.h"
#include "patch_internal.h"
#include "updt_status.h"

namespace {

using vexamtd::Fd;

// Opens path for a copy or a verification, logging a failure as func's.
Fd openLogged(const char *path, int flags, const char *func, int line)
{
    Fd fd(path, flags);
    if (!fd.ok())
        PATCH_LOG_AT(line, func, "open [%s] error: (%d) %s.", path, errno, strerror(errno));
    return fd;
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
ssize_t readRound(const Fd &src, unsigned char *buf, int chunk, uint64_t done, uint64_t length,
                  const char *source, const char *func, int line)
{
    size_t want = static_cast<size_t>(std::min<uint64_t>(static_cast<uint64_t>(chunk), length - done));
    ssize_t got = VRALIoReadAll(src.get(), buf, want);
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

// What one marked partition is written from.
struct Plan {
    const char *device = nullptr;
    std::string source;
    std::string dirName;     // the directory's spelling of the name
    uint64_t length = 0;     // bytes copied and verified
};

}  // namespace

namespace updtpatch {

int compareWithDevice(const char *source, const char *device, uint64_t length, int chunk, bool progress,
                      const char *func)
{
    if (source == nullptr || device == nullptr || length == 0 || chunk <= 0)
        return -1;
    Fd src = openLogged(source, O_RDONLY, func, __LINE__);
    if (!src.ok())
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

}  // namespace updtpatch

extern "C" int UPDTCopyFile(const char *source, const char *device, uint64_t length, int chunk)
{
    if (source == nullptr || device == nullptr || length == 0 || chunk <= 0)
        return -1;
    Fd src = openLogged(source, O_RDONLY, __func__, __LINE__);
    if (!src.ok())
        return -1;
    Fd dev = openLogged(device, O_WRONLY, __func__, __LINE__);
    if (!dev.ok())
        return -1;
    std::unique_ptr<unsigned char[]> buf = chunkBuffer(chunk, __func__, __LINE__);
    if (!buf)
        return -1;
    uint64_t copied = 0;
    while (copied < length) {
        ssize_t got = readRound(src, buf.get(), chunk, copied, length, source, __func__, __LINE__);
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        ssize_t put = ::write(dev.get(), buf.get(), static_cast<size_t>(got));
        if (put != got) {
            PATCH_LOG(__func__, "write file [%s] error: %s.", device,
                      vralio::TransferFailText(put, static_cast<size_t>(got), "write").c_str());
            return -1;
        }
        copied += static_cast<uint64_t>(put);
        gProgressDone += static_cast<uint64_t>(put);
        updtpatch::setWriteProgress();
    }
    return copied == length ? 0 : shortSource(source, copied, length, __func__, __LINE__);
}

extern "C" int UPDTVerifyFile(const char *source, const char *device, uint64_t length, int chunk)
{
    return updtpatch::compareWithDevice(source, device, length, chunk, true, __func__);
}

extern "C" int UPDTFlashTouched(void)
{
    return updtpatch::gFlashTouched ? 1 : 0;
}

extern "C" int UPDTDoPatch(FISDIRENTRY *directory, int count)
{
    using namespace updtpatch;
    gFlashTouched = false;
    if (directory == nullptr || count <= 0) {
        syslog(LOG_ERR, "%s(%d): parameter error ", __func__, __LINE__);
        return -1;
    }
    if (UPDTNeedResize(gPatchInfo, gPatchCount)) {
        syslog(LOG_ERR, "%s(%d): NEED RESIZE THE PARTITION", __func__, __LINE__);
        if (ErrUPDTAdjustPartitionSize(gPatchInfo, gPatchCount) != 0 ||
            UPDTCheckLayout(gPatchInfo, gPatchCount, directory, count) != 0) {
            syslog(LOG_ERR, "%s(%d): fail to resize", __func__, __LINE__);
            return -1;
        }
    }

    // Every source is settled before the first flash operation, so that a
    // missing one leaves the flash as it was.
    const int n = std::min(gPatchCount, UPDT_TABLE_MAX);
    std::vector<Plan> plans(static_cast<size_t>(std::max(n, 0)));
    uint64_t total = 0;
    for (int i = 0; i < n; ++i) {
        PATCHINFO &p = gPatchInfo[i];
        if (p.part == nullptr || !p.fneedupdate)
            continue;
        Plan &plan = plans[static_cast<size_t>(i)];
        plan.device = SzUPDTGetDeviceByName(p.part);
        if (plan.device == nullptr) {
            syslog(LOG_ERR, "%s(%d): fail to get device path", __func__, __LINE__);
            return -1;
        }
        int idx = entryIndex(p.part, i, directory, count, __func__, __LINE__);
        if (idx < 0)
            return -1;
        const FISDIRENTRY &old = directory[idx];
        plan.dirName = entryName(old);
        if (gHasImage[i]) {
            plan.source = packagePath(p.file);
            long long have = regularFileSize(plan.source);
            if (have != static_cast<long long>(p.datalen)) {
                syslog(LOG_ERR, "%s(%d): image [%s] is gone or changed since the patch table was built",
                       __func__, __LINE__, plan.source.c_str());
                return -1;
            }
            plan.length = p.datalen;
        } else {
            if (gGroupUpdate) {
                syslog(LOG_ERR, "%s(%d): partition [%s] must be moved but the package holds no image for it",
                       __func__, __LINE__, p.part);
                return -1;
            }
            plan.source = backupCopyPath(plan.dirName);
            long long have = regularFileSize(plan.source);
            if (have != static_cast<long long>(old.size)) {
                syslog(LOG_ERR, "%s(%d): backup [%s] is missing or not 0x%08X bytes", __func__, __LINE__,
                       plan.source.c_str(), old.size);
                return -1;
            }
            // Only what fits the new range; its data lies at the front.
            plan.length = std::min<uint64_t>(static_cast<uint64_t>(have), p.size);
            if (plan.length < p.datalen || plan.length == 0) {
                syslog(LOG_ERR, "%s(%d): partition [%s] is too small for its data", __func__, __LINE__, p.part);
                return -1;
            }
        }
        total += plan.length;
    }
    gProgressTotal = 2 * total;
    gProgressDone = 0;

    uint64_t before = 0;  // bytes of the earlier marked partitions
    for (int i = 0; i < n; ++i) {
        PATCHINFO &p = gPatchInfo[i];
        if (p.part == nullptr)
            break;
        if (!p.fneedupdate) {
            syslog(LOG_ERR, "%s: skip updating [%s]", __func__, p.part);
            continue;
        }
        const Plan &plan = plans[static_cast<size_t>(i)];
        gFlashTouched = true;
        if (VEXAMTDModifyPartitionSize(plan.device, p.start, p.size) < 0) {
            syslog(LOG_ERR, "%s: VEXAMTDModifyPartitionSize() fail", __func__);
            return -1;
        }
        bool done = false;
        for (int attempt = 0; attempt < UPDT_ATTEMPTS && !done; ++attempt) {
            gProgressDone = 2 * before;
            setWriteProgress();
            if (VEXAMTDUnlockPartition(plan.device) < 0) {
                syslog(LOG_ERR, "%s: unlock [%s] fail", __func__, plan.device);
                continue;
            }
            PATCH_LOG(__func__, "Try to Erase MTD Partition(%s), [%d/%d]...", plan.device, attempt,
                      UPDT_ATTEMPTS);
            if (VEXAMTDErasePartition(plan.device) < 0) {
                syslog(LOG_ERR, "%s: VEXAMTDErasePartition() fail", __func__);
                continue;
            }
            PATCH_LOG(__func__, "Try to Write MTD Partition(%s), [%d/%d]...", plan.device, attempt,
                      UPDT_ATTEMPTS);
            if (UPDTCopyFile(plan.source.c_str(), plan.device, plan.length, UPDT_COPY_CHUNK) < 0)
                continue;
            PATCH_LOG(__func__, "Try to Verify MTD Partition(%s), [%d/%d]...", plan.device, attempt,
                      UPDT_ATTEMPTS);
            if (UPDTVerifyFile(plan.source.c_str(), plan.device, plan.length, UPDT_VERIFY_CHUNK) < 0)
                continue;
            if (recordEntry(plan.dirName, p.start, p.size, p.datalen, __func__) != 0)
                return -1;
            syslog(LOG_ERR, "%s: Finish updating [%s]", __func__, p.part);
            done = true;
        }
        if (!done) {
            PATCH_LOG(__func__, "Try to Update [%s] %d counts failed ...", plan.device, UPDT_ATTEMPTS);
            return -1;
        }
        before += plan.length;
    }
    return 0;
}

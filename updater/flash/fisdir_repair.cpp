// Rewrites the flash directory of one model from a built-in image.
#include "updt_patch.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <syslog.h>
#include <unistd.h>

#include "base/err/vral_err.h"
#include "base/io/io_fail_text.h"
#include "base/io/vral_io.h"
#include "patch_internal.h"

namespace {

struct Entry {
    const char *name;
    uint32_t flashBase, memBase, size, dataLength;
};

constexpr Entry kEntries[] = {
    {"RedBoot", 0xFFF00000u, 0xFFF00000u, 0x00040000u, 0x0003A448u},
    {"zImage", 0xFFE00000u, 0xFFE00000u, 0x000D0000u, 0x000C5EDAu},
    {"rd.gz", 0xFFF40000u, 0xFFF40000u, 0x000B0000u, 0x000AEE2Cu},
    {"vendor", 0xFFED0000u, 0xFFED0000u, 0x00010000u, 0x00010000u},
    {"RedBoot Config", 0xFFEE0000u, 0xFFEE0000u, 0x00010000u, 0x00010000u},
    {"FIS Directory", 0xFFFF0000u, 0xFFFF0000u, 0x00010000u, 0x00000600u},
};
static_assert(sizeof(kEntries) / sizeof(kEntries[0]) * FIS_ENTRY_SIZE == UPDT_FIS_IMAGE_SIZE);

constexpr void putLE(std::array<unsigned char, UPDT_FIS_IMAGE_SIZE> &img, size_t at, uint32_t v)
{
    for (int k = 0; k < 4; ++k)
        img[at + k] = static_cast<unsigned char>(v >> (8 * k));
}

constexpr std::array<unsigned char, UPDT_FIS_IMAGE_SIZE> buildImage()
{
    std::array<unsigned char, UPDT_FIS_IMAGE_SIZE> img{};
    size_t at = 0;
    for (const Entry &e : kEntries) {
        for (size_t k = 0; e.name[k] != '\0'; ++k)
            img[at + k] = static_cast<unsigned char>(e.name[k]);
        putLE(img, at + 16, e.flashBase);
        putLE(img, at + 20, e.memBase);
        putLE(img, at + 24, e.size);
        putLE(img, at + 32, e.dataLength);
        at += FIS_ENTRY_SIZE;
    }
    return img;
}

constexpr auto kImage = buildImage();

using vexamtd::Fd;

constexpr const char *kFn = "RecoverFISDirTable_Q80ZPlus_V284";

// Opens device; a failure is logged and recorded as ERR_OPEN_FAILED.
Fd openDevice(const char *device, int flags)
{
    Fd fd(device, flags);
    if (!fd.ok()) {
        PATCH_LOG(kFn, "open(%s) fail", device);
        VRALErrSetCode(ERR_OPEN_FAILED);
    }
    return fd;
}

// All n bytes of data onto the start of device; 0 or -1.
int writeAll(const char *device, const unsigned char *data, size_t n)
{
    Fd fd = openDevice(device, O_WRONLY);
    if (!fd.ok())
        return -1;
    ssize_t put = VRALIoWriteAll(fd.get(), data, n);
    if (put != static_cast<ssize_t>(n)) {
        PATCH_LOG(kFn, "write(%s) fail: %s", device, vralio::TransferFailText(put, n, "write").c_str());
        VRALErrSetCode(ERR_WRITE_FAILED);
        return -1;
    }
    return 0;
}

// The first n bytes of device into buf; 0 or -1.
int readAll(const char *device, unsigned char *buf, size_t n)
{
    Fd fd = openDevice(device, O_RDONLY);
    if (!fd.ok())
        return -1;
    ssize_t got = VRALIoReadAll(fd.get(), buf, n);
    if (got != static_cast<ssize_t>(n)) {
        PATCH_LOG(kFn, "read(%s) fail: %s", device, vralio::TransferFailText(got, n, "read").c_str());
        return -1;
    }
    return 0;
}

int repair(const char *device)
{
    // The present directory is kept, to be put back if the new one fails.
    uint32_t size = 0;
    if (!updtpatch::deviceInfo(device, &size, nullptr)) {
        PATCH_LOG(kFn, "VEXAMTDGetDeviceInfo(%s) fail", device);
        return -1;
    }
    if (size < UPDT_FIS_IMAGE_SIZE) {
        PATCH_LOG(kFn, "%s is too small (0x%08X)", device, size);
        return -1;
    }
    std::unique_ptr<unsigned char[]> saved(new (std::nothrow) unsigned char[size]);
    if (!saved || readAll(device, saved.get(), size) != 0)
        return -1;

    if (VEXAMTDUnlockPartition(device) < 0) {
        PATCH_LOG(kFn, "VEXAMTDUnlockPartition(%s) fail", device);
        return -1;
    }
    for (int round = 0; round < UPDT_ATTEMPTS; ++round) {
        if (VEXAMTDErasePartition(device) < 0) {
            PATCH_LOG(kFn, "VEXAMTDErasePartition(%s) fail", device);
            continue;
        }
        if (writeAll(device, gFisImageQ80ZPlus, UPDT_FIS_IMAGE_SIZE) != 0)
            continue;
        unsigned char back[UPDT_FIS_IMAGE_SIZE];
        if (readAll(device, back, sizeof(back)) != 0)
            continue;
        if (std::memcmp(back, gFisImageQ80ZPlus, sizeof(back)) != 0) {
            PATCH_LOG(kFn, "%s reads back differently", device);
            continue;
        }
        return 0;
    }
    PATCH_LOG(kFn, "the directory could not be rewritten; putting the old one back");
    if (VEXAMTDErasePartition(device) < 0 || writeAll(device, saved.get(), size) != 0)
        PATCH_LOG(kFn, "the old directory could not be put back on %s", device);
    return -1;
}

}  // namespace

extern "C" {

const unsigned char gFisImageQ80ZPlus[UPDT_FIS_IMAGE_SIZE] = {
#define B(i) kImage[i]
#define R16(i) B(i), B(i + 1), B(i + 2), B(i + 3), B(i + 4), B(i + 5), B(i + 6), B(i + 7), B(i + 8), \
    B(i + 9), B(i + 10), B(i + 11), B(i + 12), B(i + 13), B(i + 14), B(i + 15)
#define R256(i) R16(i), R16(i + 16), R16(i + 32), R16(i + 48), R16(i + 64), R16(i + 80), R16(i + 96), \
    R16(i + 112), R16(i + 128), R16(i + 144), R16(i + 160), R16(i + 176), R16(i + 192), R16(i + 208), \
    R16(i + 224), R16(i + 240)
    R256(0), R256(256), R256(512), R256(768), R256(1024), R256(1280),
#undef R256
#undef R16
#undef B
};

int RecoverFISDirTable_Q80ZPlus_V284(void)
{
    const char *device = gszDevMtdPartition;
    int rc = repair(device);
    VEXAMTDLockPartition(device);  // locked again whatever happened
    return rc;
}

}  // extern "C"

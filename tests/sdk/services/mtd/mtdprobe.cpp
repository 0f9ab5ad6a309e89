// Calls one flash function of the SDK and prints its result; the tests run
// it under the simulated kernel.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "services/mtd/vexa_mtd.h"

static unsigned long num(const char *s)
{
    return std::strtoul(s, nullptr, 0);
}

int main(int argc, char **argv)
{
    if (argc < 2)
        return 99;
    std::string op = argv[1];
    if (op == "info" && argc == 4) {
        unsigned cb = static_cast<unsigned>(num(argv[3]));
        std::vector<unsigned char> buf(cb + 1, 0xAA);
        int rc = VEXAMTDGetDeviceInfo(argv[2], buf.data(), cb);
        std::printf("rc=%d\n", rc);
        uint32_t size, erasesize;
        std::memcpy(&size, buf.data() + 8, 4);
        std::memcpy(&erasesize, buf.data() + 12, 4);
        size_t nonzero = 0;
        for (unsigned i = MTD_INFO_USER_SIZE; i < cb; ++i)
            nonzero += buf[i] != 0;
        std::printf("size=0x%x erasesize=0x%x tail_nonzero=%zu guard=0x%02x\n", size, erasesize, nonzero, buf[cb]);
        return 0;
    }
    if (op == "erase" && argc == 3) {
        std::printf("rc=%d\n", VEXAMTDErasePartition(argv[2]));
        return 0;
    }
    if (op == "lock" && argc == 4) {
        std::printf("rc=%d\n", VEXAMTDILock(argv[2], static_cast<int>(std::strtol(argv[3], nullptr, 0))));
        return 0;
    }
    if (op == "lockp" && argc == 3) {
        std::printf("rc=%d\n", VEXAMTDLockPartition(argv[2]));
        return 0;
    }
    if (op == "unlockp" && argc == 3) {
        std::printf("rc=%d\n", VEXAMTDUnlockPartition(argv[2]));
        return 0;
    }
    if (op == "dir" && argc == 4) {
        int cb = static_cast<int>(std::strtol(argv[3], nullptr, 0));
        std::vector<FISDIRENTRY> buf(static_cast<size_t>(cb) / sizeof(FISDIRENTRY) + 1);
        int used = -7;
        int rc = VEXAMTDGetPartitionInfo(argv[2], cb > 0 ? buf.data() : nullptr, cb, &used);
        std::printf("rc=%d used=%d\n", rc, used);
        for (int i = 0; i < rc && cb > 0; ++i)
            std::printf("entry %.16s 0x%08x 0x%08x 0x%08x\n", buf[i].name, buf[i].flashBase, buf[i].size,
                        buf[i].dataLength);
        return 0;
    }
    if (op == "m22" && argc == 5) {
        std::printf("rc=%d\n", VEXAMTDModifyPartitionSize(argv[2], static_cast<uint32_t>(num(argv[3])),
                                                          static_cast<uint32_t>(num(argv[4]))));
        return 0;
    }
    if (op == "m23" && argc == 7) {
        MTDFISENTRY e{};
        std::snprintf(e.name, sizeof(e.name), "%s", argv[3]);
        e.flashBase = static_cast<uint32_t>(num(argv[4]));
        e.size = static_cast<uint32_t>(num(argv[5]));
        e.dataLength = static_cast<uint32_t>(num(argv[6]));
        std::printf("rc=%d\n", VEXAMTDModifyFISEntry(argv[2], &e));
        return 0;
    }
    if (op == "msys") {
        std::printf("rc=%d\n", VEXAMTDIsMSys());
        return 0;
    }
    return 99;
}

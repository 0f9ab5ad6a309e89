// Test fixtures for the simulated device kernel (libsimkernel.so): build a
// flash chip with its flash directory, an upgrade package, md arrays; inject
// faults; read back the flash, the directory, ops.log and the counters.
//
// Everything lives in one state folder on the host; attach() makes an
// appliance root use it.  Failures throw std::runtime_error.
#ifndef SIMKERNEL_SIMFIXTURE_H
#define SIMKERNEL_SIMFIXTURE_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sk_state.h"

#if defined(SIMKERNEL_WITH_APPROOT)
namespace approot {
class Appliance;
}
#endif

namespace simkernel {

// ---- partition tables ------------------------------------------------------

// Partition names in device order: /dev/mtd0 is names[0].
const std::vector<std::string> &tableNames(const std::string &table);  // "normal", "bantam"
// Package image file of a partition ("RedBoot" -> "RedBoot.msys", "rd.gz" -> "rd.bin").
std::string imageFileName(const std::string &part);
int flashDirectoryDevice(const std::string &table);  // 7 or 5

// ---- chips -------------------------------------------------------------------

struct PartLayout {
    std::string name;
    uint32_t blocks;    // partition size in erase blocks
    uint32_t datalen;   // bytes of data recorded in the directory
    int64_t at = -1;    // first erase block on the chip; -1: behind the previous one
};

// NOR flash with a flash directory: partitions in device order, laid back
// to back from base unless a partition says where it starts; gaps read 0xFF.
struct ChipLayout {
    std::string table = "normal";
    uint32_t base = 0;
    uint32_t erasesize = 0x10000;
    std::vector<PartLayout> parts;
    bool locked = true;  // every block starts locked
};

ChipLayout normalChip();   // 8 MiB at 0xFF800000, 64 KiB blocks, 8 partitions
ChipLayout bantamChip();   // 2 MiB at 0xFFE00000, 64 KiB blocks, 6 partitions
ChipLayout chipFor(const std::string &table);

// The bytes a fresh chip holds at offset off of the partition with this
// device index; distinct per partition, never 0xFF.
uint8_t patternByte(int index, uint64_t off);
std::string partitionPattern(int index, uint64_t len);

// Creates (or replaces) a state folder holding the chip, its directory and
// the state file; removes any faults, ops.log and counters.
void makeChip(const std::string &stateDir, const ChipLayout &layout);
void makeChip(const std::string &stateDir, const std::string &table);

// MSys flash: 967 units of 16384 bytes, eight partitions of the given unit
// counts (back to back from 0), each filled with its pattern for datalen bytes.
void makeMSysChip(const std::string &stateDir, const std::vector<uint32_t> &units,
                  const std::vector<uint32_t> &datalens);
void makeMSysChip(const std::string &stateDir);  // a default layout
std::vector<uint32_t> defaultMSysUnits();

// ---- reading back ----------------------------------------------------------------

struct DirEntry {
    std::string name;
    uint32_t flashBase = 0, memBase = 0, size = 0, entryPoint = 0, dataLength = 0;
    std::string raw;  // the 256 bytes
};

sk::State loadState(const std::string &stateDir);
void saveState(const std::string &stateDir, const sk::State &st);

std::string chipBytes(const std::string &stateDir);
std::vector<DirEntry> readDirectory(const std::string &stateDir);
// A partition's whole current bytes, found by name through the flash
// directory (MSys: through the driver's partition table).
std::string partitionBytes(const std::string &stateDir, const std::string &name);
// The first n bytes of it.
std::string partitionData(const std::string &stateDir, const std::string &name, uint64_t n);
// What /dev/mtd<n> reaches now.
std::string windowBytes(const std::string &stateDir, int mtd);

bool isLocked(const std::string &stateDir, uint32_t flashAddress);

// ---- changing the flash behind the devices' back ---------------------------

// Raw bytes at a flash address (no lock, no AND rule).
void writeFlash(const std::string &stateDir, uint32_t flashAddress, const std::string &bytes);
// Replaces the flash directory with these entries (raw when it holds 256
// bytes, else built from the fields); the rest of the directory partition
// reads 0xFF, or 0x00 without the end mark.
void writeDirectory(const std::string &stateDir, const std::vector<DirEntry> &entries,
                    bool endMark = true);
void setAllLocked(const std::string &stateDir, bool locked);

std::vector<std::string> opsLog(const std::string &stateDir);
void clearOpsLog(const std::string &stateDir);
// Lines holding every one of the words (e.g. {"op=ioctl", "req=MEMERASE", "dev=mtd1"}).
std::vector<std::string> opsMatching(const std::string &stateDir,
                                     const std::vector<std::string> &words);
// The value of key in one ops.log line ("errno" -> "EROFS"); "" when absent.
std::string opsField(const std::string &line, const std::string &key);

// ---- system call 405 -------------------------------------------------------------

struct Counters405 {
    uint64_t reserve = 0, release = 0, other = 0;
};
Counters405 counters405(const std::string &stateDir);
void set405Answer(const std::string &stateDir, int err);  // 0 = success

// ---- uptime -------------------------------------------------------------------------

// sysinfo reports exactly this uptime in every process (its other fields
// stay the machine's); clearUptime passes sysinfo through again.
void setUptime(const std::string &stateDir, long seconds);
void clearUptime(const std::string &stateDir);

// ---- faults ------------------------------------------------------------------------

// Appends one rule (see docs/testing.md); throws when it does not parse.
void addFault(const std::string &stateDir, const std::string &rule);
void clearFaults(const std::string &stateDir);

// ---- md arrays ----------------------------------------------------------------------

struct MdArray {
    bool running = true;   // false: the array information request answers ENODEV
    int level = 1;         // md level: -1 linear, 0, 1, 5, 6
    int disks = 2;
    uint64_t sizeKib = 0;
    uint64_t devSize = 0;  // bytes
    int sync[3] = {0, 0, 0};
};
void setMd(const std::string &stateDir, int md, const MdArray &array);

struct MdMember {
    std::string name;   // "sda5"
    std::string state;  // "in_sync", "faulty", "spare" ...
    std::string slot;   // "0", "none"
};
// Writes <root>/sys/block/md<n>/md/dev-<name>/{state,slot} under a folder
// that becomes (a layer of) the appliance root.
void writeMdSysfs(const std::string &rootDir, int md, const std::vector<MdMember> &members);

// ---- upgrade package ----------------------------------------------------------------

struct PackageLayout {
    int build = 1000;
    std::string model = "vexa_test";
    int major = 2;
    int minor = 0;
    std::string phase = "0";
    uint64_t extractSize = 1024;  // KiB
    std::string table = "normal";
    // image file -> size; empty takes defaultImages(table)
    std::map<std::string, uint64_t> images;
};
std::map<std::string, uint64_t> defaultImages(const std::string &table);
// The bytes of a package image: distinct per file and build.
std::string imageBytes(const std::string &file, int build, uint64_t size);
void makePackage(const std::string &dir, const PackageLayout &contents);

// ---- running under the simulated kernel ----------------------------------------------

std::string libraryPath();  // libsimkernel.so
std::string probePath();    // simprobe
std::string simflashPath();

struct RunResult {
    int status = -1;   // exit code, or 128 + signal
    std::string out;   // standard output and error
};
// Runs argv on the host with the library preloaded and the state folder
// given; for probes that only touch /dev/mtd*, /dev/md* and files under the
// build tree.  env adds NAME=value pairs.
RunResult runPreloaded(const std::string &stateDir, const std::vector<std::string> &argv,
                       const std::vector<std::string> &env = {});

#if defined(SIMKERNEL_WITH_APPROOT)
// The same files written into the appliance root's own fixture layer.
void writeMdSysfs(approot::Appliance &app, int md, const std::vector<MdMember> &members);

// Binds the state folder into the appliance root at the same path and
// preloads the library into everything it runs.
void attach(approot::Appliance &app, const std::string &stateDir);
#endif

}  // namespace simkernel

#endif

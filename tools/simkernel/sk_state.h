// State and fault rules of the simulated device kernel.
//
// Plain data and pure text functions only: the preloaded library uses them
// from inside interposed system calls (no allocation, no I/O here), and the
// test fixture uses the very same code, so both sides agree on the formats.
#ifndef SIMKERNEL_SK_STATE_H
#define SIMKERNEL_SK_STATE_H

#include <stddef.h>
#include <stdint.h>

namespace sk {

// File names inside the state folder.
constexpr const char *kStateFile = "state";
constexpr const char *kChipFile = "chip.bin";
constexpr const char *kFaultsFile = "faults";
constexpr const char *kOpsLog = "ops.log";
constexpr const char *kLockFile = "lock";
constexpr const char *kDevDir = "dev";  // backing files of opened devices
constexpr const char *kEnvState = "VEXA_SIMKERNEL_STATE";

enum { kMaxParts = 8, kMaxMd = 16, kMaxBlocks = 4096, kMaxRuleStates = 64, kMaxRules = 64,
       kNameLen = 32, kCommLen = 16 };

// Device ids: 0..7 are /dev/mtd0../dev/mtd7, kMdBase+n is /dev/md<n>.
enum { kMdBase = 8, kMaxDev = kMdBase + kMaxMd };

enum Mode { MODE_NOR = 0, MODE_MSYS = 1 };

// Sizes of the backing files: no real file is ever this long, so a
// descriptor on one is recognised by fstat alone.
constexpr int64_t kBackingSize = 0x53494d4bLL;

constexpr uint32_t kMSysUnit = 16384;
constexpr uint32_t kMSysUnits = 967;

struct Part {
    int present;
    int fromdir;        // window still to be taken from the flash directory
    uint32_t start;     // NOR: flash address; MSys: offset in the chip
    uint32_t size;
    uint32_t datalen;   // MSys only: what 'M' 26 reports
    char name[kNameLen];
};

struct Md {
    int present;
    int running;        // 0: the array information request answers ENODEV
    int level;          // md level: -1 linear, 0, 1, 5, 6
    int disks;          // raid disks
    uint64_t sizekib;
    uint64_t devsize;   // block-device size in bytes
    int sync[3];
};

struct RuleState {
    uint32_t hash;
    uint64_t count;
    uint64_t bytes;
    int fired;
};

struct State {
    int mode;
    char table[16];     // "normal", "bantam" or "msys"
    uint32_t base;      // flash address of chip offset 0
    uint32_t erasesize;
    uint32_t chipsize;
    int dirdev;         // mtd number of the flash directory, -1 none
    Part part[kMaxParts];
    char locks[kMaxBlocks + 1];  // one 'L' or 'U' per erase block
    int answer405;      // 0 or the errno that system call 405 reports
    uint64_t reserve405, release405, other405;
    int mainpid;
    uint64_t mainstart; // start time of the main process (/proc stat field 22)
    char maincomm[kCommLen];
    Md md[kMaxMd];
    int hasUptime;      // 0: sysinfo passes through to the machine
    uint64_t uptime;    // seconds sysinfo reports
    int nrules;
    RuleState rules[kMaxRuleStates];
};

void initState(State *st);
// Returns 0, or the 1-based number of the first line it could not read.
int parseState(const char *buf, size_t len, State *st);
// Returns the text length, 0 when cap is too small.
size_t formatState(const State *st, char *out, size_t cap);
uint32_t blockCount(const State *st);

// Operations, as bits, for fault rules and the log.
enum Op : uint32_t {
    OP_OPEN = 1u << 0, OP_READ = 1u << 1, OP_WRITE = 1u << 2, OP_ERASE = 1u << 3,
    OP_LOCK = 1u << 4, OP_UNLOCK = 1u << 5, OP_GETINFO = 1u << 6,
    OP_M22 = 1u << 7, OP_M23 = 1u << 8, OP_M24 = 1u << 9, OP_M25 = 1u << 10, OP_M26 = 1u << 11,
    OP_MDINFO = 1u << 12, OP_MDSYNC = 1u << 13, OP_BLKSIZE = 1u << 14,
    OP_SYS401 = 1u << 15, OP_SYS405 = 1u << 16, OP_LSEEK = 1u << 17, OP_OTHER = 1u << 18,
    OP_RESERVE = 1u << 19, OP_RELEASE = 1u << 20,  // system call 405 with 1 / with 0
};
constexpr uint32_t kFlashOps = OP_WRITE | OP_ERASE | OP_LOCK | OP_UNLOCK | OP_M22 | OP_M23 |
                               OP_M24 | OP_M25 | OP_M26;
const char *opName(uint32_t op);

enum Kind { K_FAIL, K_CORRUPT, K_NOERASE, K_SIGNAL, K_POWERCUT };
enum ProcSel { P_ANY, P_MAIN, P_CHILD, P_NAME };

struct Rule {
    int line;           // 1-based line in the rules file
    uint32_t hash;      // of line number and text: keys its counters
    int kind;
    uint32_t ops;
    int dev;            // device id, -1 any
    int proc;           // ProcSel
    char procname[kCommLen];
    uint64_t nth;       // fire at the nth matching call (1 = first)
    int hasAfter;
    uint64_t after;     // fire at the call that passes this many bytes
    int err;
    int always;         // keep firing after the first time
    uint64_t at;        // corrupt: device offset
    uint8_t xorv;
    uint32_t block;     // noerase: block of the erase range left as it was
    int sig;
};

// Returns the number of rules, or -1 with a message in err.
int parseRules(const char *buf, size_t len, Rule *out, int max, char *err, size_t errcap);

// Device names: "mtd3", "/dev/mtd3", "md0", "/dev/md0" -> id; -1 otherwise.
int devFromName(const char *name);
// Exact device paths only: "/dev/mtd0".."/dev/mtd7", "/dev/md<n>".
int devFromPath(const char *path);
void devName(int dev, char *out, size_t cap);  // "mtd3", "md0"

const char *errnoName(int err);   // "EIO"; NULL when unknown
int errnoFromName(const char *s); // name or number; 0 when unknown
const char *signalName(int sig);
int signalFromName(const char *s);

}  // namespace sk

#endif

#include "simfixture.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

#if defined(SIMKERNEL_WITH_APPROOT)
#include "approot.h"
#endif

namespace fs = std::filesystem;

namespace simkernel {

namespace {

[[noreturn]] void fail(const std::string &what) { throw std::runtime_error("simkernel: " + what); }

std::string join(const std::string &dir, const char *name) { return dir + "/" + name; }

// Chips are megabytes and tests read them often: sized once, read in
// large pieces.
bool slurpIfAny(const std::string &path, std::string *out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::string data;
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(path, ec);
    if (!ec) data.reserve(size_t(size));
    char buf[65536];
    while (in.read(buf, sizeof buf) || in.gcount() > 0) data.append(buf, size_t(in.gcount()));
    *out = std::move(data);
    return true;
}

std::string slurp(const std::string &path) {
    std::string data;
    if (!slurpIfAny(path, &data)) fail("cannot read " + path);
    return data;
}

void spill(const std::string &path, const std::string &data) {
    std::string tmp = path + ".new";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        if (!out) fail("cannot write " + tmp);
        out.write(data.data(), std::streamsize(data.size()));
        if (!out) fail("cannot write " + tmp);
    }
    fs::rename(tmp, path);
}

void put32(std::string &b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + size_t(i)] = char(uint8_t(v >> (8 * i)));
}

uint32_t get32(const std::string &b, size_t at) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= uint32_t(uint8_t(b[at + size_t(i)])) << (8 * i);
    return v;
}

// Lock the state as the library does, so a fixture change never meets a
// process half-way through a request.
class StateLock {
public:
    explicit StateLock(const std::string &dir) {
        fd_ = ::open(join(dir, sk::kLockFile).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd_ >= 0) ::flock(fd_, LOCK_EX);
    }
    ~StateLock() {
        if (fd_ >= 0) ::close(fd_);
    }
    StateLock(const StateLock &) = delete;
    StateLock &operator=(const StateLock &) = delete;

private:
    int fd_ = -1;
};

sk::State loadUnlocked(const std::string &dir) {
    std::string text = slurp(join(dir, sk::kStateFile));
    auto st = std::make_unique<sk::State>();
    int bad = sk::parseState(text.data(), text.size(), st.get());
    if (bad) fail("bad state file " + join(dir, sk::kStateFile) + " line " + std::to_string(bad));
    return *st;
}

void saveUnlocked(const std::string &dir, const sk::State &st) {
    std::string buf(1 << 16, '\0');
    size_t n = sk::formatState(&st, buf.data(), buf.size());
    if (n == 0) fail("state too large");
    buf.resize(n);
    spill(join(dir, sk::kStateFile), buf);
}

// Changes the state file under the lock.
template <typename Change>
void updateState(const std::string &dir, Change change) {
    StateLock lock(dir);
    sk::State st = loadUnlocked(dir);
    change(st);
    saveUnlocked(dir, st);
}

void freshFolder(const std::string &dir) {
    fs::create_directories(dir);
    for (const char *f : {sk::kFaultsFile, sk::kOpsLog, sk::kStateFile, sk::kChipFile}) {
        std::error_code ec;
        fs::remove(join(dir, f), ec);
    }
    std::error_code ec;
    fs::remove_all(join(dir, sk::kDevDir), ec);
}

}  // namespace

// ---- partition tables ---------------------------------------------------------------

const std::vector<std::string> &tableNames(const std::string &table) {
    static const std::vector<std::string> normal = {"RedBoot", "zImage", "rd.gz",
                                                    "AllLib.tgz", "vendor", "vexacfg",
                                                    "RedBoot Config", "FIS Directory"};
    static const std::vector<std::string> bantam = {"RedBoot", "zImage", "rd.gz",
                                                    "vendor", "RedBoot Config", "FIS Directory"};
    if (table == "bantam") return bantam;
    if (table == "normal" || table == "msys") return normal;
    fail("unknown partition table " + table);
}

std::string imageFileName(const std::string &part) {
    if (part == "RedBoot") return "RedBoot.msys";
    if (part == "rd.gz") return "rd.bin";
    return part;
}

int flashDirectoryDevice(const std::string &table) { return table == "bantam" ? 5 : 7; }

// ---- chips -------------------------------------------------------------------------------

// Partitions back to back from the base, in device order.
ChipLayout normalChip() {
    return {.table = "normal",
            .base = 0xFF800000,
            .parts = {{"RedBoot", 4, 0x3A448}, {"zImage", 16, 0xC5EDA}, {"rd.gz", 32, 0x1AEE2C},
                      {"AllLib.tgz", 71, 0x400000}, {"vendor", 1, 0x10000}, {"vexacfg", 2, 0x12345},
                      {"RedBoot Config", 1, 0x1000}, {"FIS Directory", 1, 8 * 256}}};
}

ChipLayout bantamChip() {
    return {.table = "bantam",
            .base = 0xFFE00000,
            .parts = {{"RedBoot", 4, 0x3A448}, {"zImage", 13, 0xC5EDA}, {"rd.gz", 12, 0xAEE2C},
                      {"vendor", 1, 0x10000}, {"RedBoot Config", 1, 0x1000},
                      {"FIS Directory", 1, 6 * 256}}};
}

ChipLayout chipFor(const std::string &table) {
    if (table == "normal") return normalChip();
    if (table == "bantam") return bantamChip();
    fail("unknown partition table " + table);
}

uint8_t patternByte(int index, uint64_t off) {
    return uint8_t(((index + 1) & 0x0f) << 4 | ((off ^ (off >> 8) ^ (off >> 16)) & 0x0f));
}

std::string partitionPattern(int index, uint64_t len) {
    // Megabytes per chip: filled a 256-byte run at a time, the low nibble
    // being the only part that changes within one.
    std::string s(len, '\0');
    char *p = s.data();
    for (uint64_t at = 0; at < len; at += 256) {
        char run[256];
        const uint8_t base = patternByte(index, at);
        for (int k = 0; k < 256; ++k) run[k] = char((base & 0xf0) | ((base ^ k) & 0x0f));
        std::memcpy(p + at, run, size_t(std::min<uint64_t>(256, len - at)));
    }
    return s;
}

void makeChip(const std::string &stateDir, const ChipLayout &layout) {
    const auto &names = tableNames(layout.table);
    if (layout.parts.size() != names.size())
        fail("chip needs " + std::to_string(names.size()) + " partitions");
    if (layout.parts.size() > sk::kMaxParts || layout.erasesize == 0) fail("bad chip layout");
    // Place the partitions: where asked, else right behind the previous one.
    std::vector<uint64_t> first(layout.parts.size());
    uint64_t next = 0, blocks = 0;
    int dirdev = -1;
    for (size_t i = 0; i < layout.parts.size(); ++i) {
        const auto &p = layout.parts[i];
        if (p.blocks == 0) fail("partition " + p.name + " without blocks");
        first[i] = p.at >= 0 ? uint64_t(p.at) : next;
        next = first[i] + p.blocks;
        blocks = std::max(blocks, next);
        if (p.name == "FIS Directory") dirdev = int(i);
        if (uint64_t(p.datalen) > uint64_t(p.blocks) * layout.erasesize)
            fail("data of " + p.name + " larger than its partition");
        for (size_t j = 0; j < i; ++j)
            if (first[i] < first[j] + layout.parts[j].blocks && first[j] < next)
                fail("partitions " + layout.parts[j].name + " and " + p.name + " overlap");
    }
    if (dirdev < 0) fail("chip without a FIS Directory partition");
    uint64_t chipsize = blocks * layout.erasesize;
    if (blocks > sk::kMaxBlocks || uint64_t(layout.base) + chipsize > 0x100000000ULL)
        fail("chip too large");

    fs::create_directories(stateDir);
    StateLock lock(stateDir);
    freshFolder(stateDir);
    std::string chip(chipsize, '\xff');
    std::string dir;
    for (size_t i = 0; i < layout.parts.size(); ++i) {
        const auto &p = layout.parts[i];
        uint64_t at = first[i] * layout.erasesize;
        if (int(i) != dirdev) chip.replace(at, p.datalen, partitionPattern(int(i), p.datalen));
        std::string e(256, '\0');
        std::memcpy(e.data(), p.name.data(), std::min<size_t>(p.name.size(), 15));
        put32(e, 16, uint32_t(layout.base + at));
        put32(e, 20, uint32_t(layout.base + at));
        put32(e, 24, p.blocks * layout.erasesize);
        put32(e, 32, p.datalen);
        dir += e;
    }
    if (dir.size() > uint64_t(layout.parts[size_t(dirdev)].blocks) * layout.erasesize)
        fail("directory does not fit its partition");
    chip.replace(first[size_t(dirdev)] * layout.erasesize, dir.size(), dir);
    spill(join(stateDir, sk::kChipFile), chip);

    auto st = std::make_unique<sk::State>();
    sk::initState(st.get());
    st->mode = sk::MODE_NOR;
    std::snprintf(st->table, sizeof st->table, "%s", layout.table.c_str());
    st->base = layout.base;
    st->erasesize = layout.erasesize;
    st->chipsize = uint32_t(chipsize);
    st->dirdev = dirdev;
    for (size_t i = 0; i < layout.parts.size(); ++i) {
        sk::Part &p = st->part[i];
        p.present = 1;
        p.start = uint32_t(layout.base + first[i] * layout.erasesize);
        p.size = layout.parts[i].blocks * layout.erasesize;
        std::snprintf(p.name, sizeof p.name, "%s", layout.parts[i].name.c_str());
    }
    std::memset(st->locks, layout.locked ? 'L' : 'U', blocks);
    st->locks[blocks] = 0;
    saveUnlocked(stateDir, *st);
}

void makeChip(const std::string &stateDir, const std::string &table) {
    makeChip(stateDir, chipFor(table));
}

std::vector<uint32_t> defaultMSysUnits() { return {16, 80, 200, 600, 4, 8, 4, 4}; }

void makeMSysChip(const std::string &stateDir, const std::vector<uint32_t> &units,
                  const std::vector<uint32_t> &datalens) {
    if (units.size() != 8 || datalens.size() != 8) fail("MSys flash has eight partitions");
    uint64_t total = 0;
    for (uint32_t u : units) total += u;
    if (total > sk::kMSysUnits) fail("MSys partitions exceed 967 units");
    fs::create_directories(stateDir);
    StateLock lock(stateDir);
    freshFolder(stateDir);
    uint64_t chipsize = uint64_t(sk::kMSysUnits) * sk::kMSysUnit;
    std::string chip(chipsize, '\xff');
    auto st = std::make_unique<sk::State>();
    sk::initState(st.get());
    st->mode = sk::MODE_MSYS;
    std::snprintf(st->table, sizeof st->table, "msys");
    st->base = 0;
    st->erasesize = sk::kMSysUnit;
    st->chipsize = uint32_t(chipsize);
    st->dirdev = -1;
    const auto &names = tableNames("normal");
    uint64_t at = 0;
    for (int k = 0; k < 8; ++k) {
        sk::Part &p = st->part[k];
        p.present = 1;
        p.start = uint32_t(at);
        p.size = units[size_t(k)] * sk::kMSysUnit;
        if (datalens[size_t(k)] > p.size) fail("data of partition " + std::to_string(k) + " too large");
        p.datalen = datalens[size_t(k)];
        std::snprintf(p.name, sizeof p.name, "%s", names[size_t(k)].c_str());
        std::string pat = partitionPattern(k, p.datalen);
        chip.replace(at, pat.size(), pat);
        at += p.size;
    }
    spill(join(stateDir, sk::kChipFile), chip);
    saveUnlocked(stateDir, *st);
}

void makeMSysChip(const std::string &stateDir) {
    auto u = defaultMSysUnits();
    std::vector<uint32_t> d;
    for (uint32_t x : u) d.push_back(x * sk::kMSysUnit * 3 / 4);
    makeMSysChip(stateDir, u, d);
}

// ---- reading back ------------------------------------------------------------------------

sk::State loadState(const std::string &stateDir) {
    StateLock lock(stateDir);
    return loadUnlocked(stateDir);
}

void saveState(const std::string &stateDir, const sk::State &st) {
    StateLock lock(stateDir);
    saveUnlocked(stateDir, st);
}

std::string chipBytes(const std::string &stateDir) {
    StateLock lock(stateDir);
    return slurp(join(stateDir, sk::kChipFile));
}

namespace {

std::vector<DirEntry> parseDirectory(const sk::State &st, const std::string &chip) {
    std::vector<DirEntry> out;
    if (st.dirdev < 0) return out;
    const sk::Part &d = st.part[st.dirdev];
    if (d.fromdir || d.start < st.base) fail("directory window unknown");
    uint64_t off = uint64_t(d.start) - st.base;
    for (uint64_t i = 0; (i + 1) * 256 <= d.size && off + (i + 1) * 256 <= chip.size(); ++i) {
        std::string e = chip.substr(off + i * 256, 256);
        if (uint8_t(e[0]) == 0xff) break;
        DirEntry de;
        de.name = std::string(e.data(), strnlen(e.data(), 16));
        de.flashBase = get32(e, 16);
        de.memBase = get32(e, 20);
        de.size = get32(e, 24);
        de.entryPoint = get32(e, 28);
        de.dataLength = get32(e, 32);
        de.raw = e;
        out.push_back(de);
    }
    return out;
}

}  // namespace

std::vector<DirEntry> readDirectory(const std::string &stateDir) {
    StateLock lock(stateDir);
    sk::State st = loadUnlocked(stateDir);
    return parseDirectory(st, slurp(join(stateDir, sk::kChipFile)));
}

std::string partitionBytes(const std::string &stateDir, const std::string &name) {
    StateLock lock(stateDir);
    sk::State st = loadUnlocked(stateDir);
    std::string chip = slurp(join(stateDir, sk::kChipFile));
    uint64_t start = 0, size = 0;
    bool found = false;
    if (st.mode == sk::MODE_MSYS) {
        for (const auto &p : st.part)
            if (p.present && strcasecmp(p.name, name.c_str()) == 0)
                start = p.start, size = p.size, found = true;
    } else {
        for (const auto &e : parseDirectory(st, chip))
            if (!found && strcasecmp(e.name.c_str(), name.c_str()) == 0)
                start = e.flashBase, size = e.size, found = true;
    }
    if (!found) fail("no partition named " + name);
    if (start < st.base || start - st.base + size > chip.size())
        fail("partition " + name + " lies off the chip");
    return chip.substr(start - st.base, size);
}

std::string partitionData(const std::string &stateDir, const std::string &name, uint64_t n) {
    std::string b = partitionBytes(stateDir, name);
    if (n > b.size()) fail("partition " + name + " shorter than " + std::to_string(n));
    return b.substr(0, n);
}

std::string windowBytes(const std::string &stateDir, int mtd) {
    StateLock lock(stateDir);
    sk::State st = loadUnlocked(stateDir);
    if (mtd < 0 || mtd >= sk::kMaxParts || !st.part[mtd].present) fail("no such device");
    const sk::Part &p = st.part[mtd];
    std::string chip = slurp(join(stateDir, sk::kChipFile));
    if (p.fromdir) fail("window not resolved yet");
    if (p.start < st.base || p.start - st.base + p.size > chip.size()) fail("window off the chip");
    return chip.substr(p.start - st.base, p.size);
}

bool isLocked(const std::string &stateDir, uint32_t flashAddress) {
    sk::State st = loadState(stateDir);
    if (flashAddress < st.base) fail("address below the chip");
    uint64_t b = (uint64_t(flashAddress) - st.base) / st.erasesize;
    if (b >= std::strlen(st.locks)) fail("address beyond the chip");
    return st.locks[b] == 'L';
}

void writeFlash(const std::string &stateDir, uint32_t flashAddress, const std::string &bytes) {
    StateLock lock(stateDir);
    sk::State st = loadUnlocked(stateDir);
    std::string chip = slurp(join(stateDir, sk::kChipFile));
    if (flashAddress < st.base || uint64_t(flashAddress) - st.base + bytes.size() > chip.size())
        fail("write off the chip");
    chip.replace(flashAddress - st.base, bytes.size(), bytes);
    spill(join(stateDir, sk::kChipFile), chip);
}

void writeDirectory(const std::string &stateDir, const std::vector<DirEntry> &entries,
                    bool endMark) {
    StateLock lock(stateDir);
    sk::State st = loadUnlocked(stateDir);
    if (st.dirdev < 0) fail("no flash directory");
    const sk::Part &d = st.part[st.dirdev];
    if (d.fromdir || d.start < st.base) fail("directory window unknown");
    std::string area(d.size, endMark ? '\xff' : '\0');
    if (entries.size() * 256 > area.size()) fail("directory too long for its partition");
    for (size_t i = 0; i < entries.size(); ++i) {
        const DirEntry &de = entries[i];
        std::string e = de.raw;
        if (e.size() != 256) {
            e.assign(256, '\0');
            std::memcpy(e.data(), de.name.data(), std::min<size_t>(de.name.size(), 16));
            put32(e, 16, de.flashBase);
            put32(e, 20, de.memBase);
            put32(e, 24, de.size);
            put32(e, 28, de.entryPoint);
            put32(e, 32, de.dataLength);
        }
        area.replace(i * 256, 256, e);
    }
    std::string chip = slurp(join(stateDir, sk::kChipFile));
    if (uint64_t(d.start) - st.base + area.size() > chip.size()) fail("directory off the chip");
    chip.replace(d.start - st.base, area.size(), area);
    spill(join(stateDir, sk::kChipFile), chip);
}

void setAllLocked(const std::string &stateDir, bool locked) {
    updateState(stateDir, [&](sk::State &st) {
        for (char *p = st.locks; *p; ++p) *p = locked ? 'L' : 'U';
    });
}

std::vector<std::string> opsLog(const std::string &stateDir) {
    std::string text;
    std::vector<std::string> out;
    if (!slurpIfAny(join(stateDir, sk::kOpsLog), &text)) return out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) out.push_back(line);
    return out;
}

void clearOpsLog(const std::string &stateDir) {
    StateLock lock(stateDir);
    std::error_code ec;
    fs::remove(join(stateDir, sk::kOpsLog), ec);
}

std::vector<std::string> opsMatching(const std::string &stateDir,
                                     const std::vector<std::string> &words) {
    std::vector<std::string> out;
    for (const auto &line : opsLog(stateDir)) {
        std::string padded = " " + line + " ";
        bool all = true;
        for (const auto &w : words)
            if (padded.find(" " + w + " ") == std::string::npos) all = false;
        if (all) out.push_back(line);
    }
    return out;
}

std::string opsField(const std::string &line, const std::string &key) {
    std::string padded = " " + line;
    size_t p = padded.find(" " + key + "=");
    if (p == std::string::npos) return "";
    p += key.size() + 2;
    size_t e = padded.find(' ', p);
    return padded.substr(p, e == std::string::npos ? std::string::npos : e - p);
}

// ---- system call 405 ---------------------------------------------------------------------

Counters405 counters405(const std::string &stateDir) {
    sk::State st = loadState(stateDir);
    return {st.reserve405, st.release405, st.other405};
}

void set405Answer(const std::string &stateDir, int err) {
    updateState(stateDir, [&](sk::State &st) { st.answer405 = err; });
}

// ---- uptime ---------------------------------------------------------------------------------

void setUptime(const std::string &stateDir, long seconds) {
    if (seconds < 0) fail("negative uptime");
    updateState(stateDir, [&](sk::State &st) {
        st.hasUptime = 1;
        st.uptime = uint64_t(seconds);
    });
}

void clearUptime(const std::string &stateDir) {
    updateState(stateDir, [](sk::State &st) {
        st.hasUptime = 0;
        st.uptime = 0;
    });
}

// ---- faults --------------------------------------------------------------------------------

void addFault(const std::string &stateDir, const std::string &rule) {
    if (rule.find('\n') != std::string::npos) fail("one rule at a time");
    StateLock lock(stateDir);
    std::string text;
    slurpIfAny(join(stateDir, sk::kFaultsFile), &text);
    if (!text.empty() && text.back() != '\n') text += '\n';
    text += rule + "\n";
    std::vector<sk::Rule> rules(sk::kMaxRules);
    char err[160];
    if (sk::parseRules(text.data(), text.size(), rules.data(), sk::kMaxRules, err, sizeof err) < 0)
        fail(err);
    spill(join(stateDir, sk::kFaultsFile), text);
}

void clearFaults(const std::string &stateDir) {
    updateState(stateDir, [&](sk::State &st) {
        std::error_code ec;
        fs::remove(join(stateDir, sk::kFaultsFile), ec);
        st.nrules = 0;
    });
}

// ---- md arrays --------------------------------------------------------------------------------

void setMd(const std::string &stateDir, int md, const MdArray &array) {
    if (md < 0 || md >= sk::kMaxMd) fail("md number out of range");
    updateState(stateDir, [&](sk::State &st) {
        sk::Md &m = st.md[md];
        m.present = 1;
        m.running = array.running;
        m.level = array.level;
        m.disks = array.disks;
        m.sizekib = array.sizeKib;
        m.devsize = array.devSize;
        std::memcpy(m.sync, array.sync, sizeof m.sync);
    });
}

void writeMdSysfs(const std::string &rootDir, int md, const std::vector<MdMember> &members) {
    std::string base = rootDir + "/sys/block/md" + std::to_string(md) + "/md";
    fs::create_directories(base);
    for (const auto &m : members) {
        if (m.name.empty() || m.name.find('/') != std::string::npos) fail("bad member name");
        std::string d = base + "/dev-" + m.name;
        fs::create_directories(d);
        spill(d + "/state", m.state + "\n");
        spill(d + "/slot", m.slot + "\n");
    }
}

// ---- upgrade package --------------------------------------------------------------------------

// The updater counts the blocks of every partition, the boot loader's below
// zImage included, against the span from zImage to the directory's end: 28
// of the bantam chip's 32 blocks.  Its default images stay small enough for
// a plain update to pass.
std::map<std::string, uint64_t> defaultImages(const std::string &table) {
    if (table == "bantam") return {{"zImage", 0xC8000}, {"rd.bin", 0x70000}};
    std::map<std::string, uint64_t> m = {{"zImage", 0xC8000}, {"rd.bin", 0xA0000}};
    if (table == "normal") m["AllLib.tgz"] = 0x380000;
    return m;
}

std::string imageBytes(const std::string &file, int build, uint64_t size) {
    uint32_t h = 2166136261u;
    for (char c : file) h = (h ^ uint8_t(c)) * 16777619u;
    h ^= uint32_t(build) * 0x9e3779b9u;
    std::string s(size, '\0');
    for (uint64_t i = 0; i < size; ++i) {
        uint32_t x = h + uint32_t(i) * 2654435761u;
        x ^= x >> 15;
        s[i] = char(uint8_t(x));
    }
    return s;
}

void makePackage(const std::string &dir, const PackageLayout &contents) {
    fs::create_directories(dir);
    std::ostringstream v;
    v << "majorversion=\"" << contents.major << "\"\n"
      << "minorversion=\"" << contents.minor << "\"\n"
      << "buildphase=\"" << contents.phase << "\"\n"
      << "buildnumber=\"" << contents.build << "\"\n"
      << "unique=\"" << contents.model << "\"\n"
      << "extractsize=\"" << contents.extractSize << "\"\n";
    spill(dir + "/VERSION", v.str());
    auto images = contents.images.empty() ? defaultImages(contents.table) : contents.images;
    for (const auto &[file, size] : images) {
        if (file.empty() || file.find('/') != std::string::npos) fail("bad image name " + file);
        spill(dir + "/" + file, imageBytes(file, contents.build, size));
    }
}

// ---- running under the simulated kernel ----------------------------------------------------------

std::string libraryPath() { return SIMKERNEL_LIB_PATH; }
std::string probePath() { return SIMKERNEL_PROBE_PATH; }
std::string simflashPath() { return SIMKERNEL_SIMFLASH_PATH; }

RunResult runPreloaded(const std::string &stateDir, const std::vector<std::string> &argv,
                       const std::vector<std::string> &env) {
    if (argv.empty()) fail("nothing to run");
    std::string abs = fs::absolute(stateDir).string();
    std::vector<std::string> envs;
    // The preloaded library comes before the sanitizer runtime: ASan must
    // be told not to insist on being first, keeping the caller's options.
    std::string asanOptions = "ASAN_OPTIONS=verify_asan_link_order=0";
    for (char **e = environ; *e; ++e) {
        if (std::strncmp(*e, "LD_PRELOAD=", 11) == 0) continue;
        if (std::strncmp(*e, "VEXA_SIMKERNEL_STATE=", 21) == 0) continue;
        if (std::strncmp(*e, "ASAN_OPTIONS=", 13) == 0) {
            if ((*e)[13] != '\0') asanOptions = std::string(*e) + ":verify_asan_link_order=0";
            continue;
        }
        envs.emplace_back(*e);
    }
    envs.push_back("LD_PRELOAD=" + libraryPath());
    envs.push_back(std::string(sk::kEnvState) + "=" + abs);
    envs.push_back(asanOptions);
    for (const auto &e : env) {
        std::string key = e.substr(0, e.find('=') + 1);
        std::erase_if(envs, [&](const std::string &x) { return x.compare(0, key.size(), key) == 0; });
        envs.push_back(e);
    }
    std::vector<char *> av, ev;
    for (const auto &a : argv) av.push_back(const_cast<char *>(a.c_str()));
    av.push_back(nullptr);
    for (const auto &e : envs) ev.push_back(const_cast<char *>(e.c_str()));
    ev.push_back(nullptr);

    int pipefd[2];
    if (::pipe2(pipefd, O_CLOEXEC) != 0) fail("pipe failed");
    // Spawned, not forked: copying a sanitized test's mappings for every
    // probe costs more than the probe.
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, pipefd[1], 1);
    posix_spawn_file_actions_adddup2(&fa, pipefd[1], 2);
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, av[0], &fa, nullptr, av.data(), ev.data());
    posix_spawn_file_actions_destroy(&fa);
    ::close(pipefd[1]);
    RunResult r;
    if (spawned != 0) {
        ::close(pipefd[0]);
        r.status = 127;  // as when the program could not be run
        return r;
    }
    char buf[4096];
    ssize_t n;
    while ((n = ::read(pipefd[0], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0) r.out.append(buf, size_t(n));
    ::close(pipefd[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) r.status = WEXITSTATUS(status);
    else if (WIFSIGNALED(status)) r.status = 128 + WTERMSIG(status);
    return r;
}

#if defined(SIMKERNEL_WITH_APPROOT)
void writeMdSysfs(approot::Appliance &app, int md, const std::vector<MdMember> &members) {
    std::string base = "/sys/block/md" + std::to_string(md) + "/md";
    for (const auto &m : members) {
        if (m.name.empty() || m.name.find('/') != std::string::npos) fail("bad member name");
        app.writeFile(base + "/dev-" + m.name + "/state", m.state + "\n");
        app.writeFile(base + "/dev-" + m.name + "/slot", m.slot + "\n");
    }
}

void attach(approot::Appliance &app, const std::string &stateDir) {
    std::string abs = fs::absolute(stateDir).string();
    app.bind(abs, abs);
    app.setEnv("LD_PRELOAD", libraryPath());
    app.setEnv(sk::kEnvState, abs);
}
#endif

}  // namespace simkernel

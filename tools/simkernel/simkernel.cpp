// libsimkernel.so: a stand-in for the appliance's device kernel, preloaded
// into the processes of a test.  It serves the flash devices /dev/mtd0..7
// and the md arrays /dev/md<n>, the system calls 401 and 405, and the
// uptime sysinfo reports when the state holds one, from the state folder
// named in VEXA_SIMKERNEL_STATE; without that variable it passes every call
// through untouched.
//
// Rules for this file: it runs inside /bin/sh, /bin/dd and sanitized test
// programs, often before their own start-up is done.  So no allocation, no
// stdio, no exceptions, and every call of our own goes to the kernel by the
// raw syscall instruction: calling read() or open() here would come back to
// us, and syscall() is interposed too.
//
// A device descriptor is a real descriptor on an (empty, sparse) backing
// file under <state>/dev/.  Its file position is the device position, so
// dup, fork, exec and dd's own descriptor juggling need no table of ours; a
// descriptor is recognised by fstat (the backing files have one odd size).
//
// This file is the device side: the shared state, ops.log and the
// requests.  The NOR flash model is nor_model.cpp, the fault-rule engine
// fault_rules.cpp, and the interposed entry points interpose.cpp.

#include "sk_device.h"

#include "fault_rules.h"
#include "nor_model.h"
#include "sk_raw.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/major.h>
#include <linux/raid/md_u.h>
#include <mtd/mtd-user.h>
#include <net/if.h>
#include <signal.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysinfo.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace sk::dev {

// Requests of the device's own flash driver; literal values.
constexpr unsigned long kReqM22 = 0x40084d16;
constexpr unsigned long kReqM23 = 0x401c4d17;
constexpr unsigned long kReqM24 = 0x40044d18;
constexpr unsigned long kReqM25 = 0x40044d19;
constexpr unsigned long kReqM26 = 0x80044d1a;
constexpr unsigned long kReqMdSync = 0x800c0960;

// ---- process-wide state of this library ---------------------------------

int gActive = -1;
char gDir[400];
int gPid;
uint64_t gStart;
char gComm[kCommLen] = "?";

uint64_t gBackDev;
uint64_t gBackIno[kMaxDev];
bool gBackKnown[kMaxDev];

State gSt;
bool gStateOk;
bool gDirty;
Rule gRules[kMaxRules];
int gNRules;
bool gRulesWarned;
char gRulesErr[160];
int gLockFd = -1;
int gChipFd = -1;
char gIo[65536];
char gText[65536];

void joinPath(char *out, size_t cap, const char *a, const char *b = nullptr) {
    snprintf(out, cap, "%s/%s%s%s", gDir, a, b ? "/" : "", b ? b : "");
}

// Reads a small file whole; -1 when it cannot.
long readAll(const char *path, char *buf, size_t cap) {
    long fd = raw(SYS_openat, AT_FDCWD, L(path), O_RDONLY | O_CLOEXEC);
    if (isErr(fd)) return -1;
    size_t n = 0;
    while (n < cap) {
        long r = raw(SYS_read, fd, L(buf + n), long(cap - n));
        if (r == -EINTR) continue;
        if (isErr(r)) {
            raw(SYS_close, fd);
            return -1;
        }
        if (r == 0) break;
        n += size_t(r);
    }
    raw(SYS_close, fd);
    return long(n);
}

bool writeAll(long fd, const char *p, size_t n) {
    while (n > 0) {
        long r = raw(SYS_write, fd, L(p), long(n));
        if (r == -EINTR) continue;
        if (isErr(r) || r == 0) return false;
        p += r;
        n -= size_t(r);
    }
    return true;
}

// Start time (field 22 of /proc/<pid>/stat); 0 when unknown.
uint64_t startTime(const char *statPath) {
    char b[1024];
    long n = readAll(statPath, b, sizeof b - 1);
    if (n <= 0) return 0;
    b[n] = 0;
    char *p = strrchr(b, ')');
    if (!p) return 0;
    ++p;
    for (int field = 3; field <= 22; ++field) {
        while (*p == ' ') ++p;
        if (field == 22) return strtoull(p, nullptr, 10);
        while (*p && *p != ' ') ++p;
    }
    return 0;
}

void procInit(int pid) {
    gPid = pid;
    char b[64];
    long n = readAll("/proc/self/comm", b, sizeof b - 1);
    if (n > 0) {
        while (n > 0 && (b[n - 1] == '\n' || b[n - 1] == ' ')) --n;
        if (n >= long(sizeof gComm)) n = sizeof gComm - 1;
        memcpy(gComm, b, size_t(n));
        gComm[n] = 0;
    } else {
        snprintf(gComm, sizeof gComm, "?");
    }
    gStart = startTime("/proc/self/stat");
}

bool active() {
    if (gActive < 0) {
        const char *e = getenv(kEnvState);
        if (e && e[0] == '/' && strlen(e) < sizeof gDir - 64) {
            snprintf(gDir, sizeof gDir, "%s", e);
            gActive = 1;
        } else {
            gActive = 0;
        }
    }
    if (gActive == 1) {
        int pid = int(raw(SYS_getpid));
        if (pid != gPid) procInit(pid);
    }
    return gActive == 1;
}

bool alive(int pid, uint64_t start) {
    char p[64];
    snprintf(p, sizeof p, "/proc/%d/stat", pid);
    uint64_t s = startTime(p);
    if (s != 0) return s == start;
    long r = raw(SYS_kill, pid, 0);
    return r == 0 || r == -EPERM;
}

bool isMain() { return gSt.mainpid == gPid && gSt.mainstart == gStart; }

// ---- the shared state, taken under an exclusive lock ----------------------

bool chipOpen() {
    if (gChipFd >= 0) return true;
    char p[512];
    joinPath(p, sizeof p, kChipFile);
    long fd = raw(SYS_openat, AT_FDCWD, L(p), O_RDWR | O_CLOEXEC);
    if (isErr(fd)) return false;
    gChipFd = int(fd);
    return true;
}

// The whole of n bytes at off, or false: sys is SYS_pread64 or SYS_pwrite64.
bool chipTransfer(long sys, uint64_t off, long buf, size_t n) {
    if (!chipOpen()) return false;
    size_t done = 0;
    while (done < n) {
        long r = raw(sys, gChipFd, buf + long(done), long(n - done), long(off + done));
        if (r == -EINTR) continue;
        if (isErr(r) || r == 0) return false;
        done += size_t(r);
    }
    return true;
}

bool chipRead(uint64_t off, void *buf, size_t n) { return chipTransfer(SYS_pread64, off, L(buf), n); }

bool chipWrite(uint64_t off, const void *buf, size_t n) {
    return chipTransfer(SYS_pwrite64, off, L(buf), n);
}

// The chip as the flash model reaches it.
bool chipReadAt(void *, uint64_t off, void *buf, size_t n) { return chipRead(off, buf, n); }
bool chipWriteAt(void *, uint64_t off, const void *buf, size_t n) { return chipWrite(off, buf, n); }
const Chip kChip = {nullptr, chipReadAt, chipWriteAt};

bool windowOff(const Part &p, uint64_t *off) { return sk::windowOff(gSt, p, off); }

// Takes the lock and reads the state file; gStateOk says whether it could.
void loadLocked() {
    char p[512];
    gDirty = false;
    gStateOk = false;
    gNRules = 0;
    joinPath(p, sizeof p, kLockFile);
    long fd = raw(SYS_openat, AT_FDCWD, L(p), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (!isErr(fd)) {
        gLockFd = int(fd);
        while (raw(SYS_flock, fd, LOCK_EX) == -EINTR) {
        }
    }
    joinPath(p, sizeof p, kStateFile);
    long n = readAll(p, gText, sizeof gText);
    gStateOk = n >= 0 && size_t(n) < sizeof gText && parseState(gText, size_t(n), &gSt) == 0;
}

// The start of every device request: state, rules, windows, main process.
void begin() {
    loadLocked();
    if (!gStateOk) return;
    char p[512];
    joinPath(p, sizeof p, kFaultsFile);
    long n = readAll(p, gText, sizeof gText);
    if (n > 0 && size_t(n) < sizeof gText) {
        int c = parseRules(gText, size_t(n), gRules, kMaxRules, gRulesErr, sizeof gRulesErr);
        gNRules = c < 0 ? 0 : c;
        if (c >= 0) gRulesErr[0] = 0;
    } else {
        gRulesErr[0] = 0;
    }
    // Forget the counters of rules that are gone from the file.
    if (dropGoneCounters(gSt, gRules, gNRules)) gDirty = true;
    if (resolveWindows(gSt, kChip)) gDirty = true;
    if (gSt.mainpid <= 0 || !alive(gSt.mainpid, gSt.mainstart)) {
        gSt.mainpid = gPid;
        gSt.mainstart = gStart;
        snprintf(gSt.maincomm, sizeof gSt.maincomm, "%s", gComm);
        gDirty = true;
    }
}

void saveState() {
    size_t n = formatState(&gSt, gText, sizeof gText);
    if (n == 0) return;
    char p[512], t[512];
    joinPath(p, sizeof p, kStateFile);
    joinPath(t, sizeof t, "state.tmp");
    long fd = raw(SYS_openat, AT_FDCWD, L(t), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (isErr(fd)) return;
    bool ok = writeAll(fd, gText, n);
    raw(SYS_close, fd);
    if (ok) raw(SYS_rename, L(t), L(p));
}

void end() {
    if (gDirty && gStateOk) saveState();
    gDirty = false;
    if (gChipFd >= 0) raw(SYS_close, gChipFd);
    gChipFd = -1;
    if (gLockFd >= 0) raw(SYS_close, gLockFd);
    gLockFd = -1;
}

// ---- ops.log ---------------------------------------------------------------

struct Line {
    char b[1024];
    size_t n = 0;

    void put(const char *fmt, ...) __attribute__((format(printf, 2, 3))) {
        if (n >= sizeof b - 2) return;
        va_list ap;
        va_start(ap, fmt);
        int r = vsnprintf(b + n, sizeof b - 2 - n, fmt, ap);
        va_end(ap);
        if (r > 0) n += size_t(r) < sizeof b - 2 - n ? size_t(r) : sizeof b - 3 - n;
    }
};

void lineStart(Line &l, int dev, const char *op) {
    char d[16];
    devName(dev, d, sizeof d);
    l.put("pid=%d proc=%s dev=%s op=%s", gPid, gComm, d, op);
}

void lineErr(Line &l, int err) {
    const char *n = errnoName(err);
    if (n) l.put(" res=-1 errno=%s", n);
    else l.put(" res=-1 errno=%d", err);
}

void logLine(Line &l) {
    if (gRulesErr[0] && !gRulesWarned) {
        gRulesWarned = true;
        Line w;
        lineStart(w, -1, "faults");
        w.put(" res=-1 errno=EINVAL note=\"%s\"", gRulesErr);
        logLine(w);
    }
    l.b[l.n++] = '\n';
    char p[512];
    joinPath(p, sizeof p, kOpsLog);
    long fd = raw(SYS_openat, AT_FDCWD, L(p), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (isErr(fd)) return;
    writeAll(fd, l.b, l.n);
    raw(SYS_close, fd);
}

// ---- fault rules ---------------------------------------------------------------

// The rules as they stand for this process's request.
RuleEngine rules() { return RuleEngine{&gSt, gRules, gNRules, isMain(), gComm, &gDirty}; }

const Rule *hitCall(int kind, uint32_t op, int dev) { return sk::hitCall(rules(), kind, op, dev); }

const Rule *hitBytes(int kind, uint32_t op, int dev, uint64_t len, uint64_t *allowed) {
    return sk::hitBytes(rules(), kind, op, dev, len, allowed);
}

// Power cut: the main process dies at its nth flash operation, before the
// operation touches the flash.
// Returns true when it fired and the process lives on (the lock is then
// given back already).
bool powerCut(uint32_t op, int dev) {
    const Rule *r = hitCall(K_POWERCUT, op, dev);
    if (!r) return false;
    Line l;
    lineStart(l, dev, "powercut");
    l.put(" cut=%s sig=%s fault=%d", opName(op), signalName(r->sig) ? signalName(r->sig) : "?",
          r->line);
    logLine(l);
    int sig = r->sig;
    end();
    raw(SYS_kill, gPid, sig);
    return true;
}

int eth0Mtu() {
    long s = raw(SYS_socket, AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (isErr(s)) return -1;
    struct ifreq ifr;
    memset(&ifr, 0, sizeof ifr);
    memcpy(ifr.ifr_name, "eth0", 5);
    long r = raw(SYS_ioctl, s, SIOCGIFMTU, L(&ifr));
    raw(SYS_close, s);
    return isErr(r) ? -1 : ifr.ifr_mtu;
}

// ---- device identity ------------------------------------------------------------

void backingPath(int dev, char *out, size_t cap) {
    char d[16];
    devName(dev, d, sizeof d);
    joinPath(out, cap, kDevDir, d);
}

void rememberBacking(int dev, const struct stat &sb) {
    gBackDev = sb.st_dev;
    gBackIno[dev] = sb.st_ino;
    gBackKnown[dev] = true;
}

int devOfFd(int fd, struct stat *out = nullptr) {
    struct stat sb;
    memset(&sb, 0, sizeof sb);
    if (isErr(raw(SYS_fstat, fd, L(&sb)))) return -1;
    if (out) *out = sb;
    if (!S_ISREG(sb.st_mode) || sb.st_size != kBackingSize) return -1;
    for (int pass = 0; pass < 2; ++pass) {
        for (int i = 0; i < kMaxDev; ++i)
            if (gBackKnown[i] && gBackIno[i] == sb.st_ino && gBackDev == sb.st_dev) return i;
        if (pass == 0) {
            // Opened by another process (inherited across exec): learn the files.
            for (int i = 0; i < kMaxDev; ++i) {
                char p[512];
                backingPath(i, p, sizeof p);
                struct stat bs;
                if (!isErr(raw(SYS_newfstatat, AT_FDCWD, L(p), L(&bs), 0))) rememberBacking(i, bs);
            }
        }
    }
    return -1;
}

bool devPresent(int dev) {
    if (dev < kMdBase) return gSt.part[dev].present;
    return gSt.md[dev - kMdBase].present;
}

void fakeStat(int dev, struct stat *sb) {
    if (dev < kMdBase) {
        sb->st_mode = S_IFCHR | 0660;
        sb->st_rdev = makedev(90, unsigned(dev) * 2);
    } else {
        sb->st_mode = S_IFBLK | 0660;
        sb->st_rdev = makedev(9, unsigned(dev - kMdBase));
    }
    sb->st_size = 0;
    sb->st_blocks = 0;
    sb->st_blksize = 4096;
    sb->st_nlink = 1;
}

// Path-based stat of a device: -1 with errno when it is absent.
int statDevice(int dev, struct stat *sb) {
    begin();
    bool present = gStateOk && devPresent(dev);
    end();
    if (!present) {
        errno = ENOENT;
        return -1;
    }
    memset(sb, 0, sizeof *sb);
    char p[512];
    backingPath(dev, p, sizeof p);
    struct stat bs;
    if (!isErr(raw(SYS_newfstatat, AT_FDCWD, L(p), L(&bs), 0))) *sb = bs;
    sb->st_ino = 0x5100 + unsigned(dev);
    fakeStat(dev, sb);
    return 0;
}

// ---- open ------------------------------------------------------------------------

const char *accName(int flags) {
    switch (flags & O_ACCMODE) {
    case O_RDONLY: return "r";
    case O_WRONLY: return "w";
    default: return "rw";
    }
}

int doOpen(int dirfd, const char *path, int flags, mode_t mode) {
    if (!active()) return int(ret(raw(SYS_openat, dirfd, L(path), flags, long(mode))));
    int dev = devFromPath(path);
    if (dev < 0) return int(ret(raw(SYS_openat, dirfd, L(path), flags, long(mode))));
    begin();
    Line l;
    lineStart(l, dev, "open");
    l.put(" mode=%s", accName(flags));
    int err = 0;
    const Rule *f = nullptr;
    long fd = -1;
    if (!gStateOk) err = EIO;
    else if (!devPresent(dev)) err = ENOENT;
    else if ((f = hitCall(K_FAIL, OP_OPEN, dev))) err = f->err;
    if (!err) {
        char dp[512], bp[512];
        joinPath(dp, sizeof dp, kDevDir);
        raw(SYS_mkdirat, AT_FDCWD, L(dp), 0777);
        backingPath(dev, bp, sizeof bp);
        struct stat bs;
        if (isErr(raw(SYS_newfstatat, AT_FDCWD, L(bp), L(&bs), 0)) || bs.st_size != kBackingSize) {
            long c = raw(SYS_openat, AT_FDCWD, L(bp), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
            if (!isErr(c)) {
                raw(SYS_ftruncate, c, long(kBackingSize));
                raw(SYS_close, c);
            }
        }
        int keep = O_ACCMODE | O_CLOEXEC | O_NONBLOCK | O_SYNC | O_DSYNC;
        fd = raw(SYS_openat, AT_FDCWD, L(bp), (flags & keep) | O_LARGEFILE);
        if (isErr(fd)) err = int(-fd);
        else if (!isErr(raw(SYS_fstat, fd, L(&bs)))) rememberBacking(dev, bs);
    }
    if (err) lineErr(l, err);
    else l.put(" res=%ld", fd);
    if (f) l.put(" fault=%d", f->line);
    logLine(l);
    end();
    if (err) {
        errno = err;
        return -1;
    }
    return int(fd);
}

// ---- read and write -----------------------------------------------------------

// The part a transfer at pos of len bytes may reach; false when the state
// does not give the device a window on the chip.
bool window(int dev, uint64_t *off, uint64_t *size) {
    if (dev >= kMdBase) return false;
    const Part &p = gSt.part[dev];
    if (!p.present) return false;
    *size = p.size;
    return windowOff(p, off);
}

void applyCorrupt(uint32_t op, int dev, uint64_t pos, unsigned char *buf, uint64_t n, Line &l) {
    int lines[kMaxRules];
    int k = corrupt(rules(), op, dev, pos, buf, n, lines, kMaxRules);
    for (int i = 0; i < k; ++i) l.put(" fault=%d", lines[i]);
}

struct Xfer {
    long result;      // bytes, or -1
    int err;
    int sig;          // signal to raise once the lock is given back
};

Xfer devTransfer(int dev, bool isWrite, unsigned char *ubuf, const unsigned char *wbuf, size_t len,
                 uint64_t pos, const char *opn) {
    uint32_t op = isWrite ? OP_WRITE : OP_READ;
    Xfer x{-1, 0, 0};
    begin();
    if (isWrite && gStateOk && powerCut(op, dev)) return Xfer{-1, EIO, 0};
    Line l;
    lineStart(l, dev, opn);
    l.put(" off=0x%llx len=%zu", (unsigned long long)pos, len);
    uint64_t woff = 0, wsize = 0;
    const Rule *f = nullptr;
    if (!gStateOk) x.err = EIO;
    else if (dev >= kMdBase) x.err = EIO;  // md contents are not simulated
    else if (!window(dev, &woff, &wsize)) x.err = EIO;
    else if (len == 0) x.result = 0;
    else if (pos >= wsize) {
        if (isWrite) x.err = ENOSPC;
        else x.result = 0;
    }
    if (x.err || x.result == 0) goto done;
    {
        uint64_t n = len < wsize - pos ? len : wsize - pos;
        if (isWrite && anyLocked(gSt, woff + pos, n)) {
            x.err = EROFS;
            goto done;
        }
        if ((f = hitCall(K_FAIL, op, dev))) {
            x.err = f->err;
            goto done;
        }
        uint64_t allowed = n;
        const Rule *ff = hitBytes(K_FAIL, op, dev, n, &allowed);
        const Rule *fs = hitBytes(K_SIGNAL, op, dev, n, &allowed);
        if (fs) x.sig = fs->sig;
        uint64_t done = 0;
        bool ioFail = false;
        while (done < allowed && !ioFail) {
            size_t chunk = allowed - done < sizeof gIo ? size_t(allowed - done) : sizeof gIo;
            unsigned char *io = reinterpret_cast<unsigned char *>(gIo);
            if (isWrite) {
                unsigned char tmp[4096];
                if (!chipRead(woff + pos + done, io, chunk)) {
                    ioFail = true;
                    break;
                }
                for (size_t o = 0; o < chunk; o += sizeof tmp) {
                    size_t k = chunk - o < sizeof tmp ? chunk - o : sizeof tmp;
                    memcpy(tmp, wbuf + done + o, k);
                    applyCorrupt(op, dev, pos + done + o, tmp, k, l);
                    program(gSt, io + o, tmp, k);
                }
                if (!chipWrite(woff + pos + done, io, chunk)) ioFail = true;
            } else {
                if (!chipRead(woff + pos + done, ubuf + done, chunk)) ioFail = true;
                else applyCorrupt(op, dev, pos + done, ubuf + done, chunk, l);
            }
            if (!ioFail) done += chunk;
        }
        if (isWrite && gSt.mode == MODE_MSYS && done > 0) {
            Part &p = gSt.part[dev];
            if (pos + done > p.datalen) {
                p.datalen = uint32_t(pos + done);
                gDirty = true;
            }
        }
        if (ioFail) {
            x.err = EIO;
        } else if (ff) {
            f = ff;
            x.err = ff->err;
            if (done) l.put(" stored=%llu", (unsigned long long)done);
        } else {
            x.result = long(done);
        }
        if (fs) {
            if (fs != ff) l.put(" fault=%d", fs->line);
            l.put(" signal=%s after=%llu", signalName(fs->sig) ? signalName(fs->sig) : "?",
                  (unsigned long long)done);
        }
    }
done:
    if (x.err) {
        x.result = -1;
        lineErr(l, x.err);
    } else {
        l.put(" res=%ld", x.result);
    }
    if (f) l.put(" fault=%d", f->line);
    logLine(l);
    end();
    return x;
}

long finishXfer(const Xfer &x) {
    if (x.sig) raw(SYS_kill, gPid, x.sig);
    if (x.result < 0) {
        errno = x.err;
        return -1;
    }
    return x.result;
}

bool canAccess(int fd, bool isWrite) {
    long fl = raw(SYS_fcntl, fd, F_GETFL);
    if (isErr(fl)) return false;
    int acc = int(fl) & O_ACCMODE;
    return isWrite ? acc != O_RDONLY : acc != O_WRONLY;
}

// read, write, pread and pwrite: a device descriptor goes to the device at
// its file position (or at), anything else to the kernel.
ssize_t doXfer(int fd, bool isWrite, void *rbuf, const void *wbuf, size_t n, bool positional,
               off_t at) {
    int dev = active() ? devOfFd(fd) : -1;
    if (dev < 0) {
        long buf = isWrite ? L(wbuf) : L(rbuf);
        if (positional)
            return ret(raw(isWrite ? SYS_pwrite64 : SYS_pread64, fd, buf, long(n), long(at)));
        return ret(raw(isWrite ? SYS_write : SYS_read, fd, buf, long(n)));
    }
    if (!canAccess(fd, isWrite)) {
        errno = EBADF;
        return -1;
    }
    long pos = positional ? long(at) : raw(SYS_lseek, fd, 0, SEEK_CUR);
    if (isErr(pos) || pos < 0) {
        errno = isErr(pos) ? int(-pos) : EINVAL;
        return -1;
    }
    const char *opn = isWrite ? (positional ? "pwrite" : "write") : (positional ? "pread" : "read");
    Xfer x = devTransfer(dev, isWrite, static_cast<unsigned char *>(rbuf),
                         static_cast<const unsigned char *>(wbuf), n, uint64_t(pos), opn);
    if (!positional && x.result > 0) raw(SYS_lseek, fd, pos + x.result, SEEK_SET);
    return finishXfer(x);
}

ssize_t doRead(int fd, void *buf, size_t n, bool positional, off_t at) {
    return doXfer(fd, false, buf, nullptr, n, positional, at);
}

ssize_t doWrite(int fd, const void *buf, size_t n, bool positional, off_t at) {
    return doXfer(fd, true, nullptr, buf, n, positional, at);
}

off_t doLseek(int fd, off_t off, int whence) {
    int dev = active() ? devOfFd(fd) : -1;
    if (dev < 0) return ret(raw(SYS_lseek, fd, off, whence));
    uint64_t size = 0;
    begin();
    if (gStateOk && dev < kMdBase && gSt.part[dev].present) size = gSt.part[dev].size;
    else if (gStateOk && dev >= kMdBase) size = gSt.md[dev - kMdBase].devsize;
    end();
    long cur = raw(SYS_lseek, fd, 0, SEEK_CUR);
    if (isErr(cur)) return ret(cur);
    long long np;
    switch (whence) {
    case SEEK_SET: np = off; break;
    case SEEK_CUR: np = cur + off; break;
    case SEEK_END: np = (long long)size + off; break;
    default: errno = EINVAL; return -1;
    }
    if (np < 0 || (unsigned long long)np > size) {
        errno = EINVAL;
        return -1;
    }
    return ret(raw(SYS_lseek, fd, long(np), SEEK_SET));
}

// ---- requests ----------------------------------------------------------------------

struct Req {
    int dev;
    Line l;
    int err = 0;
    const Rule *fault = nullptr;
    long result = 0;

    bool faulted(uint32_t op) {
        if ((fault = hitCall(K_FAIL, op, dev))) err = fault->err;
        return fault != nullptr;
    }
    // Refuses the request; false, for the checks below.
    bool refuse(int e) {
        err = e;
        return false;
    }
};

// Logs the request's outcome, gives the state back and answers 0 or -1.
int finishReq(Req &q) {
    if (q.err) lineErr(q.l, q.err);
    else q.l.put(" res=0");
    if (q.fault) q.l.put(" fault=%d", q.fault->line);
    logLine(q.l);
    end();
    if (q.err) {
        errno = q.err;
        return -1;
    }
    return 0;
}

void reqGetInfo(Req &q, void *arg) {
    uint64_t woff, wsize;
    q.l.put(" req=MEMGETINFO");
    if (!window(q.dev, &woff, &wsize)) q.err = EIO;
    else if (!arg) q.err = EFAULT;
    else if (!q.faulted(OP_GETINFO)) {
        mtd_info_user mi;
        memset(&mi, 0, sizeof mi);
        mi.type = MTD_NORFLASH;
        mi.flags = MTD_CAP_NORFLASH;
        mi.size = uint32_t(wsize);
        mi.erasesize = gSt.erasesize;
        mi.writesize = 1;
        memcpy(arg, &mi, sizeof mi);
        q.l.put(" size=0x%x erasesize=0x%x", mi.size, mi.erasesize);
    }
}

// The block range of an erase or lock request, logged: whole blocks inside
// the device's window.  False when the request is refused.
bool blockRange(Req &q, void *arg, bool logMtu, uint64_t *woff, erase_info_user *ei) {
    uint64_t wsize;
    if (!window(q.dev, woff, &wsize)) return q.refuse(EIO);
    if (!arg) return q.refuse(EFAULT);
    memcpy(ei, arg, sizeof *ei);
    q.l.put(" start=0x%x len=0x%x", ei->start, ei->length);
    if (logMtu) q.l.put(" mtu=%d", eth0Mtu());
    return blockRangeOk(gSt, ei->start, ei->length, wsize) || q.refuse(EINVAL);
}

void reqErase(Req &q, void *arg) {
    q.l.put(" req=MEMERASE");
    uint64_t woff;
    erase_info_user ei;
    if (!blockRange(q, arg, true, &woff, &ei)) return;
    if (anyLocked(gSt, woff + ei.start, ei.length)) {
        q.err = EROFS;
        return;
    }
    if (q.faulted(OP_ERASE)) return;
    const Rule *keep = hitCall(K_NOERASE, OP_ERASE, q.dev);
    if (!eraseBlocks(gSt, kChip, woff + ei.start, ei.length, keep ? long(keep->block) : -1)) {
        q.err = EIO;
        return;
    }
    if (keep) {
        q.fault = keep;
        q.l.put(" kept=%u", keep->block);
    }
}

void reqLock(Req &q, void *arg, bool lock) {
    q.l.put(" req=%s", lock ? "MEMLOCK" : "MEMUNLOCK");
    uint64_t woff;
    erase_info_user ei;
    if (!blockRange(q, arg, false, &woff, &ei)) return;
    if (q.faulted(lock ? OP_LOCK : OP_UNLOCK)) return;
    setLocks(gSt, woff + ei.start, ei.length, lock);
    gDirty = true;
}

// 'M' 22 and 'M' 23 belong to NOR flash and take a record.
bool norRecord(Req &q, void *arg) {
    if (gSt.mode != MODE_NOR) return q.refuse(ENOTTY);
    return arg || q.refuse(EFAULT);
}

void reqM22(Req &q, void *arg) {
    q.l.put(" req=M22");
    if (!norRecord(q, arg)) return;
    uint32_t v[2];
    memcpy(v, arg, sizeof v);
    q.l.put(" start=0x%08x size=0x%x", v[0], v[1]);
    if (!windowFits(gSt, q.dev, v[0], v[1])) {
        q.err = EINVAL;
        return;
    }
    if (q.faulted(OP_M22)) return;
    moveWindow(gSt, q.dev, v[0], v[1]);
    gDirty = true;
}

void reqM23(Req &q, void *arg) {
    q.l.put(" req=M23");
    if (!norRecord(q, arg)) return;
    unsigned char rec[28];
    memcpy(rec, arg, sizeof rec);
    char name[17];
    memcpy(name, rec, 16);
    name[16] = 0;
    bool terminated = memchr(rec, 0, 16) != nullptr;
    q.l.put(" name='%s' base=0x%08x size=0x%x datalen=0x%x", name, le32(rec + 16), le32(rec + 20),
            le32(rec + 24));
    uint64_t woff, wsize;
    if (q.dev != gSt.dirdev || !terminated) {
        q.err = EINVAL;
        return;
    }
    if (!window(q.dev, &woff, &wsize)) {
        q.err = EIO;
        return;
    }
    if (q.faulted(OP_M23)) return;
    q.err = rewriteEntry(kChip, woff, wsize, name, le32(rec + 16), le32(rec + 20), le32(rec + 24));
}

void reqMSys(Req &q, unsigned long req, void *arg) {
    const char *nm = req == kReqM24 ? "M24" : req == kReqM25 ? "M25" : "M26";
    q.l.put(" req=%s", nm);
    if (gSt.mode != MODE_MSYS) {
        q.err = ENOTTY;
        return;
    }
    if (q.dev != 0) {
        q.err = EINVAL;
        return;
    }
    uint32_t units = gSt.chipsize / gSt.erasesize;
    if (req == kReqM24) {
        unsigned long n = reinterpret_cast<uintptr_t>(arg);
        q.l.put(" units=%lu", n);
        if (n != units) {
            q.err = EINVAL;
            return;
        }
        if (q.faulted(OP_M24)) return;
        if (!fillErased(kChip, 0, gSt.chipsize)) {
            q.err = EIO;
            return;
        }
        for (Part &p : gSt.part) p.start = gSt.base, p.size = 0, p.datalen = 0, p.fromdir = 0;
        gDirty = true;
        return;
    }
    if (!arg) {
        q.err = EFAULT;
        return;
    }
    if (req == kReqM25) {
        uint32_t c[8];
        memcpy(c, arg, sizeof c);
        q.l.put(" counts=%u,%u,%u,%u,%u,%u,%u,%u", c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7]);
        uint64_t sum = 0;
        for (uint32_t v : c) sum += v;
        if (sum > units) {
            q.err = EINVAL;
            return;
        }
        if (q.faulted(OP_M25)) return;
        uint64_t at = gSt.base;
        for (int k = 0; k < 8; ++k) {
            Part &p = gSt.part[k];
            p.start = uint32_t(at);
            p.size = c[k] * gSt.erasesize;
            p.datalen = 0;
            p.fromdir = 0;
            at += p.size;
        }
        gDirty = true;
        return;
    }
    if (q.faulted(OP_M26)) return;
    unsigned char rec[64];
    memset(rec, 0, sizeof rec);
    for (int k = 0; k < 8; ++k) {
        if (!gSt.part[k].present) continue;
        put32(rec + 8 * k, gSt.part[k].size);
        put32(rec + 8 * k + 4, gSt.part[k].datalen);
    }
    memcpy(arg, rec, sizeof rec);
}

void reqMd(Req &q, unsigned long req, void *arg) {
    const Md &m = gSt.md[q.dev - kMdBase];
    if (req == GET_ARRAY_INFO) {
        q.l.put(" req=GET_ARRAY_INFO");
        if (!arg) q.err = EFAULT;
        else if (q.faulted(OP_MDINFO)) return;
        else if (!m.running) q.err = ENODEV;
        else {
            mdu_array_info_t ai;
            memset(&ai, 0, sizeof ai);
            ai.major_version = 0;
            ai.minor_version = 90;
            ai.level = m.level;
            ai.size = int(m.sizekib);
            ai.nr_disks = m.disks;
            ai.raid_disks = m.disks;
            ai.md_minor = q.dev - kMdBase;
            ai.active_disks = m.disks;
            ai.working_disks = m.disks;
            memcpy(arg, &ai, sizeof ai);
            q.l.put(" level=%d sizekib=%llu disks=%d", m.level, (unsigned long long)m.sizekib,
                    m.disks);
        }
    } else if (req == kReqMdSync) {
        q.l.put(" req=SYNC");
        if (!arg) q.err = EFAULT;
        else if (q.faulted(OP_MDSYNC)) return;
        else {
            memcpy(arg, m.sync, sizeof m.sync);
            q.l.put(" sync=%d,%d,%d", m.sync[0], m.sync[1], m.sync[2]);
        }
    } else {
        bool is64 = req == BLKGETSIZE64;
        q.l.put(" req=%s", is64 ? "BLKGETSIZE64" : "BLKGETSIZE");
        if (!arg) q.err = EFAULT;
        else if (q.faulted(OP_BLKSIZE)) return;
        else if (is64) {
            uint64_t v = m.devsize;
            memcpy(arg, &v, sizeof v);
            q.l.put(" size=%llu", (unsigned long long)v);
        } else {
            unsigned long v = (unsigned long)(m.devsize / 512);
            memcpy(arg, &v, sizeof v);
            q.l.put(" sectors=%lu", v);
        }
    }
}

int doIoctl(int fd, unsigned long req, void *arg) {
    int dev = active() ? devOfFd(fd) : -1;
    if (dev < 0) return int(ret(raw(SYS_ioctl, fd, long(req), L(arg))));
    begin();
    bool flashOp = req == MEMERASE || req == MEMLOCK || req == MEMUNLOCK || req == kReqM22 ||
                   req == kReqM23 || req == kReqM24 || req == kReqM25 || req == kReqM26;
    if (flashOp && gStateOk && dev < kMdBase) {
        uint32_t op = req == MEMERASE ? OP_ERASE : req == MEMLOCK ? OP_LOCK
                    : req == MEMUNLOCK ? OP_UNLOCK : req == kReqM22 ? OP_M22
                    : req == kReqM23 ? OP_M23 : req == kReqM24 ? OP_M24
                    : req == kReqM25 ? OP_M25 : OP_M26;
        if (powerCut(op, dev)) {
            errno = EIO;
            return -1;
        }
    }
    Req q;
    q.dev = dev;
    lineStart(q.l, dev, "ioctl");
    if (!gStateOk) {
        q.l.put(" req=0x%lx", req);
        q.err = EIO;
    } else if (dev < kMdBase) {
        switch (req) {
        case MEMGETINFO: reqGetInfo(q, arg); break;
        case MEMERASE: reqErase(q, arg); break;
        case MEMLOCK: reqLock(q, arg, true); break;
        case MEMUNLOCK: reqLock(q, arg, false); break;
        case kReqM22: reqM22(q, arg); break;
        case kReqM23: reqM23(q, arg); break;
        case kReqM24:
        case kReqM25:
        case kReqM26: reqMSys(q, req, arg); break;
        default:
            q.l.put(" req=0x%lx", req);
            q.err = ENOTTY;
        }
    } else if (req == GET_ARRAY_INFO || req == kReqMdSync || req == BLKGETSIZE64 ||
               req == BLKGETSIZE) {
        reqMd(q, req, arg);
    } else {
        q.l.put(" req=0x%lx", req);
        q.err = ENOTTY;
    }
    return finishReq(q);
}

long doSyscall(long n, long a) {
    begin();
    Req q;
    q.dev = -1;
    if (n == kSysBuffer) {
        lineStart(q.l, -1, "sys405");
        q.l.put(" arg=%ld", a);
        if (!gStateOk) q.err = EIO;
        else {
            if (a == 1) ++gSt.reserve405;
            else if (a == 0) ++gSt.release405;
            else ++gSt.other405;
            gDirty = true;
            if (!q.faulted(a == 1 ? OP_RESERVE : a == 0 ? OP_RELEASE : OP_SYS405)) {
                if (a != 0 && a != 1) q.err = EINVAL;
                else q.err = gSt.answer405;
            }
        }
    } else {
        lineStart(q.l, -1, "sys401");
        int *p = reinterpret_cast<int *>(a);
        if (!gStateOk) q.err = EIO;
        else if (q.faulted(OP_SYS401)) {
        } else if (!p) q.err = EFAULT;
        else {
            if (gSt.mode == MODE_MSYS) *p |= 1;
            else *p &= ~1;
            q.l.put(" msys=%d", gSt.mode == MODE_MSYS);
        }
    }
    return finishReq(q);
}

// sysinfo: the machine's answer, with the uptime the state holds.  Not a
// device request: it neither counts against rules nor makes a main process.
int doSysinfo(struct sysinfo *info) {
    long r = raw(SYS_sysinfo, L(info));
    if (isErr(r) || !active()) return int(ret(r));
    loadLocked();
    if (gStateOk && gSt.hasUptime) {
        info->uptime = long(gSt.uptime);
        Line l;
        lineStart(l, -1, "sysinfo");
        l.put(" uptime=%llu res=0", (unsigned long long)gSt.uptime);
        logLine(l);
    }
    end();
    return 0;
}

// ---- stat family ----------------------------------------------------------------

int pathDev(const char *path) { return active() ? devFromPath(path) : -1; }

// A device descriptor's stat as its device node shows it; -1 for any other.
int devStat(int fd, struct stat *sb) {
    int dev = devOfFd(fd, sb);
    if (dev >= 0) fakeStat(dev, sb);
    return dev;
}

int doFstat(int fd, struct stat *sb) {
    struct stat st;
    if (active() && devStat(fd, &st) >= 0) {
        *sb = st;
        return 0;
    }
    return int(ret(raw(SYS_fstat, fd, L(sb))));
}

int doFstatat(int dirfd, const char *path, struct stat *sb, int flags) {
    if (path && path[0] == 0 && (flags & AT_EMPTY_PATH)) return doFstat(dirfd, sb);
    int dev = pathDev(path);
    if (dev >= 0) return statDevice(dev, sb);
    return int(ret(raw(SYS_newfstatat, dirfd, L(path), L(sb), flags)));
}

void fillStatx(const struct stat &sb, struct statx *sx) {
    memset(sx, 0, sizeof *sx);
    sx->stx_mask = STATX_BASIC_STATS;
    sx->stx_blksize = uint32_t(sb.st_blksize);
    sx->stx_nlink = uint32_t(sb.st_nlink);
    sx->stx_uid = sb.st_uid;
    sx->stx_gid = sb.st_gid;
    sx->stx_mode = uint16_t(sb.st_mode);
    sx->stx_ino = sb.st_ino;
    sx->stx_size = uint64_t(sb.st_size);
    sx->stx_blocks = uint64_t(sb.st_blocks);
    sx->stx_atime.tv_sec = sb.st_atim.tv_sec;
    sx->stx_mtime.tv_sec = sb.st_mtim.tv_sec;
    sx->stx_ctime.tv_sec = sb.st_ctim.tv_sec;
    sx->stx_rdev_major = major(sb.st_rdev);
    sx->stx_rdev_minor = minor(sb.st_rdev);
    sx->stx_dev_major = major(sb.st_dev);
    sx->stx_dev_minor = minor(sb.st_dev);
}

int doStatx(int dirfd, const char *path, int flags, unsigned mask, struct statx *sx) {
    if (active()) {
        struct stat sb;
        int dev = -1;
        if (path && path[0] == 0 && (flags & AT_EMPTY_PATH)) {
            dev = devStat(dirfd, &sb);
        } else {
            dev = devFromPath(path);
            if (dev >= 0 && statDevice(dev, &sb) != 0) return -1;
        }
        if (dev >= 0) {
            fillStatx(sb, sx);
            return 0;
        }
    }
    return int(ret(raw(SYS_statx, dirfd, L(path), flags, long(mask), L(sx))));
}

int doAccess(int dirfd, const char *path, int mode, int flags) {
    int dev = pathDev(path);
    if (dev >= 0) {
        struct stat sb;
        return statDevice(dev, &sb);
    }
    if (flags == 0) return int(ret(raw(SYS_faccessat, dirfd, L(path), mode)));
    long r = raw(SYS_faccessat2, dirfd, L(path), mode, flags);
    if (r == -ENOSYS) r = raw(SYS_faccessat, dirfd, L(path), mode);  // older kernels
    return int(ret(r));
}

}  // namespace sk::dev

#include "sk_state.h"

#include <errno.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

namespace sk {

namespace {

struct Named {
    const char *name;
    int value;
};

const Named kErrnos[] = {
    {"EPERM", EPERM}, {"ENOENT", ENOENT}, {"EINTR", EINTR}, {"EIO", EIO}, {"ENXIO", ENXIO},
    {"EBADF", EBADF}, {"EAGAIN", EAGAIN}, {"ENOMEM", ENOMEM}, {"EACCES", EACCES},
    {"EFAULT", EFAULT}, {"EBUSY", EBUSY}, {"EEXIST", EEXIST}, {"ENODEV", ENODEV},
    {"EINVAL", EINVAL}, {"ENFILE", ENFILE}, {"EMFILE", EMFILE}, {"ENOTTY", ENOTTY},
    {"EFBIG", EFBIG}, {"ENOSPC", ENOSPC}, {"ESPIPE", ESPIPE}, {"EROFS", EROFS},
    {"ENOSYS", ENOSYS}, {"EOPNOTSUPP", EOPNOTSUPP}, {"ETIMEDOUT", ETIMEDOUT},
    {"EOVERFLOW", EOVERFLOW}, {"ECANCELED", ECANCELED},
};

const Named kSignals[] = {
    {"HUP", SIGHUP}, {"INT", SIGINT}, {"QUIT", SIGQUIT}, {"ABRT", SIGABRT}, {"KILL", SIGKILL},
    {"SEGV", SIGSEGV}, {"PIPE", SIGPIPE}, {"ALRM", SIGALRM}, {"TERM", SIGTERM},
    {"USR1", SIGUSR1}, {"USR2", SIGUSR2}, {"BUS", SIGBUS},
};

const Named kOps[] = {
    {"open", OP_OPEN}, {"read", OP_READ}, {"write", OP_WRITE}, {"erase", OP_ERASE},
    {"lock", OP_LOCK}, {"unlock", OP_UNLOCK}, {"getinfo", OP_GETINFO}, {"m22", OP_M22},
    {"m23", OP_M23}, {"m24", OP_M24}, {"m25", OP_M25}, {"m26", OP_M26},
    {"mdinfo", OP_MDINFO}, {"mdsync", OP_MDSYNC}, {"blksize", OP_BLKSIZE},
    {"sys401", OP_SYS401}, {"sys405", OP_SYS405}, {"lseek", OP_LSEEK}, {"other", OP_OTHER},
    {"reserve", OP_RESERVE}, {"release", OP_RELEASE},
};

// A cursor over one line of text, cut into blank-separated words.
struct Words {
    const char *p;
    const char *end;

    bool next(const char **w, size_t *n) {
        while (p < end && (*p == ' ' || *p == '\t')) ++p;
        if (p >= end) return false;
        *w = p;
        while (p < end && *p != ' ' && *p != '\t') ++p;
        *n = size_t(p - *w);
        return true;
    }
    // The rest of the line, blanks at both ends cut.
    void rest(const char **w, size_t *n) {
        while (p < end && (*p == ' ' || *p == '\t')) ++p;
        const char *e = end;
        while (e > p && (e[-1] == ' ' || e[-1] == '\t' || e[-1] == '\r')) --e;
        *w = p;
        *n = size_t(e - p);
        p = end;
    }
};

bool eq(const char *w, size_t n, const char *lit) {
    return strlen(lit) == n && memcmp(w, lit, n) == 0;
}

// Unsigned number, decimal or 0x hex, filling the whole word.
bool num(const char *w, size_t n, uint64_t *out) {
    char tmp[32];
    if (n == 0 || n >= sizeof tmp) return false;
    memcpy(tmp, w, n);
    tmp[n] = 0;
    if (tmp[0] == '-') return false;
    char *e = nullptr;
    errno = 0;
    unsigned long long v = strtoull(tmp, &e, 0);
    if (errno != 0 || *e != 0) return false;
    *out = v;
    return true;
}

bool num32(const char *w, size_t n, uint32_t *out) {
    uint64_t v;
    if (!num(w, n, &v) || v > 0xffffffffULL) return false;
    *out = uint32_t(v);
    return true;
}

bool snum(const char *w, size_t n, int *out) {
    if (n > 0 && w[0] == '-') {
        uint64_t v;
        if (!num(w + 1, n - 1, &v) || v > 0x7fffffff) return false;
        *out = -int(v);
        return true;
    }
    uint64_t v;
    if (!num(w, n, &v) || v > 0x7fffffff) return false;
    *out = int(v);
    return true;
}

void copyWord(char *dst, size_t cap, const char *w, size_t n) {
    if (n >= cap) n = cap - 1;
    memcpy(dst, w, n);
    dst[n] = 0;
}

int lookup(const Named *tab, size_t count, const char *w, size_t n) {
    for (size_t i = 0; i < count; ++i)
        if (strlen(tab[i].name) == n && strncasecmp(tab[i].name, w, n) == 0) return tab[i].value;
    return 0;
}

uint32_t fnv(uint32_t h, const char *p, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        h ^= uint8_t(p[i]);
        h *= 16777619u;
    }
    return h;
}

// Appends to a bounded buffer; remembers overflow.
struct Out {
    char *b;
    size_t cap;
    size_t n;
    bool full;

    void put(const char *fmt, ...) __attribute__((format(printf, 2, 3)));
};

void Out::put(const char *fmt, ...) {
    if (full) return;
    va_list ap;
    va_start(ap, fmt);
    int r = vsnprintf(b + n, cap - n, fmt, ap);
    va_end(ap);
    if (r < 0 || size_t(r) >= cap - n) {
        full = true;
        return;
    }
    n += size_t(r);
}

bool parseMd(Words &w, Md *md) {
    const char *t;
    size_t n;
    if (!w.next(&t, &n)) return false;
    if (eq(t, n, "running")) md->running = 1;
    else if (eq(t, n, "stopped")) md->running = 0;
    else return false;
    md->present = 1;
    while (w.next(&t, &n)) {
        const char *eqp = static_cast<const char *>(memchr(t, '=', n));
        if (!eqp) return false;
        size_t kn = size_t(eqp - t);
        const char *v = eqp + 1;
        size_t vn = n - kn - 1;
        if (eq(t, kn, "level")) {
            if (!snum(v, vn, &md->level)) return false;
        } else if (eq(t, kn, "disks")) {
            if (!snum(v, vn, &md->disks)) return false;
        } else if (eq(t, kn, "sizekib")) {
            if (!num(v, vn, &md->sizekib)) return false;
        } else if (eq(t, kn, "devsize")) {
            if (!num(v, vn, &md->devsize)) return false;
        } else if (eq(t, kn, "sync")) {
            // three ints a,b,c
            int k = 0;
            size_t i = 0;
            while (k < 3) {
                size_t j = i;
                while (j < vn && v[j] != ',') ++j;
                if (!snum(v + i, j - i, &md->sync[k])) return false;
                ++k;
                if (j >= vn) break;
                i = j + 1;
            }
            if (k != 3) return false;
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

void initState(State *st) {
    memset(st, 0, sizeof *st);
    st->dirdev = -1;
    memcpy(st->table, "normal", 7);
}

uint32_t blockCount(const State *st) {
    if (st->erasesize == 0) return 0;
    uint32_t n = st->chipsize / st->erasesize;
    return n > uint32_t(kMaxBlocks) ? uint32_t(kMaxBlocks) : n;
}

int parseState(const char *buf, size_t len, State *st) {
    initState(st);
    int line = 0;
    const char *p = buf;
    const char *end = buf + len;
    while (p < end) {
        ++line;
        const char *e = static_cast<const char *>(memchr(p, '\n', size_t(end - p)));
        if (!e) e = end;
        Words w{p, e};
        const char *t;
        size_t n;
        const char *lineStart = p;
        p = e + 1;
        if (!w.next(&t, &n) || t[0] == '#') continue;
        const char *eqp = static_cast<const char *>(memchr(lineStart, '=', size_t(e - lineStart)));
        if (!eqp) return line;
        // key: from the first word to '='
        const char *k = t;
        size_t kn = size_t(eqp - t);
        while (kn > 0 && (k[kn - 1] == ' ' || k[kn - 1] == '\t')) --kn;
        Words v{eqp + 1, e};
        const char *vw;
        size_t vn;
        if (eq(k, kn, "mode")) {
            v.rest(&vw, &vn);
            if (eq(vw, vn, "nor")) st->mode = MODE_NOR;
            else if (eq(vw, vn, "msys")) st->mode = MODE_MSYS;
            else return line;
        } else if (eq(k, kn, "table")) {
            v.rest(&vw, &vn);
            copyWord(st->table, sizeof st->table, vw, vn);
        } else if (eq(k, kn, "base")) {
            v.rest(&vw, &vn);
            if (!num32(vw, vn, &st->base)) return line;
        } else if (eq(k, kn, "erasesize")) {
            v.rest(&vw, &vn);
            if (!num32(vw, vn, &st->erasesize) || st->erasesize == 0) return line;
        } else if (eq(k, kn, "chipsize")) {
            v.rest(&vw, &vn);
            if (!num32(vw, vn, &st->chipsize)) return line;
        } else if (eq(k, kn, "dirdev")) {
            v.rest(&vw, &vn);
            if (!snum(vw, vn, &st->dirdev) || st->dirdev >= kMaxParts) return line;
        } else if (kn == 4 && memcmp(k, "mtd", 3) == 0 && k[3] >= '0' && k[3] <= '7') {
            Part &pt = st->part[k[3] - '0'];
            const char *a, *b, *c;
            size_t an, bn, cn;
            if (!v.next(&a, &an) || !v.next(&b, &bn) || !v.next(&c, &cn)) return line;
            if (eq(a, an, "-")) {
                pt.fromdir = 1;
            } else if (!num32(a, an, &pt.start) || !num32(b, bn, &pt.size) ||
                       !num32(c, cn, &pt.datalen)) {
                return line;
            }
            v.rest(&vw, &vn);
            if (vn == 0 || vn >= kNameLen) return line;
            copyWord(pt.name, sizeof pt.name, vw, vn);
            pt.present = 1;
        } else if (eq(k, kn, "locks")) {
            v.rest(&vw, &vn);
            if (vn > kMaxBlocks) return line;
            for (size_t i = 0; i < vn; ++i)
                if (vw[i] != 'L' && vw[i] != 'U') return line;
            copyWord(st->locks, sizeof st->locks, vw, vn);
        } else if (eq(k, kn, "answer405")) {
            v.rest(&vw, &vn);
            if (eq(vw, vn, "0")) st->answer405 = 0;
            else if ((st->answer405 = lookup(kErrnos, sizeof kErrnos / sizeof kErrnos[0], vw, vn)) == 0 &&
                     !snum(vw, vn, &st->answer405))
                return line;
        } else if (eq(k, kn, "reserve405")) {
            v.rest(&vw, &vn);
            if (!num(vw, vn, &st->reserve405)) return line;
        } else if (eq(k, kn, "release405")) {
            v.rest(&vw, &vn);
            if (!num(vw, vn, &st->release405)) return line;
        } else if (eq(k, kn, "other405")) {
            v.rest(&vw, &vn);
            if (!num(vw, vn, &st->other405)) return line;
        } else if (eq(k, kn, "uptime")) {
            v.rest(&vw, &vn);
            if (!num(vw, vn, &st->uptime) || st->uptime > 0x7fffffffffffffffULL) return line;
            st->hasUptime = 1;
        } else if (eq(k, kn, "main")) {
            const char *a, *b;
            size_t an, bn;
            if (!v.next(&a, &an) || !v.next(&b, &bn) || !snum(a, an, &st->mainpid) ||
                !num(b, bn, &st->mainstart))
                return line;
            v.rest(&vw, &vn);
            copyWord(st->maincomm, sizeof st->maincomm, vw, vn);
        } else if (kn >= 3 && memcmp(k, "md", 2) == 0) {
            int mdn;
            if (!snum(k + 2, kn - 2, &mdn) || mdn < 0 || mdn >= kMaxMd) return line;
            if (!parseMd(v, &st->md[mdn])) return line;
        } else if (kn == 13 && memcmp(k, "rule.", 5) == 0) {
            if (st->nrules >= kMaxRuleStates) return line;
            RuleState &rs = st->rules[st->nrules];
            char hx[16];
            copyWord(hx, sizeof hx, k + 5, 8);
            char *he = nullptr;
            rs.hash = uint32_t(strtoul(hx, &he, 16));
            if (*he != 0) return line;
            const char *a, *b, *c;
            size_t an, bn, cn;
            uint64_t f;
            if (!v.next(&a, &an) || !v.next(&b, &bn) || !v.next(&c, &cn) ||
                !num(a, an, &rs.count) || !num(b, bn, &rs.bytes) || !num(c, cn, &f))
                return line;
            rs.fired = int(f != 0);
            ++st->nrules;
        } else {
            return line;
        }
    }
    return 0;
}

size_t formatState(const State *st, char *outb, size_t cap) {
    Out o{outb, cap, 0, false};
    o.put("# simulated device kernel: state shared by every process\n");
    o.put("mode=%s\n", st->mode == MODE_MSYS ? "msys" : "nor");
    o.put("table=%s\n", st->table);
    o.put("base=0x%08x\n", st->base);
    o.put("erasesize=0x%x\n", st->erasesize);
    o.put("chipsize=0x%x\n", st->chipsize);
    o.put("dirdev=%d\n", st->dirdev);
    for (int i = 0; i < kMaxParts; ++i) {
        const Part &p = st->part[i];
        if (!p.present) continue;
        if (p.fromdir) o.put("mtd%d=- - - %s\n", i, p.name);
        else o.put("mtd%d=0x%08x 0x%x 0x%x %s\n", i, p.start, p.size, p.datalen, p.name);
    }
    o.put("locks=%s\n", st->locks);
    const char *an = errnoName(st->answer405);
    if (st->answer405 == 0) o.put("answer405=0\n");
    else if (an) o.put("answer405=%s\n", an);
    else o.put("answer405=%d\n", st->answer405);
    o.put("reserve405=%llu\n", (unsigned long long)st->reserve405);
    o.put("release405=%llu\n", (unsigned long long)st->release405);
    o.put("other405=%llu\n", (unsigned long long)st->other405);
    if (st->hasUptime) o.put("uptime=%llu\n", (unsigned long long)st->uptime);
    if (st->mainpid > 0)
        o.put("main=%d %llu %s\n", st->mainpid, (unsigned long long)st->mainstart, st->maincomm);
    for (int i = 0; i < kMaxMd; ++i) {
        const Md &m = st->md[i];
        if (!m.present) continue;
        o.put("md%d=%s level=%d disks=%d sizekib=%llu devsize=%llu sync=%d,%d,%d\n", i,
              m.running ? "running" : "stopped", m.level, m.disks,
              (unsigned long long)m.sizekib, (unsigned long long)m.devsize, m.sync[0], m.sync[1],
              m.sync[2]);
    }
    for (int i = 0; i < st->nrules; ++i) {
        const RuleState &r = st->rules[i];
        o.put("rule.%08x=%llu %llu %d\n", r.hash, (unsigned long long)r.count,
              (unsigned long long)r.bytes, r.fired);
    }
    return o.full ? 0 : o.n;
}

const char *opName(uint32_t op) {
    for (const Named &n : kOps)
        if (uint32_t(n.value) == op) return n.name;
    return "?";
}

int parseRules(const char *buf, size_t len, Rule *out, int max, char *err, size_t errcap) {
    int count = 0;
    int line = 0;
    const char *p = buf;
    const char *end = buf + len;
    auto fail = [&](const char *why, const char *w, size_t n) {
        snprintf(err, errcap, "faults line %d: %s '%.*s'", line, why, int(n), w);
        return -1;
    };
    while (p < end) {
        ++line;
        const char *e = static_cast<const char *>(memchr(p, '\n', size_t(end - p)));
        if (!e) e = end;
        const char *ls = p;
        Words w{p, e};
        p = e + 1;
        const char *t;
        size_t n;
        if (!w.next(&t, &n) || t[0] == '#') continue;
        if (count >= max) return fail("too many rules at", t, n);
        Rule r;
        memset(&r, 0, sizeof r);
        r.line = line;
        size_t ln = size_t(e - ls);
        while (ln > 0 && ls[ln - 1] == '\r') --ln;
        r.hash = fnv(fnv(2166136261u, reinterpret_cast<const char *>(&line), sizeof line), ls, ln);
        r.dev = -1;
        r.nth = 1;
        r.err = EIO;
        r.xorv = 0x01;
        r.sig = SIGKILL;
        if (eq(t, n, "fail")) r.kind = K_FAIL;
        else if (eq(t, n, "corrupt")) r.kind = K_CORRUPT;
        else if (eq(t, n, "noerase")) r.kind = K_NOERASE, r.ops = OP_ERASE;
        else if (eq(t, n, "signal")) r.kind = K_SIGNAL;
        else if (eq(t, n, "powercut")) r.kind = K_POWERCUT, r.proc = P_MAIN;
        else return fail("unknown rule kind", t, n);
        bool sawAt = false, sawNth = false;
        while (w.next(&t, &n)) {
            if (t[0] == '#') break;
            const char *eqp = static_cast<const char *>(memchr(t, '=', n));
            if (!eqp) {
                if (eq(t, n, "once")) { r.always = 0; continue; }
                if (eq(t, n, "always")) { r.always = 1; continue; }
                if (eq(t, n, "flash")) { r.ops |= kFlashOps; continue; }
                if (eq(t, n, "any") && r.kind == K_SIGNAL) { r.ops |= OP_READ | OP_WRITE; continue; }
                int op = lookup(kOps, sizeof kOps / sizeof kOps[0], t, n);
                if (!op) return fail("unknown operation", t, n);
                r.ops |= uint32_t(op);
                if (op == OP_SYS405) r.ops |= OP_RESERVE | OP_RELEASE;  // any argument
                continue;
            }
            size_t kn = size_t(eqp - t);
            const char *v = eqp + 1;
            size_t vn = n - kn - 1;
            char tmp[64];
            copyWord(tmp, sizeof tmp, v, vn);
            if (eq(t, kn, "dev")) {
                r.dev = devFromName(tmp);
                if (r.dev < 0) return fail("unknown device", v, vn);
            } else if (eq(t, kn, "proc")) {
                if (eq(v, vn, "main")) r.proc = P_MAIN;
                else if (eq(v, vn, "child")) r.proc = P_CHILD;
                else if (eq(v, vn, "any")) r.proc = P_ANY;
                else {
                    if (vn == 0 || vn >= kCommLen) return fail("bad process name", v, vn);
                    r.proc = P_NAME;
                    copyWord(r.procname, sizeof r.procname, v, vn);
                }
            } else if (eq(t, kn, "nth")) {
                if (!num(v, vn, &r.nth) || r.nth == 0) return fail("bad count", v, vn);
                sawNth = true;
            } else if (eq(t, kn, "after")) {
                if (!num(v, vn, &r.after)) return fail("bad byte count", v, vn);
                r.hasAfter = 1;
            } else if (eq(t, kn, "errno")) {
                r.err = errnoFromName(tmp);
                if (r.err <= 0) return fail("unknown errno", v, vn);
            } else if (eq(t, kn, "at")) {
                if (!num(v, vn, &r.at)) return fail("bad offset", v, vn);
                sawAt = true;
            } else if (eq(t, kn, "xor")) {
                uint64_t x;
                if (!num(v, vn, &x) || x == 0 || x > 0xff) return fail("bad xor byte", v, vn);
                r.xorv = uint8_t(x);
            } else if (eq(t, kn, "block")) {
                if (!num32(v, vn, &r.block)) return fail("bad block", v, vn);
            } else if (eq(t, kn, "sig")) {
                r.sig = signalFromName(tmp);
                if (r.sig <= 0) return fail("unknown signal", v, vn);
            } else {
                return fail("unknown key", t, kn);
            }
        }
        if (r.hasAfter && r.kind != K_FAIL && r.kind != K_SIGNAL)
            return fail("after= applies to fail and signal only", ls, 0);
        if (sawNth && (r.kind == K_CORRUPT || r.kind == K_SIGNAL || (r.kind == K_FAIL && r.hasAfter)))
            return fail("nth= does not go with at= or after=", ls, 0);
        switch (r.kind) {
        case K_FAIL:
            if (!r.ops) return fail("fail needs an operation", ls, 0);
            if (r.hasAfter && (r.ops & ~(OP_READ | OP_WRITE)))
                return fail("after= applies to read and write only", ls, 0);
            break;
        case K_CORRUPT:
            if (!r.ops || (r.ops & ~(OP_READ | OP_WRITE)))
                return fail("corrupt needs read or write", ls, 0);
            if (!sawAt) return fail("corrupt needs at=", ls, 0);
            break;
        case K_NOERASE:
            r.ops = OP_ERASE;
            break;
        case K_SIGNAL:
            if (!r.ops) r.ops = OP_READ | OP_WRITE;
            if (r.ops & ~(OP_READ | OP_WRITE)) return fail("signal counts read and write only", ls, 0);
            if (!r.hasAfter) return fail("signal needs after=", ls, 0);
            break;
        case K_POWERCUT:
            if (!r.ops) r.ops = kFlashOps;
            break;
        }
        out[count++] = r;
    }
    return count;
}

int devFromName(const char *name) {
    if (strncmp(name, "/dev/", 5) == 0) name += 5;
    if (strncmp(name, "mtd", 3) == 0) {
        if (name[3] >= '0' && name[3] <= '7' && name[4] == 0) return name[3] - '0';
        return -1;
    }
    if (strncmp(name, "md", 2) == 0) {
        const char *d = name + 2;
        if (d[0] < '0' || d[0] > '9') return -1;
        int v = d[0] - '0';
        if (d[1] == 0) return kMdBase + v;
        if (d[1] < '0' || d[1] > '9' || d[2] != 0 || d[0] == '0') return -1;
        v = v * 10 + (d[1] - '0');
        return v < kMaxMd ? kMdBase + v : -1;
    }
    return -1;
}

int devFromPath(const char *path) {
    if (!path || strncmp(path, "/dev/m", 6) != 0) return -1;
    return devFromName(path);
}

void devName(int dev, char *out, size_t cap) {
    if (dev < 0) snprintf(out, cap, "-");
    else if (dev < kMdBase) snprintf(out, cap, "mtd%d", dev);
    else snprintf(out, cap, "md%d", dev - kMdBase);
}

const char *errnoName(int err) {
    for (const Named &n : kErrnos)
        if (n.value == err) return n.name;
    return nullptr;
}

int errnoFromName(const char *s) {
    int v = lookup(kErrnos, sizeof kErrnos / sizeof kErrnos[0], s, strlen(s));
    if (v) return v;
    if (snum(s, strlen(s), &v) && v > 0) return v;
    return 0;
}

const char *signalName(int sig) {
    for (const Named &n : kSignals)
        if (n.value == sig) return n.name;
    return nullptr;
}

int signalFromName(const char *s) {
    if (strncasecmp(s, "SIG", 3) == 0) s += 3;
    int v = lookup(kSignals, sizeof kSignals / sizeof kSignals[0], s, strlen(s));
    if (v) return v;
    if (snum(s, strlen(s), &v) && v > 0 && v < 65) return v;
    return 0;
}

}  // namespace sk

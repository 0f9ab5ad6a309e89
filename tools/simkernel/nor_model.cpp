#include "nor_model.h"

#include <errno.h>
#include <string.h>
#include <strings.h>

namespace sk {

uint32_t le32(const unsigned char *p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void put32(unsigned char *p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

bool windowOff(const State &st, const Part &p, uint64_t *off) {
    if (p.fromdir || p.start < st.base) return false;
    uint64_t o = uint64_t(p.start) - st.base;
    if (o + p.size > st.chipsize) return false;
    *off = o;
    return true;
}

bool resolveWindows(State &st, const Chip &chip) {
    bool need = false;
    for (const Part &p : st.part) need |= p.present && p.fromdir;
    if (!need || st.dirdev < 0 || !st.part[st.dirdev].present) return false;
    uint64_t doff;
    const Part &dir = st.part[st.dirdev];
    if (!windowOff(st, dir, &doff)) return false;
    bool changed = false;
    unsigned char e[kEntrySize];
    for (uint32_t i = 0; (i + 1) * kEntrySize <= dir.size; ++i) {
        if (!chip.read(chip.ctx, doff + i * kEntrySize, e, sizeof e) || e[0] == 0xff) break;
        for (Part &p : st.part) {
            if (!p.present || !p.fromdir) continue;
            if (strncasecmp(reinterpret_cast<const char *>(e), p.name, 16) != 0) continue;
            p.start = le32(e + 16);
            p.size = le32(e + 24);
            p.fromdir = 0;
            changed = true;
        }
    }
    return changed;
}

bool anyLocked(const State &st, uint64_t chipOff, uint64_t len) {
    if (st.mode != MODE_NOR || len == 0) return false;
    uint64_t b0 = chipOff / st.erasesize;
    uint64_t b1 = (chipOff + len - 1) / st.erasesize;
    size_t nl = strlen(st.locks);
    for (uint64_t b = b0; b <= b1; ++b)
        if (b < nl && st.locks[b] == 'L') return true;
    return false;
}

void setLocks(State &st, uint64_t chipOff, uint64_t len, bool lock) {
    if (st.mode != MODE_NOR) return;  // MSys flash has no lock bits
    uint64_t b0 = chipOff / st.erasesize;
    uint64_t nb = len / st.erasesize;
    size_t nl = strlen(st.locks);
    for (uint64_t b = b0; b < b0 + nb && b < nl; ++b) st.locks[b] = lock ? 'L' : 'U';
}

bool blockRangeOk(const State &st, uint32_t start, uint32_t len, uint64_t windowSize) {
    uint32_t es = st.erasesize;
    return len > 0 && start % es == 0 && len % es == 0 && uint64_t(start) + len <= windowSize;
}

void program(const State &st, unsigned char *cells, const unsigned char *data, size_t n) {
    for (size_t j = 0; j < n; ++j) {
        if (st.mode == MODE_NOR) cells[j] &= data[j];  // flash only clears bits
        else cells[j] = data[j];
    }
}

bool fillErased(const Chip &chip, uint64_t chipOff, uint64_t len) {
    unsigned char ones[4096];
    memset(ones, 0xff, sizeof ones);
    for (uint64_t o = 0; o < len; o += sizeof ones) {
        size_t k = len - o < sizeof ones ? size_t(len - o) : sizeof ones;
        if (!chip.write(chip.ctx, chipOff + o, ones, k)) return false;
    }
    return true;
}

bool eraseBlocks(const State &st, const Chip &chip, uint64_t chipOff, uint64_t len, long keep) {
    uint64_t nblocks = len / st.erasesize;
    for (uint64_t b = 0; b < nblocks; ++b) {
        if (keep >= 0 && uint64_t(keep) == b) continue;
        if (!fillErased(chip, chipOff + b * st.erasesize, st.erasesize)) return false;
    }
    return true;
}

bool windowFits(const State &st, int dev, uint32_t start, uint32_t size) {
    uint32_t es = st.erasesize;
    uint64_t off = uint64_t(start) - st.base;
    return start >= st.base && off % es == 0 && size != 0 && size % es == 0 && off + size <= st.chipsize &&
           st.part[dev].present;
}

void moveWindow(State &st, int dev, uint32_t start, uint32_t size) {
    st.part[dev].start = start;
    st.part[dev].size = size;
    st.part[dev].fromdir = 0;
}

int rewriteEntry(const Chip &chip, uint64_t dirOff, uint64_t dirSize, const char *name, uint32_t base,
                 uint32_t size, uint32_t datalen) {
    unsigned char e[kEntrySize];
    for (uint64_t i = 0; (i + 1) * kEntrySize <= dirSize; ++i) {
        if (!chip.read(chip.ctx, dirOff + i * kEntrySize, e, sizeof e)) break;
        if (e[0] == 0xff) break;
        if (strncasecmp(reinterpret_cast<const char *>(e), name, 16) != 0) continue;
        // The driver rewrites the entry itself: place, size and data length.
        put32(e + 16, base);
        put32(e + 24, size);
        put32(e + 32, datalen);
        return chip.write(chip.ctx, dirOff + i * kEntrySize, e, sizeof e) ? 0 : EIO;
    }
    return ENOENT;
}

}  // namespace sk

// The NOR flash the simulated kernel serves, on its own: programming only
// clears bits, an erase sets whole blocks to 0xFF, lock bits per block, the
// device windows and the flash directory's entries.  The chip itself is
// reached through a Chip, so the preloaded library works on chip.bin with
// raw system calls and the unit tests on an array.  No allocation, no I/O
// of its own.
#ifndef SIMKERNEL_NOR_MODEL_H
#define SIMKERNEL_NOR_MODEL_H

#include <stddef.h>
#include <stdint.h>

#include "sk_state.h"

namespace sk {

constexpr size_t kEntrySize = 256;  // one flash directory entry

struct Chip {
    void *ctx;
    bool (*read)(void *ctx, uint64_t off, void *buf, size_t n);
    bool (*write)(void *ctx, uint64_t off, const void *buf, size_t n);
};

uint32_t le32(const unsigned char *p);
void put32(unsigned char *p, uint32_t v);

// Chip offset of a partition's window; false when the window is not on the
// chip (or still to be taken from the directory).
bool windowOff(const State &st, const Part &p, uint64_t *off);

// Partitions marked to take their window from the flash directory get it
// from the entry of their name.  True when one did.
bool resolveWindows(State &st, const Chip &chip);

// Whether a block of [chipOff, chipOff+len) is locked; never on MSys.
bool anyLocked(const State &st, uint64_t chipOff, uint64_t len);
// Sets or clears the lock bits of the blocks of the range (NOR only).
void setLocks(State &st, uint64_t chipOff, uint64_t len, bool lock);

// An erase or lock range: whole blocks, not empty, inside the window.
bool blockRangeOk(const State &st, uint32_t start, uint32_t len, uint64_t windowSize);

// Stores data over what the chip holds at cells: NOR keeps old AND new,
// MSys overwrites.
void program(const State &st, unsigned char *cells, const unsigned char *data, size_t n);

// len bytes of erased flash (0xFF) from chipOff.
bool fillErased(const Chip &chip, uint64_t chipOff, uint64_t len);
// Erases the blocks of [chipOff, chipOff+len) except block `keep` of the
// range (-1: none), as a faulty erase may leave one.
bool eraseBlocks(const State &st, const Chip &chip, uint64_t chipOff, uint64_t len, long keep);

// 'M' 22: a window of whole blocks on the chip for a present device.
bool windowFits(const State &st, int dev, uint32_t start, uint32_t size);
void moveWindow(State &st, int dev, uint32_t start, uint32_t size);

// 'M' 23: the directory entry of that name (case ignored) in the directory
// at dirOff gets the flash base, size and data length, nothing else.
// Returns 0, ENOENT when no entry has the name, or EIO.
int rewriteEntry(const Chip &chip, uint64_t dirOff, uint64_t dirSize, const char *name, uint32_t base,
                 uint32_t size, uint32_t datalen);

}  // namespace sk

#endif

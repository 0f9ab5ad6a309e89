// The fault-rule engine of the simulated kernel: which rule of the faults
// file fires at a request, with its counters kept in the shared state.
// Pure: no I/O, no allocation, so the preloaded library and unit tests use
// the same code.
#ifndef SIMKERNEL_FAULT_RULES_H
#define SIMKERNEL_FAULT_RULES_H

#include <stdint.h>

#include "sk_state.h"

namespace sk {

struct RuleEngine {
    State *st;          // holds the counters
    const Rule *rules;  // the faults file, parsed
    int n;
    bool isMain;        // the asking process is the main one
    const char *comm;   // its name
    bool *dirty;        // set when a counter changed
};

// Counters of rules that are gone from the file are forgotten; true when
// there were any.
bool dropGoneCounters(State &st, const Rule *rules, int n);

bool matches(const RuleEngine &e, const Rule &r, int kind, uint32_t op, int dev);

// Counts one call against every matching rule of a kind that counts calls;
// returns the first rule that fires.
const Rule *hitCall(const RuleEngine &e, int kind, uint32_t op, int dev);

// Counts the bytes of one transfer against the byte-counting rules of a
// kind; when one fires, *allowed is cut to the bytes left before its limit.
const Rule *hitBytes(const RuleEngine &e, int kind, uint32_t op, int dev, uint64_t len, uint64_t *allowed);

// Corrupt rules on n bytes at device offset pos: each that acts flips its
// byte in buf and puts its line number in lines; returns how many acted.
int corrupt(const RuleEngine &e, uint32_t op, int dev, uint64_t pos, unsigned char *buf, uint64_t n,
            int *lines, int cap);

}  // namespace sk

#endif

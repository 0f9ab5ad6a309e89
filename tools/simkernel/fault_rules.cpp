#include "fault_rules.h"

#include <string.h>

namespace sk {

namespace {

RuleState *ruleState(const RuleEngine &e, const Rule &r) {
    State &st = *e.st;
    for (int i = 0; i < st.nrules; ++i)
        if (st.rules[i].hash == r.hash) return &st.rules[i];
    if (st.nrules >= kMaxRuleStates) return nullptr;
    RuleState *rs = &st.rules[st.nrules++];
    memset(rs, 0, sizeof *rs);
    rs->hash = r.hash;
    return rs;
}

}  // namespace

bool dropGoneCounters(State &st, const Rule *rules, int n) {
    int kept = 0;
    for (int i = 0; i < st.nrules; ++i) {
        bool live = false;
        for (int j = 0; j < n; ++j) live |= rules[j].hash == st.rules[i].hash;
        if (live) st.rules[kept++] = st.rules[i];
    }
    if (kept == st.nrules) return false;
    st.nrules = kept;
    return true;
}

bool matches(const RuleEngine &e, const Rule &r, int kind, uint32_t op, int dev) {
    if (r.kind != kind || !(r.ops & op)) return false;
    if (r.dev >= 0 && r.dev != dev) return false;
    switch (r.proc) {
    case P_MAIN: return e.isMain;
    case P_CHILD: return !e.isMain;
    case P_NAME: return strcmp(r.procname, e.comm) == 0;
    default: return true;
    }
}

const Rule *hitCall(const RuleEngine &e, int kind, uint32_t op, int dev) {
    const Rule *fired = nullptr;
    for (int i = 0; i < e.n; ++i) {
        const Rule &r = e.rules[i];
        if (r.hasAfter || !matches(e, r, kind, op, dev)) continue;
        RuleState *rs = ruleState(e, r);
        if (!rs) continue;
        ++rs->count;
        *e.dirty = true;
        bool fire = r.always ? rs->count >= r.nth : (!rs->fired && rs->count == r.nth);
        if (fire && !fired) {
            rs->fired = 1;
            fired = &r;
        }
    }
    return fired;
}

const Rule *hitBytes(const RuleEngine &e, int kind, uint32_t op, int dev, uint64_t len, uint64_t *allowed) {
    const Rule *fired = nullptr;
    for (int i = 0; i < e.n; ++i) {
        const Rule &r = e.rules[i];
        if (!r.hasAfter || !matches(e, r, kind, op, dev)) continue;
        RuleState *rs = ruleState(e, r);
        if (!rs) continue;
        uint64_t before = rs->bytes;
        ++rs->count;
        *e.dirty = true;
        bool fire = (r.always || !rs->fired) && before + len > r.after;
        if (!fire) {
            rs->bytes += len;
            continue;
        }
        uint64_t left = before >= r.after ? 0 : r.after - before;
        rs->bytes += left;
        rs->fired = 1;
        if (left < *allowed) *allowed = left;
        if (!fired) fired = &r;
    }
    return fired;
}

int corrupt(const RuleEngine &e, uint32_t op, int dev, uint64_t pos, unsigned char *buf, uint64_t n,
            int *lines, int cap) {
    int acted = 0;
    for (int i = 0; i < e.n; ++i) {
        const Rule &r = e.rules[i];
        if (!matches(e, r, K_CORRUPT, op, dev) || r.at < pos || r.at >= pos + n) continue;
        RuleState *rs = ruleState(e, r);
        if (!rs || (rs->fired && !r.always)) continue;
        rs->fired = 1;
        ++rs->count;
        *e.dirty = true;
        buf[r.at - pos] ^= r.xorv;
        if (acted < cap) lines[acted++] = r.line;
    }
    return acted;
}

}  // namespace sk

// Records gathered for one file and put in the library's key order.  Put
// in that order, each record lands at the end of the last leaf, which the
// library then splits leaving the old leaf full: a built file of full
// leaves is about half the size of one filled in random key order.
#ifndef VEXA_BDB_SORTED_PUTS_H
#define VEXA_BDB_SORTED_PUTS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "services/bdb/vexa_bdb.h"

namespace vexabdb {

class SortedPuts {
public:
    explicit SortedPuts(VEXABDB *h) : h_(h) {}
    SortedPuts(const SortedPuts &) = delete;
    SortedPuts &operator=(const SortedPuts &) = delete;

    // Keeps a copy of the record: 0, or -1 (ERR_OUT_OF_MEMORY).
    int add(const void *key, int klen, const void *data, int dlen);
    // Sorts the records stably by key bytes (so a key's records keep the
    // order they were added in: duplicates stay in order and, where a key
    // holds one record, the last added wins as before) and puts each with
    // VEXABDbSet; the gathered records are dropped.  0, or -1 with the
    // put's code (the records before it are in the file).
    int flush();
    // Calls f(key, klen) for each record gathered and not yet put.
    template <class F>
    void forEachKey(F f) const
    {
        for (const Rec &rec : recs_)
            f(bytes_.data() + rec.off, rec.klen);
    }

private:
    struct Rec {
        size_t off;  // key bytes at off, then the value's
        uint32_t klen;
        uint32_t dlen;
    };
    VEXABDB *h_;
    std::string bytes_;
    std::vector<Rec> recs_;
};

}  // namespace vexabdb

#endif

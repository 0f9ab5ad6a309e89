// The hash block: sizes, hashing, probing, growth and tombstones.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "base/err/vral_err.h"
#include "base/hash/vral_hash.h"
#include "base/list/vral_list.h"

namespace {


// Owns a map; set() keeps the pointer current when the block moves.
class Map {
public:
    explicit Map(VRALSzHash *p) : p_(p) {}
    ~Map() { VRALSzHashFree(p_); }
    Map(const Map &) = delete;
    Map &operator=(const Map &) = delete;
    VRALSzHash *get() const { return p_; }
    VRALSzHash *release()
    {
        VRALSzHash *p = p_;
        p_ = nullptr;
        return p;
    }
    VRALSzHash *operator->() const { return p_; }
    int set(const char *k, const char *v) { return VRALSzHashSetValue(&p_, k, v); }
    const char *value(const char *k) const { return SzVRALSzHashGetValue(p_, k); }
    bool valid() const { return VRALSzHashIsValid(p_, VRALSzHashBlockSize(p_)) == 1; }

private:
    VRALSzHash *p_;
};

int64_t areaStart(const VRALSzHash *p)
{
    return VRAL_SZHASH_HEADER + int64_t{VRAL_SZHASH_SLOT_SIZE} * p->nSlot;
}

// The whole map as a std::map, checking the live-slot count on the way.
std::map<std::string, std::string> contents(const VRALSzHash *p)
{
    std::map<std::string, std::string> m;
    for (int i = 0; i < p->nSlot; ++i) {
        if (VRALSzHashSlotKey(p, i) != nullptr)
            m[VRALSzHashSlotKey(p, i)] = VRALSzHashSlotValue(p, i);
    }
    EXPECT_EQ(static_cast<int>(m.size()), p->nItem);
    return m;
}

TEST(HashAlloc, SizesAndLayout)
{
    struct Case {
        int request;
        int cbString;
    } cases[] = {{0, 512}, {100, 512}, {-5, 512}, {512, 512}, {4000, 4000}};
    for (const Case &c : cases) {
        Map m(VRALSzHashAlloc(c.request));
        ASSERT_NE(m.get(), nullptr);
        EXPECT_EQ(m->nSlot, 31);
        EXPECT_EQ(m->cbString, c.cbString);
        EXPECT_EQ(m->cbFree, c.cbString);
        EXPECT_EQ(m->nItem, 0);
        EXPECT_EQ(m->pszNext, 20 + 8 * 31);
        EXPECT_EQ(VRALSzHashBlockSize(m.get()), 20 + 8 * 31 + c.cbString);
        EXPECT_TRUE(m.valid());
    }
    EXPECT_EQ(sizeof(VRALSzHash), 20u);
    EXPECT_EQ(sizeof(VRALSzHashSlot), 8u);
}

TEST(HashAlloc, RefusesSlotCountsAndSizesOutOfRange)
{
    struct Case {
        int nSlot;
        int cbString;
    } cases[] = {{0, 512}, {-1, 512}, {31, -1}, {INT32_MAX, 0}, {31, INT32_MAX}, {INT32_MAX / 8, 512}};
    for (const Case &c : cases) {
        VRALErrSetCode(0);
        EXPECT_EQ(VRALSzHashAllocator(c.nSlot, c.cbString), nullptr) << c.nSlot << " " << c.cbString;
        EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
    }
    VRALSzHashFree(nullptr);
    EXPECT_EQ(VRALSzHashClear(nullptr), nullptr);
}

TEST(HashIndex, SumsLittleEndianWords)
{
    EXPECT_EQ(VRALSzHashIndex("abcd", 0x7fffffff), 0x64636261);
    EXPECT_EQ(VRALSzHashIndex("abcd", 31), static_cast<int>(0x64636261u % 31));
    // A partial last word is padded with zero bytes.
    EXPECT_EQ(VRALSzHashIndex("abcde", 0x7fffffff), 0x64636261 + 0x65);
    // Bytes are unsigned; the sum wraps at 32 bits.
    EXPECT_EQ(VRALSzHashIndex("\xff", 1000), 255);
    EXPECT_EQ(VRALSzHashIndex("\xff\xff\xff\xff\x01", 7), static_cast<int>(0u % 7));
    EXPECT_EQ(VRALSzHashIndex("", 31), 0);
    EXPECT_EQ(VRALSzHashIndex(nullptr, 31), -1);
    EXPECT_EQ(VRALSzHashIndex("abcd", 0), -1);
    EXPECT_EQ(VRALSzHashIndex("abcd", -31), -1);
}

TEST(HashSet, SetGetReplace)
{
    Map m(VRALSzHashAlloc(0));
    int slot = m.set("user", "admin");
    EXPECT_EQ(slot, VRALSzHashIndex("user", 31));
    EXPECT_STREQ(m.value("user"), "admin");
    EXPECT_EQ(m->cbFree, 512 - 11);
    EXPECT_EQ(m->nItem, 1);

    // Shorter or equal: in place, no string space.
    EXPECT_EQ(m.set("user", "root"), slot);
    EXPECT_STREQ(m.value("user"), "root");
    EXPECT_EQ(m->cbFree, 512 - 11);
    // Longer: len + 1 new bytes.
    EXPECT_EQ(m.set("user", "administrator"), slot);
    EXPECT_STREQ(m.value("user"), "administrator");
    EXPECT_EQ(m->cbFree, 512 - 11 - 14);
    EXPECT_EQ(m->nItem, 1);

    EXPECT_EQ(m.value("nobody"), nullptr);
    EXPECT_GE(m.set("", "empty key"), 0);
    EXPECT_STREQ(m.value(""), "empty key");
    EXPECT_EQ(VRALSzHashFind(m.get(), ""), 0);
    EXPECT_TRUE(m.valid());
}

TEST(HashSet, NullArgumentsRecordNoCode)
{
    Map m(VRALSzHashAlloc(0));
    VRALSzHash *none = nullptr;
    VRALErrSetCode(0x4200);
    EXPECT_EQ(VRALSzHashSetValue(nullptr, "k", "v"), -1);
    EXPECT_EQ(VRALSzHashSetValue(&none, "k", "v"), -1);
    VRALSzHash *p = m.get();
    EXPECT_EQ(VRALSzHashSetValue(&p, nullptr, "v"), -1);
    EXPECT_EQ(VRALSzHashSetValue(&p, "k", nullptr), -1);
    EXPECT_EQ(SzVRALSzHashGetValue(nullptr, "k"), nullptr);
    EXPECT_EQ(SzVRALSzHashGetValue(m.get(), nullptr), nullptr);
    EXPECT_EQ(SzVRALSzHashRemove(nullptr, "k"), nullptr);
    EXPECT_EQ(SzVRALSzHashRemove(m.get(), nullptr), nullptr);
    EXPECT_EQ(VRALSzHashKeyList(nullptr, nullptr), -1);
    EXPECT_EQ(VRALErrGet(), 0x4200);
}

TEST(HashGrow, SlotTableGrowsFourfoldBelowAQuarterFree)
{
    Map m(VRALSzHashAlloc(4096));
    for (int i = 0; i < 24; ++i)
        ASSERT_GE(m.set(("key" + std::to_string(i)).c_str(), "v"), 0);
    // 24th insert saw 8 free of 31: no growth.
    EXPECT_EQ(m->nSlot, 31);
    EXPECT_EQ(m->cbString, 4096);
    ASSERT_GE(m.set("key24", "v"), 0);
    EXPECT_EQ(m->nSlot, 119);
    EXPECT_EQ(m->cbString, 4096);   // string space sufficed
    EXPECT_EQ(m->nItem, 25);
    for (int i = 0; i < 25; ++i)
        EXPECT_STREQ(m.value(("key" + std::to_string(i)).c_str()), "v") << i;
    EXPECT_TRUE(m.valid());
    // 31, 119, 471, 1879, ...
    for (int expect : {471, 1879}) {
        int n = m->nItem;
        while (m->nSlot != expect) {
            ASSERT_GE(m.set(("more" + std::to_string(n++)).c_str(), "v"), 0);
            ASSERT_LE(m->nSlot, expect);
        }
    }
    EXPECT_TRUE(m.valid());
}

TEST(HashGrow, StringAreaGrowsByTheAverageBytesPerFreeSlot)
{
    Map m(VRALSzHashAllocator(31, 20));
    ASSERT_NE(m.get(), nullptr);
    m.set("k1", "v1");
    m.set("k2", "v2");
    m.set("k3", "v3");
    EXPECT_EQ(m->cbFree, 2);
    EXPECT_EQ(m->cbString, 20);
    // need 6 >= cbFree 2: 20 + (20 / 3) * 28 + 6.
    ASSERT_GE(m.set("k4", "v4"), 0);
    EXPECT_EQ(m->nSlot, 31);
    EXPECT_EQ(m->cbString, 20 + 6 * 28 + 6);
    EXPECT_EQ(m->cbFree, m->cbString - 24);
    EXPECT_EQ(contents(m.get()),
              (std::map<std::string, std::string>{{"k1", "v1"}, {"k2", "v2"}, {"k3", "v3"}, {"k4", "v4"}}));

    // An empty map counts the need itself per free slot.
    Map e(VRALSzHashAllocator(31, 4));
    ASSERT_GE(e.set("long", "value"), 0);
    EXPECT_EQ(e->cbString, 4 + 11 * 31 + 11);
    EXPECT_STREQ(e.value("long"), "value");
}

TEST(HashGrow, ResizeDropsTombstonesAndDeadBytes)
{
    Map m(VRALSzHashAllocator(31, 64));
    m.set("a", "1");
    m.set("b", "2");
    m.set("c", "3");
    SzVRALSzHashRemove(m.get(), "b");
    m.set("a", "longer value");
    // The resize frees the old block.
    Map r(VRALSzHashResize(m.release(), 40, 64));
    ASSERT_NE(r.get(), nullptr);
    EXPECT_EQ(r->nSlot, 40);
    EXPECT_EQ(r->cbFree, 64 - (2 + 13) - 4);
    EXPECT_EQ(contents(r.get()), (std::map<std::string, std::string>{{"a", "longer value"}, {"c", "3"}}));
    for (int i = 0; i < r->nSlot; ++i)
        EXPECT_FALSE(VRALSzHashSlotKey(r.get(), i) == nullptr && VRALSzHashSlotValue(r.get(), i) != nullptr);
    // Too small for the live pairs, or no free slot left: refused.
    VRALErrSetCode(0);
    EXPECT_EQ(VRALSzHashResize(r.get(), 40, 10), nullptr);
    EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
    EXPECT_EQ(VRALSzHashResize(r.get(), 2, 64), nullptr);
    EXPECT_TRUE(r.valid());
}

// Keys whose 4-byte words are the same, in another order, share a home slot.
const char *const kSame[] = {"abcdefghijkl", "efghabcdijkl", "ijklabcdefgh", "ijklefghabcd"};

TEST(HashProbe, CollidingKeysAndTombstoneReuse)
{
    Map m(VRALSzHashAlloc(0));
    int home = VRALSzHashIndex(kSame[0], 31);
    for (const char *k : kSame)
        ASSERT_EQ(VRALSzHashIndex(k, 31), home);
    EXPECT_EQ(m.set(kSame[0], "A"), home);
    EXPECT_EQ(m.set(kSame[1], "B"), (home + 1) % 31);
    EXPECT_EQ(m.set(kSame[2], "C"), (home + 2) % 31);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(VRALSzHashFind(m.get(), kSame[i]), (home + i) % 31);

    // A tombstone after the home slot is reused.
    EXPECT_STREQ(SzVRALSzHashRemove(m.get(), kSame[1]), "B");
    EXPECT_EQ(m->nItem, 2);
    EXPECT_EQ(VRALSzHashFind(m.get(), kSame[2]), (home + 2) % 31);   // probes past the tombstone
    EXPECT_EQ(m.set(kSame[3], "D"), (home + 1) % 31);
    // The home slot's own tombstone is not: the next free slot is used.
    SzVRALSzHashRemove(m.get(), kSame[0]);
    EXPECT_EQ(m.value(kSame[0]), nullptr);
    EXPECT_EQ(m.set(kSame[0], "A2"), (home + 3) % 31);
    EXPECT_STREQ(m.value(kSame[0]), "A2");
    EXPECT_STREQ(m.value(kSame[2]), "C");
    EXPECT_STREQ(m.value(kSame[3]), "D");
    EXPECT_EQ(m.value(kSame[1]), nullptr);
    EXPECT_EQ(SzVRALSzHashRemove(m.get(), kSame[1]), nullptr);
    EXPECT_TRUE(m.valid());
}

TEST(HashProbe, TinyTablesNeverOverrun)
{
    // A one-slot table whose only slot is a tombstone must still take a key.
    Map one(VRALSzHashAllocator(1, 64));
    ASSERT_EQ(one.set("a", "1"), 0);
    SzVRALSzHashRemove(one.get(), "a");
    EXPECT_EQ(one->nSlot, 1);
    EXPECT_EQ(one.set("b", "2"), 0);
    EXPECT_STREQ(one.value("b"), "2");
    EXPECT_EQ(one.value("a"), nullptr);
    EXPECT_TRUE(one.valid());

    for (int nSlot : {1, 2, 3, 4}) {
        Map m(VRALSzHashAllocator(nSlot, 8));
        ASSERT_NE(m.get(), nullptr);
        std::map<std::string, std::string> want;
        for (int round = 0; round < 6; ++round) {
            std::string k = "k" + std::to_string(round % 3);
            std::string v = std::string(static_cast<size_t>(round + 1), 'x');
            ASSERT_GE(m.set(k.c_str(), v.c_str()), 0) << nSlot << " " << round;
            want[k] = v;
            EXPECT_EQ(contents(m.get()), want);
            if (round % 2 == 1) {
                ASSERT_NE(SzVRALSzHashRemove(m.get(), k.c_str()), nullptr);
                want.erase(k);
            }
            EXPECT_TRUE(m.valid());
        }
    }
}

TEST(HashClear, EmptiesAndReusesTheStringArea)
{
    Map m(VRALSzHashAlloc(0));
    m.set("one", "1");
    m.set("two", "2");
    VRALSzHash *before = m.get();
    EXPECT_EQ(VRALSzHashClear(m.get()), before);
    EXPECT_EQ(m->nItem, 0);
    EXPECT_EQ(m->cbFree, 512);
    EXPECT_EQ(m->nSlot, 31);
    EXPECT_EQ(m.value("one"), nullptr);
    EXPECT_EQ(m.value("two"), nullptr);
    int slot = m.set("three", "3");
    ASSERT_GE(slot, 0);
    EXPECT_EQ(m->slots[slot].pszKey, areaStart(m.get()));
    EXPECT_TRUE(m.valid());
}

TEST(HashSelf, StringsFromTheSameMapSurviveGrowth)
{
    Map m(VRALSzHashAllocator(31, 40));
    m.set("source", "a value long enough");
    // Key and value both point into the block, which must grow for them.
    const char *k = VRALSzHashSlotKey(m.get(), VRALSzHashFind(m.get(), "source"));
    const char *v = m.value("source");
    ASSERT_GE(m.set(v, k), 0);
    EXPECT_GT(m->cbString, 40);
    EXPECT_STREQ(m.value("a value long enough"), "source");
    EXPECT_STREQ(m.value("source"), "a value long enough");

    // A longer replacement taken from the map itself, again with growth.
    Map r(VRALSzHashAllocator(31, 30));
    r.set("k", "v");
    r.set("long", "0123456789abcdef");
    ASSERT_GE(r.set("k", r.value("long")), 0);
    EXPECT_STREQ(r.value("k"), "0123456789abcdef");
    EXPECT_STREQ(r.value("long"), "0123456789abcdef");
    // A shorter replacement that overlaps its own old value.
    ASSERT_GE(r.set("long", r.value("long") + 4), 0);
    EXPECT_STREQ(r.value("long"), "456789abcdef");
    EXPECT_TRUE(m.valid());
    EXPECT_TRUE(r.valid());
}

TEST(HashBlock, ACopyOfTheBlockIsAWorkingMap)
{
    Map m(VRALSzHashAlloc(0));
    m.set("path", "/volume1/public");
    m.set("browseable", "yes");
    int64_t cb = VRALSzHashBlockSize(m.get());
    auto *copy = static_cast<VRALSzHash *>(malloc(static_cast<size_t>(cb)));
    memcpy(copy, m.get(), static_cast<size_t>(cb));
    Map c(copy);
    EXPECT_TRUE(c.valid());
    EXPECT_STREQ(c.value("path"), "/volume1/public");
    ASSERT_GE(c.set("comment", "copied"), 0);
    EXPECT_STREQ(c.value("comment"), "copied");
    EXPECT_EQ(m.value("comment"), nullptr);
}

TEST(HashBlock, IsValidRejectsDamagedBlocks)
{
    Map m(VRALSzHashAlloc(0));
    m.set("key", "value");
    int slot = VRALSzHashFind(m.get(), "key");
    int64_t cb = VRALSzHashBlockSize(m.get());
    EXPECT_EQ(VRALSzHashIsValid(m.get(), cb - 1), 0);
    EXPECT_EQ(VRALSzHashIsValid(nullptr, cb), 0);
    struct Damage {
        const char *what;
        void (*apply)(VRALSzHash *, int);
    } damages[] = {
        {"key offset beyond the block", [](VRALSzHash *p, int s) { p->slots[s].pszKey = 1 << 20; }},
        {"key offset in the header", [](VRALSzHash *p, int s) { p->slots[s].pszKey = 4; }},
        {"value offset negative", [](VRALSzHash *p, int s) { p->slots[s].pszValue = -8; }},
        {"item count", [](VRALSzHash *p, int) { p->nItem = 2; }},
        {"free count", [](VRALSzHash *p, int) { p->cbFree = -1; }},
        {"next offset", [](VRALSzHash *p, int) { p->pszNext += 3; }},
        {"slot count", [](VRALSzHash *p, int) { p->nSlot = 0; }},
    };
    for (const Damage &d : damages) {
        std::vector<char> buf(static_cast<size_t>(cb));
        memcpy(buf.data(), m.get(), buf.size());
        auto *p = reinterpret_cast<VRALSzHash *>(buf.data());
        d.apply(p, slot);
        EXPECT_EQ(VRALSzHashIsValid(p, cb), 0) << d.what;
    }
    // A string without its terminator inside the used area.
    std::vector<char> buf(static_cast<size_t>(cb));
    memcpy(buf.data(), m.get(), buf.size());
    auto *p = reinterpret_cast<VRALSzHash *>(buf.data());
    memset(buf.data() + p->slots[slot].pszValue, 'x', 6);
    EXPECT_EQ(VRALSzHashIsValid(p, cb), 0);
}

TEST(HashKeyList, CountsAndListsLiveKeysInSlotOrder)
{
    Map m(VRALSzHashAlloc(0));
    EXPECT_EQ(VRALSzHashKeyList(m.get(), nullptr), 0);
    for (const char *k : {"zeta", "alpha", "mid", "gone"})
        m.set(k, "v");
    SzVRALSzHashRemove(m.get(), "gone");
    EXPECT_EQ(VRALSzHashKeyList(m.get(), nullptr), 3);

    VRALSzList *list = PslVRALSzListAlloc(0);
    ASSERT_EQ(VRALSzHashKeyList(m.get(), &list), 3);
    std::vector<std::string> got, want;
    for (int i = 0; i < list->nItem; ++i)
        got.push_back(SzVRALSzListGet(list, i));
    for (int i = 0; i < m->nSlot; ++i) {
        if (VRALSzHashSlotKey(m.get(), i) != nullptr)
            want.push_back(VRALSzHashSlotKey(m.get(), i));
    }
    EXPECT_EQ(got, want);
    VRALSzListFree(list);

    // A push that fails (no list behind the address) fails the call.
    VRALSzList *none = nullptr;
    EXPECT_EQ(VRALSzHashKeyList(m.get(), &none), -1);
}

// Random set/remove/get against std::map, checking the block after each step.
TEST(HashRandom, AgreesWithStdMap)
{
    for (unsigned seed : {1u, 2u, 3u, 4u}) {
        std::mt19937 rng(seed);
        Map m(seed % 2 == 0 ? VRALSzHashAlloc(0) : VRALSzHashAllocator(3, 1));
        ASSERT_NE(m.get(), nullptr);
        std::map<std::string, std::string> want;
        auto randomString = [&](size_t maxLen) {
            std::string s(rng() % (maxLen + 1), ' ');
            for (char &c : s)
                c = static_cast<char>('a' + rng() % 4);
            return s;
        };
        for (int step = 0; step < 3000; ++step) {
            std::string k = randomString(5);
            switch (rng() % 4) {
            case 0:
            case 1: {
                std::string v = randomString(12);
                ASSERT_GE(m.set(k.c_str(), v.c_str()), 0);
                want[k] = v;
                break;
            }
            case 2: {
                char *v = SzVRALSzHashRemove(m.get(), k.c_str());
                auto it = want.find(k);
                ASSERT_EQ(v != nullptr, it != want.end()) << k;
                if (v != nullptr) {
                    EXPECT_EQ(v, it->second);
                    want.erase(it);
                }
                break;
            }
            default: {
                const char *v = m.value(k.c_str());
                auto it = want.find(k);
                ASSERT_EQ(v != nullptr, it != want.end()) << k;
                if (v != nullptr) {
                    EXPECT_EQ(v, it->second);
                }
            }
            }
            if (step % 50 == 0) {
                ASSERT_TRUE(m.valid()) << "seed " << seed << " step " << step;
                ASSERT_EQ(contents(m.get()), want);
                // At least one slot stays non-live for the probes.
                ASSERT_LT(m->nItem, m->nSlot);
            }
            if (step == 1500) {
                VRALSzHashClear(m.get());
                want.clear();
            }
        }
        EXPECT_TRUE(m.valid());
        EXPECT_EQ(contents(m.get()), want);
        EXPECT_EQ(VRALSzHashKeyList(m.get(), nullptr), static_cast<int>(want.size()));
    }
}

}  // namespace

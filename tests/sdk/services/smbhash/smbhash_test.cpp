// DES, MD4 and the NT hash, against published values and against nettle.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "base/err/vral_err.h"
#include "hash_reference.h"
#include "services/smbhash/smbhash_internal.h"
#include "services/smbhash/vexa_smbhash.h"

namespace {

using hashref::hex;

std::string ourMd4(const std::string &msg)
{
    unsigned char out[16];
    Md4Digest(reinterpret_cast<const unsigned char *>(msg.data()), msg.size(), out);
    return std::string(reinterpret_cast<char *>(out), 16);
}

std::string ourDes(const std::string &key7, const std::string &block, int forward)
{
    unsigned char out[8];
    SmbDesHash(out, reinterpret_cast<const unsigned char *>(block.data()),
               reinterpret_cast<const unsigned char *>(key7.data()), forward);
    return std::string(reinterpret_cast<char *>(out), 8);
}

// "<result> <hash or ->" of the NT hash.
std::string nt(const std::string &pw)
{
    unsigned char out[16];
    memset(out, 0x55, sizeof out);
    const int r = VEXAEncodingSmbMd4Hash(pw.c_str(), out, sizeof out);
    return std::to_string(r) + " " + (r == 0 ? hex(std::string(reinterpret_cast<char *>(out), 16)) : "-");
}

std::string randomBytes(std::mt19937 &rng, size_t n)
{
    std::uniform_int_distribution<int> d(0, 255);
    std::string s;
    while (s.size() < n)
        s += static_cast<char>(d(rng));
    return s;
}

TEST(Md4, Rfc1320Suite)
{
    struct {
        const char *msg;
        const char *digest;
    } const kSuite[] = {
        {"", "31D6CFE0D16AE931B73C59D7E0C089C0"},
        {"a", "BDE52CB31DE33E46245E05FBDBD6FB24"},
        {"abc", "A448017AAF21D8525FC10AE87AA6729D"},
        {"message digest", "D9130A8164549FE818874806E1C7014B"},
        {"abcdefghijklmnopqrstuvwxyz", "D79E1C308AA5BBCDEEA8ED63DF412DA9"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "043F8582F241DB351CE627E153E7F0E4"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "E33B4DDC9C38F2199C3E7B164FCC0536"},
    };
    for (const auto &c : kSuite)
        EXPECT_EQ(hex(ourMd4(c.msg)), c.digest) << c.msg;
}

TEST(Md4, EveryLengthAgainstNettle)
{
    // Every tail length of the last block, one and two final blocks.
    std::mt19937 rng(1320);
    for (size_t n = 0; n <= 300; ++n) {
        const std::string msg = randomBytes(rng, n);
        ASSERT_EQ(hex(ourMd4(msg)), hex(hashref::md4(msg))) << "length " << n;
    }
}

TEST(Md4, StateClearedAfterEachHash)
{
    unsigned char out[16];
    Md4Digest(reinterpret_cast<const unsigned char *>("secret"), 6, out);
    EXPECT_EQ(gMd4State[0] | gMd4State[1] | gMd4State[2] | gMd4State[3], 0u);
    ASSERT_EQ(VEXAEncodingSmbMd4Hash("secret", out, sizeof out), 0);
    EXPECT_EQ(gMd4State[0] | gMd4State[1] | gMd4State[2] | gMd4State[3], 0u);
}

TEST(Des, RandomKeysAndBlocksAgainstNettle)
{
    std::mt19937 rng(463);
    for (int i = 0; i < 2000; ++i) {
        const std::string key = randomBytes(rng, 7);
        const std::string block = randomBytes(rng, 8);
        const std::string enc = ourDes(key, block, 1);
        ASSERT_EQ(hex(enc), hex(hashref::des(key, block, true))) << hex(key) << " " << hex(block);
        ASSERT_EQ(hex(ourDes(key, block, 0)), hex(hashref::des(key, block, false))) << hex(key);
        ASSERT_EQ(hex(ourDes(key, enc, 0)), hex(block)) << hex(key);
    }
}

TEST(Des, WeakKeysAndFixedBlock)
{
    // The empty password's key is all zero bits, a weak key.
    for (const std::string &key :
         {std::string(7, '\0'), std::string(7, '\xff'), std::string("\x01\x02\x04\x08\x10\x20\x40", 7)}) {
        EXPECT_EQ(hex(ourDes(key, "KGS!@#$%", 1)), hex(hashref::des(key, "KGS!@#$%", true))) << hex(key);
    }
    EXPECT_EQ(hex(ourDes(std::string(7, '\0'), "KGS!@#$%", 1)), "AAD3B435B51404EE");
}

TEST(Des, BitArrayHelpers)
{
    unsigned char bits[6] = {1, 0, 0, 1, 1, 0};
    SmbDesLShift(bits, 2, 6);
    EXPECT_EQ(std::string(bits, bits + 6), std::string("\0\1\1\0\1\0", 6));
    SmbDesLShift(bits, 6, 6);  // a full turn changes nothing
    EXPECT_EQ(std::string(bits, bits + 6), std::string("\0\1\1\0\1\0", 6));

    const unsigned char a[3] = {1, 1, 0}, b[2] = {0, 1};
    unsigned char ab[5];
    SmbDesConcat(ab, a, b, 3, 2);
    EXPECT_EQ(std::string(ab, ab + 5), std::string("\1\1\0\0\1", 5));

    const unsigned char table[4] = {5, 1, 1, 3};  // 1-based positions
    unsigned char perm[4];
    SmbDesPermute(perm, ab, table, 4);
    EXPECT_EQ(std::string(perm, perm + 4), std::string("\1\1\1\0", 4));

    unsigned char x[3];
    SmbDesXor(x, a, ab + 2, 3);
    EXPECT_EQ(std::string(x, x + 3), std::string("\1\1\1", 3));
}

TEST(Md4, RoundFunctionsAndByteOrder)
{
    EXPECT_EQ(Md4F(0xF0F0F0F0u, 0xFF00FF00u, 0x0F0F0F0Fu), 0xFF0FFF0Fu);
    EXPECT_EQ(Md4G(0xF0F0F0F0u, 0xFF00FF00u, 0x0F0F0F0Fu), 0xFF00FF00u);
    EXPECT_EQ(Md4H(0xF0F0F0F0u, 0xFF00FF00u, 0x0F0F0F0Fu), 0x00FF00FFu);
    EXPECT_EQ(Md4RotateLeft(0x80000001u, 1), 0x00000003u);
    EXPECT_EQ(Md4RotateLeft(0x12345678u, 0), 0x12345678u);
    unsigned char b[4];
    Md4StoreLE32(b, 0x11223344u);
    EXPECT_EQ(std::string(b, b + 4), "\x44\x33\x22\x11");
    unsigned char block[64] = {0x01, 0x02, 0x03, 0x04};
    block[60] = 0xFF;
    uint32_t w[16];
    Md4LoadBlock(w, block);
    EXPECT_EQ(w[0], 0x04030201u);
    EXPECT_EQ(w[15], 0x000000FFu);
}

TEST(NtHash, KnownValues)
{
    struct {
        const char *name;
        std::string pw;
        const char *result;
    } const kCases[] = {
        {.name = "empty", .pw = "", .result = "0 31D6CFE0D16AE931B73C59D7E0C089C0"},
        {.name = "password", .pw = "password", .result = "0 8846F7EAEE8FB117AD06BDD830B7586C"},
        {.name = "a_200", .pw = std::string(200, 'a'), .result = "0 D2ECF84D0BFD02B60DAB8BCB1CC13253"},
        {.name = "a_127", .pw = std::string(127, 'a'), .result = "0 D2ECF84D0BFD02B60DAB8BCB1CC13253"},
    };
    for (const auto &c : kCases)
        EXPECT_EQ(nt(c.pw), c.result) << c.name;
    // The NT hash keeps the letter case.
    EXPECT_NE(nt("PASSWORD"), nt("password"));
}

TEST(NtHash, RandomPasswordsAgainstNettle)
{
    for (bool utf8 : {false, true}) {
        std::mt19937 rng(utf8 ? 8 : 7);
        for (const std::string &pw : hashref::randomPasswords(rng, utf8, 300))
            ASSERT_EQ(nt(pw), "0 " + hex(hashref::nt(pw))) << hex(pw);
    }
}

TEST(NtHash, RefusesWhatItCannotDecodeWhole)
{
    struct {
        const char *name;
        std::string pw;
    } const kCases[] = {
        {.name = "ff_after_five", .pw = "abcde\xff"},
        {.name = "ff_first",
         .pw = "\xff"
               "abc"},
        {.name = "stray_continuation",
         .pw = "ab\x80"
               "cd"},
        {.name = "four_byte_char", .pw = "ab\xf0\x9f\x98\x80"},
        {.name = "lead_at_end", .pw = "abc\xc3"},
        {.name = "three_byte_cut", .pw = "\xe2\x82"},
        {.name = "three_byte_bad_tail",
         .pw = "\xe2\x82"
               "A"},
        {.name = "overlong_nul", .pw = "\xc0\x80secret"},
        {.name = "overlong_slash", .pw = "\xe0\x80\xaf"},
        {.name = "surrogate", .pw = "x\xed\xa0\x80"},
        {.name = "past_127_chars", .pw = std::string(150, 'a') + "\xff"},
    };
    for (const auto &c : kCases) {
        unsigned char out[16];
        memset(out, 0x55, sizeof out);
        VRALErrSetCode(0);
        EXPECT_EQ(VEXAEncodingSmbMd4Hash(c.pw.c_str(), out, sizeof out), -1) << c.name;
        EXPECT_EQ(VRALErrGet(), ERR_CONVERSION_FAILED) << c.name;
        EXPECT_EQ(std::string(reinterpret_cast<char *>(out), 16), std::string(16, '\x55')) << c.name;
    }
    // Two- and three-byte characters at their bounds decode.
    for (const char *pw : {"\xc2\x80", "\xdf\xbf", "\xe0\xa0\x80", "\xed\x9f\xbf", "\xee\x80\x80", "\xef\xbf\xbf"})
        EXPECT_EQ(nt(pw), "0 " + hex(hashref::nt(pw))) << hex(pw);
}

TEST(BothHashes, RefuseBadArguments)
{
    using Fn = int (*)(const char *, unsigned char *, int);
    for (Fn fn : {Fn(VEXAEncodingSmbMd4Hash), Fn(VEXAEncodingSmbLmHash)}) {
        unsigned char out[16];
        memset(out, 0x55, sizeof out);
        VRALErrSetCode(0);
        EXPECT_EQ(fn("password", out, 15), -1);
        EXPECT_EQ(VRALErrGet(), ERR_BUFFER_TOO_SMALL);
        VRALErrSetCode(0);
        EXPECT_EQ(fn(nullptr, out, 16), -1);
        EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
        VRALErrSetCode(0);
        EXPECT_EQ(fn("password", nullptr, 16), -1);
        EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
        EXPECT_EQ(std::string(reinterpret_cast<char *>(out), 16), std::string(16, '\x55'));
    }
}

}  // namespace

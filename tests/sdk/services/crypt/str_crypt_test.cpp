// The string scrambler: its tables against a second builder written
// plainly here, the table properties, the round trip, the refusals and a
// failed crypt().
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "failcall.h"
#include "root_probe.h"
#include "services/crypt/vexa_crypt.h"

namespace {

using Lines = std::vector<std::string>;

struct Tables {
    unsigned char rotor[256] = {};
    unsigned char inverse[256] = {};
    unsigned char reflector[256] = {};
};

// The derivation written out step by step, the seed kept in 64 bits and
// wrapped to a signed 32-bit value after every step.
int32_t wrap32(int64_t v)
{
    v &= 0xffffffffLL;
    return static_cast<int32_t>(v >= 0x80000000LL ? v - 0x100000000LL : v);
}

Tables referenceTables(const char *key12)
{
    unsigned char buffer[13] = {};
    for (int i = 0; i < 12; ++i)
        buffer[i] = static_cast<unsigned char>(key12[i]);
    Tables t;
    int32_t seed = 824;
    for (int i = 0; i <= 12; ++i)
        seed = wrap32(static_cast<int64_t>(seed) * buffer[i] + i);
    for (int i = 0; i < 256; ++i)
        t.rotor[i] = static_cast<unsigned char>(i);
    for (int i = 0; i < 256; ++i) {
        const int k = 255 - i;
        seed = wrap32(static_cast<int64_t>(seed) * 5 + buffer[i % 13]);
        const int32_t r = seed % 65521;
        const unsigned low = static_cast<unsigned>(r) & 0xff;
        const unsigned mid = (static_cast<unsigned>(r) >> 8) & 0xff;
        const int ic = static_cast<int>(low % static_cast<unsigned>(k + 1));
        std::swap(t.rotor[k], t.rotor[ic]);
        if (t.reflector[k] != 0)
            continue;
        int jc = static_cast<int>(mid % static_cast<unsigned>(k));
        while (t.reflector[jc] != 0)
            jc = (jc + 1) % k;
        t.reflector[k] = static_cast<unsigned char>(jc);
        t.reflector[jc] = static_cast<unsigned char>(k);
    }
    for (int i = 0; i < 256; ++i)
        t.inverse[t.rotor[i]] = static_cast<unsigned char>(i);
    return t;
}

std::string referenceScramble(const Tables &t, const std::string &in)
{
    std::string out;
    int step = 0;
    int turn = 0;
    for (unsigned char c : in) {
        const int x = t.rotor[(c + step) % 256];
        const int y = t.reflector[(x + turn) % 256];
        const int z = t.inverse[((y - turn) % 256 + 256) % 256];
        out += static_cast<char>(((z - step) % 256 + 256) % 256);
        if (++step == 256) {
            step = 0;
            turn = (turn + 1) % 256;
        }
    }
    return out;
}

std::string scramble(const std::string &in)
{
    std::vector<char> out(in.size() + 8, 'Z');
    EXPECT_EQ(VEXAStrCrypt(in.c_str(), out.data(), static_cast<int>(out.size())), 0);
    for (size_t i = in.size(); i < out.size(); ++i)
        EXPECT_EQ(out[i], '\0') << i;
    return std::string(out.data(), in.size());
}

TEST(StrCrypt, KeyBufferHoldsTheFirstTwelveCharactersOfTheDesCrypt)
{
    ASSERT_EQ(VEXAStrCryptInitTables(), 0);
    EXPECT_EQ(std::string(gStrCryptKey, sizeof gStrCryptKey), std::string("JXZOanL.B.wr", 13));
}

TEST(StrCrypt, TablesArePermutationsAndAPairingAsTheReferenceBuilds)
{
    ASSERT_EQ(VEXAStrCryptInitTables(), 0);
    const Tables ref = referenceTables("JXZOanL.B.wr");
    EXPECT_EQ(std::vector<unsigned char>(gStrCryptRotor, gStrCryptRotor + 256),
              std::vector<unsigned char>(ref.rotor, ref.rotor + 256));
    EXPECT_EQ(std::vector<unsigned char>(gStrCryptReflector, gStrCryptReflector + 256),
              std::vector<unsigned char>(ref.reflector, ref.reflector + 256));
    for (int x = 0; x < 256; ++x) {
        EXPECT_EQ(gStrCryptInvRotor[gStrCryptRotor[x]], x);
        EXPECT_EQ(gStrCryptRotor[gStrCryptInvRotor[x]], x);
        EXPECT_NE(gStrCryptReflector[x], x);
        EXPECT_EQ(gStrCryptReflector[gStrCryptReflector[x]], x);
    }
}

TEST(StrCrypt, OutputEqualsTheReferenceMachineAndScramblesBack)
{
    const Tables ref = referenceTables("JXZOanL.B.wr");
    std::string longText;
    for (int i = 0; i < 700; ++i)
        longText += static_cast<char>(1 + (i * 37) % 255);  // every turn of 256 and more
    for (const std::string &in : {std::string("a"), std::string("Secret pa55word!"),
                                  std::string("\xc3\xa9t\xc3\xa9 \xe2\x82\xac"), longText}) {
        const std::string out = scramble(in);
        EXPECT_EQ(out, referenceScramble(ref, in)) << in.size();
        EXPECT_EQ(scramble(in), out) << "same input, same output";
        if (out.find('\0') == std::string::npos) {
            EXPECT_EQ(scramble(out), in) << in.size();
        }
    }
}

TEST(StrCrypt, LengthLimitIsOneMoreThanTheInput)
{
    char out[8];
    EXPECT_EQ(VEXAStrCrypt("", out, 1), 0);
    EXPECT_EQ(out[0], '\0');
    char four[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(VEXAStrCrypt("abc", four, 4), 0);
    EXPECT_EQ(four[3], '\0');
}

// Refusals and a failed crypt() log; they run in the appliance root so the messages land in its
// log, not the machine's.
int probe(std::vector<std::string> ops)
{
    char out[8] = {};
    for (const std::string &op : ops) {
        int r = 0;
        if (op == "null-in")
            r = VEXAStrCrypt(nullptr, out, sizeof out);
        else if (op == "null-out")
            r = VEXAStrCrypt("a", nullptr, 8);
        else if (op == "len0")
            r = VEXAStrCrypt("", out, 0);
        else if (op == "len-n")
            r = VEXAStrCrypt("abc", out, 3);
        else if (op == "crypt-fails") {
            failcall::Armed armed({.call = failcall::Call::Crypt, .err = 22, .nth = 1, .times = 0});
            memcpy(out, "abcdefg", sizeof out);
            r = VEXAStrCrypt("abc", out, sizeof out);
            vexatest::probe::say(std::string("key '") + gStrCryptKey + "' rotor " +
                                 std::to_string(gStrCryptRotor[255]) + " out '" + out + "' fired " +
                                 std::to_string(failcall::Fired()));
        }
        vexatest::probe::say(op + " " + std::to_string(r));
    }
    return 0;
}

VEXATEST_ROOT_PROBE(probe)

TEST(StrCryptRoot, RefusalsLogTheirReason)
{
    approot::Appliance app("strcrypt");
    EXPECT_EQ(vexatest::probe::run(app, {"null-in", "null-out", "len0", "len-n", "crypt-fails"}),
              (Lines{"null-in -1", "null-out -1", "len0 -1", "len-n -1", "key '' rotor 0 out '' fired 1",
                     "crypt-fails -1"}));
    const Lines log = app.syslog();
    ASSERT_EQ(log.size(), 5u);
    EXPECT_NE(log[4].find("crypt_str_crypt VEXAStrCryptInitTables("), std::string::npos) << log[4];
    for (size_t i = 0; i < 2; ++i)
        EXPECT_NE(log[i].find("crypt_str_crypt VEXAStrCrypt("), std::string::npos) << log[i];
    EXPECT_NE(log[0].find("): wrong parameters"), std::string::npos) << log[0];
    EXPECT_NE(log[1].find("): wrong parameters"), std::string::npos) << log[1];
    EXPECT_NE(log[2].find("): iLen is not enough!!"), std::string::npos) << log[2];
    EXPECT_NE(log[3].find("): iLen is not enough!!"), std::string::npos) << log[3];
    EXPECT_EQ(log[0].rfind("<11>", 0), 0u) << log[0];
}

}  // namespace

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
#include "scrambler_reference.h"
#include "services/crypt/vexa_crypt.h"

namespace {

using Lines = std::vector<std::string>;

using vexatest::scrambler::referenceScramble;
using vexatest::scrambler::referenceTables;
using vexatest::scrambler::Tables;

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

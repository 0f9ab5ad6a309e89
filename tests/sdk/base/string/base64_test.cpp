#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "base/err/vral_err.h"
#include "base/string/vral_string.h"

namespace {

std::string encode(const std::string &data, unsigned len)
{
    const char *r = SzBase64EncodeOneLine(reinterpret_cast<const unsigned char *>(data.data()), len);
    return r == nullptr ? "<null>" : r;
}

std::string encode(const std::string &data)
{
    return encode(data, static_cast<unsigned>(data.size()));
}

}  // namespace

TEST(Base64Encode, StandardVectors)
{
    const struct {
        const char *in;
        const char *out;
    } cases[] = {
        {"", ""},           {"f", "Zg=="},         {"fo", "Zm8="},       {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
        {"\xff\xfe\xfd", "//79"}, {"\xfb\xef", "++8="},
    };
    for (const auto &c : cases)
        EXPECT_EQ(encode(c.in), c.out) << c.in;
    EXPECT_EQ(SzBase64EncodeOneLine(nullptr, 3), nullptr);
}

TEST(Base64Encode, StopsAtANulThatBeginsAGroup)
{
    std::string withNul("abc\0def", 7);
    EXPECT_EQ(encode(withNul), "YWJj");
    // A string's length plus one: the terminator is encoded only inside the
    // last group.
    EXPECT_EQ(encode(std::string("ab\0", 3)), "YWIA");
    EXPECT_EQ(encode(std::string("abc\0", 4)), "YWJj");
    // A NUL inside a group is an ordinary byte.
    EXPECT_EQ(encode(std::string("a\0b\0\0\0", 6)), "YQBi");
    // A whole text buffer, however large.
    std::vector<char> buf(4096, 0);
    memcpy(buf.data(), "pass", 4);
    EXPECT_EQ(encode(std::string(buf.data(), buf.size())), "cGFzcwAA");
    memcpy(buf.data(), "pas", 3);
    buf[3] = 0;
    EXPECT_EQ(encode(std::string(buf.data(), buf.size())), "cGFz");
}

// Bytes rather than text: a NUL that begins a group is encoded too.
TEST(Base64Encode, BytesEncodesEveryByte)
{
    auto bytes = [](const std::string &data) {
        const char *r = SzBase64EncodeBytes(reinterpret_cast<const unsigned char *>(data.data()),
                                            static_cast<unsigned>(data.size()));
        return r == nullptr ? std::string("<null>") : std::string(r);
    };
    EXPECT_EQ(bytes(std::string("\0\0\0abc\0", 7)), "AAAAYWJjAA==");
    EXPECT_EQ(bytes(std::string("abc\0de", 6)), "YWJjAGRl");
    EXPECT_EQ(bytes(""), "");
    EXPECT_EQ(SzBase64EncodeBytes(nullptr, 3), nullptr);
}

TEST(Base64Encode, ResultBufferGrowsWithTheInput)
{
    std::string big(100000, 'x');
    std::string enc = encode(big);
    ASSERT_EQ(enc.size(), 133336u);
    EXPECT_EQ(enc.substr(0, 8), "eHh4eHh4");
    EXPECT_EQ(enc.substr(enc.size() - 4), "eA==");
    // Back to a short one: same own buffer, new content.
    const char *a = SzBase64EncodeOneLine(reinterpret_cast<const unsigned char *>("hi"), 2);
    EXPECT_STREQ(a, "aGk=");
}

TEST(Base64, RoundTripsForEveryLengthUpTo5000)
{
    std::mt19937 rng(5);
    std::vector<unsigned char> data(5000);
    for (auto &b : data)
        b = static_cast<unsigned char>(1 + rng() % 255);  // no NUL to end the text
    std::vector<unsigned char> back(5000 + 8);
    for (unsigned len = 0; len <= 5000; ++len) {
        const char *enc = SzBase64EncodeOneLine(data.data(), len);
        ASSERT_NE(enc, nullptr);
        size_t cch = strlen(enc);
        ASSERT_EQ(cch, (len + 2) / 3 * 4) << len;
        unsigned cb = static_cast<unsigned>(back.size());
        ASSERT_EQ(Base64DecodeOneLine(enc, static_cast<unsigned>(cch), back.data(), &cb), 1) << len;
        ASSERT_EQ(cb, len);
        ASSERT_EQ(memcmp(back.data(), data.data(), len), 0) << len;
    }
}

TEST(Base64Decode, TableOfInputs)
{
    const struct {
        const char *in;
        int result;
        std::string bytes;
    } cases[] = {
        {"Zm9v", 1, "foo"},
        {"Zm", 0, "f"},               // two valid characters: one byte, input not consumed
        {"Zg==", 1, "f"},
        {"Zm8=", 1, "fo"},
        {"Zm8", 0, "fo"},
        {"", 1, ""},
        {"Z", 0, ""},                 // one character left over
        {"Zm9vY", 0, "foo"},
        {"Z=9v", 0, ""},              // padding second
        {"Zg==Zm9v", 0, "f"},         // padding in a group that is not the last
        {"Zm=vZm9v", 0, "f"},
        {"Zm8=Zm9v", 0, "fo"},
        {"Zm9v Zm9v", 0, "foo"},      // blank is invalid
        {"Zm9v\nZm9v", 0, "foo"},
        {"Zm9vYmFy", 1, "foobar"},
        {"Zg=x", 0, "f"},             // "=" third needs "=" fourth
        {"Zm*v", 0, "f"},
        {"+/+/", 1, "\xfb\xff\xbf"},
    };
    for (const auto &c : cases) {
        unsigned char out[32];
        unsigned cb = sizeof(out);
        EXPECT_EQ(Base64DecodeOneLine(c.in, static_cast<unsigned>(strlen(c.in)), out, &cb), c.result) << c.in;
        EXPECT_EQ(std::string(reinterpret_cast<char *>(out), cb), c.bytes) << c.in;
    }
}

TEST(Base64Decode, FullOutputDropsBytesButKeepsValidating)
{
    unsigned char out[2];
    unsigned cb = sizeof(out);
    EXPECT_EQ(Base64DecodeOneLine("Zm9vYmFy", 8, out, &cb), 1);
    EXPECT_EQ(cb, 2u);
    EXPECT_EQ(memcmp(out, "fo", 2), 0);
    cb = sizeof(out);
    EXPECT_EQ(Base64DecodeOneLine("Zm9v!mFy", 8, out, &cb), 0);
    cb = 0;
    EXPECT_EQ(Base64DecodeOneLine("Zm9v", 4, out, &cb), 1);
    EXPECT_EQ(cb, 0u);
    // Only n characters are read.
    cb = sizeof(out);
    EXPECT_EQ(Base64DecodeOneLine("Zg==garbage", 4, out, &cb), 1);
    EXPECT_EQ(cb, 1u);

    VRALErrSetCode(0);
    cb = sizeof(out);
    EXPECT_EQ(Base64DecodeOneLine(nullptr, 4, out, &cb), 0);
    EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
    EXPECT_EQ(Base64DecodeOneLine("Zm9v", 4, nullptr, &cb), 0);
    EXPECT_EQ(Base64DecodeOneLine("Zm9v", 4, out, nullptr), 0);
}

TEST(Base64ValueToChar, Alphabet)
{
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (int v = 0; v < 64; ++v) {
        EXPECT_EQ(Base64ValueToChar(v), alphabet[static_cast<size_t>(v)]);
        EXPECT_EQ(Base64ValueToChar(v + 64), alphabet[static_cast<size_t>(v)]);  // low 6 bits only
    }
    EXPECT_EQ(Base64ValueToChar(-1), '/');
}

// Expected hashes computed with nettle's MD4 and DES and ICU, and random
// passwords to compare on.
#ifndef VEXA_TEST_HASH_REFERENCE_H
#define VEXA_TEST_HASH_REFERENCE_H

#include <nettle/des.h>
#include <nettle/md4.h>
#include <unicode/ucnv.h>
#include <unicode/ustring.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace hashref {

inline std::string hex(const std::string &bytes)
{
    static const char kDigits[] = "0123456789ABCDEF";
    std::string s;
    for (unsigned char c : bytes) {
        s += kDigits[c >> 4];
        s += kDigits[c & 15];
    }
    return s;
}

inline std::string unhex(const std::string &text)
{
    std::string s;
    for (size_t i = 0; i + 1 < text.size(); i += 2)
        s += static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16));
    return s;
}

inline std::string md4(const std::string &msg)
{
    md4_ctx ctx;
    md4_init(&ctx);
    md4_update(&ctx, msg.size(), reinterpret_cast<const uint8_t *>(msg.data()));
    uint8_t d[MD4_DIGEST_SIZE];
    md4_digest(&ctx, sizeof d, d);
    return std::string(reinterpret_cast<char *>(d), sizeof d);
}

// The 56-bit key spread over eight bytes, seven bits each.
inline void spreadKey(const uint8_t *key7, uint8_t *key8)
{
    for (int i = 0; i < 8; ++i) {
        uint8_t b = 0;
        for (int j = 0; j < 7; ++j) {
            const int bit = 7 * i + j;
            b = static_cast<uint8_t>(b | (((key7[bit / 8] >> (7 - bit % 8)) & 1) << (7 - j)));
        }
        key8[i] = b;
    }
}

// des_set_key answers 0 for a weak key but sets it all the same.
inline std::string des(const std::string &key7, const std::string &block, bool encrypt)
{
    uint8_t key8[8];
    spreadKey(reinterpret_cast<const uint8_t *>(key7.data()), key8);
    des_ctx ctx;
    des_set_key(&ctx, key8);
    uint8_t out[8];
    if (encrypt)
        des_encrypt(&ctx, 8, out, reinterpret_cast<const uint8_t *>(block.data()));
    else
        des_decrypt(&ctx, 8, out, reinterpret_cast<const uint8_t *>(block.data()));
    return std::string(reinterpret_cast<char *>(out), 8);
}

inline std::u16string utf16(const std::string &utf8)
{
    std::u16string u(utf8.size() * 2 + 1, u'\0');
    int32_t n = 0;
    UErrorCode st = U_ZERO_ERROR;
    u_strFromUTF8(u.data(), static_cast<int32_t>(u.size()), &n, utf8.c_str(), -1, &st);
    u.resize(U_SUCCESS(st) ? static_cast<size_t>(n) : 0);
    return u;
}

// NT hash of a valid BMP password: MD4 of its first 127 characters.
inline std::string nt(const std::string &utf8)
{
    std::u16string u = utf16(utf8);
    if (u.size() > 127)
        u.resize(127);
    std::string msg;
    for (char16_t c : u) {
        msg += static_cast<char>(c & 0xFF);
        msg += static_cast<char>(c >> 8);
    }
    return md4(msg);
}

// LAN Manager hash with the password upper-cased by ICU's root rules and
// converted by the named converter (nullptr: kept as UTF-8); "" when the
// upper-cased or converted text does not fit 128 bytes.
// What lm() gives for text the code page cannot hold.
inline constexpr char kUnmappable[] = "unmappable";

inline std::string lm(const std::string &utf8, const char *converter)
{
    std::u16string u = utf16(utf8);
    std::u16string up(u.size() * 3 + 1, u'\0');
    UErrorCode st = U_ZERO_ERROR;
    int32_t n =
        u_strToUpper(up.data(), static_cast<int32_t>(up.size()), u.data(), static_cast<int32_t>(u.size()), "", &st);
    up.resize(static_cast<size_t>(n));
    std::string upper(up.size() * 3 + 1, '\0');
    int32_t cb = 0;
    st = U_ZERO_ERROR;
    u_strToUTF8(upper.data(), static_cast<int32_t>(upper.size()), &cb, up.data(), n, &st);
    upper.resize(static_cast<size_t>(cb));
    if (upper.size() >= 128)
        return "";
    std::string text = upper;
    if (converter != nullptr) {
        st = U_ZERO_ERROR;
        UConverter *cnv = ucnv_open(converter, &st);
        ucnv_setFromUCallBack(cnv, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &st);
        text.assign(up.size() * 4 + 4, '\0');
        st = U_ZERO_ERROR;
        cb = ucnv_fromUChars(cnv, text.data(), static_cast<int32_t>(text.size()), up.data(), n, &st);
        ucnv_close(cnv);
        if (U_FAILURE(st))
            return kUnmappable;
        text.resize(static_cast<size_t>(cb));
        if (text.size() >= 128)
            return "";
    }
    std::string key = text.substr(0, text.find('\0')).substr(0, 14);
    key.resize(14, '\0');
    return des(key.substr(0, 7), "KGS!@#$%", true) + des(key.substr(7, 7), "KGS!@#$%", true);
}

// Random passwords: printable and control ASCII, or UTF-8 of one to three
// bytes a character (BMP, no surrogates), of len characters.
inline std::string randomAscii(std::mt19937 &rng, size_t len)
{
    std::uniform_int_distribution<int> d(1, 127);
    std::string s;
    while (s.size() < len)
        s += static_cast<char>(d(rng));
    return s;
}

inline std::string randomUtf8(std::mt19937 &rng, size_t len)
{
    // Letters with case mappings, symbols, CJK.
    static const std::pair<char32_t, char32_t> kRanges[] = {
        {0x20, 0x7E},     {0xA0, 0x24F},    {0x370, 0x3FF},   {0x400, 0x4FF},   {0x1E00, 0x1FFF},
        {0x20A0, 0x20BF}, {0x3040, 0x30FF}, {0x4E00, 0x9FFF}, {0xAC00, 0xD7A3}, {0xE000, 0xFFFD},
    };
    std::uniform_int_distribution<size_t> pick(0, std::size(kRanges) - 1);
    std::string s;
    for (size_t i = 0; i < len; ++i) {
        const auto &r = kRanges[pick(rng)];
        const char32_t c = std::uniform_int_distribution<char32_t>(r.first, r.second)(rng);
        if (c < 0x80) {
            s += static_cast<char>(c);
        } else if (c < 0x800) {
            s += static_cast<char>(0xC0 | (c >> 6));
            s += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            s += static_cast<char>(0xE0 | (c >> 12));
            s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            s += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return s;
}

// Passwords of 0 to 200 characters, and of the lengths around MD4's block
// padding (27, 28, 31, 32 characters are 54, 56, 62, 64 message bytes).
inline std::vector<std::string> randomPasswords(std::mt19937 &rng, bool utf8, int count)
{
    std::vector<std::string> out;
    std::uniform_int_distribution<size_t> len(0, 200);
    auto make = [&](size_t n) { return utf8 ? randomUtf8(rng, n) : randomAscii(rng, n); };
    for (size_t n : {0, 1, 7, 14, 27, 28, 31, 32, 63, 64, 126, 127, 128, 200})
        out.push_back(make(n));
    for (int i = 0; i < count; ++i)
        out.push_back(make(len(rng)));
    return out;
}

}  // namespace hashref

#endif

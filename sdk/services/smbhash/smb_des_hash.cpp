// DES over one block, on arrays of one byte per bit (bit 0 is the most
// significant bit of byte 0), with the 56-bit key of the LAN Manager hash.
#include <algorithm>
#include <cstring>

#include "services/smbhash/smbhash_internal.h"

namespace {

// The tables of FIPS 46-3, row by row.
// clang-format off
const unsigned char kPc1[56] = {
    57, 49, 41, 33, 25, 17,  9,
     1, 58, 50, 42, 34, 26, 18,
    10,  2, 59, 51, 43, 35, 27,
    19, 11,  3, 60, 52, 44, 36,
    63, 55, 47, 39, 31, 23, 15,
     7, 62, 54, 46, 38, 30, 22,
    14,  6, 61, 53, 45, 37, 29,
    21, 13,  5, 28, 20, 12,  4,
};

const unsigned char kPc2[48] = {
    14, 17, 11, 24,  1,  5,
     3, 28, 15,  6, 21, 10,
    23, 19, 12,  4, 26,  8,
    16,  7, 27, 20, 13,  2,
    41, 52, 31, 37, 47, 55,
    30, 40, 51, 45, 33, 48,
    44, 49, 39, 56, 34, 53,
    46, 42, 50, 36, 29, 32,
};

const int kShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

const unsigned char kIp[64] = {
    58, 50, 42, 34, 26, 18, 10,  2,
    60, 52, 44, 36, 28, 20, 12,  4,
    62, 54, 46, 38, 30, 22, 14,  6,
    64, 56, 48, 40, 32, 24, 16,  8,
    57, 49, 41, 33, 25, 17,  9,  1,
    59, 51, 43, 35, 27, 19, 11,  3,
    61, 53, 45, 37, 29, 21, 13,  5,
    63, 55, 47, 39, 31, 23, 15,  7,
};

const unsigned char kIpInverse[64] = {
    40,  8, 48, 16, 56, 24, 64, 32,
    39,  7, 47, 15, 55, 23, 63, 31,
    38,  6, 46, 14, 54, 22, 62, 30,
    37,  5, 45, 13, 53, 21, 61, 29,
    36,  4, 44, 12, 52, 20, 60, 28,
    35,  3, 43, 11, 51, 19, 59, 27,
    34,  2, 42, 10, 50, 18, 58, 26,
    33,  1, 41,  9, 49, 17, 57, 25,
};

const unsigned char kExpand[48] = {
    32,  1,  2,  3,  4,  5,
     4,  5,  6,  7,  8,  9,
     8,  9, 10, 11, 12, 13,
    12, 13, 14, 15, 16, 17,
    16, 17, 18, 19, 20, 21,
    20, 21, 22, 23, 24, 25,
    24, 25, 26, 27, 28, 29,
    28, 29, 30, 31, 32,  1,
};

const unsigned char kPerm[32] = {
    16,  7, 20, 21,
    29, 12, 28, 17,
     1, 15, 23, 26,
     5, 18, 31, 10,
     2,  8, 24, 14,
    32, 27,  3,  9,
    19, 13, 30,  6,
    22, 11,  4, 25,
};

const unsigned char kSBox[8][4][16] = {
    {{14, 4, 13, 1, 2, 15, 11, 8, 3, 10, 6, 12, 5, 9, 0, 7},
     {0, 15, 7, 4, 14, 2, 13, 1, 10, 6, 12, 11, 9, 5, 3, 8},
     {4, 1, 14, 8, 13, 6, 2, 11, 15, 12, 9, 7, 3, 10, 5, 0},
     {15, 12, 8, 2, 4, 9, 1, 7, 5, 11, 3, 14, 10, 0, 6, 13}},
    {{15, 1, 8, 14, 6, 11, 3, 4, 9, 7, 2, 13, 12, 0, 5, 10},
     {3, 13, 4, 7, 15, 2, 8, 14, 12, 0, 1, 10, 6, 9, 11, 5},
     {0, 14, 7, 11, 10, 4, 13, 1, 5, 8, 12, 6, 9, 3, 2, 15},
     {13, 8, 10, 1, 3, 15, 4, 2, 11, 6, 7, 12, 0, 5, 14, 9}},
    {{10, 0, 9, 14, 6, 3, 15, 5, 1, 13, 12, 7, 11, 4, 2, 8},
     {13, 7, 0, 9, 3, 4, 6, 10, 2, 8, 5, 14, 12, 11, 15, 1},
     {13, 6, 4, 9, 8, 15, 3, 0, 11, 1, 2, 12, 5, 10, 14, 7},
     {1, 10, 13, 0, 6, 9, 8, 7, 4, 15, 14, 3, 11, 5, 2, 12}},
    {{7, 13, 14, 3, 0, 6, 9, 10, 1, 2, 8, 5, 11, 12, 4, 15},
     {13, 8, 11, 5, 6, 15, 0, 3, 4, 7, 2, 12, 1, 10, 14, 9},
     {10, 6, 9, 0, 12, 11, 7, 13, 15, 1, 3, 14, 5, 2, 8, 4},
     {3, 15, 0, 6, 10, 1, 13, 8, 9, 4, 5, 11, 12, 7, 2, 14}},
    {{2, 12, 4, 1, 7, 10, 11, 6, 8, 5, 3, 15, 13, 0, 14, 9},
     {14, 11, 2, 12, 4, 7, 13, 1, 5, 0, 15, 10, 3, 9, 8, 6},
     {4, 2, 1, 11, 10, 13, 7, 8, 15, 9, 12, 5, 6, 3, 0, 14},
     {11, 8, 12, 7, 1, 14, 2, 13, 6, 15, 0, 9, 10, 4, 5, 3}},
    {{12, 1, 10, 15, 9, 2, 6, 8, 0, 13, 3, 4, 14, 7, 5, 11},
     {10, 15, 4, 2, 7, 12, 9, 5, 6, 1, 13, 14, 0, 11, 3, 8},
     {9, 14, 15, 5, 2, 8, 12, 3, 7, 0, 4, 10, 1, 13, 11, 6},
     {4, 3, 2, 12, 9, 5, 15, 10, 11, 14, 1, 7, 6, 0, 8, 13}},
    {{4, 11, 2, 14, 15, 0, 8, 13, 3, 12, 9, 7, 5, 10, 6, 1},
     {13, 0, 11, 7, 4, 9, 1, 10, 14, 3, 5, 12, 2, 15, 8, 6},
     {1, 4, 11, 13, 12, 3, 7, 14, 10, 15, 6, 8, 0, 5, 9, 2},
     {6, 11, 13, 8, 1, 4, 10, 7, 9, 5, 0, 15, 14, 2, 3, 12}},
    {{13, 2, 8, 4, 6, 15, 11, 1, 10, 9, 3, 14, 5, 0, 12, 7},
     {1, 15, 13, 8, 10, 3, 7, 4, 12, 5, 6, 11, 0, 14, 9, 2},
     {7, 11, 4, 1, 9, 12, 14, 2, 0, 6, 10, 13, 15, 3, 5, 8},
     {2, 1, 14, 7, 4, 10, 8, 13, 15, 12, 9, 0, 3, 5, 6, 11}},
};

// clang-format on

// Everything here derives from the key (a password for the LAN Manager
// hash), so it is wiped before the call returns.
struct DesWork {
    unsigned char key[64];
    unsigned char cd[56];
    unsigned char sub[16][48];
    unsigned char block[64];
    unsigned char lr[64];
    unsigned char er[48];
    unsigned char sOut[32];
    unsigned char f[32];
    unsigned char next[32];
    ~DesWork() { explicit_bzero(this, sizeof *this); }
};

void toBits(unsigned char *pBits, const unsigned char *pBytes, int cbBits)
{
    for (int i = 0; i < cbBits; ++i)
        pBits[i] = static_cast<unsigned char>((pBytes[i / 8] >> (7 - i % 8)) & 1);
}

void fromBits(unsigned char *pBytes, const unsigned char *pBits, int cbBits)
{
    memset(pBytes, 0, static_cast<size_t>(cbBits / 8));
    for (int i = 0; i < cbBits; ++i)
        pBytes[i / 8] = static_cast<unsigned char>(pBytes[i / 8] | (pBits[i] << (7 - i % 8)));
}

// The eight S-boxes over the 48 bits of er into 32 bits.
void substitute(unsigned char *pOut, const unsigned char *pIn)
{
    for (int box = 0; box < 8; ++box) {
        const unsigned char *b = pIn + 6 * box;
        const int row = b[0] * 2 + b[5];
        const int col = b[1] * 8 + b[2] * 4 + b[3] * 2 + b[4];
        const int v = kSBox[box][row][col];
        for (int j = 0; j < 4; ++j)
            pOut[4 * box + j] = static_cast<unsigned char>((v >> (3 - j)) & 1);
    }
}

}  // namespace

extern "C" void SmbDesConcat(unsigned char *pOut, const unsigned char *pA, const unsigned char *pB, int cbA, int cbB)
{
    memmove(pOut, pA, static_cast<size_t>(cbA));
    memmove(pOut + cbA, pB, static_cast<size_t>(cbB));
}

extern "C" void SmbDesLShift(unsigned char *pBits, int count, int cb)
{
    if (cb <= 0)
        return;
    // In place: no copy of key bits is left behind.
    std::rotate(pBits, pBits + count % cb, pBits + cb);
}

extern "C" void SmbDesPermute(unsigned char *pOut, const unsigned char *pIn, const unsigned char *pTable, int cb)
{
    for (int i = 0; i < cb; ++i)
        pOut[i] = pIn[pTable[i] - 1];
}

extern "C" void SmbDesXor(unsigned char *pOut, const unsigned char *pA, const unsigned char *pB, int cb)
{
    for (int i = 0; i < cb; ++i)
        pOut[i] = pA[i] ^ pB[i];
}

extern "C" void SmbDesHash(unsigned char *pOut, const unsigned char *pIn, const unsigned char *pKey, int fForward)
{
    DesWork w{};

    // Seven key bits to a byte, the parity bit 0.
    unsigned char *key56 = w.block;
    toBits(key56, pKey, 56);
    for (int i = 0; i < 8; ++i) {
        memcpy(w.key + 8 * i, key56 + 7 * i, 7);
        w.key[8 * i + 7] = 0;
    }

    SmbDesPermute(w.cd, w.key, kPc1, 56);
    for (int round = 0; round < 16; ++round) {
        SmbDesLShift(w.cd, kShifts[round], 28);
        SmbDesLShift(w.cd + 28, kShifts[round], 28);
        SmbDesPermute(w.sub[round], w.cd, kPc2, 48);
    }

    toBits(w.block, pIn, 64);
    SmbDesPermute(w.lr, w.block, kIp, 64);
    unsigned char *l = w.lr;
    unsigned char *r = w.lr + 32;
    for (int round = 0; round < 16; ++round) {
        SmbDesPermute(w.er, r, kExpand, 48);
        SmbDesXor(w.er, w.er, w.sub[fForward ? round : 15 - round], 48);
        substitute(w.sOut, w.er);
        SmbDesPermute(w.f, w.sOut, kPerm, 32);
        SmbDesXor(w.next, l, w.f, 32);
        memcpy(l, r, 32);
        memcpy(r, w.next, 32);
    }
    // The halves are swapped after the last round.
    SmbDesConcat(w.block, r, l, 32, 32);
    SmbDesPermute(w.lr, w.block, kIpInverse, 64);
    fromBits(pOut, w.lr, 64);
}

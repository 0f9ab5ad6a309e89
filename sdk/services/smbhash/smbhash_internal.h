// Building blocks of the DES and MD4 code: bit arrays of one byte per bit,
// the MD4 round functions and the static MD4 state.
#ifndef VEXA_SMBHASH_INTERNAL_H
#define VEXA_SMBHASH_INTERNAL_H

#include <stddef.h>
#include <stdint.h>

#include "services/smbhash/vexa_smbhash.h"

#ifdef __cplusplus
extern "C" {
#endif

/* pOut = a (cbA bits) followed by b (cbB bits). */
void SmbDesConcat(unsigned char *pOut, const unsigned char *pA, const unsigned char *pB, int cbA, int cbB);
/* Rotates cb bits left by count positions, in place. */
void SmbDesLShift(unsigned char *pBits, int count, int cb);
/* pOut bit i = pIn bit (table[i] - 1), for cb bits. */
void SmbDesPermute(unsigned char *pOut, const unsigned char *pIn, const unsigned char *pTable, int cb);
/* pOut = a xor b over cb bits. */
void SmbDesXor(unsigned char *pOut, const unsigned char *pA, const unsigned char *pB, int cb);

uint32_t Md4F(uint32_t x, uint32_t y, uint32_t z);
uint32_t Md4G(uint32_t x, uint32_t y, uint32_t z);
uint32_t Md4H(uint32_t x, uint32_t y, uint32_t z);
uint32_t Md4RotateLeft(uint32_t word, int count);
/* 16 little-endian words from 64 bytes. */
void Md4LoadBlock(uint32_t *pWords, const unsigned char *pBytes);
void Md4StoreLE32(unsigned char *pBytes, uint32_t word);

/* The chaining state of the hash being computed; 0 between hashes. */
extern uint32_t gMd4State[4];

#ifdef __cplusplus
}

#include "base/err/vral_err.h"

namespace vexa::smbhash {

// The arguments both hashes take; false with the code recorded.
inline bool argsUsable(const char *szPassword, const unsigned char *pOut, int cbOut)
{
    if (szPassword == nullptr || pOut == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return false;
    }
    if (cbOut < VEXA_SMB_HASH_SIZE) {
        VRAL_ERR_SET(ERR_BUFFER_TOO_SMALL);
        return false;
    }
    return true;
}

// Overwrites the 32 KiB of stack below its caller.
void wipeStack() noexcept;

// Runs hash, then wipes the stack its frames used: the callees (case
// mapping, code-page conversion, DES, MD4) leave copies of the password
// there, which builds without optimisation keep.  What hash returned.
template <typename Hash>
int withStackWiped(Hash hash)
{
    const int r = hash();
    wipeStack();
    return r;
}

}  // namespace vexa::smbhash
#endif

#endif

/* File-sharing password hashes: the LAN Manager and NT hashes stored in the
 * smbpasswd file, and the DES and MD4 primitives under them. */
#ifndef VEXA_SMBHASH_H
#define VEXA_SMBHASH_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define VEXA_SMB_HASH_SIZE 16

/* LAN Manager hash of a UTF-8 password into pOut (cbOut >= 16): the
 * password upper-cased, converted into the configured code page ("codepage"
 * of /etc/vexainfo.conf), cut or padded to 14 bytes, each half a DES key for
 * "KGS!@#$%".  0, or -1; pOut is written only on success. */
int VEXAEncodingSmbLmHash(const char *szPassword, unsigned char *pOut, int cbOut);

/* NT hash (MD4 of the UCS-2 little-endian text, at most 127 characters) of
 * a UTF-8 password into pOut (cbOut >= 16).  A password that is not valid
 * UTF-8 or holds a character outside the Basic Multilingual Plane fails
 * (ERR_CONVERSION_FAILED).  0, or -1; pOut is written only on success. */
int VEXAEncodingSmbMd4Hash(const char *szPassword, unsigned char *pOut, int cbOut);

/* One DES block: pIn (8 bytes) under the 56-bit key pKey (7 bytes, spread
 * over eight key bytes without parity) into pOut (8 bytes); fForward 1
 * encrypts, 0 decrypts. */
void SmbDesHash(unsigned char *pOut, const unsigned char *pIn, const unsigned char *pKey, int fForward);

/* MD4 of a whole message into pOut (16 bytes), through Md4Transform. */
void Md4Digest(const unsigned char *pMsg, size_t cbMsg, unsigned char *pOut);

/* One MD4 compression of 16 words over the static chaining state. */
void Md4Transform(const uint32_t *pWords);

#ifdef __cplusplus
}
#endif

#endif

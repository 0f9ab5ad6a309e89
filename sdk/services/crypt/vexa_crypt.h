/* The string scrambler: a one-rotor, one-reflector machine of 256
 * positions whose tables come from the DES crypt() of a fixed key.  The
 * reflector pairs positions, so scrambling the output again with the same
 * tables gives the input back (when the output holds no zero byte). */
#ifndef VEXA_CRYPT_H
#define VEXA_CRYPT_H

#ifdef __cplusplus
extern "C" {
#endif

#define VEXA_STRCRYPT_KEY_SIZE 13

/* Process-wide, rebuilt by every VEXAStrCrypt, not locked. */
extern unsigned char gStrCryptRotor[256];
extern unsigned char gStrCryptInvRotor[256];
extern unsigned char gStrCryptReflector[256];
/* The first 12 characters of the crypt() result, then a NUL. */
extern char gStrCryptKey[VEXA_STRCRYPT_KEY_SIZE];

/* Builds the three tables.  0, or -1 with the tables cleared when crypt()
 * fails or gives other than 13 characters. */
int VEXAStrCryptInitTables(void);

/* Scrambles szIn up to its NUL into szOut (iLen bytes, the rest zeroed).
 * 0, or -1 for a NULL argument, iLen not above the input's length, or
 * tables that cannot be built. */
int VEXAStrCrypt(const char *szIn, char *szOut, int iLen);

#ifdef __cplusplus
}
#endif

#endif

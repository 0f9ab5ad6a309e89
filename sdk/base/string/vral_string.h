/* String helpers of the SDK: growable buffers, joining, trimming,
 * replacing, splitting into string lists, colon escaping, base64 and
 * temporary file names. */
#ifndef VRAL_STRING_H
#define VRAL_STRING_H

#include <stddef.h>

#include "base/list/vral_list.h"

#ifdef __cplusplus
extern "C" {
#endif

/* realloc that frees the block when it fails; size 0 frees and gives NULL. */
void *VRALReallocOrFree(void *pBlock, size_t cbSize);

/* Makes *ppData at least cbNeed bytes (new blocks are zeroed).  A failed
 * growth frees the block and leaves NULL.  0 or -1. */
int VEXACheckAndRealloc(char **ppData, int *pcbAlloc, unsigned int cbNeed);

/* Joins the non-NULL items with szSep into the growable buffer. 0 or -1. */
int VRALStrJoin(const char **rgszItem, int nItem, const char *szSep, char **ppBuf, int *pcbBuf);

/* Trims tab, newline, carriage return and blank at both ends, then one pair
 * of enclosing double quotes.  szOut NULL (or szIn) works in place.
 * Returns the result's length, or -1. */
int VRALStrTrimSpace(char *szIn, char *szOut);

/* Replaces the first szOld in szStr by szNew, into szOut (cbOut bytes) or in
 * place when szOut is NULL (cbOut is then szStr's buffer size).
 * 1 replaced, 0 not present, -1 failure. */
int VRALStrReplace(char *szStr, const char *szOld, const char *szNew, char *szOut, int cbOut);

/* Splits at every delimiter keeping empty tokens; the number pushed or -1. */
int VRALStrSep(const char *szStr, const char *szDelims, VRALSzList **ppList);

/* Pushes the trimmed key and value of "key=value"; 0 or -1. */
int VRALStrSepPair(const char *szStr, VRALSzList **ppList);

/* Next non-empty token of *pszCursor, cut in place; NULL when used up. */
char *VRALStrTokNext(char **pszCursor, const char *szDelims);

/* Splits at delimiters dropping empty tokens; the number pushed or -1. */
int VRALStrTok(const char *szStr, const char *szDelims, VRALSzList **ppList);

/* Colon escaping for colon-separated files: ':' <-> ";," and ';' <-> ";;".
 * The output's length, or -1. */
int VRALStrEncodeColon(const char *szIn, char *szOut, int cbOut);
int VRALStrDecodeColon(const char *szIn, char *szOut, unsigned int cbOut);

/* Base64 of the data on one line, stopping at a NUL byte that begins a group
 * of three.  The result is the encoder's own buffer, valid until the next
 * call; NULL on failure. */
char *SzBase64EncodeOneLine(const unsigned char *pData, unsigned int cbData);

/* Base64 of all cbData bytes, zero bytes too, in the same buffer. */
char *SzBase64EncodeBytes(const unsigned char *pData, unsigned int cbData);

/* Decodes cchSrc characters into pDst (*pcbDst bytes); *pcbDst becomes the
 * number of bytes stored.  1 when the whole input was consumed, else 0. */
int Base64DecodeOneLine(const char *szSrc, unsigned int cchSrc, unsigned char *pDst, unsigned int *pcbDst);

/* The base64 character of the low 6 bits of iValue. */
char Base64ValueToChar(int iValue);

/* szBase followed by "<pid>-<counter>" into szBuf (cbBuf bytes); 0 or -1. */
int VRALFileTempNameGet(const char *szBase, char *szBuf, int cbBuf);

/* Writes szWord as one single-quoted /bin/sh word into szBuf (a quote
 * becomes '\''), so no path or name put into a command line is ever read
 * as shell syntax.  Returns the quoted length, or -1 (szBuf emptied when
 * cbBuf > 0) for a NULL argument or when it does not fit with its NUL. */
int VRALStrShellQuote(const char *szWord, char *szBuf, size_t cbBuf);

#ifdef __cplusplus
}

#include <string>
#include <string_view>

/* The same as a string: the one quoting every command line is built with. */
std::string VRALStrShellQuoteString(std::string_view word);
#endif

#endif

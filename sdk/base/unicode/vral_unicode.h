/* Unicode helpers of the SDK: upper-casing (a name's key form), code-point
 * counting and case-insensitive collation, all through ICU under one
 * process-wide collation locale. */
#ifndef VRAL_UNICODE_H
#define VRAL_UNICODE_H

#include <unicode/ucol.h>
#include <unicode/umachine.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Upper-casing and collation ---------------------------------------- */

/* Collation locale, "" (ICU's root) unless someone sets it; it must be one
 * of gLocaleList (NULL-ended). */
#define VRAL_COLLATOR_LOCALE_SIZE 32
extern char gszCollatorLocale[VRAL_COLLATOR_LOCALE_SIZE];
extern const char *const gLocaleList[];

/* Upper-cases szSrc into szOut (cbOut bytes).  Returns the byte length of the
 * upper-cased text whether or not it fitted; when it does not fit (result >=
 * cbOut) szOut is left empty.  szOut NULL with cbOut 0 asks for the length.
 * -1 on failure. */
int VRALUnicodeUTF8StrUpper(const char *szSrc, char *szOut, int cbOut);

/* -1, 0 or 1 as a sorts before, equal to or after b, ignoring case; -2 on
 * failure. */
int VRALUnicodeUTF8StrCaseCmp(const char *szA, const char *szB);

/* Upper-cases the NUL-terminated UTF-16 text into *ppOut (a heap block of
 * cchOut units), replacing the block by a larger one when it is too small.
 * Returns the length in units of the terminated result, or -1. */
int VRALUnicodeUTF16StrUpper(const UChar *pSrc, UChar **ppOut, int cchOut);

/* Number of code points of a UTF-8 string, or -1. */
int VRALUnicodeUTF8StrCountChar(const char *szSrc);

/* Stores the collation locale through ppszLocale; 1 when it is usable,
 * -1 (ERR_NOT_FOUND) when not.  fForce re-checks a locale already passed. */
int VRALUnicodeGetLocale(int fForce, const char **ppszLocale);

/* The process's collator, opened on first use and never closed; NULL on
 * failure. */
UCollator *VRALUnicodeOpenCollator(void);

/* ---- Code pages --------------------------------------------------------- */

#ifdef __cplusplus
}
#endif

#endif

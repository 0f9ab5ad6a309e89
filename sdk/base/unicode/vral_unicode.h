/* Unicode helpers of the SDK: upper-casing (a name's key form), code-point
 * counting and case-insensitive collation, all through ICU under one
 * process-wide collation locale. */
#ifndef VRAL_UNICODE_H
#define VRAL_UNICODE_H

#include <unicode/ucnv.h>
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

/* Converter ids name the ICU converters of gConvertorTable (the id is the
 * row's position); gCodepageLangTable maps a language code of the codepage
 * keys to the ids of its two converters.  Both end with a NULL name. */
#define VRAL_CONVERTOR_COUNT 34
#define VRAL_CONVERTOR_UTF8  0
#define VRAL_CONVERTOR_UTF16 1
#define VRAL_CONVERTOR_MAC_OFFSET 16   /* a first id's Mac counterpart */

/* Kinds of code-page lookup. */
#define VRAL_CODEPAGE_FIRST   1   /* first id, from codepage */
#define VRAL_CODEPAGE_SECOND  2   /* second id, from codepage */
#define VRAL_CODEPAGE_MAC     3   /* first id + 16, from codepage */
#define VRAL_CODEPAGE_MEDIA   4   /* first id, from codepage_mediaservice */

typedef struct _tag_VRALCONVERTOR {
    int id;
    const char *szName;
} VRALCONVERTOR;

typedef struct _tag_VRALCODEPAGELANG {
    const char *szLang;
    int idFirst;
    int idSecond;
} VRALCODEPAGELANG;

extern const VRALCONVERTOR gConvertorTable[VRAL_CONVERTOR_COUNT + 1];
extern const VRALCODEPAGELANG gCodepageLangTable[];

/* Converter id of the configured code page ("/etc/vexainfo.conf", key
 * codepage_mediaservice for kind 4, codepage otherwise) into *pId: 0, or
 * -1. */
int VEXAConfCodePageGet(int kind, int *pId);

/* Converter id for a language code (ASCII case ignored) and kind 1 to 4;
 * "utf8" gives 0 for every kind.  -1 when the code or kind is unknown. */
int VRALUnicodeCodepageValueParse(int kind, const char *szValue);

/* The converter of an id, opened on first use and never closed; NULL on
 * failure. */
UConverter *VRALUnicodeOpenConvertor(int id);

/* Converts UTF-8 text into the code page of a converter id, into szOut
 * (cbOut bytes, NUL-terminated).  Returns the byte length of the converted
 * text whether or not it fitted; when it does not fit (result >= cbOut)
 * szOut is left empty.  szOut NULL with cbOut 0 asks for the length.  -1 on
 * failure. */
int VRALUnicodeStrUTF8ToCP(int id, const char *szSrc, char *szOut, int cbOut);

#ifdef __cplusplus
}
#endif

#endif

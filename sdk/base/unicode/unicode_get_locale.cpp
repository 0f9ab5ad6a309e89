#include <cstring>

#include "base/err/vral_err.h"
#include "base/unicode/vral_unicode.h"

// Empty names ICU's root locale; nothing in the system changes it.
char gszCollatorLocale[VRAL_COLLATOR_LOCALE_SIZE] = "";

const char *const gLocaleList[] = {
    "", "de_DE", "en_US", "es_ES", "fr_FR", "it_IT", "ja_JP", "ko_KR", "pt_BR", "zh__PINYIN", "zh_TW_STROKE",
    nullptr,
};

namespace {
int gfLocaleChecked = 0;
}

extern "C" int VRALUnicodeGetLocale(int fForce, const char **ppszLocale)
{
    if (ppszLocale == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    *ppszLocale = gszCollatorLocale;
    if (fForce == 0 && gfLocaleChecked)
        return 1;
    for (const char *const *p = gLocaleList; *p != nullptr; ++p) {
        if (strcmp(*p, gszCollatorLocale) == 0) {
            gfLocaleChecked = 1;
            return 1;
        }
    }
    VRAL_ERR_SET(ERR_NOT_FOUND);
    return -1;
}

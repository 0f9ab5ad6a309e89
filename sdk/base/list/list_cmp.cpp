#include <cstring>

#include "base/list/vral_list.h"
#include "base/unicode/vral_unicode.h"

extern "C" int VRALSzListCmp(const void *pA, const void *pB)
{
    return strcmp(*static_cast<const char *const *>(pA), *static_cast<const char *const *>(pB));
}

extern "C" int VRALSzListCaseCmp(const void *pA, const void *pB)
{
    return VRALUnicodeUTF8StrCaseCmp(*static_cast<const char *const *>(pA), *static_cast<const char *const *>(pB));
}

#include <strings.h>
#include <syslog.h>

#include "base/unicode/vral_unicode.h"

extern "C" const VRALCODEPAGELANG gCodepageLangTable[] = {
    {"utf8", 0, 0},  {"enu", 15, 2}, {"fre", 15, 4}, {"ger", 15, 4}, {"ita", 15, 4},
    {"spn", 15, 4},  {"cht", 12, 12}, {"chs", 10, 10}, {"jpn", 9, 9}, {"krn", 11, 11},
    {"ptb", 15, 4},  {"rus", 14, 8}, {"dan", 15, 4}, {"nor", 15, 4}, {"sve", 15, 4},
    {"nld", 15, 4},  {"plk", 13, 5}, {"ptg", 15, 4}, {"hun", 13, 5}, {"trk", 17, 6},
    {nullptr, -1, -1},
};

extern "C" int VRALUnicodeCodepageValueParse(int kind, const char *szValue)
{
    if (szValue == nullptr)
        return -1;
    for (const VRALCODEPAGELANG *p = gCodepageLangTable; p->szLang != nullptr; ++p) {
        if (strcasecmp(p->szLang, szValue) != 0)
            continue;
        switch (kind) {
        case VRAL_CODEPAGE_FIRST:
        case VRAL_CODEPAGE_MEDIA:
            return p->idFirst;
        case VRAL_CODEPAGE_SECOND:
            return p->idSecond;
        case VRAL_CODEPAGE_MAC:
            // UTF-8 has no Mac counterpart: it stays UTF-8.
            return p->idFirst == VRAL_CONVERTOR_UTF8 ? VRAL_CONVERTOR_UTF8
                                                     : p->idFirst + VRAL_CONVERTOR_MAC_OFFSET;
        default:
            syslog(LOG_ERR, "%s (%d) Bad parameter (%d).", __FILE__, __LINE__, kind);
            // Language codes are unique: no later row can match.
            return -1;
        }
    }
    return -1;
}

#include <syslog.h>

#include <cerrno>
#include <cstdlib>

#include "base/file/vral_file.h"
#include "base/lock/vral_lock.h"
#include "base/unicode/vral_unicode.h"
#include "updt_preflash.h"

namespace {

constexpr const char *kInfo = VEXA_INFO_CONF;

struct CodePage {
    long number;
    const char *lang;
};

constexpr CodePage kCodePages[] = {
    {852, "plk"}, {866, "rus"}, {932, "jpn"}, {936, "chs"}, {949, "krn"}, {950, "cht"}, {1254, "trk"},
};

// The language code of a numeric code page; any other value, text that is
// not a number included, is "enu".
const char *languageOf(const char *szValue)
{
    if (*szValue < '0' || *szValue > '9')
        return "enu";
    char *end = nullptr;
    errno = 0;
    const long n = strtol(szValue, &end, 10);
    if (errno != 0 || *end != '\0')
        return "enu";
    for (const CodePage &cp : kCodePages) {
        if (cp.number == n)
            return cp.lang;
    }
    return "enu";
}

}  // namespace

void UpdateCodepageKey(const char *szKey)
{
    char value[8] = {};
    if (VRALFileGetKeyValue(kInfo, szKey, value, sizeof value, 0) > 0) {
        // A language code already (a retry after a rolled-back write) stays.
        if (VRALUnicodeCodepageValueParse(1, value) >= 0)
            return;
    } else {
        value[0] = '\0';
    }
    const char *lang = languageOf(value);
    if (VEXAINFOSetKeyValue(szKey, lang) < 0)
        syslog(LOG_ERR, "%s (%d) Failed to set key [%s] to value [%s]", "updater", __LINE__, szKey, lang);
}

void UpdateCodepageConfig(void)
{
    UpdateCodepageKey("codepage");
    UpdateCodepageKey("codepage_mediaservice");
    (void)VRALFileRemoveKey(kInfo, "codepage_apple");
}

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/err/err_guard.h"
#include "base/file/vral_file.h"
#include "services/log/log_internal.h"

int gLogSizeLimit = 65536;

namespace {

using vexalog::LogClass;

// Class 2 is written as class 1, to the system log.
const LogClass *logClass(int iClass)
{
    return vexalog::logClassOf(iClass == 2 ? 1 : iClass);
}

// The configured limit: a decimal from VEXA_LOG_SIZE_MIN to
// VEXA_LOG_SIZE_MAX, else 0 (as a missing key).
int configuredLimit(const char *sizeKey)
{
    char value[32] = {};
    if (VRALFileGetKeyValue(VEXA_LOG_CONF, sizeKey, value, sizeof value, 0) <= 0 || value[0] < '0' ||
        value[0] > '9' || strlen(value) > 10)
        return 0;
    char *end = nullptr;
    errno = 0;
    const long v = strtol(value, &end, 10);
    if (errno != 0 || *end != '\0' || v < VEXA_LOG_SIZE_MIN || v > VEXA_LOG_SIZE_MAX)
        return 0;
    return static_cast<int>(v);
}

int logSet(int iClass, int iLevel, unsigned uEvent, const char *const texts[4])
{
    if (iClass < 1 || iClass > 8) {
        syslog(LOG_ERR, "logclass error!");
        return -1;
    }
    const LogClass *cls = logClass(iClass);
    if (cls == nullptr)
        return -1;
    const int shrinkClass = iClass == 2 ? 1 : iClass;
    struct stat st {};
    std::string path;
    if (stat(VEXA_LOG_CONF, &st) != 0) {
        if (VEXALogSetLogConf() != 0)
            return -1;
        gLogSizeLimit = cls->defaultLimit;
        VEXALogChangeSize(gLogSizeLimit, shrinkClass);
    } else {
        if (iClass > 2)
            syslog(LOG_INFO, "VEXA : log file %s opened", VEXA_LOG_CONF);
        const int limit = configuredLimit(cls->sizeKey);
        gLogSizeLimit = limit != 0 ? limit : cls->defaultLimit;
        if (limit != 0)
            VEXALogChangeSize(limit, shrinkClass);
        char file[64] = {};
        // A name that is not absolute (a file cut short) counts as missing.
        if (VRALFileGetKeyValue(VEXA_LOG_CONF, cls->fileKey, file, sizeof file, 0) > 0 && file[0] == '/' &&
            strlen(file) <= 31)
            path = file;
    }
    if (path.empty())
        path = vexalog::builtInFile(shrinkClass);
    return VEXALogWriteRecord(path.c_str(), iLevel, uEvent, texts[0], texts[1], texts[2], texts[3]) == 0 ? 0 : -1;
}

}  // namespace

extern "C" int VEXALogSet(int iClass, int iLevel, unsigned int uEvent, const char *szText1, const char *szText2,
                          const char *szText3, const char *szText4)
{
    const char *texts[4] = {szText1, szText2, szText3, szText4};
    for (const char *&t : texts) {
        if (t == nullptr)
            t = "";
        else if (t[0] == '\0')
            t = " ";
    }
    return vral::NoThrow(-1, [&] { return logSet(iClass, iLevel, uEvent, texts); });
}

// Pieces shared by the network-backup account functions.
#ifndef VEXA_NETBKP_INTERNAL_H
#define VEXA_NETBKP_INTERNAL_H

#include <syslog.h>

#include <cstring>
#include <string>

#include "base/err/err_guard.h"
#include "services/netbkp/vexa_netbkp.h"

// "%s %s(%d)": source file, step, line.
#define NETBKP_LOG(step, fmt, ...) \
    syslog(LOG_ERR, "%s %s(%d)" fmt, __FILE_NAME__, step, __LINE__ __VA_OPT__(,) __VA_ARGS__)

namespace vexa::netbkp {

// A secrets line holds at most this many characters.
inline constexpr size_t kSecretsLineMax = 3089;

// "admin" is kept under "root" (the exact spelling only).
inline const char *accountName(const char *szName)
{
    return szName != nullptr && strcmp(szName, "admin") == 0 ? "root" : szName;
}

// What a secrets line of the account begins with: the whole name and ":".
inline std::string secretsKey(const char *szName)
{
    return std::string(szName) + ":";
}

}  // namespace vexa::netbkp

#endif

// The SDK's log line: where it was written, then what happened.  One
// macro per shape of line; every family logs through these.
#ifndef VEXA_ERR_LOG_H
#define VEXA_ERR_LOG_H

#include <syslog.h>

#define VRAL_LOG(pri, fmt, ...) syslog((pri), "%s:%d " fmt, __FILE_NAME__, __LINE__ __VA_OPT__(, ) __VA_ARGS__)
#define VRAL_LOG_ERR(fmt, ...) VRAL_LOG(LOG_ERR, fmt __VA_OPT__(, ) __VA_ARGS__)

#endif

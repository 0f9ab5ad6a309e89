// The log lines of the SDK and the updater: who wrote the line and where,
// then what happened.  One macro per shape of line; every family and stage
// logs through these, naming itself where it does not go by its source
// file.  Offered to the updater on purpose.
#ifndef VEXA_ERR_LOG_H
#define VEXA_ERR_LOG_H

#include <syslog.h>

// "<name>:<line> text"; by default the source file's name.
#define VRAL_LOG_AT(pri, name, fmt, ...) syslog((pri), "%s:%d " fmt, (name), __LINE__ __VA_OPT__(, ) __VA_ARGS__)
#define VRAL_LOG(pri, fmt, ...) VRAL_LOG_AT((pri), __FILE_NAME__, fmt __VA_OPT__(, ) __VA_ARGS__)
#define VRAL_LOG_ERR(fmt, ...) VRAL_LOG_AT(LOG_ERR, __FILE_NAME__, fmt __VA_OPT__(, ) __VA_ARGS__)
#define VRAL_LOG_AS(name, fmt, ...) VRAL_LOG_AT(LOG_ERR, (name), fmt __VA_OPT__(, ) __VA_ARGS__)

// "<name>(<line>): text": a function speaking for itself.
#define VRAL_LOG_CALL(name, fmt, ...) syslog(LOG_ERR, "%s(%d): " fmt, (name), __LINE__ __VA_OPT__(, ) __VA_ARGS__)

// "<name>(<line>) text".
#define VRAL_LOG_LINE(name, fmt, ...) syslog(LOG_ERR, "%s(%d) " fmt, (name), __LINE__ __VA_OPT__(, ) __VA_ARGS__)

// "<source file> (<line>) text".
#define VRAL_LOG_SPACED(fmt, ...) syslog(LOG_ERR, "%s (%d) " fmt, __FILE_NAME__, __LINE__ __VA_OPT__(, ) __VA_ARGS__)

// "<name>:<line>(<function>) text", the line given.
#define VRAL_LOG_IN(name, line, func, fmt, ...) \
    syslog(LOG_ERR, "%s:%d(%s) " fmt, (name), (line), (func) __VA_OPT__(, ) __VA_ARGS__)

#endif

// The updater's lines that go by the program's name rather than a
// function's: "updater:<line> text" and "updater(<line>) text".
#ifndef UPDT_LOG_H
#define UPDT_LOG_H

#include "base/err/err_log.h"

#define UPDT_LOG(fmt, ...) VRAL_LOG_AS("updater", fmt __VA_OPT__(, ) __VA_ARGS__)
#define UPDT_LOG_LINE(fmt, ...) VRAL_LOG_LINE("updater", fmt __VA_OPT__(, ) __VA_ARGS__)

#endif

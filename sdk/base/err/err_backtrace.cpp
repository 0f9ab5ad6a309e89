#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "base/err/err_state.h"

extern "C" void VRALErrBacktracePrint(void)
{
    const vral::err::State &s = vral::err::state();
    if (s.symbols == nullptr)
        return;
    for (int i = 0; i < s.nFrames; ++i)
        puts(s.symbols[i]);
}

extern "C" void VRALErrBacktraceLog(void)
{
    const vral::err::State &s = vral::err::state();
    if (s.symbols == nullptr)
        return;
    // O_NOCTTY: a daemon without a terminal must not acquire the console.
    int fd = open("/dev/console", O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0) {
        FILE *con = fdopen(fd, "w");
        if (con != nullptr) {
            for (int i = 0; i < s.nFrames; ++i)
                fprintf(con, "%s\n", s.symbols[i]);
            fclose(con);
        } else {
            close(fd);
        }
    }
    for (int i = 0; i < s.nFrames; ++i)
        syslog(LOG_ERR, "%s\n", s.symbols[i]);
}

extern "C" void VRALErrBacktraceFree(void)
{
    vral::err::State &s = vral::err::state();
    free(s.symbols);
    s.symbols = nullptr;
}

namespace {
struct FreeAtExit {
    ~FreeAtExit() { VRALErrBacktraceFree(); }
} freeAtExit;
}  // namespace

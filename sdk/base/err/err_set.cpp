#include <execinfo.h>

#include <cstdlib>

#include "base/err/err_state.h"

namespace vral::err {

State &state()
{
    static State s;
    return s;
}

}  // namespace vral::err

extern "C" void VRALErrBacktraceSave(void)
{
    vral::err::State &s = vral::err::state();
    if (s.symbols != nullptr) {
        free(s.symbols);
        s.symbols = nullptr;
    }
    s.nFrames = backtrace(s.frames, VRAL_ERR_MAX_FRAMES);
    if (s.nFrames < 0)
        s.nFrames = 0;
    s.symbols = backtrace_symbols(s.frames, s.nFrames);
}

extern "C" void VRALErrSet(int code, const char *file, int line)
{
    vral::err::State &s = vral::err::state();
    s.file = file;
    s.line = line;
    s.code = code;
    VRALErrBacktraceSave();
}

extern "C" void VRALErrSetCode(int code)
{
    VRALErrSet(code, nullptr, 0);
}

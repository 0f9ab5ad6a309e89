// The process-wide error record, shared by the error-state source files.
#ifndef VRAL_ERR_STATE_H
#define VRAL_ERR_STATE_H

#include "base/err/vral_err.h"

namespace vral::err {

struct State {
    int code = 0;
    const char *file = nullptr;
    int line = 0;
    char **symbols = nullptr;
    int nFrames = 0;
    void *frames[VRAL_ERR_MAX_FRAMES] = {};
};

State &state();

}  // namespace vral::err

// Replaces the held backtrace with the current call stack (the recording
// steps after code, file and line are stored).
extern "C" void VRALErrBacktraceSave(void);

#endif

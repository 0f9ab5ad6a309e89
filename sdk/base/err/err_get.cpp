#include "base/err/err_state.h"

extern "C" int VRALErrGet(void)
{
    return vral::err::state().code;
}

extern "C" const char *VRALErrFileGet(void)
{
    return vral::err::state().file;
}

extern "C" int VRALErrLineGet(void)
{
    return vral::err::state().line;
}

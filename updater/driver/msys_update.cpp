// The run on MSys flash: the one sequence, given the MSys road.
#include "updt_msys_update.h"

#include "updt_sequence.h"

extern "C" int UPDTMSysUpdate(char *state)
{
    updt::Ending ending;
    return updt::runSequence(state, updt::msysRoad(), ending);
}

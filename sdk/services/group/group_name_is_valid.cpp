#include "services/group/group_internal.h"

extern "C" int VEXAGroupNameIsValid(const char *name)
{
    return vexauser::nameRuleOk(name, 15);
}

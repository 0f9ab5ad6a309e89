#include "base/err/err_guard.h"
#include "services/group/group_internal.h"

namespace {

int groupNameIsValid(const char *name)
{
    return vexauser::nameRuleOk(name, 15);
}

}  // namespace

extern "C" int VEXAGroupNameIsValid(const char *name)
{
    return vral::NoThrow(0, [&] { return groupNameIsValid(name); });
}

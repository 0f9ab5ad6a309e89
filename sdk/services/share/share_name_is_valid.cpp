#include "base/err/err_guard.h"
#include "base/unicode/vral_unicode.h"
#include "services/share/share_internal.h"
#include "services/user/user_internal.h"

namespace {

int shareNameIsValid(const char *name)
{
    // a name that is not UTF-8 has no key form and could never be stored
    return vexauser::nameRuleOk(name, 32) == 1 && VRALUnicodeUTF8StrCountChar(name) >= 0 ? 1 : 0;
}

}  // namespace

extern "C" int VEXAShareNameIsValid(const char *name)
{
    return vral::NoThrow(0, [&] { return shareNameIsValid(name); });
}

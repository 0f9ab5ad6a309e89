#include "base/unicode/vral_unicode.h"
#include "services/share/share_internal.h"
#include "services/user/user_internal.h"

extern "C" int VEXAShareNameIsValid(const char *name)
{
    // a name that is not UTF-8 has no key form and could never be stored
    return vexauser::nameRuleOk(name, 32) == 1 && VRALUnicodeUTF8StrCountChar(name) >= 0 ? 1 : 0;
}

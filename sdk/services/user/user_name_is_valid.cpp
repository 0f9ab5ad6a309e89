#include <cstring>

#include "base/err/err_guard.h"
#include "base/unicode/vral_unicode.h"
#include "services/user/user_internal.h"

namespace vexauser {

int nameRuleOk(const char *name, int maxChars)
{
    if (name == nullptr || name[0] == '\0')
        return 0;
    if (VRALUnicodeUTF8StrCountChar(name) > maxChars)
        return 0;
    const size_t len = strlen(name);
    if (name[0] == '-' || name[0] == ' ' || name[len - 1] == ' ')
        return 0;
    for (size_t i = 0; i < len; ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                        c == '-' || c == '_' || c == ' ' || c >= 0x80;
        if (!ok)
            return 0;
    }
    return 1;
}

}  // namespace vexauser

namespace {

int userNameIsValid(const char *name)
{
    return vexauser::nameRuleOk(name, 64);
}

}  // namespace

extern "C" int VEXAUserNameIsValid(const char *name)
{
    return vral::NoThrow(0, [&] { return userNameIsValid(name); });
}

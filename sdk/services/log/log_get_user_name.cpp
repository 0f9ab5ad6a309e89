#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "services/log/log_internal.h"
#include "services/user/vexa_user.h"

namespace {
char gUserName[256];
}

const char *VEXALogGetUserName()
{
    const char *name = getenv("USERNAME");
    VEXAUSER *pUser = nullptr;
    if (name == nullptr)
        name = VEXAUserGetByUid(static_cast<int>(geteuid()), &pUser) == 0 && pUser != nullptr ? pUser->szName : "";
    if (strcmp(name, "root") == 0)
        name = "admin";
    snprintf(gUserName, sizeof gUserName, "%s", name);
    VEXAUserFree(pUser);
    return gUserName;
}

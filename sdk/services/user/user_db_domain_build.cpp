#include <cstring>
#include <string>

#include "services/user/user_internal.h"
#include "services/account/vexa_account.h"

extern "C" int UserDBDomainBuild(VEXABDB *h)
{
    if (h == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    char workgroup[64];
    int isDomain = 0;
    int sambaOn = 0;
    if (VEXAWinsQuery1(workgroup, sizeof workgroup, &isDomain, &sambaOn) != 0 || sambaOn != 1 || isDomain != 1)
        return 0;
    vexauser::LineReader in(USER_FILE_DOMAIN);
    if (!in.ok()) {
        USER_LOG("fopen(%s) failed. errno=%s", USER_FILE_DOMAIN, strerror(errno));
        VRAL_ERR_SET(ERR_OPEN_FAILED);
        return -1;
    }
    int count = 0;
    char name[2 * USER_KEY_SIZE];
    std::string record;
    while (char *line = in.next()) {
        char *colon = strrchr(line, ':');
        if (colon == nullptr)
            continue;
        *colon = '\0';
        ++count;
        const int len = vexauser::keyForm(line, name, sizeof name);
        if (len < 0) {
            // one unusable name does not keep the other domain users out
            USER_LOG("%s line %d: user name has no key form, skipped", in.path(), in.lineNo());
            continue;
        }
        record = std::string(line) + ":x:-1:-1:::";
        if (VEXABDbSet(h, name, len + 1, record.c_str(), static_cast<int>(record.size()) + 1) != 0) {
            USER_LOG("VEXABDbSet() failed! vexaerr=0x%04X", VRALErrGet());
            return -1;
        }
    }
    if (count == 0)
        USER_LOG("domain user build nothing");
    VEXABDbDomainExpireTimeSet(h);
    return 0;
}

#include <cstring>
#include <string>

#include "services/account/vexa_account.h"
#include "services/group/group_internal.h"

extern "C" int GroupDBDomainBuild(VEXABDB *h)
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
    vexauser::LineReader in(GROUP_FILE_DOMAIN);
    if (!in.ok()) {
        GROUP_LOG("fopen(%s) failed. errno=%s", GROUP_FILE_DOMAIN, strerror(errno));
        VRAL_ERR_SET(ERR_OPEN_FAILED);
        return -1;
    }
    int count = 0;
    char NAME[vexagroup::kDomainKeySize];
    std::string record;
    while (char *line = in.next()) {
        char *colon = strrchr(line, ':');
        if (colon == nullptr)
            continue;
        *colon = '\0';
        ++count;
        // ":" in the name gives a line no walk can unpack, "#" a marker key
        if (strchr(line, ':') != nullptr || line[0] == '#' ||
            vexauser::keyForm(line, NAME, sizeof NAME) < 0) {
            GROUP_LOG("%s line %d: unusable domain group name, skipped", in.path(), in.lineNo());
            continue;
        }
        record = std::string(line) + ":x:-1:";
        if (VEXABDbSet(h, NAME, static_cast<int>(strlen(NAME)) + 1, record.c_str(),
                       static_cast<int>(record.size()) + 1) != 0) {
            GROUP_LOG("VEXABDbSet() failed! vexaerr=0x%04X", VRALErrGet());
            return -1;
        }
    }
    if (count == 0)
        GROUP_LOG("domain group build nothing");
    VEXABDbDomainExpireTimeSet(h);
    return 0;
}

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/err/err_guard.h"
#include "services/group/group_internal.h"
#include "services/user/user_list_internal.h"

extern "C" int VEXAGroupDBUnpack(const char *line, VEXAGROUP **ppGroup)
{
    return vral::NoThrow(-1, [&] {
        if (line == nullptr || ppGroup == nullptr) {
            VRAL_ERR_SET(ERR_BAD_PARAMETERS);
            return -1;
        }
        // name, password, gid, members: the line may lie in the block
        std::vector<std::string> fields;
        const char *p = line;
        for (const char *colon; (colon = strchr(p, ':')) != nullptr; p = colon + 1)
            fields.emplace_back(p, static_cast<size_t>(colon - p));
        fields.emplace_back(p);
        if (fields.size() != 4) {
            VRAL_ERR_SET(ERR_BAD_FORMAT);
            return -1;
        }
        if (fields[0].empty()) {
            VRAL_ERR_SET(ERR_BAD_GROUP_NAME);
            return -1;
        }
        std::vector<std::string> members = vexauser::splitList(fields[3].c_str());
        std::vector<char *> argv;
        for (std::string &m : members)
            argv.push_back(m.data());
        argv.push_back(nullptr);
        if (VEXAGroupAlloc2(ppGroup, fields[0].c_str(), atoi(fields[2].c_str()), argv.data()) != 0) {
            VRAL_LOG_ERR("VEXAGroupAlloc2 failed. vexaerr=0x%04X", VRALErrGet());
            return -1;
        }
        return 0;
    });
}

namespace {

VEXAGROUP *groupAlloc(const char *line)
{
    VEXAGROUP *g = nullptr;
    if (VEXAGroupDBUnpack(line, &g) != 0) {
        VEXAGroupFree(g);
        return nullptr;
    }
    return g;
}

}  // namespace

extern "C" VEXAGROUP *VEXAGroupAlloc(const char *line)
{
    return vral::NoThrow(static_cast<VEXAGROUP *>(nullptr), [&] { return groupAlloc(line); });
}

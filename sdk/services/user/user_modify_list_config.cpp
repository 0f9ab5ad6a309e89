#include <cstring>
#include <string>
#include <vector>

#include "base/err/err_guard.h"
#include "base/string/vral_string.h"
#include "services/user/user_internal.h"
#include "services/user/user_list_internal.h"
#include "services/user/vexa_user_list.h"

extern "C" int VEXAUserModifyListConfig(const char *list, char **pOut, int *pcbOut, VRALSzHash *renameMap)
{
    return vral::NoThrow(-1, [&] {
        if (list == nullptr || pOut == nullptr || pcbOut == nullptr || renameMap == nullptr) {
            VRAL_ERR_SET(ERR_BAD_PARAMETERS);
            return -1;
        }
        std::vector<std::string> items = vexauser::splitList(list);
        bool changed = false;
        for (std::string &item : items) {
            char NAME[493];
            // a name without a key form is in no map
            if (vexauser::keyForm(item.c_str(), NAME, sizeof NAME) < 0)
                continue;
            const char *to = SzVRALSzHashGetValue(renameMap, NAME);
            if (to == nullptr)
                continue;
            item = to;
            changed = true;
        }
        if (!changed) {
            *pOut = const_cast<char *>(list);
            *pcbOut = static_cast<int>(strlen(list)) + 1;
            return 0;
        }
        std::string joined;
        for (const std::string &item : items) {
            if (item.empty())
                continue;
            if (!joined.empty())
                joined.push_back(',');
            joined += item;
        }
        if (VEXACheckAndRealloc(pOut, pcbOut, static_cast<unsigned int>(joined.size()) + 1) != 0) {
            VRAL_LOG_ERR("VEXACheckAndRealloc() failed. vexaerr=0x%04X", VRALErrGet());
            return -1;
        }
        memcpy(*pOut, joined.c_str(), joined.size() + 1);
        return 1;
    });
}

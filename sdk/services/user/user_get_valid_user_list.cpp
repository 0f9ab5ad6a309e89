#include <strings.h>

#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

#include "base/err/err_guard.h"
#include "base/string/vral_string.h"
#include "services/account/vexa_account.h"
#include "services/group/vexa_group.h"
#include "services/user/user_internal.h"
#include "services/user/user_list_internal.h"
#include "services/user/vexa_user_list.h"

namespace {

constexpr int kItemKeySize = 493;

// What the list's domain items are checked against, asked once a call.
struct DomainView {
    bool domainOn = false;    // the file server runs as a domain member
    bool usersStale = false;
    bool groupsStale = false;
};

DomainView domainView(VEXAGROUPDB *groupDb, VEXAUSERDB *userDb)
{
    DomainView v;
    v.usersStale = VEXABDbDomainIsNeedToRebuild(userDb->pPWDName) == 1;
    v.groupsStale = groupDb != nullptr && VEXABDbDomainIsNeedToRebuild(groupDb->pGRPName) == 1;
    char buf[1024] = {};
    int isDomain = 0;
    int sambaOn = 0;
    v.domainOn = VEXAWinsQuery1(buf, sizeof buf, &isDomain, &sambaOn) == 0 && isDomain == 1 && sambaOn == 1;
    return v;
}

// The item as the databases store it: 1 kept (in *out), 0 dropped, -1.
int cleanItem(const char *item, const char *NAME, int len, const DomainView &v, VEXAGROUPDB *groupDb,
              VEXAUSERDB *userDb, std::string *out)
{
    const bool domain = strchr(item, '\\') != nullptr;
    char stored[kItemKeySize];
    if (item[0] == '@') {
        if (groupDb == nullptr) {
            VRAL_ERR_SET(ERR_BAD_FORMAT);
            return -1;
        }
        if (domain && v.groupsStale) {
            *out = item;
            return 1;
        }
        if (len < 2 || !VEXAGroupDBCheckExists(groupDb, NAME + 1, len - 1, stored, sizeof stored))
            return 0;
        *out = std::string("@") + stored;
        return 1;
    }
    if (domain && v.usersStale) {
        *out = item;
        return 1;
    }
    if (!VEXAUserDBCheckExists(userDb, NAME, len, stored, sizeof stored))
        return 0;
    *out = stored;
    return 1;
}

}  // namespace

extern "C" int VEXAUserGetValidUserListCore(const char **items, char **pBuf, int *pcb, VEXAGROUPDB *groupDb,
                                            VEXAUSERDB *userDb)
{
    return vral::NoThrow(-1, [&] {
        if (items == nullptr || pBuf == nullptr || pcb == nullptr || userDb == nullptr) {
            VRAL_ERR_SET(ERR_BAD_PARAMETERS);
            return -1;
        }
        const DomainView v = domainView(groupDb, userDb);
        std::unordered_set<std::string> seen;
        std::string joined;
        for (const char **it = items; *it != nullptr; ++it) {
            const char *item = *it;
            if (strcasecmp(item, "nobody") == 0)
                continue;
            if (strchr(item, '\\') != nullptr && !v.domainOn)
                continue;
            char NAME[kItemKeySize];
            // a name without a key form names nobody: dropped like an unknown one
            const int len = vexauser::keyForm(item, NAME, sizeof NAME);
            if (len < 0 || !seen.insert(NAME).second)
                continue;
            std::string kept;
            const int r = cleanItem(item, NAME, len, v, groupDb, userDb, &kept);
            if (r < 0)
                return -1;
            if (r == 0)
                continue;
            if (!joined.empty())
                joined.push_back(',');
            joined += kept;
        }
        if (VEXACheckAndRealloc(pBuf, pcb, static_cast<unsigned int>(joined.size()) + 1) != 0)
            return -1;
        memset(*pBuf, 0, static_cast<size_t>(*pcb));
        memcpy(*pBuf, joined.c_str(), joined.size());
        return 0;
    });
}

namespace {

int userGetValidUserList(const char **items, char **pBuf, int *pcb)
{
    if (items == nullptr || pBuf == nullptr || pcb == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    VEXAUSERDB *db = VEXAUserDBOpen();
    if (db == nullptr) {
        vexabdb::cacheOpenFailed();
        return -1;
    }
    const int r = VEXAUserGetValidUserListCore(items, pBuf, pcb, nullptr, db);
    const int code = VRALErrGet();
    VEXAUserDBClose(db);
    if (r != 0)
        VRALErrSetCode(code);
    return r;
}

}  // namespace

extern "C" int VEXAUserGetValidUserList(const char **items, char **pBuf, int *pcb)
{
    return vral::NoThrow(-1, [&] { return userGetValidUserList(items, pBuf, pcb); });
}

extern "C" int VEXAUserGetValidUserList2(const char *list, char **pBuf, int *pcb, VEXAGROUPDB *groupDb,
                                         VEXAUSERDB *userDb)
{
    return vral::NoThrow(-1, [&] {
        if (list == nullptr || pBuf == nullptr || pcb == nullptr || userDb == nullptr) {
            VRAL_ERR_SET(ERR_BAD_PARAMETERS);
            return -1;
        }
        const std::vector<std::string> items = vexauser::splitList(list);
        std::vector<const char *> argv;
        for (const std::string &s : items)
            argv.push_back(s.c_str());
        argv.push_back(nullptr);
        return VEXAUserGetValidUserListCore(argv.data(), pBuf, pcb, groupDb, userDb);
    });
}

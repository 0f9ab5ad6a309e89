#include <cstdlib>
#include <cstring>
#include <string_view>

#include "base/err/err_guard.h"
#include "services/group/vexa_group.h"
#include "services/share/share_internal.h"
#include "services/user/vexa_user_list.h"

namespace {

const char *const kListKeys[3] = {"invalid users", "write list", "read list"};
const int kListTypes[3] = {SHARE_TYPE_DENIED, SHARE_TYPE_GUEST_WRITE, SHARE_TYPE_GUEST_READ};

// "@users" as a whole item: "@users2" is another group.
bool holdsUsersGroup(std::string_view list)
{
    while (!list.empty()) {
        const size_t comma = list.find(',');
        if (list.substr(0, comma) == "@users")
            return true;
        if (comma == std::string_view::npos)
            break;
        list.remove_prefix(comma + 1);
    }
    return false;
}

struct Lists {
    char *buf[3] = {};
    int cb[3] = {};
    ~Lists()
    {
        for (char *p : buf)
            free(p);
    }
};

}  // namespace

namespace vexashare {

VEXASHARE *allocFromConf(const char *section, VRALSzHash *pairs, const ParseDbs &dbs)
{
    auto value = [&](const char *key) { return SzVRALSzHashGetValue(pairs, key); };
    Lists lists;
    const char *cleaned[3];
    for (int i = 0; i < 3; ++i) {
        const char *raw = value(kListKeys[i]);
        if (raw == nullptr) {
            cleaned[i] = "";
            continue;
        }
        // a list that cannot be cleaned refuses the share: taken as empty
        // it would lift every denial it holds
        if (VEXAUserGetValidUserList2(raw, &lists.buf[i], &lists.cb[i], dbs.groups, dbs.users) != 0) {
            syslog(LOG_NOTICE, "%s:%d VEXAUserGetValidUserList2 error. sz[%d]=[%s]", __FILE_NAME__, __LINE__, i,
                   raw);
            return nullptr;
        }
        cleaned[i] = lists.buf[i];
    }
    VEXASHARE t{};
    t.fType = -1;
    for (int i = 0; i < 3 && t.fType < 0; ++i) {
        if (holdsUsersGroup(cleaned[i]))
            t.fType = kListTypes[i];
    }
    if (t.fType < 0) {
        const char *guestOk = value("guest ok");
        const char *writeable = value("writeable");
        t.fType = ShareFTypeGetFromConf(guestOk, writeable);
        if (t.fType < 0) {
            // an unknown pair never opens the share to guests
            VRAL_LOG_ERR("errno=%d unknown error!! guest ok = %s, writeable = %s", VRALErrGet(),
                         guestOk != nullptr ? guestOk : "NULL", writeable != nullptr ? writeable : "NULL");
            t.fType = SHARE_TYPE_DENIED;
        }
    }
    const char *browseable = value("browseable");
    const char *ftpWriteOnly = value("ftp write only");
    t.fBrowseable = browseable != nullptr && strcmp(browseable, "no") == 0 ? 0 : 1;
    t.fFtpWriteOnly = ftpWriteOnly != nullptr && strcmp(ftpWriteOnly, "yes") == 0 ? 1 : 0;
    t.szName = const_cast<char *>(section);
    t.szComment = value("comment");
    t.szPath = value("path");
    t.szInvalidUsers = const_cast<char *>(cleaned[0]);
    t.szWriteList = const_cast<char *>(cleaned[1]);
    t.szReadList = const_cast<char *>(cleaned[2]);
    return VEXAShareAlloc(&t);
}

int ParseDbs::open()
{
    groups = VEXAGroupDBOpen();
    users = VEXAUserDBOpen();
    if (groups == nullptr || users == nullptr) {
        vexabdb::cacheOpenFailed();
        return -1;
    }
    return 0;
}

ParseDbs::~ParseDbs()
{
    if (groups != nullptr)
        VEXAGroupDBClose(groups);
    if (users != nullptr)
        VEXAUserDBClose(users);
}

}  // namespace vexashare

namespace {

VEXASHARE *shareAllocFromConf(const char *section, VRALSzHash *pairs)
{
    if (section == nullptr || pairs == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return nullptr;
    }
    vexashare::ParseDbs dbs;
    if (dbs.open() != 0)
        return nullptr;
    return vexashare::allocFromConf(section, pairs, dbs);
}

}  // namespace

extern "C" VEXASHARE *ShareAllocFromConf(const char *section, VRALSzHash *pairs)
{
    return vral::NoThrow(static_cast<VEXASHARE *>(nullptr), [&] { return shareAllocFromConf(section, pairs); });
}

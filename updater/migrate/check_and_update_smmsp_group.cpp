#include <syslog.h>

#include <string>
#include <string_view>
#include <vector>

#include "base/err/vral_err.h"
#include "base/file/vral_file.h"
#include "updt_preflash.h"

namespace {

constexpr const char *kGroup = "/etc/group";
constexpr const char *kKey = "smmsp:";
constexpr const char *kStep = "CheckAndUpdateSmmspGroup";
constexpr size_t kLineSize = 1024;

// The members with "admin" among them: before a last "nobody", else at
// the end.  Every member stays whole.
std::string withAdmin(std::string_view members)
{
    if (members.empty())
        return "admin";
    const size_t lastComma = members.rfind(',');
    const std::string_view last = lastComma == std::string_view::npos ? members : members.substr(lastComma + 1);
    if (last != "nobody")
        return std::string(members) + ",admin";
    const std::string_view before = lastComma == std::string_view::npos ? "" : members.substr(0, lastComma + 1);
    return std::string(before) + "admin,nobody";
}

}  // namespace

void CheckAndUpdateSmmspGroup(void)
{
    char line[kLineSize] = {};
    if (VRALFileGetLine(kGroup, kKey, line, sizeof line, OP_MATCH_BEGIN) < 1) {
        syslog(LOG_ERR, "%s (%s):%d VRALFileGetLine() failed! file=[%s] key=[%s] errno=[0x%04X]", "updater", kStep,
               __LINE__, kGroup, kKey, VRALErrGet());
        return;
    }
    const std::string_view text(line);
    if (text.find("admin") != std::string_view::npos)
        return;
    // name:password:gid:members
    size_t colon = 0;
    for (int i = 0; i < 3 && colon != std::string_view::npos; ++i)
        colon = text.find(':', i == 0 ? 0 : colon + 1);
    if (colon == std::string_view::npos) {
        syslog(LOG_ERR, "%s (%s):%d %s line without members field", "updater", kStep, __LINE__, kGroup);
        return;
    }
    std::string changed;
    try {
        changed = std::string(text.substr(0, colon + 1)) + withAdmin(text.substr(colon + 1));
    } catch (...) {
        syslog(LOG_ERR, "%s (%s):%d out of memory", "updater", kStep, __LINE__);
        return;
    }
    if (changed.size() >= kLineSize) {
        syslog(LOG_ERR, "%s (%s):%d %s line too long to add admin, left as it is", "updater", kStep, __LINE__, kGroup);
        return;
    }
    if (VRALFileSetLine(kGroup, kKey, changed.c_str(), OP_MATCH_BEGIN) < 0)
        syslog(LOG_ERR, "%s (%s):%d VRALFileSetLine() write %s failed! key=[%s] errno=[0x%04X]", "updater", kStep,
               __LINE__, kGroup, kKey, VRALErrGet());
}

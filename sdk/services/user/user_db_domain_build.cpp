#include <cstring>
#include <string>
#include <unordered_set>

#include "base/err/err_guard.h"
#include "services/bdb/bdb_internal.h"
#include "services/user/user_internal.h"
#include "services/account/vexa_account.h"

namespace {

// Whether the file may hold a name record (markers aside): a fresh build's
// name file holds none, so no listed name needs looking up in it.  A step
// that fails counts as a yes: the lookups then decide.
bool mayHoldNames(VEXABDB *h)
{
    const int code = VRALErrGet();
    VEXABDbCursorSetType(h, BDB_CURSOR_FIRST);
    DBT k{};
    DBT v{};
    const bool empty = vexabdb::cursorStep(h, 1, &k, &v) != 0 && VRALErrGet() == ERR_END_OF_RECORDS;
    VRALErrSetCode(code);
    return !empty;
}

}  // namespace

namespace vexauser {

const DomainList kDomainUsers = {USER_FILE_DOMAIN, "user", ":x:-1:-1:::", 2 * USER_KEY_SIZE};

int domainListBuild(VEXABDB *h, const DomainList &list, vexabdb::SortedPuts *gather)
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
    LineReader in(list.path);
    if (!in.ok()) {
        VRAL_LOG_ERR("fopen(%s) failed. errno=%s", list.path, strerror(errno));
        VRAL_ERR_SET(ERR_OPEN_FAILED);
        return -1;
    }
    vexabdb::SortedPuts own(h);
    vexabdb::SortedPuts &puts = gather != nullptr ? *gather : own;
    int count = 0;
    char name[2 * USER_KEY_SIZE];
    const int cbName = list.keySize < static_cast<int>(sizeof name) ? list.keySize : static_cast<int>(sizeof name);
    std::string record;
    // records gathered for the same file are not stored yet: the first
    // of a name wins, as when each was stored at once
    std::unordered_set<std::string> gathered;
    if (gather != nullptr)
        gather->forEachKey([&](const char *key, uint32_t klen) { gathered.emplace(key, klen); });
    const bool lookUp = mayHoldNames(h);
    while (char *line = in.next()) {
        char *colon = strrchr(line, ':');
        if (colon == nullptr)
            continue;
        *colon = '\0';
        ++count;
        // one unusable name does not keep the other domain accounts out;
        // ":" would give a line no reader unpacks, "#" a marker key
        if (line[0] == '#' || strchr(line, ':') != nullptr || keyForm(line, name, cbName) < 0) {
            VRAL_LOG_ERR("%s line %d: unusable %s name, skipped", in.path(), in.lineNo(), list.what);
            continue;
        }
        // a local account keeps its record: a listed name never replaces it
        const int cbKey = static_cast<int>(strlen(name)) + 1;
        const int stored = gathered.count(std::string(name, static_cast<size_t>(cbKey))) != 0
                               ? 1
                               : lookUp ? vexabdb::cacheHasKey(h, name, cbKey) : 0;
        if (stored == 1) {
            VRAL_LOG_ERR("%s line %d: %s %s already stored, skipped", in.path(), in.lineNo(), list.what, line);
            continue;
        }
        if (stored < 0) {
            VRAL_LOG_ERR("VEXABDbGet() failed! vexaerr=0x%04X", VRALErrGet());
            return -1;
        }
        record = std::string(line) + list.recordTail;
        gathered.emplace(name, static_cast<size_t>(cbKey));
        if (puts.add(name, static_cast<int>(strlen(name)) + 1, record.c_str(), static_cast<int>(record.size()) + 1) !=
            0) {
            // what came before is stored all the same
            const int code = VRALErrGet();
            own.flush();
            VRALErrSetCode(code);
            return -1;
        }
    }
    if (own.flush() != 0) {
        VRAL_LOG_ERR("VEXABDbSet() failed! vexaerr=0x%04X", VRALErrGet());
        return -1;
    }
    if (count == 0)
        VRAL_LOG_ERR("domain %s build nothing", list.what);
    VEXABDbDomainExpireTimeSet(h);
    return 0;
}

}  // namespace vexauser

namespace {

int userDBDomainBuild(VEXABDB *h)
{
    return vexauser::domainListBuild(h, vexauser::kDomainUsers);
}

}  // namespace

extern "C" int UserDBDomainBuild(VEXABDB *h)
{
    return vral::NoThrow(-1, [&] { return userDBDomainBuild(h); });
}

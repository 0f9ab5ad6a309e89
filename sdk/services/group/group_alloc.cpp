#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "base/err/err_guard.h"
#include "base/string/vral_string.h"
#include "services/group/group_internal.h"

namespace {

bool inside(const VEXAGROUP *block, const char *p)
{
    if (block == nullptr || p == nullptr)
        return false;
    const auto b = reinterpret_cast<uintptr_t>(block);
    const auto q = reinterpret_cast<uintptr_t>(p);
    return q >= b && q < b + static_cast<uintptr_t>(block->cbAlloc);
}

}  // namespace

namespace {

int groupAlloc2(VEXAGROUP **ppGroup, const char *name, int gid, char **ppszMember)
{
    if (ppGroup == nullptr || name == nullptr || ppszMember == nullptr || inside(*ppGroup, name)) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    // the block may move when it grows: nothing may point into it
    std::vector<const char *> kept;
    size_t cbStrings = strlen(name) + 1;
    for (char **m = ppszMember; *m != nullptr; ++m) {
        if (inside(*ppGroup, *m)) {
            VRAL_ERR_SET(ERR_BAD_PARAMETERS);
            return -1;
        }
        if ((*m)[0] == '\0' || strcmp(*m, "nobody") == 0)
            continue;
        kept.push_back(*m);
        cbStrings += strlen(*m) + 1;
    }
    const size_t cbNeed = sizeof(VEXAGROUP) + (kept.size() + 1) * sizeof(char *) + cbStrings;
    char *block = reinterpret_cast<char *>(*ppGroup);
    int cb = *ppGroup != nullptr ? (*ppGroup)->cbAlloc : 0;
    if (cbNeed > INT32_MAX || VEXACheckAndRealloc(&block, &cb, static_cast<unsigned int>(cbNeed)) != 0) {
        *ppGroup = reinterpret_cast<VEXAGROUP *>(block);
        VRAL_LOG_ERR("VEXACheckAndRealloc failed. vexaerr=0x%04X", VRALErrGet());
        return -1;
    }
    auto *g = reinterpret_cast<VEXAGROUP *>(block);
    *ppGroup = g;
    g->ppszMember = reinterpret_cast<char **>(block + sizeof(VEXAGROUP));
    char *s = reinterpret_cast<char *>(g->ppszMember + kept.size() + 1);
    auto put = [&s](const char *from) {
        char *at = s;
        const size_t n = strlen(from) + 1;
        memcpy(s, from, n);
        s += n;
        return at;
    };
    g->szName = put(name);
    for (size_t i = 0; i < kept.size(); ++i)
        g->ppszMember[i] = put(kept[i]);
    g->ppszMember[kept.size()] = nullptr;
    g->gid = gid;
    g->type = strchr(name, '\\') != nullptr ? 2 : 1;
    g->cbAlloc = cb;
    return 0;
}

}  // namespace

extern "C" int VEXAGroupAlloc2(VEXAGROUP **ppGroup, const char *name, int gid, char **ppszMember)
{
    return vral::NoThrow(-1, [&] { return groupAlloc2(ppGroup, name, gid, ppszMember); });
}

extern "C" void VEXAGroupFree(VEXAGROUP *pGroup)
{
    free(pGroup);
}

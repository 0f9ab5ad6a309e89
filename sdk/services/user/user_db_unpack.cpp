#include <cstdlib>
#include <cstring>

#include "base/err/err_guard.h"
#include "base/list/vral_list.h"
#include "base/string/vral_string.h"
#include "services/user/user_internal.h"

namespace {

struct ListOwner {
    VRALSzList *p = PslVRALSzListAlloc(512);
    ~ListOwner() { VRALSzListFree(p); }
};

// Splits line at ":" into exactly nFields fields, with a non-empty first.
int split(const char *line, int nFields, ListOwner &fields)
{
    if (fields.p == nullptr) {
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return -1;
    }
    if (VRALStrSep(line, ":", &fields.p) != nFields) {
        VRAL_ERR_SET(ERR_BAD_FORMAT);
        return -1;
    }
    if (VRALSzListItem(fields.p, 0)[0] == '\0') {
        VRAL_ERR_SET(ERR_BAD_USER_NAME);
        return -1;
    }
    return 0;
}

// Grows the caller's buffer to the structure plus the given fields, zeroes
// it and copies them after the structure; their copies through out.
template <typename T, size_t N>
int fill(T **ppBuf, int *pcb, const VRALSzList *fields, const int (&idx)[N], char *(&out)[N])
{
    size_t need = sizeof(T);
    for (int i : idx)
        need += strlen(VRALSzListItem(fields, i)) + 1;
    char *block = reinterpret_cast<char *>(*ppBuf);
    if (VEXACheckAndRealloc(&block, pcb, static_cast<unsigned int>(need)) != 0) {
        VRAL_LOG_ERR("VEXACheckAndRealloc() failed! vexaerr=0x%04X", VRALErrGet());
        *ppBuf = nullptr;
        return -1;
    }
    memset(block, 0, need);
    char *at = block + sizeof(T);
    for (size_t k = 0; k < N; ++k) {
        const char *s = VRALSzListItem(fields, idx[k]);
        const size_t n = strlen(s) + 1;
        memcpy(at, s, n);
        out[k] = at;
        at += n;
    }
    *ppBuf = reinterpret_cast<T *>(block);
    return 0;
}

bool argsOk(const char *line, const void *ppBuf, const void *pBuf, const int *pcb)
{
    if (line == nullptr || ppBuf == nullptr || pcb == nullptr || (pBuf != nullptr && *pcb == 0)) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return false;
    }
    return true;
}

}  // namespace

namespace {

int userDBUnpackPasswd(const char *line, struct passwd **ppBuf, int *pcb)
{
    if (!argsOk(line, ppBuf, ppBuf != nullptr ? *ppBuf : nullptr, pcb))
        return -1;
    ListOwner f;
    if (split(line, 7, f) != 0)
        return -1;
    static const int idx[5] = {0, 1, 4, 5, 6};
    char *s[5];
    if (fill(ppBuf, pcb, f.p, idx, s) != 0)
        return -1;
    struct passwd *pw = *ppBuf;
    pw->pw_name = s[0];
    pw->pw_passwd = s[1];
    pw->pw_gecos = s[2];
    pw->pw_dir = s[3];
    pw->pw_shell = s[4];
    pw->pw_uid = static_cast<uid_t>(atoi(VRALSzListItem(f.p, 2)));
    pw->pw_gid = static_cast<gid_t>(atoi(VRALSzListItem(f.p, 3)));
    return 0;
}

}  // namespace

extern "C" int VEXAUserDBUnpackPasswd(const char *line, struct passwd **ppBuf, int *pcb)
{
    return vral::NoThrow(-1, [&] { return userDBUnpackPasswd(line, ppBuf, pcb); });
}

namespace {

int userDBUnpackShadow(const char *line, struct spwd **ppBuf, int *pcb)
{
    if (!argsOk(line, ppBuf, ppBuf != nullptr ? *ppBuf : nullptr, pcb))
        return -1;
    ListOwner f;
    if (split(line, 9, f) != 0)
        return -1;
    static const int idx[2] = {0, 1};
    char *s[2];
    if (fill(ppBuf, pcb, f.p, idx, s) != 0)
        return -1;
    struct spwd *sp = *ppBuf;
    sp->sp_namp = s[0];
    sp->sp_pwdp = s[1];
    long *nums[6] = {&sp->sp_lstchg, &sp->sp_min, &sp->sp_max, &sp->sp_warn, &sp->sp_inact, &sp->sp_expire};
    for (int i = 0; i < 6; ++i)
        *nums[i] = atoi(VRALSzListItem(f.p, i + 2));
    sp->sp_flag = static_cast<unsigned long>(atoi(VRALSzListItem(f.p, 8)));
    return 0;
}

}  // namespace

extern "C" int VEXAUserDBUnpackShadow(const char *line, struct spwd **ppBuf, int *pcb)
{
    return vral::NoThrow(-1, [&] { return userDBUnpackShadow(line, ppBuf, pcb); });
}

#include <cstdlib>
#include <cstring>

#include "base/err/err_guard.h"
#include "services/share/share_internal.h"

namespace {

bool hasLineBreak(const char *s)
{
    return s != nullptr && strpbrk(s, "\r\n") != nullptr;
}

}  // namespace

namespace {

VEXASHARE *shareAlloc(const VEXASHARE *t)
{
    if (t == nullptr || t->szName == nullptr || t->szPath == nullptr || t->fType < 0 || t->fBrowseable < 0 ||
        t->fFtpWriteOnly < 0) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return nullptr;
    }
    // a reserved name would be read back as that section, and a line break
    // would end its line in smb.conf early
    if (VEXAShareNameIsValid(t->szName) != 1 || VEXAShareSectionTypeGet(t->szName) != 0) {
        VRAL_ERR_SET(ERR_BAD_SHARE_NAME);
        return nullptr;
    }
    if (t->szPath[0] != '/') {
        VRAL_ERR_SET(ERR_BAD_PATH);
        return nullptr;
    }
    // every dump maps the type to its two smb.conf values
    if ((t->fType & (SHARE_TYPE_DENIED | SHARE_TYPE_GUEST_WRITE | SHARE_TYPE_GUEST_READ)) == 0) {
        VRAL_ERR_SET(ERR_BAD_SHARE_TYPE);
        return nullptr;
    }
    size_t need = sizeof(VEXASHARE);
    for (char *VEXASHARE::*f : vexashare::kStringOrder) {
        const char *s = t->*f;
        if (hasLineBreak(s)) {
            VRAL_ERR_SET(ERR_BAD_PARAMETERS);
            return nullptr;
        }
        if (s != nullptr && s[0] != '\0')
            need += strlen(s) + 1;
    }
    // the name is never empty, so the block's last byte is its NUL
    auto *rec = static_cast<VEXASHARE *>(calloc(1, need));
    if (rec == nullptr) {
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    char *block = reinterpret_cast<char *>(rec);
    char *empty = block + need - 1;
    char *at = block + sizeof(VEXASHARE);
    for (char *VEXASHARE::*f : vexashare::kStringOrder) {
        const char *s = t->*f;
        if (s == nullptr || s[0] == '\0') {
            rec->*f = empty;
            continue;
        }
        const size_t n = strlen(s) + 1;
        memcpy(at, s, n);
        rec->*f = at;
        at += n;
    }
    rec->fType = t->fType;
    rec->fBrowseable = t->fBrowseable;
    rec->fFtpWriteOnly = t->fFtpWriteOnly;
    rec->cbAlloc = static_cast<int>(need);
    rec->cbRecord = static_cast<int>(need);
    return rec;
}

}  // namespace

extern "C" VEXASHARE *VEXAShareAlloc(const VEXASHARE *t)
{
    return vral::NoThrow(static_cast<VEXASHARE *>(nullptr), [&] { return shareAlloc(t); });
}

extern "C" void VEXAShareFree(void *p)
{
    free(p);
}

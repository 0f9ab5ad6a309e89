// The batch of VEXAUserSetMulti as the services kept in step see it.
#ifndef VEXA_USER_SET_INTERNAL_H
#define VEXA_USER_SET_INTERNAL_H

#include <cstring>

#include "base/err/err_guard.h"
#include "base/hash/vral_hash.h"
#include "services/user/user_internal.h"
#include "services/user/vexa_user_set.h"

#define USER_NOTICE(fmt, ...) \
    syslog(LOG_NOTICE, "%s:%d " fmt, __FILE_NAME__, __LINE__ __VA_OPT__(, ) __VA_ARGS__)

namespace vexauser {

struct Batch {
    const char **oldNames;
    VEXAUSER **users;
    int n;
    const unsigned char *written;

    bool isWritten(int i) const { return written[i] != 0; }
    bool isNew(int i) const { return oldNames[i] == nullptr; }
    // The name changes byte for byte (a case-only change too).
    bool renames(int i) const { return oldNames[i] != nullptr && strcmp(oldNames[i], users[i]->szName) != 0; }
};

// Names met once in a walk that may meet a record again.
class SeenNames {
public:
    SeenNames() = default;
    ~SeenNames() { VRALSzHashFree(h_); }
    SeenNames(const SeenNames &) = delete;
    SeenNames &operator=(const SeenNames &) = delete;
    bool ok() const { return h_ != nullptr; }
    bool has(const char *name) const { return SzVRALSzHashGetValue(h_, name) != nullptr; }
    // 1 the first time, 0 after, -1 when it cannot be noted (logged).
    int first(const char *name)
    {
        if (SzVRALSzHashGetValue(h_, name) != nullptr)
            return 0;
        if (VRALSzHashSetValue(&h_, name, "") < 0) {
            VRAL_LOG_ERR("HashSetValue failed.");
            return -1;
        }
        return 1;
    }

private:
    VRALSzHash *h_ = VRALSzHashAlloc(512);
};

// A public function applying a rename map: NULL refused, nothing thrown.
template <typename Body>
int withRenameMap(VRALSzHash *map, Body body)
{
    if (map == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    return vral::NoThrow(-1, body);
}

// Guests are admitted exactly when fOpen.  0 or -1.
int SDKISetGuestAfpd(bool fOpen);
// The smmsp membership and rsync account of the reserved names.  0 or -1.
int NetBackupAuthUserSet(const char *oldName, const VEXAUSER *user);
// Creates the new users' home folders, moves the renamed users' ones.
void SDKISetUserHome(const Batch &b);
// Carries the renames into the FTP chroot list.  0 or -1.
int SDKISetFTPChrootUser(const Batch &b);

}  // namespace vexauser

#endif

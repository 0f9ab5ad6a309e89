#include <cstdio>
#include <cstring>

#include "base/string/vral_string.h"
#include "services/crypt/vexa_crypt.h"
#include "services/netbkp/vexa_netbkp.h"
#include "services/user/user_set_internal.h"

namespace {

constexpr int kSecretSize = 3074;
constexpr int kPartSize = 769;

// The secret of a clear password: its crypt form, "|" and the Base64 text
// of its scrambled form.  A password the scrambler's buffer cannot hold
// gets none.  0 or -1.
int composeSecret(const char *password, char (&secret)[kSecretSize])
{
    if (strlen(password) >= static_cast<size_t>(kPartSize)) {
        VRAL_LOG_ERR("password of %zu bytes too long for a secret", strlen(password));
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    char cryptForm[kPartSize] = {};
    unsigned char scrambled[kPartSize] = {};
    if (VEXANetBkpCryptPass(password, cryptForm, sizeof cryptForm) != 0 ||
        VEXAStrCrypt(password, reinterpret_cast<char *>(scrambled), sizeof scrambled) != 0)
        return -1;
    // Every scrambled byte, whole groups zero-padded: a scrambled byte may
    // be 0, and a text encoding would stop at one that begins a group.
    const size_t cbScrambled = (strlen(password) + 2) / 3 * 3;
    const char *b64 = SzBase64EncodeBytes(scrambled, static_cast<unsigned int>(cbScrambled));
    if (b64 == nullptr) {
        VRAL_LOG_ERR("SzBase64EncodeOneLine() failed!");
        return -1;
    }
    snprintf(secret, sizeof secret, "%s|%s", cryptForm, b64);
    return 0;
}

const char *rsyncName(const char *name)
{
    return strcmp(name, "admin") == 0 ? "root" : name;
}

int keepInStep(const char *oldName, const VEXAUSER *user)
{
    if (user->szPasswd == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    const char *newName = user->szName;
    const bool oldReserved = oldName != nullptr && VEXANetBackupIsReservedUser(oldName) == 1;
    const bool newReserved = VEXANetBackupIsReservedUser(newName) == 1;
    if (!newReserved) {
        if (!oldReserved)
            return 0;
        if (VEXASmmspGroupSet(oldName, nullptr, SMMSP_OP_REMOVE) != 0) {
            VRAL_LOG_ERR("VEXASmmspGroupSet() delete [%s] failed!! vexaerr=0x%04X", oldName, VRALErrGet());
            return -1;
        }
        if (VEXANetBackupSetServerPasswd(oldName, nullptr, nullptr, NETBKP_OP_DELETE) != 0) {
            VRAL_LOG_ERR("VEXANetBackupSetServerPasswd() failed");
            return -1;
        }
        return 0;
    }
    char secret[kSecretSize] = {};
    if (oldReserved && VEXAUserIsPasswdMD5Encrypt(user->szPasswd) == 1) {
        // the stored hash handed back: the stored secret stays, and without
        // one the rsync files stay as they are (an empty secret would open
        // the account to any password)
        const int got = VEXANetBackupGetServerPasswd(oldName, secret, sizeof secret);
        if (got == 0 && secret[0] == '\0')
            VRAL_ERR_SET(ERR_NOT_FOUND);
        if (got != 0 || secret[0] == '\0') {
            VRAL_LOG_ERR("VEXANetBackupGetServerPasswd() failed!! szOldName=[%s], vexaerr=[0x%04X]", oldName,
                         VRALErrGet());
            secret[0] = '\0';
        }
    } else if (composeSecret(user->szPasswd, secret) != 0) {
        return -1;
    }
    if (!oldReserved) {
        if (VEXASmmspGroupSet(nullptr, newName, SMMSP_OP_ADD) != 0) {
            VRAL_LOG_ERR("VEXASmmspGroupSet() add [%s] failed!! vexaerr=0x%04X", newName, VRALErrGet());
            return -1;
        }
        if (VEXANetBackupSetServerPasswd(nullptr, newName, secret, NETBKP_OP_ADD) != 0) {
            VRAL_LOG_ERR("VEXANetBackupSetServerPasswd() failed");
            return -1;
        }
        return 0;
    }
    if (strcmp(oldName, newName) != 0 && VEXASmmspGroupSet(oldName, newName, SMMSP_OP_RENAME) != 0) {
        VRAL_LOG_ERR("VEXASmmspGroupSet() modify [%s]->[%s] failed!! vexaerr=0x%04X", oldName, newName, VRALErrGet());
        return -1;
    }
    if (secret[0] == '\0')
        return -1;
    if (VEXANetBackupSetServerPasswd(rsyncName(oldName), rsyncName(newName), secret, NETBKP_OP_RENAME) != 0) {
        VRAL_LOG_ERR("VEXANetBackupSetServerPasswd() failed");
        return -1;
    }
    return 0;
}

}  // namespace

namespace vexauser {

int NetBackupAuthUserSet(const char *oldName, const VEXAUSER *user)
{
    if (keepInStep(oldName, user) == 0)
        return 0;
    VRAL_LOG_ERR("NetBackupAuthUserSet [%s] failed. vexaerr=0x%04X", oldName != nullptr ? oldName : "", VRALErrGet());
    return -1;
}

}  // namespace vexauser

// The old name of the MTU setting: its two largest values lowered to what
// the new driver takes, then moved to the new key.
#include <cstring>

#include "base/file/vral_file.h"
#include "migrate_steps.h"

namespace updt::migrate {

namespace {

constexpr const char *kInfoConf = VEXA_INFO_CONF;
constexpr char kOldKey[] = "MTUValue";
constexpr char kNewKey[] = "eth0_mtu";
constexpr char kKeyFormat[] = "%s=\"%s\"\n";

// MTUValue into value: its size with the terminator, 0 when not there, -1.
int readOldValue(char (&value)[32])
{
    std::memset(value, 0, sizeof(value));
    return VRALFileGetKeyValue(kInfoConf, kOldKey, value, sizeof(value), 0);
}

}  // namespace

int convertMTUValue(const Step &)
{
    char value[32];
    if (readOldValue(value) <= 0)
        return 0;
    const char *lowered = std::strcmp(value, "4074") == 0   ? "4000"
                          : std::strcmp(value, "9000") == 0 ? "8000"
                                                            : nullptr;
    if (lowered != nullptr && VRALFileSetKeyValue(kInfoConf, kOldKey, lowered, kKeyFormat) < 0) {
        UPDT_LOG_LINE("Failed to update MTUValue in /etc/vexainfo.conf.");
        return -1;
    }
    return 0;
}

int moveMTUValue(const Step &)
{
    char value[32];
    const int got = readOldValue(value);
    if (got < 0)
        return 0;  // no file, or not readable: nothing is removed either
    // Removed only once the value has its new key, or when there is none.
    if (value[0] != '\0' && VRALFileSetKeyValue(kInfoConf, kNewKey, value, kKeyFormat) < 0) {
        UPDT_LOG_LINE("Failed to update MTUValue in /etc/vexainfo.conf.");
        return -1;
    }
    VRALFileRemoveKey(kInfoConf, kOldKey);
    return 0;
}

}  // namespace updt::migrate

// The package analysis: may this package be applied to this system?
#include <dirent.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <syslog.h>

#include <array>
#include <cerrno>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>

#include <strings.h>

#include "analysis_internal.h"
#include "base/err/vral_err.h"
#include "base/file/vral_file.h"
#include "base/lock/vral_lock.h"
#include "services/raid/vexa_raid.h"
#include "updt_analysis.h"
#include "updt_driver.h"
#include "updt_patch.h"
#include "updt_status.h"

namespace {

constexpr const char *kInstalledInfo = "/etc.defaults/vexainfo.conf";
constexpr const char *kInstalledVersion = "/etc.defaults/VERSION";
constexpr const char *kInfo = "/etc/vexainfo.conf";
constexpr const char *kLineFormat = "%s=\"%s\"\n";

constexpr unsigned long kResizeStartAfter = 1333331;

// Models whose old builds keep a /writeable folder to save.
const char *const kWriteableModels[] = {
    "quorlan_ixp420_1hd",
    "vexalink_ixp420_1hd",
    "vexalink_powerpc_q80z+_1hd",
    "quorlan_powerpc_1hd",
};

bool readKey(const char *file, const char *key, char *buf, int cb)
{
    return VRALFileGetKeyValue(file, key, buf, cb, 0) >= 1;
}

// A build or major number as strtol reads it; 0 or less makes the file
// invalid, as do numbers beyond an int.
long parsePositive(const char *text)
{
    errno = 0;
    const long v = strtol(text, nullptr, 10);
    if (errno != 0 || v <= 0 || v > INT_MAX)
        return 0;
    return v;
}

// One version file: its texts as read, each in a buffer of the given size.
struct Version {
    char major[5] = {};
    char minor[5] = {};
    char phase[17] = {};
    char build[9] = {};
    long majorNo = 0;
    long buildNo = 0;

    bool valid() const { return majorNo != 0 && buildNo != 0; }
};

// What is logged when majorversion, minorversion, buildphase or buildnumber
// is missing, in that order.
using VersionMessages = std::array<const char *, 4>;

// Reads the four keys in order and parses the numbers; false (with the
// missing key's message logged) at the first key that is missing.
bool readVersion(const char *file, Version &v, const VersionMessages &missing)
{
    struct Field {
        const char *key;
        char *buf;
        int cb;
    };
    const Field fields[] = {
        {"majorversion", v.major, sizeof v.major},
        {"minorversion", v.minor, sizeof v.minor},
        {"buildphase", v.phase, sizeof v.phase},
        {"buildnumber", v.build, sizeof v.build},
    };
    for (size_t i = 0; i < std::size(fields); ++i) {
        if (!readKey(file, fields[i].key, fields[i].buf, fields[i].cb)) {
            syslog(LOG_ERR, "%s(%d): %s", "ErrUPDTIAnalyze_WholeSystem", __LINE__, missing[i]);
            return false;
        }
    }
    v.majorNo = parsePositive(v.major);
    v.buildNo = parsePositive(v.build);
    return true;
}

bool isWriteableModel(const char *model)
{
    for (const char *m : kWriteableModels) {
        if (strcasecmp(model, m) == 0)
            return true;
    }
    return false;
}

bool hasWriteableFolder()
{
    DIR *d = opendir("/writeable");
    if (d == nullptr)
        return false;
    closedir(d);
    return true;
}

void logNoDefaultFs(const char *file, int line)
{
    syslog(LOG_ERR, "%s:%d(%s): can not get [%s] in [%s]", "updater", line, "ErrUPDTIAnalyze_WholeSystem",
           "defaultfs", file);
}

// defaultfs of /etc/vexainfo.conf: added from the factory defaults (else
// "reiserfs") only when really missing; a value that is there but could
// not be read is left alone.
int ensureDefaultFs()
{
    char value[80] = {};
    const int r = VRALFileGetKeyValue(kInfo, "defaultfs", value, sizeof value, 0);
    if (r >= 1)
        return 0;
    if (r < 0) {
        struct stat st {};
        const bool fileMissing = stat(kInfo, &st) != 0 && errno == ENOENT;
        if (!fileMissing) {
            if (VRALErrGet() == ERR_BUFFER_TOO_SMALL)
                return 0;  // present, only longer than we read
            logNoDefaultFs(kInfo, __LINE__);
            return 22;
        }
    }
    logNoDefaultFs(kInfo, __LINE__);
    memset(value, 0, sizeof value);
    if (VRALFileGetKeyValue(kInstalledInfo, "defaultfs", value, sizeof value, 0) < 1) {
        logNoDefaultFs(kInstalledInfo, __LINE__);
        snprintf(value, sizeof value, "%s", "reiserfs");
    }
    if (VRALFileSetKeyValue(kInfo, "defaultfs", value, kLineFormat) < 1) {
        syslog(LOG_ERR, "%s:%d(%s): can not set [%s=%s] to %s", "updater", __LINE__,
               "ErrUPDTIAnalyze_WholeSystem", "defaultfs", value, kInfo);
        return 22;
    }
    return 0;
}

// Free MiB on /writeable for unprivileged users; -1 when unknown.
long long writeableFreeMiB()
{
    struct statfs fs {};
    if (statfs("/writeable", &fs) != 0)
        return -1;
    uint64_t bytes = 0;
    if (__builtin_mul_overflow(static_cast<uint64_t>(fs.f_bavail), static_cast<uint64_t>(fs.f_bsize), &bytes))
        bytes = UINT64_MAX;
    return static_cast<long long>(bytes >> 20);
}

}  // namespace


extern "C" int IsSystemPartitionResizeable(void)
{
    unsigned long start = 0;
    unsigned long id = 0;
    if (RCPartitionConfigs(3, "/dev/hda", &start, &id) < 0) {
        ANALYSIS_LOG("RCPartitionConfigs(/dev/hda3) failed");
        return 0;
    }
    if (start > kResizeStartAfter)
        return 1;
    ANALYSIS_LOG("System Partition is not resizeable. (%lu)", start);
    return 0;
}

extern "C" int IsSystemPartitionSufficient(long long extractsize)
{
    uint64_t sizeKiB = 0;
    if (VEXAIsSupportRaid() != 0) {
        VEXARAIDINFO *info = nullptr;
        const int r = VEXARaidInfoGet("/dev/md0", &info);
        if (r != 1) {
            ANALYSIS_LOG("Failed to get RAID info, err=%d, errno=0x%X", r, VRALErrGet());
            return 0;
        }
        // 64-bit throughout: a volume of 4 TiB or more must not wrap
        sizeKiB = info->deviceSize >> 10;
        VEXARaidInfoFree(info);
    } else {
        unsigned long start = 0;
        unsigned long id = 0;
        const long long sectors = RCPartitionConfigs(1, "/dev/hda", &start, &id);
        if (sectors < 0) {
            ANALYSIS_LOG("RCPartitionConfigs(/dev/hda1) failed");
            return 0;
        }
        const bool factory = sectors == updt::analysis::kFactorySectors;
        const long long counted = updt::analysis::countedSectors(sectors, factory && IsSystemPartitionResizeable() == 1);
        sizeKiB = static_cast<uint64_t>(counted) / 2;
    }
    return updt::analysis::volumeHolds(sizeKiB, extractsize);
}

extern "C" int ErrUPDTIAnalyze_WholeSystem(void)
{
    const std::string patchVersion = std::string(gszPatchDir) + "/VERSION";

    struct stat st {};
    if (stat(patchVersion.c_str(), &st) != 0 || st.st_size == 0 || !S_ISREG(st.st_mode) ||
        (st.st_mode & S_IRUSR) == 0) {
        syslog(LOG_ERR, "%s(%d): the file [%s]", __func__, __LINE__, patchVersion.c_str());
        return 7;
    }

    char orgModel[33] = {};
    if (!readKey(kInstalledInfo, "unique", orgModel, sizeof orgModel))
        return 8;

    Version org;
    static const VersionMessages orgMessages = {{"fail to read major version", "fail to read minor version",
                                                 "fail to read buildphase", "fail to read buildnumber"}};
    if (!readVersion(kInstalledVersion, org, orgMessages))
        return 6;
    if (!org.valid()) {
        syslog(LOG_ERR, "%s(%d): buildnumber or major version == 0", __func__, __LINE__);
        return 6;
    }

    char newModel[33] = {};
    if (!readKey(patchVersion.c_str(), "unique", newModel, sizeof newModel))
        return 9;

    Version pkg;
    static const VersionMessages pkgMessages = {{"fail to read new major version", "fail to read new minor version",
                                                 "fail to read new build phase", "fail to read new build number"}};
    if (!readVersion(patchVersion.c_str(), pkg, pkgMessages))
        return 7;
    char extract[128] = {};
    if (!readKey(patchVersion.c_str(), "extractsize", extract, sizeof extract)) {
        syslog(LOG_ERR, "%s(%d): fail to get patch size", __func__, __LINE__);
        return 7;
    }
    const long long extractsize = strtoll(extract, nullptr, 10);
    if (!pkg.valid()) {
        syslog(LOG_ERR, "%s(%d): buildnumber or major version == 0", __func__, __LINE__);
        return 7;
    }
    // a package that claims to need no room, or less than none, is not valid
    if (extractsize <= 0) {
        syslog(LOG_ERR, "%s(%d): invalid patch size [%s]", __func__, __LINE__, extract);
        return 7;
    }

    if (pkg.majorNo <= 1 || org.majorNo <= 1) {
        ANALYSIS_LOG("orgMajorVersion=%ld", org.majorNo);
        return 13;
    }
    const int b = static_cast<int>(org.buildNo);
    if (pkg.buildNo <= org.buildNo) {
        syslog(LOG_ERR, "%s(%d): orgBuildNumber = %d, newBuildNumber=%ld", __func__, __LINE__, b, pkg.buildNo);
        return 10;
    }
    if (orgModel[0] == '\0' || newModel[0] == '\0' || strncasecmp(orgModel, newModel, 32) != 0) {
        syslog(LOG_ERR, "%s(%d): szOrgCompany = [%s], szNewCompany=[%s]", __func__, __LINE__, orgModel, newModel);
        return 12;
    }

    if (b <= 261 && isWriteableModel(newModel) && hasWriteableFolder()) {
        gSaveWriteable = 1;
        const int rc = ensureDefaultFs();
        if (rc != 0)
            return rc;
        const long long freeMiB = writeableFreeMiB();
        if (freeMiB >= 0 && freeMiB <= 1)
            return 16;
    }

    if (b == 284 && gIsBantam != 0 && strncasecmp(orgModel, "vexalink_powerpc_q80z+_1hd", 32) == 0)
        gFixFisDir = 1;

    if (b <= 350)
        gUseMtdBuffer = 0;

    if (IsSystemPartitionSufficient(extractsize) == 0) {
        UPDTWriteMessage(UPDT_MESSAGE_KEY, "System volume is insufficient to extract upgrade patch, please backup all "
                                           "files and restore to factory default.");
        return 16;
    }

    if (gNoInitrd == 0)
        UPDTSetConfigFlags(b);

    const std::string line = std::string("Upgrade from version ") + org.major + "." + org.minor + "." + org.phase +
                             "." + org.build + " to version " + pkg.major + "." + pkg.minor + "." + pkg.phase + "." +
                             pkg.build;
    UPDTWriteLog(line.c_str());
    return 0;
}

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
constexpr const char *kInfo = VEXA_INFO_CONF;
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
        return UPDT_OK;
    if (r < 0) {
        struct stat st {};
        const bool fileMissing = stat(kInfo, &st) != 0 && errno == ENOENT;
        if (!fileMissing) {
            if (VRALErrGet() == ERR_BUFFER_TOO_SMALL)
                return UPDT_OK;  // present, only longer than we read
            logNoDefaultFs(kInfo, __LINE__);
            return UPDT_ERR_DEFAULTFS;
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
        return UPDT_ERR_DEFAULTFS;
    }
    return UPDT_OK;
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
        UPDT_LOG("RCPartitionConfigs(/dev/hda3) failed");
        return 0;
    }
    if (start > kResizeStartAfter)
        return 1;
    UPDT_LOG("System Partition is not resizeable. (%lu)", start);
    return 0;
}

extern "C" int IsSystemPartitionSufficient(long long extractsize)
{
    uint64_t sizeKiB = 0;
    if (VEXAIsSupportRaid() != 0) {
        VEXARAIDINFO *info = nullptr;
        const int r = VEXARaidInfoGet("/dev/md0", &info);
        if (r != 1) {
            UPDT_LOG("Failed to get RAID info, err=%d, errno=0x%X", r, VRALErrGet());
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
            UPDT_LOG("RCPartitionConfigs(/dev/hda1) failed");
            return 0;
        }
        const bool factory = sectors == updt::analysis::kFactorySectors;
        const long long counted = updt::analysis::countedSectors(sectors, factory && IsSystemPartitionResizeable() == 1);
        sizeKiB = static_cast<uint64_t>(counted) / 2;
    }
    return updt::analysis::volumeHolds(sizeKiB, extractsize);
}

namespace {

constexpr const char *kFn = "ErrUPDTIAnalyze_WholeSystem";

// What the two version files and the model ids say.
struct Analysis {
    std::string patchVersion;  // the package's VERSION
    char orgModel[33] = {};
    char newModel[33] = {};
    Version org;
    Version pkg;
    char extract[128] = {};
    long long extractsize = 0;
    int build = 0;  // the installed build number, the migrations' key
};

// The package's VERSION must be a non-empty regular file its owner can read.
int checkPackageFile(Analysis &a)
{
    struct stat st {};
    if (stat(a.patchVersion.c_str(), &st) != 0 || st.st_size == 0 || !S_ISREG(st.st_mode) ||
        (st.st_mode & S_IRUSR) == 0) {
        syslog(LOG_ERR, "%s(%d): the file [%s]", kFn, __LINE__, a.patchVersion.c_str());
        return UPDT_ERR_READ_PATCH_VER;
    }
    return UPDT_OK;
}

// The model id and the four version keys; the first one missing gives its
// code.
int readModelAndVersion(const char *modelFile, char (&model)[33], const char *versionFile, Version &v,
                        const VersionMessages &missing, int noModel, int noVersion)
{
    if (!readKey(modelFile, "unique", model, sizeof model))
        return noModel;
    if (!readVersion(versionFile, v, missing))
        return noVersion;
    return UPDT_OK;
}

int invalidVersion(int code)
{
    syslog(LOG_ERR, "%s(%d): buildnumber or major version == 0", kFn, __LINE__);
    return code;
}

int readInstalled(Analysis &a)
{
    static const VersionMessages messages = {{"fail to read major version", "fail to read minor version",
                                              "fail to read buildphase", "fail to read buildnumber"}};
    if (const int rc = readModelAndVersion(kInstalledInfo, a.orgModel, kInstalledVersion, a.org, messages,
                                           UPDT_ERR_READ_MOD, UPDT_ERR_READ_VER);
        rc != UPDT_OK)
        return rc;
    if (!a.org.valid())
        return invalidVersion(UPDT_ERR_READ_VER);
    a.build = static_cast<int>(a.org.buildNo);
    return UPDT_OK;
}

int readPackage(Analysis &a)
{
    const char *file = a.patchVersion.c_str();
    static const VersionMessages messages = {{"fail to read new major version", "fail to read new minor version",
                                              "fail to read new build phase", "fail to read new build number"}};
    if (const int rc = readModelAndVersion(file, a.newModel, file, a.pkg, messages, UPDT_ERR_READ_PATCH_MOD,
                                           UPDT_ERR_READ_PATCH_VER);
        rc != UPDT_OK)
        return rc;
    if (!readKey(file, "extractsize", a.extract, sizeof a.extract)) {
        syslog(LOG_ERR, "%s(%d): fail to get patch size", kFn, __LINE__);
        return UPDT_ERR_READ_PATCH_VER;
    }
    a.extractsize = strtoll(a.extract, nullptr, 10);
    if (!a.pkg.valid())
        return invalidVersion(UPDT_ERR_READ_PATCH_VER);
    // a package that claims to need no room, or less than none, is not valid
    if (a.extractsize <= 0) {
        syslog(LOG_ERR, "%s(%d): invalid patch size [%s]", kFn, __LINE__, a.extract);
        return UPDT_ERR_READ_PATCH_VER;
    }
    return UPDT_OK;
}

// Major versions, build numbers, then the model ids.
int compareVersions(Analysis &a)
{
    if (a.pkg.majorNo <= 1 || a.org.majorNo <= 1) {
        UPDT_LOG("orgMajorVersion=%ld", a.org.majorNo);
        return UPDT_ERR_PATCH;
    }
    if (a.pkg.buildNo <= a.org.buildNo) {
        syslog(LOG_ERR, "%s(%d): orgBuildNumber = %d, newBuildNumber=%ld", kFn, __LINE__, a.build, a.pkg.buildNo);
        return UPDT_ERR_VERSION;
    }
    if (a.orgModel[0] == '\0' || a.newModel[0] == '\0' || strncasecmp(a.orgModel, a.newModel, 32) != 0) {
        syslog(LOG_ERR, "%s(%d): szOrgCompany = [%s], szNewCompany=[%s]", kFn, __LINE__, a.orgModel, a.newModel);
        return UPDT_ERR_COMPANY;
    }
    return UPDT_OK;
}

// Old builds of the models with a "/writeable" folder: it is saved after
// the write, needs defaultfs and a little room of its own.
int checkWriteable(Analysis &a)
{
    if (a.build > 261 || !isWriteableModel(a.newModel) || !hasWriteableFolder())
        return UPDT_OK;
    gSaveWriteable = 1;
    if (const int rc = ensureDefaultFs(); rc != UPDT_OK)
        return rc;
    const long long freeMiB = writeableFreeMiB();
    if (freeMiB >= 0 && freeMiB <= 1)
        return UPDT_ERR_SPACE;
    return UPDT_OK;
}

// What the model and the installed build ask of the flash stage.
void chooseFlashSteps(const Analysis &a)
{
    if (a.build == 284 && gIsBantam != 0 && strncasecmp(a.orgModel, "vexalink_powerpc_q80z+_1hd", 32) == 0)
        gFixFisDir = 1;
    if (a.build <= 350)
        gUseMtdBuffer = 0;
}

int checkSystemVolume(const Analysis &a)
{
    if (IsSystemPartitionSufficient(a.extractsize) != 0)
        return UPDT_OK;
    UPDTWriteMessage(UPDT_MESSAGE_KEY, "System volume is insufficient to extract upgrade patch, please backup all "
                                       "files and restore to factory default.");
    return UPDT_ERR_SPACE;
}

void logUpgrade(const Analysis &a)
{
    const Version &o = a.org;
    const Version &p = a.pkg;
    const std::string line = std::string("Upgrade from version ") + o.major + "." + o.minor + "." + o.phase + "." +
                             o.build + " to version " + p.major + "." + p.minor + "." + p.phase + "." + p.build;
    UPDTWriteLog(line.c_str());
}

}  // namespace

extern "C" int ErrUPDTIAnalyze_WholeSystem(void)
{
    Analysis a;
    a.patchVersion = std::string(gszPatchDir) + "/VERSION";
    // The first phase that refuses decides.
    using Phase = int (*)(Analysis &);
    for (Phase phase : {checkPackageFile, readInstalled, readPackage, compareVersions, checkWriteable}) {
        if (const int rc = phase(a); rc != UPDT_OK)
            return rc;
    }
    chooseFlashSteps(a);
    if (const int rc = checkSystemVolume(a); rc != UPDT_OK)
        return rc;
    if (gNoInitrd == 0)
        UPDTSetConfigFlags(a.build);
    logUpgrade(a);
    return UPDT_OK;
}

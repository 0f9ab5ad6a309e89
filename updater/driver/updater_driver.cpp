// One run of the updater: from the first progress write to the exit code.
#include <fcntl.h>
#include <getopt.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysinfo.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "base/err/err_log.h"
#include "base/file/vral_file.h"
#include "base/lock/vral_lock.h"
#include "migration_table.h"
#include "services/kernel/vexa_kernel.h"
#include "services/mtd/vexa_mtd.h"
#include "services/net/vexa_net.h"
#include "services/raid/vexa_raid.h"
#include "updt_analysis.h"
#include "updt_driver.h"
#include "updt_msys_update.h"
#include "updt_patch.h"
#include "updt_sequence.h"
#include "updt_signals.h"
#include "updt_status.h"

extern "C" {

const char *const gResultIds[UPDT_RESULT_IDS] = {
    "upgrade_success",      // 0
    "error_dirop",          // 1
    "error_dirop",          // 2
    "error_dirop",          // 3
    "error_bootmediaop",    // 4
    "error_bootmediaop",    // 5
    "error_read_ver",       // 6
    "error_read_patch_ver", // 7
    "error_read_mod",       // 8
    "error_read_patch_mod", // 9
    "error_version",        // 10
    "error_model",          // 11
    "error_company",        // 12
    "error_patch",          // 13
    "error_update_unknown", // 14
    "error_update_unknown", // 15
    "error_update_unknown", // 16
    "error_update_unknown", // 17
    "error_update_unknown", // 18
    "error_update_unknown", // 19
    "error_update_unknown", // 20
    "error_update_unknown", // 21
    "error_update_unknown", // 22
    "error_memory",         // 23
    "error_reboot",         // 24
};

int gIsBantam = 0;
int gNoInitrd = 0;
int gUseMtdBuffer = 1;
int gFixFisDir = 0;
char gszUpgradeVolume[32] = UPDT_DEFAULT_VOLUME;

}  // extern "C"

namespace {

constexpr const char *kFn = "main";
constexpr const char *kInitrd = "/initrd";
constexpr const char *kDefaultsConf = "/etc.defaults/vexainfo.conf";
constexpr const char *kInfoConf = VEXA_INFO_CONF;
constexpr const char *kMtuDefault = "1500";
constexpr const char *kEth = "eth0";
constexpr const char *kSafePath = "/usr/sbin:/usr/bin:/sbin:/bin";

void printUsage()
{
    puts("Vexa firmware updater");
    puts("updater [-h][-g][-v vol]");
    puts(" -g: for group update");
    puts(" -v: specify an avaible volume for upgrade task.");
}

void setUserMessage(const char *text)
{
    UPDTWriteMessage(UPDT_MESSAGE_KEY, text);
}

// Commands run by bare name ("touch", "mount") must not be found in the
// package folder or wherever the caller stands: only absolute folders of
// PATH are kept.
void keepAbsolutePath()
{
    const char *path = std::getenv("PATH");
    if (path == nullptr)
        return;
    std::string kept;
    std::string_view rest = path;
    while (true) {
        const size_t colon = rest.find(':');
        const std::string_view entry = rest.substr(0, colon);
        if (!entry.empty() && entry.front() == '/')
            kept.append(kept.empty() ? "" : ":").append(entry);
        if (colon == std::string_view::npos)
            break;
        rest.remove_prefix(colon + 1);
    }
    // An empty PATH would search the current folder again.
    if (kept.empty())
        kept = kSafePath;
    if (kept != path)
        setenv("PATH", kept.c_str(), 1);
}

// A saved MTU that the exit can write back as it was: a plain number.
bool restorableMtu(const char *text)
{
    size_t n = 0;
    for (; text[n] != '\0'; ++n)
        if (text[n] < '0' || text[n] > '9')
            return false;
    return n > 0;
}

class Run {
public:
    int main(int argc, char **argv);

private:
    enum class Opt { Go, Help, Bad };

    int road(int argc, char **argv);
    int unexpected();
    Opt readOptions(int argc, char **argv);
    void selectModel();
    int enterPackageFolder(int argc, char **argv);
    int prepare();
    int preFlashSteps();
    int exitRun(int code);
    int shortExit(int code);

    char state_ = UPDT_STATE_START;
    int startFd_ = -1;
    bool mtuCalled_ = false;
    char savedMtu_[16] = {};
    bool exiting_ = false;  // the exit steps have begun
    std::optional<updt::SignalHold> signals_;  // from the start to the exit
};

Run::Opt Run::readOptions(int argc, char **argv)
{
    optind = 1;
    opterr = 0;
    int c;
    while ((c = getopt(argc, argv, "hgv:")) != -1) {
        switch (c) {
        case 'h':
            printUsage();
            return Opt::Help;
        case 'g':
            gGroupUpdate = 1;
            break;
        case 'v': {
            size_t len = std::strlen(optarg);
            // An empty or relative name would put the archive somewhere
            // else than on a volume.
            if (optarg[0] != '/') {
                syslog(LOG_ERR, "updater: volume [%s] is not an absolute path\n", optarg);
                return Opt::Bad;
            }
            // A longer name would be cut to some other folder: refuse it.
            if (len >= sizeof(gszUpgradeVolume)) {
                syslog(LOG_ERR, "updater: volume name too long (%zu characters, at most %zu)\n", len,
                       sizeof(gszUpgradeVolume) - 1);
                return Opt::Bad;
            }
            std::snprintf(gszUpgradeVolume, sizeof(gszUpgradeVolume), "%s", optarg);
            break;
        }
        default:
            syslog(LOG_ERR, "updater: invalid option [%c]\n", c);
            return Opt::Bad;
        }
    }
    return Opt::Go;
}

void Run::selectModel()
{
    if (VEXAIsBantamModel() != 0) {
        UPDTSelectPartitionTables(1);
        gIsBantam = 1;
        syslog(LOG_ERR, "This is bantam, gszDevMtdPartition=[%s]", gszDevMtdPartition);
    } else {
        UPDTSelectPartitionTables(0);
        gIsBantam = 0;
        syslog(LOG_ERR, "This is not bantam, gszDevMtdPartition=[%s]", gszDevMtdPartition);
    }
    gNoInitrd = access(kInitrd, F_OK) == -1 ? 1 : 0;
}

int Run::enterPackageFolder(int argc, char **argv)
{
    const char *prog = argc > 0 ? argv[0] : nullptr;
    if (prog == nullptr || std::strlen(prog) >= sizeof(gszPatchDir)) {
        VRAL_LOG_CALL(kFn, "program path too long or missing");
        return UPDT_ERR_CHDIR;
    }
    std::snprintf(gszPatchDir, sizeof(gszPatchDir), "%s", prog);
    char *slash = std::strrchr(gszPatchDir, '/');
    if (slash != nullptr)
        *slash = '\0';
    else
        std::snprintf(gszPatchDir, sizeof(gszPatchDir), "%s/%s", gszUpgradeVolume, UPDT_VOLUME_PATCH_DIR);
    if (chdir(gszPatchDir) != 0) {
        VRAL_LOG_CALL(kFn, "fail to chdir, errno = %d", errno);
        return UPDT_ERR_CHDIR;
    }
    // The stages build their paths from it: it must be the real, whole one.
    if (getcwd(gszPatchDir, sizeof(gszPatchDir)) == nullptr) {
        VRAL_LOG_CALL(kFn, "fail to get the package folder, errno = %d", errno);
        gszPatchDir[0] = '\0';
        return UPDT_ERR_CHDIR;
    }
    UPDTSetProgress(state_, 10);
    return UPDT_OK;
}

int Run::prepare()
{
    if (gUseMtdBuffer) {
        char support[8] = {};
        if (VRALFileGetKeyValue(kDefaultsConf, "supportMTU", support, sizeof(support), 0) > 0 &&
            strcasecmp(support, "yes") == 0 &&
            VRALFileGetKeyValue(kInfoConf, "eth0_mtu", savedMtu_, sizeof(savedMtu_), 0) > 0 &&
            std::strcmp(savedMtu_, kMtuDefault) != 0) {
            if (!restorableMtu(savedMtu_)) {
                // Lowered, it could not be put back at exit.
                VRAL_LOG_CALL(kFn, "eth0_mtu [%s] is not a number, the MTU is left as it is", savedMtu_);
            } else {
                // The call records eth0_mtu even when it fails on the link,
                // so the old value goes back whatever it answered.
                mtuCalled_ = true;
                VEXANetSetMTUValue(kMtuDefault, kEth);  // logs its own failure
            }
        }
        if (syscall(VEXA_SYS_MTD_BUFFER, VEXA_MTD_BUFFER_RESERVE) != 0) {
            int err = errno;
            VRAL_LOG_CALL(kFn, "fail to malloc mtd driver buffer, error = %d", err);
            if (err != ENOSYS) {
                setUserMessage(UPDT_MSG_MTD_BUFFER);
                return UPDT_ERR_MTD_BUFFER;
            }
        }
    } else if (!gIsBantam && !gNoInitrd) {
        struct sysinfo info;
        if (sysinfo(&info) != 0 || info.uptime > UPDT_UPTIME_LIMIT) {
            VRAL_LOG_CALL(kFn, "the system has been up too long to update without a reboot");
            setUserMessage(UPDT_MSG_REBOOT);
            return UPDT_ERR_REBOOT;
        }
    }
    return UPDT_OK;
}

int Run::preFlashSteps()
{
    return updt::migrate::runStage(updt::migrate::steps(), updt::migrate::Stage::BeforeWrite);
}

int Run::exitRun(int code)
{
    exiting_ = true;
    if (gUseMtdBuffer && syscall(VEXA_SYS_MTD_BUFFER, VEXA_MTD_BUFFER_RELEASE) != 0)
        VRAL_LOG_CALL(kFn, "fail to free mtd driver buffer, error = %d", errno);
    if (fchdir(startFd_) != 0) {
        VRAL_LOG_CALL(kFn, "fail to return to the start folder, errno = %d (exit code %d becomes %d)", errno, code,
                      UPDT_ERR_RETURN_CWD);
        code = UPDT_ERR_RETURN_CWD;
    }
    close(startFd_);
    startFd_ = -1;
    return shortExit(code);
}

int Run::shortExit(int code)
{
    exiting_ = true;
    if (code != 0) {
        char text[64];
        std::snprintf(text, sizeof(text), "Failed to accomplish the update! (errno = %d)", code);
        syslog(LOG_ERR, "%s", text);
        UPDTWriteLog(text);
    }
    // Put back whatever it costs: a lowered MTU left behind is read as
    // the saved one by the next run.
    for (int tries = 0; mtuCalled_ && tries < UPDT_ATTEMPTS; ++tries)
        if (VEXANetSetMTUValue(savedMtu_, kEth) >= 0)
            break;
    if (signals_)
        signals_->logArrived();
    UPDTSetProgress(state_, -code);
    return code;
}

// Whatever failed where nothing expected it (a failed allocation) before
// the flash stage or in the exit (the sequence handles its own): the run
// still ends through every exit step.
int Run::unexpected()
{
    VRAL_LOG_CALL(kFn, "unexpected failure (out of memory)");
    if (exiting_) {
        // The exit itself failed half-way; what is left is the progress.
        UPDTSetProgress(state_, -UPDT_ERR_SPACE);
        return UPDT_ERR_SPACE;
    }
    return startFd_ >= 0 ? exitRun(UPDT_ERR_SPACE) : shortExit(UPDT_ERR_SPACE);
}

int Run::main(int argc, char **argv)
{
    // Whatever the caller's umask: nothing the run makes is open to others
    // unless it says so.
    umask(022);
    // Held before the first change a run makes: a signal ends no run
    // half-way, it is logged and the run goes on to its own exit.
    signals_.emplace();
    try {
        return road(argc, argv);
    } catch (...) {
        return unexpected();
    }
}

int Run::road(int argc, char **argv)
{
    VRAL_LOG_CALL(kFn, "Start of the updater...");
    keepAbsolutePath();
    state_ = UPDT_STATE_START;
    mtuCalled_ = false;
    UPDTSetProgress(state_, 0);
    UPDTCheckLogSize();
    UPDTWriteLog("Start of the update...");
    std::snprintf(gszUpgradeVolume, sizeof(gszUpgradeVolume), "%s", UPDT_DEFAULT_VOLUME);

    switch (readOptions(argc, argv)) {
    case Opt::Help:
        return UPDT_OK;
    case Opt::Bad:
        return UPDT_ERR_OPTION;
    case Opt::Go:
        break;
    }

    selectModel();

    startFd_ = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (startFd_ < 0) {
        VRAL_LOG_CALL(kFn, "fail to open current directory. errno=%d", errno);
        return shortExit(UPDT_ERR_OPEN_CWD);
    }
    if (int code = enterPackageFolder(argc, argv); code != UPDT_OK)
        return exitRun(code);
    // Kept on every road, -g included: the run removes only its own.
    UPDTKeepEarlierBackup();

    if (!gGroupUpdate) {
        int code = ErrUPDTIAnalyze_WholeSystem();
        if (code != 0) {
            VRAL_LOG_CALL(kFn, "fail to analyze, error = %d", code);
            return exitRun(code);
        }
        UPDTSetProgress(state_, 100);
    }

    if (int code = prepare(); code != UPDT_OK)
        return exitRun(code);

    if (VEXAMTDIsMSys() == 1)
        return exitRun(UPDTMSysUpdate(&state_));  // no steps before the write

    if (int code = preFlashSteps(); code != UPDT_OK)
        return exitRun(code);
    updt::Ending ending;
    const int code = updt::runSequence(&state_, updt::norRoad(), ending);
    return exitRun(code);
}

}  // namespace

extern "C" int UPDTMain(int argc, char **argv)
{
    Run run;
    return run.main(argc, argv);
}

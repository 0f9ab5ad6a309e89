// The run from the flash write to its result, one sequence for every kind
// of flash: each road passes its flash operations and the steps it takes
// beside the write.
#include "updt_sequence.h"

#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "base/err/err_log.h"
#include "migration_table.h"
#include "services/raid/vexa_raid.h"
#include "updt_driver.h"
#include "updt_patch.h"
#include "updt_shell.h"
#include "updt_status.h"

namespace updt {

namespace {

constexpr const char *kFn = "main";

// The volume is writable by its users: the target is replaced as a file,
// never entered as a folder nor written through a link planted there.
bool moveUpgradeArchive(const std::string &source)
{
    const std::string target = std::string(gszUpgradeVolume) + "/" + UPDT_UPGRADE_TARGET;
    struct stat st;
    if (lstat(target.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            VRAL_LOG_CALL(kFn, "[%s] is a folder, not replaced", target.c_str());
            return false;
        }
        if (S_ISLNK(st.st_mode) && unlink(target.c_str()) != 0) {
            VRAL_LOG_CALL(kFn, "cannot remove the link [%s], errno = %d", target.c_str(), errno);
            return false;
        }
    }
    const std::string cmd = commandLine({{"/bin/mv -f -T ", false}, {source, true}, {" ", false}, {target, true}});
    return !cmd.empty() && UPDTExecute(cmd.c_str()) == 0;
}

// The migration after the write on NOR flash, with the rows the driver
// runs beside it.
int configureNor()
{
    updt::migrate::runStage(updt::migrate::steps(), updt::migrate::Stage::PhotoFolders);
    UpdatePgsqlDatabases();
    return UPDTUpdateConfig();
}

class Sequence {
public:
    Sequence(char *state, const Road &road, Ending &ending) : state_(state), road_(road), ending_(ending) {}

    int run();
    int unexpected();

private:
    void setState(char letter);
    int configure();
    int finish();
    int rollBackAndClean(int code);
    void moveArchive();
    void removeBackup();

    char *state_;
    const Road &road_;
    Ending &ending_;
    std::vector<FISDIRENTRY> directory_;
    int entries_ = 0;
    bool rolledBack_ = false;  // the roll-back path was taken
};

void Sequence::setState(char letter)
{
    *state_ = letter;
    UPDTSetProgress(letter, 0);
}

int Sequence::run()
{
    *state_ = UPDT_STATE_PATCH;
    bool rollBack = false;
    int code = road_.flash->readTable(directory_, entries_);
    if (code == UPDT_OK)
        code = road_.flash->writePartitions(directory_, entries_, rollBack);
    if (code != UPDT_OK)
        return rollBack ? rollBackAndClean(code) : code;
    // A failed migration rolls the flash back like a failed write.
    if (code = configure(); code != UPDT_OK)
        return rollBackAndClean(code);
    return finish();
}

int Sequence::configure()
{
    setState(UPDT_STATE_CONFIG);
    if (!gGroupUpdate && road_.configure() != 0)
        return UPDT_ERR_CONFIG;
    UPDTSetProgress(*state_, 100);
    return UPDT_OK;
}

void Sequence::moveArchive()
{
    const std::string source = std::string(gszPatchDir) + "/" + UPDT_UPGRADE_FILE;
    if (access(source.c_str(), F_OK) == 0 && !moveUpgradeArchive(source))
        VRAL_LOG_CALL(kFn, "mv %s to %s/%s fail.", UPDT_UPGRADE_FILE, gszUpgradeVolume, UPDT_UPGRADE_TARGET);
}

int Sequence::finish()
{
    ending_.cleanUp = true;
    moveArchive();
    if (road_.shutdownMarker) {
        if (gNoInitrd) {
            if (std::system(VEXAIsSupportRaid() ? "mount /dev/md0 /tmpRoot" : "mount /dev/hda1 /tmpRoot")) {
            }
            if (std::system("touch /tmpRoot/.NormalShutdown")) {
            }
        } else if (std::system("touch /.NormalShutdown")) {
        }
    }
    setState(UPDT_STATE_DONE);
    syslog(LOG_ERR, "Congratulation!! The update has been completed!!");
    UPDTWriteLog("Congratulation!! The update has been completed!!");
    removeBackup();
    return UPDT_OK;
}

void Sequence::removeBackup()
{
    // Only the folder this run made: an earlier one was moved aside at the
    // start, and one put in its place since is not ours to remove.
    if (!UPDTBackupIsOwn())
        return;
    if (ending_.keepBackup) {
        VRAL_LOG_CALL(kFn, "keeping %s/%s: it holds the only copies of the old partitions", gszPatchDir,
                      UPDT_BACKUP_DIR);
        return;
    }
    std::string cmd = commandLine(
        {{"/bin/rm -rf ", false}, {std::string(gszPatchDir) + "/" + UPDT_BACKUP_DIR, true}});
    if (cmd.empty()) {
        VRAL_LOG_CALL(kFn, "backup folder path too long");
        return;
    }
    syslog(LOG_ERR, "szCmd=[%s]", cmd.c_str());
    UPDTExecute(cmd.c_str());
}

int Sequence::rollBackAndClean(int code)
{
    rolledBack_ = true;
    ending_.cleanUp = true;
    const char *fn = road_.flash->caller;
    if (!gGroupUpdate) {
        // A failure before the first change of the flash leaves nothing to
        // undo, and nothing to reinstall.
        if (!UPDTFlashTouched()) {
            syslog(LOG_ERR, "%s(%d): the flash was not changed, nothing to roll back", fn, __LINE__);
        } else {
            if (road_.flash->rollBack(directory_.data(), entries_) < 0) {
                syslog(LOG_ERR, "%s: UPDTRollBack() fail", fn);
                ending_.keepBackup = true;
            }
            syslog(LOG_ERR, "%s(%d): Turn on the reinstall library flag...!!", fn, __LINE__);
        }
    }
    if (road_.archiveMovedAfterFailure)
        moveArchive();
    removeBackup();
    return code;
}

// Whatever failed where nothing expected it (a failed allocation): a
// flash touched by a write or migration that did not finish is rolled
// back; past the migration the update is whole and is not undone.
int Sequence::unexpected()
{
    VRAL_LOG_CALL(kFn, "unexpected failure (out of memory)");
    const bool midWay = UPDTFlashTouched() && (*state_ == UPDT_STATE_PATCH || *state_ == UPDT_STATE_CONFIG);
    const int code = *state_ == UPDT_STATE_CONFIG ? UPDT_ERR_CONFIG
                     : midWay                     ? UPDT_ERR_FLASH_WRITE
                                                  : UPDT_ERR_SPACE;
    try {
        if (midWay && !rolledBack_)
            rollBackAndClean(code);
    } catch (...) {
        VRAL_LOG_CALL(kFn, "unexpected failure while rolling back");
        ending_.keepBackup = true;
    }
    return code;
}

}  // namespace

Road norRoad()
{
    return Road{&UPDTNorFlash, configureNor, true, false};
}

Road msysRoad()
{
    return Road{&UPDTMSysFlash, UPDTUpdateConfig, false, true};
}

int runSequence(char *state, const Road &road, Ending &ending)
{
    ending = Ending{};
    Sequence sequence(state, road, ending);
    try {
        return sequence.run();
    } catch (...) {
        return sequence.unexpected();
    }
}

}  // namespace updt

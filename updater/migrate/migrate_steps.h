// The migration steps that follow the flash write, one function per row of
// the migration table, and what several of them share.
#ifndef UPDT_MIGRATE_STEPS_H
#define UPDT_MIGRATE_STEPS_H

#include <syslog.h>

#include <string>
#include <string_view>
#include <vector>

#include "base/io/io_fd.h"
#include "migration_table.h"
#include "updt_log.h"

// "updater:<line>(UPDTUpdateConfig) ..."; the steps' other shape is
// UPDT_LOG_LINE.
#define MIGRATE_LOG(fmt, ...) VRAL_LOG_IN("updater", __LINE__, "UPDTUpdateConfig", fmt __VA_OPT__(, ) __VA_ARGS__)

namespace updt::migrate {

// Files the new firmware no longer uses.
int removeRcAtalk(const Step &step);
int removePapdConf(const Step &step);
int removeEtcProfile(const Step &step);
int removeJumboFrameScript(const Step &step);
int removeManutilConf(const Step &step);
int removePhpIni(const Step &step);
// Removes path; a missing one is no failure.  0, or -1 logged as
// "<message>, errno=(%d)[%s]".
int removeObsolete(const char *path, const std::string &message);

int saveWriteable(const Step &step);
int cleanCrontab(const Step &step);
int convertMTUValue(const Step &step);
int moveMTUValue(const Step &step);

// The photo share and the database service.
int chmodPhotoEaDir(const Step &step);
int updatePhotoDbColumns(const Step &step);
int updatePhotoDbVideoTables(const Step &step);
int dropMediaDb(const Step &step);
int dumpPgsqlDbs(const Step &step);
int reindexMedia(const Step &step);
class VolumeFolder;
// Starts the database service, once a run.
void startPgsql();
// Runs a database command through the shell, inside a folder when given
// (result not looked at), the service started first.
void pgsqlCommand(const std::string &cmd, const VolumeFolder *inside = nullptr);

// The names in the folder held by dirFd, "." and ".." left out; false when
// it cannot be read to its end.
bool FolderEntries(int dirFd, std::vector<std::string> &names);

// words followed by the quoted path: "" when the line would be longer
// than the shell runner takes.
std::string quotedCommand(std::string_view words, std::string_view path);

// A folder of the updater's own on the volume, whose users may swap names
// there: made root's and 0755, and held open without following a link.  A
// folder of root's closed to others is taken as it is; one that was open
// to others only when it is empty once closed.  Anything else at the name
// (another user's folder, an open one holding names, a file, a link) is
// renamed to a new name, logged, and a fresh folder made.  Once held only
// the updater can add names to it, and the commands that fill it run
// inside it, so none of them writes through a link.
class VolumeFolder {
public:
    // mkdirWords with the quoted path "<volume>/<name>" is the command the
    // messages name for the folder's making.
    VolumeFolder(std::string_view mkdirWords, std::string_view name);
    bool held() const { return fd_.ok(); }
    int fd() const { return fd_.get(); }
    const std::string &mkdirCommand() const { return mkdirCmd_; }
    // The errno of what kept the folder from being held.
    int error() const { return err_; }
    // Removes name inside the folder, so that a command makes it anew.
    void clear(const char *name) const;
    // system()'s result of cmd run inside the folder, -1 when it is not held.
    int run(const std::string &cmd) const;

private:
    int hold(std::string_view mkdirWords);
    bool fit(int fd, std::string &why) const;
    bool moveAside(int volume, const std::string &why);

    std::string name_;
    std::string path_;
    std::string mkdirCmd_;
    int err_ = 0;
    vralio::Fd fd_;
};

}  // namespace updt::migrate

#endif

// The one writer of a file that replaces another, offered to the updater
// on purpose: created beside the file it replaces without following a
// link, given that file's owner, group and mode (or root's and a default
// mode) before its first byte, written whole, synced, renamed over it and
// its folder synced; removed on every other path.
#ifndef VEXA_FILE_TMP_FILE_H
#define VEXA_FILE_TMP_FILE_H

#include <sys/stat.h>

#include <string>

namespace vralfile {

class TmpFile {
public:
    TmpFile(const char *target, const char *tmpPath, mode_t defaultMode);
    // A temporary file of a name no one can guess (target and a random
    // suffix), given st's owner, group and mode.
    TmpFile(const char *target, const struct stat &st);
    ~TmpFile();
    TmpFile(const TmpFile &) = delete;
    TmpFile &operator=(const TmpFile &) = delete;

    bool ok() const { return fd_ >= 0; }
    // The open file, for a caller that streams into it before finish().
    int fd() const { return fd_; }
    // The content, written by finish().
    std::string &text() { return text_; }
    // Gives the file this mode in place of the replaced file's: 0 or -1.
    int setMode(mode_t mode);
    // Gives the file this owner in place of the replaced file's: 0 or -1.
    int setOwner(uid_t uid, gid_t gid);
    // Writes the content and syncs it: 0, or -1 (logged, code recorded).
    int finish();
    // Renames the file over its target and syncs the folder: 0, or -1.
    int moveIn();
    // The written file as finish() left it: what now stands at the target.
    const struct stat &written() const { return st_; }

private:
    void own(uid_t uid, gid_t gid, mode_t mode);

    std::string target_;
    std::string path_;
    std::string text_;
    int fd_ = -1;
    bool moved_ = false;
    struct stat st_ {};
};

}  // namespace vralfile

#endif

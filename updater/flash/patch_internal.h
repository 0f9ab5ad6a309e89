// Shared by the flash stages (not part of the updater's public header).
#ifndef UPDT_PATCH_INTERNAL_H
#define UPDT_PATCH_INTERNAL_H

#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>

#include "updt_patch.h"

#include "base/err/err_log.h"

// The flash stages' messages: source file, line and the function they
// speak for ("%s:%d(%s) " and the text).
#define PATCH_LOG_AT(line, func, fmt, ...) VRAL_LOG_IN(__FILE_NAME__, (line), (func), fmt __VA_OPT__(, ) __VA_ARGS__)
#define PATCH_LOG(func, fmt, ...) PATCH_LOG_AT(__LINE__, func, fmt __VA_OPT__(,) __VA_ARGS__)

namespace updtpatch {

// Set once UPDTDoPatch has issued its first flash operation.
extern bool gFlashTouched;
// Per patch-table entry: its datalen came from an image of the package.
extern bool gHasImage[UPDT_TABLE_MAX];

// The directory's spelling of an entry's name (at most its 16 bytes).
std::string entryName(const FISDIRENTRY &e);
// "<package folder>/b@ckup/mtd_<name>".
std::string backupCopyPath(const std::string &name);
// "<package folder>/<file>".
std::string packagePath(const char *file);
// The flash directory as both roads log it before the patch table is built.
void logDirectory(const FISDIRENTRY *directory, int count);

// What a flash function returns when an allocation failed inside it: -1,
// logged as func's and recorded as ERR_OUT_OF_MEMORY.
int outOfMemory(const char *func) noexcept;

// The restore of one partition, started again when an allocation cut it
// short (at most UPDT_ATTEMPTS times): a roll-back never leaves a
// partition half-done for want of memory.  What restore returns, or -1.
template <typename Restore>
int restoreShortOfMemory(const char *func, Restore restore) noexcept
{
    for (int tries = 1;; ++tries) {
        try {
            return restore();
        } catch (...) {
            if (tries >= UPDT_ATTEMPTS)
                return outOfMemory(func);
        }
    }
}

// Index of partition part (table entry i) in the directory; -1 logged as
// func's "get idx of partition" failure.
int entryIndex(const char *part, int i, FISDIRENTRY *directory, int count, const char *func, int line);

// Records the directory entry spelt name with its new place, size and
// data length ('M' 23); -1 logged as func's failure.
int recordEntry(const std::string &name, uint32_t base, uint32_t size, uint32_t datalen, const char *func);

// Runs a command line through UPDTExecute after logging it with fmt (one
// "%s" for the line, or "%s(%d)..." with the caller's name and line); a
// line longer than UPDT_CMD_MAX is refused.  0 or -1.
int runCommand(const std::string &cmd, const char *func, int line, bool commandStyle);

// Writes P with 60 + 40 x done / total; nothing while total is 0.
void setWriteProgress();

// Compares the first length bytes of the open source (named source in
// messages; read from its start) and device in rounds of chunk bytes;
// progress says whether the rounds count in gProgressDone.  0 or -1.
int compareWithDevice(int src, const char *source, const char *device, uint64_t length, int chunk, bool progress,
                      const char *func);
// Copies the first length bytes of the open source (read from its start)
// to the open target in rounds of chunk bytes; progress as above.  0 or -1.
int copyBetween(int src, const char *source, int dst, const char *target, uint64_t length, int chunk,
                bool progress, const char *func);
// The same onto device, opened for writing here.
int copyToDevice(int src, const char *source, const char *device, uint64_t length, int chunk, bool progress,
                 const char *func);

// Fills table entry i from its directory entry and its image, logging as
// func with one "PATCHINFO: <label>[...]" line; the blocks it needs, or -1.
long long fillEntry(int i, FISDIRENTRY *directory, int count, const char *func, const char *label);

// What one partition is written from: its image, or its copy in the
// backup folder, held open from the plan to the end of the write.
struct Plan {
    const char *device = nullptr;
    std::optional<vexamtd::Fd> source;
    std::string sourceName;  // for messages
    std::string dirName;     // the directory's spelling of the name
    uint64_t length = 0;     // bytes copied and verified
};

// Settles the source of table entry i before anything is written; false,
// logged as func's, when it has none that fits.  A copy gives the bytes
// that fit the entry's new size, never fewer than its data.
bool planEntry(int i, FISDIRENTRY *directory, int count, Plan &plan, const char *func);

// One attempt at a planned partition: copies its bytes onto the device
// and reads them back; progress says whether they count in
// gProgressDone's verified half.  0 or -1.
int writeAndVerify(const Plan &plan, int attempt, bool progress, const char *func);

// The frame of a roll-back: rollBackStart gives -1 for a bad argument, 0
// when the write never changed the flash (nothing to restore), else 1;
// rollBackEnd gives 0, or -1 after a failure, logging that the copies in
// "b@ckup" are the way back.  Both log as func's.
int rollBackStart(const FISDIRENTRY *directory, int count, const char *func);
int rollBackEnd(bool failed, const char *func);

// Opens a package image for reading, never through a link and only when
// it is a regular file; -1 logged as func's open failure.
int openImage(const char *path, const char *func, int line);

// Size and erase-block size in bytes of the partition behind device
// (MEMGETINFO), each stored when asked for; false when the request fails.
bool deviceInfo(const char *device, uint32_t *size, uint32_t *eraseSize);

// The run's backup folder.  makeBackupFolder moves a folder of an earlier
// run aside, makes a new one (root's, 0700) and holds it open; false,
// logged as func's, when it cannot.
bool makeBackupFolder(const char *func);
void closeBackupFolder();
// Creates the copy of the entry spelt name in the held folder, 0600, for
// reading and writing: never through a link nor over a file already
// there.  The descriptor, or -1 logged as func's.
int createCopy(const std::string &name, const char *func);
// Opens the copy of the entry spelt name for reading, only when it is a
// regular file this run made; the descriptor and its size, or -1.
int openCopy(const std::string &name, long long &size);
// The copy's name inside the folder: "mtd_<name>".
std::string copyName(const std::string &name);

}  // namespace updtpatch

#endif

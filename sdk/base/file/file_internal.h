// Shared pieces of the configuration-file engine: opening a file as each kind
// of operation needs it, line reading with error detection, the search and
// copy passes, the temporary-file rewrite and the checks of caller text.
#ifndef VRAL_FILE_INTERNAL_H
#define VRAL_FILE_INTERNAL_H

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdio>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "base/err/err_guard.h"
#include "base/err/vral_err.h"
#include "base/file/file_line_reader.h"
#include "base/file/file_tmp_file.h"

struct _tag_VRALSzHash;

namespace vralfile {

struct FileCloser {
    void operator()(FILE *fp) const
    {
        if (fp != nullptr)
            fclose(fp);
    }
};
using UniqueFile = std::unique_ptr<FILE, FileCloser>;

// Runs the body of an engine operation: a failed allocation anywhere in it
// is ERR_OUT_OF_MEMORY and -1, never an exception through the C interface.
template <typename Body>
int Guarded(Body body) noexcept
{
    return vral::NoThrow(-1, body);
}

// Opens a file to read a value or a line from.  -1 when it cannot be opened
// (ERR_OPEN_FAILED); 0 for a directory, which reads as a file without lines
// (ERR_NOT_FOUND); 1 when its lines can be read.
int OpenToRead(const char *szFile, UniqueFile *pFp);

// Reading pass of the value and line readers: opens szFile as OpenToRead
// does and hands each line to take(reader) until that returns false.  -1
// (recorded) when the file cannot be opened or read, 0 for a directory, 1
// once the pass is done.
template <typename Take>
int ScanLines(const char *szFile, Take take);

// Opens an existing file that a rewrite is to replace and queries its
// status: ERR_OPEN_FAILED, ERR_STAT_FAILED, or ERR_OPEN_FAILED for a
// directory.  0 or -1.
int OpenToRewrite(const char *szFile, const char *mode, UniqueFile *pFp, struct stat *pSt);

// As OpenToRewrite, but a missing file is created holding content.  Only an
// open that failed with ENOENT creates, so nothing that exists is ever
// truncated; a link not to be followed, a FIFO or a device is replaced by
// a new file holding content.  1 created, 0 opened (go on), -1 failure.
int OpenOrCreate(const char *szFile, const char *mode, std::string_view content, UniqueFile *pFp,
                 struct stat *pSt);

// Search pass of a line edit: the number (from 1) of the line that the
// pattern matches, the first or with OP_FIND_LAST the last; 0 when none;
// -1 on a read error (ERR_READ_FAILED).  The stream is rewound for the copy.
long FindLine(FILE *fp, const char *szPattern, int flags);

// Result of a read that found a value or line of cbResult bytes (with its
// terminator, 0 when none) for a buffer of cb bytes: ERR_BUFFER_TOO_SMALL
// and -1 when a given buffer is too small, ERR_NOT_FOUND and 0 when nothing
// was found, else the size.
int ReadResult(size_t cbResult, bool fBuffer, int cb);

// Whether a value or line of cbResult bytes fits a buffer of cb bytes.
inline bool Fits(size_t cbResult, int cb)
{
    return static_cast<long long>(cbResult) <= static_cast<long long>(cb);
}

// Status of an open stream; records ERR_STAT_FAILED, or ERR_OPEN_FAILED for a
// directory (rewriting operations refuse it).  0 or -1.
int StatForRewrite(FILE *fp, struct stat *pSt);

// True when the stream is a directory (which reads as an empty file).
bool IsDirectory(FILE *fp);

// Path that a rewrite replaces: szFile, or the final target of a symbolic
// link so that the link itself stays.  A link in a sticky folder that
// others can write is not followed unless the folder's owner or we own it
// (*pHeldLink then true, the link's own path returned).
std::string RewriteTarget(const char *szFile, bool *pHeldLink = nullptr);

// Opens what RewriteTarget names ("r" or "r+"), never through a link: a
// link not followed fails with ELOOP.  NULL with errno set.
FILE *OpenTarget(const char *szFile, const char *mode, bool *pHeldLink = nullptr);

// Puts a new file of ours holding content in place of a link that is not
// to be followed, or of a file that is not a regular one, by a rename over
// it; a link's target stays untouched.  Records as the rewrite does; 1 or
// -1.
int ReplaceByNewFile(const char *szFile, std::string_view content);

// Creates a missing file holding content (flushed and synced).  Used only
// after an open failed with ENOENT, so nothing existing is ever truncated.
// Records ERR_OPEN_FAILED or ERR_WRITE_FAILED; 1 or -1.
int CreateMissing(const char *szFile, std::string_view content);

// Writes a new copy of a file beside it and renames it over the file with
// the old owner, group and mode.  Anything not committed is removed.
class Rewriter {
public:
    Rewriter() = default;
    ~Rewriter();
    Rewriter(const Rewriter &) = delete;
    Rewriter &operator=(const Rewriter &) = delete;

    // Makes the temporary file for szFile, of st's owner and mode; records
    // ERR_OPEN_FAILED (ERR_WRITE_FAILED when the owner or mode cannot be
    // given).  0 or -1.
    int Begin(const char *szFile, const struct stat &st);

    FILE *Stream() { return out_; }
    // False (ERR_WRITE_FAILED recorded once) after any failed write.
    bool Write(std::string_view data);
    bool WriteKeyLine(const char *format, const char *key, const char *value);
    bool Ok() const { return ok_; }

    // Flush, close, sync, rename, sync of the folder (the owner and mode
    // were given at Begin).  Records ERR_WRITE_FAILED or ERR_RENAME_FAILED.
    // 0 or -1.
    int Commit();
    // Drops the temporary file.
    void Abort();

private:
    void Fail();

    // The one writer beneath; this streams into it.
    std::optional<TmpFile> tmp_;
    FILE *out_ = nullptr;
    bool ok_ = true;
};

// Copy pass of a rewrite: every line of fp (newline included) goes to
// edit(line), which writes what takes its place.  A read error is
// ERR_READ_FAILED and -1 (the caller's Rewriter then drops its copy), else 0.
template <typename Edit>
int CopyLines(FILE *fp, Edit edit)
{
    LineReader reader(fp);
    while (reader.Next())
        edit(reader.Line());
    if (reader.Failed()) {
        VRAL_ERR_SET(ERR_READ_FAILED);
        return -1;
    }
    return 0;
}

inline bool EndsWithNewline(std::string_view line)
{
    return !line.empty() && line.back() == '\n';
}

// The key of a line: the first non-empty piece between "=" signs, trimmed.
// *pEq is the position of the "=" that ends that piece, or npos.  False when
// the line has no key at all (only "=" signs).  Works on the line up to its
// first NUL byte.
bool LineKey(std::string_view line, std::string *pKey, size_t *pEq);

// True when line is a key line of szKey (comment lines never are); *pEq as
// for LineKey.  pScratch holds the line's key afterwards.
bool IsKeyLine(std::string_view line, const char *szKey, std::string *pScratch, size_t *pEq);

// Value of a key line: the text after *pEq up to the newline, trimmed.
// False when there is none (no "=", or nothing after it).
bool LineValue(std::string_view line, size_t eq, std::string *pValue);

// Text that a caller asks to have written may not hold a newline.
bool HasNewline(const char *sz);

// A key that the engine can find again once written: not empty, no "=" or
// newline, no blank at either end, not quoted, not starting a comment.
bool KeyWritable(const char *szKey);

// A key-line format must hold exactly two "%s" conversions ("%%" allowed)
// and no other conversion.
bool KeyFormatValid(const char *format);

// A comment line begins with "#" or ";".
inline bool IsComment(std::string_view line)
{
    return !line.empty() && (line[0] == '#' || line[0] == ';');
}

// Last byte of a regular file read through fd: -1 on a read error, -2 for
// an empty file, else the byte (0 to 255).
int LastByte(int fd, const struct stat &st);

// Appends data at the end of the file behind fd and syncs it; a failed
// append is cut off again so nothing half-written stays.  Records
// ERR_WRITE_FAILED.  0 or -1.
int AppendInPlace(int fd, std::string_view data);

// A section that may be written: a name without newline, a format with
// two "%s" around "=" ending in a newline (or NULL), pairs without newline.
bool SectionWritable(const char *name, struct _tag_VRALSzHash *pMap, const char *format);

// The rewrite behind VRALFileModifySection: every section oldSection
// gives way to the header of newSection (NULL keeps the name) and the map's
// pairs when replace is set, or to nothing; of the old section's lines only
// those that keep(line) accepts stay, in order, after them.  1 done, 0 not
// found (ERR_NOT_FOUND, file rewritten unchanged), -1.
int ModifySection(const char *szFile, const char *oldSection, const char *newSection, struct _tag_VRALSzHash *pMap,
                  bool replace, const char *format, const std::function<bool(std::string_view)> &keep);

// Syncs the folder holding path so that a rename survives a power cut.
void SyncParentDir(const std::string &path) noexcept;

template <typename Take>
int ScanLines(const char *szFile, Take take)
{
    UniqueFile fp;
    int rc = OpenToRead(szFile, &fp);
    if (rc <= 0)
        return rc;
    LineReader reader(fp.get());
    while (reader.Next() && take(reader)) {
    }
    if (reader.Failed()) {
        VRAL_ERR_SET(ERR_READ_FAILED);
        return -1;
    }
    return 1;
}

// Makes the temporary file of out and runs the copy pass; 0 when the new
// copy is ready to commit, -1 (recorded) otherwise.
template <typename Edit>
int RewriteLines(const char *szFile, FILE *fp, const struct stat &st, Rewriter &out, Edit edit)
{
    if (out.Begin(szFile, st) != 0)
        return -1;
    return CopyLines(fp, edit);
}

// The whole copy of an existing file ("r", status, temporary file, copy
// pass) for operations that never create one; 0 ready to commit, or -1.
template <typename Edit>
int RewriteExisting(const char *szFile, Rewriter &out, Edit edit)
{
    UniqueFile fp;
    struct stat st {};
    if (OpenToRewrite(szFile, "r", &fp, &st) != 0)
        return -1;
    return RewriteLines(szFile, fp.get(), st, out, edit);
}

// Ends a rewrite that changed nCount places: with none the temporary file
// goes and the file stays untouched (ERR_NOT_FOUND, 0); otherwise the count
// once the new copy is in place, or -1.
int CommitCount(Rewriter &out, int nCount);

}  // namespace vralfile

#endif

// Shared pieces of the configuration-file engine: line reading with error
// detection, the temporary-file rewrite and the checks of caller text.
#ifndef VRAL_FILE_INTERNAL_H
#define VRAL_FILE_INTERNAL_H

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

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

// Reads whole lines of any length, newline included.  Next() is false at the
// end of the file and on a read error; Failed() tells the two apart.
class LineReader {
public:
    explicit LineReader(FILE *fp) : fp_(fp) {}
    ~LineReader();
    LineReader(const LineReader &) = delete;
    LineReader &operator=(const LineReader &) = delete;

    bool Next();
    bool Failed() const { return failed_; }

    // The line's bytes, newline included; data() is NUL-terminated.
    std::string_view Line() const { return {buf_, len_}; }
    char *Data() { return buf_; }
    size_t Length() const { return len_; }
    bool EndsWithNewline() const { return len_ > 0 && buf_[len_ - 1] == '\n'; }

private:
    FILE *fp_;
    char *buf_ = nullptr;
    size_t cap_ = 0;
    size_t len_ = 0;
    bool failed_ = false;
};

// Opens szFile with mode; nullptr with errno set when that fails.
FILE *OpenStream(const char *szFile, const char *mode);

// Status of an open stream; records ERR_STAT_FAILED, or ERR_OPEN_FAILED for a
// directory (rewriting operations refuse it).  0 or -1.
int StatForRewrite(FILE *fp, struct stat *pSt);

// True when the stream is a directory (which reads as an empty file).
bool IsDirectory(FILE *fp);

// Path that a rewrite replaces: szFile, or the final target of a symbolic
// link so that the link itself stays.
std::string RewriteTarget(const char *szFile);

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

    // Makes the temporary file for szFile; records ERR_OPEN_FAILED.  0 or -1.
    int Begin(const char *szFile, const struct stat &st);

    FILE *Stream() { return out_; }
    // False (ERR_WRITE_FAILED recorded once) after any failed write.
    bool Write(std::string_view data);
    bool WriteKeyLine(const char *format, const char *key, const char *value);
    bool Ok() const { return ok_; }

    // Flush, sync, owner, mode, close, rename, sync of the folder.
    // Records ERR_WRITE_FAILED or ERR_RENAME_FAILED.  0 or -1.
    int Commit();
    // Drops the temporary file.
    void Abort();

private:
    void Fail();

    std::string target_;
    std::string temp_;
    struct stat st_ {};
    FILE *out_ = nullptr;
    bool ok_ = true;
    bool tempExists_ = false;
};

// The key of a line: the first non-empty piece between "=" signs, trimmed.
// *pEq is the position of the "=" that ends that piece, or npos.  False when
// the line has no key at all (only "=" signs).  Works on the line up to its
// first NUL byte.
bool LineKey(std::string_view line, std::string *pKey, size_t *pEq);

// Value of a key line: the text after *pEq up to the newline, trimmed.
// False when there is none (no "=", or nothing after it).
bool LineValue(std::string_view line, size_t eq, std::string *pValue);

// Text that a caller asks to have written may not hold a newline.
bool HasNewline(const char *sz);

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

// Syncs the folder holding path so that a rename survives a power cut.
void SyncParentDir(const std::string &path);

}  // namespace vralfile

#endif

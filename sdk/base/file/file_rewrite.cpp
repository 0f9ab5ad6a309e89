// The engine's plumbing: line reading, creation of missing files and the
// temporary-file rewrite that replaces a file in one rename.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/err/vral_err.h"
#include "base/file/file_internal.h"
#include "base/file/vral_file.h"
#include "base/io/vral_io.h"

namespace vralfile {

LineReader::~LineReader()
{
    free(buf_);
}

bool LineReader::Next()
{
    len_ = 0;
    if (failed_)
        return false;
    errno = 0;
    ssize_t n = getline(&buf_, &cap_, fp_);
    if (n < 0) {
        // End of file, or a read (or allocation) failure that must not pass
        // for one.
        if (ferror(fp_) || !feof(fp_))
            failed_ = true;
        return false;
    }
    len_ = static_cast<size_t>(n);
    return true;
}

bool IsDirectory(FILE *fp)
{
    struct stat st {};
    return fstat(fileno(fp), &st) == 0 && S_ISDIR(st.st_mode);
}

FILE *OpenTarget(const char *szFile, const char *mode, bool *pHeldLink)
{
    std::string target = RewriteTarget(szFile, pHeldLink);
    const bool update = mode[0] == 'r' && mode[1] == '+';
    // The chain was followed above; a link met here is one not to follow,
    // or one swapped in since.  A FIFO planted in a shared folder must not
    // hold the call: it opens at once and reads as empty.
    int fd = open(target.c_str(), (update ? O_RDWR : O_RDONLY) | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    FILE *fp = fdopen(fd, mode);
    if (fp == nullptr) {
        int e = errno;
        close(fd);
        errno = e;
    }
    return fp;
}

int OpenToRead(const char *szFile, UniqueFile *pFp)
{
    pFp->reset(OpenTarget(szFile, "r"));
    if (!*pFp) {
        VRAL_ERR_SET(ERR_OPEN_FAILED);
        return -1;
    }
    if (IsDirectory(pFp->get())) {
        VRAL_ERR_SET(ERR_NOT_FOUND);
        return 0;
    }
    return 1;
}

int OpenToRewrite(const char *szFile, const char *mode, UniqueFile *pFp, struct stat *pSt)
{
    pFp->reset(OpenTarget(szFile, mode));
    if (!*pFp) {
        VRAL_ERR_SET(ERR_OPEN_FAILED);
        return -1;
    }
    return StatForRewrite(pFp->get(), pSt);
}

int OpenOrCreate(const char *szFile, const char *mode, std::string_view content, UniqueFile *pFp,
                 struct stat *pSt)
{
    bool heldLink = false;
    pFp->reset(OpenTarget(szFile, mode, &heldLink));
    if (!*pFp) {
        // A link not to be followed is replaced by a file of our own.
        if (heldLink)
            return ReplaceByNewFile(szFile, content);
        // Only a missing file is made anew; anything else would lose it.
        if (errno != ENOENT) {
            VRAL_ERR_SET(ERR_OPEN_FAILED);
            return -1;
        }
        return CreateMissing(szFile, content);
    }
    if (StatForRewrite(pFp->get(), pSt) != 0)
        return -1;
    // Nor does a FIFO or device keep its owner for the file put in its
    // place.
    if (!S_ISREG(pSt->st_mode)) {
        pFp->reset();
        return ReplaceByNewFile(szFile, content);
    }
    return 0;
}

long FindLine(FILE *fp, const char *szPattern, int flags)
{
    LineReader finder(fp);
    long n = 0;
    long hit = 0;
    while (finder.Next()) {
        ++n;
        if (VRALFileLineMatch(finder.Data(), szPattern, flags)) {
            hit = n;
            if (!(flags & OP_FIND_LAST))
                break;
        }
    }
    if (finder.Failed()) {
        VRAL_ERR_SET(ERR_READ_FAILED);
        return -1;
    }
    rewind(fp);
    return hit;
}

int ReadResult(size_t cbResult, bool fBuffer, int cb)
{
    if (cbResult > INT_MAX || (fBuffer && !Fits(cbResult, cb))) {
        VRAL_ERR_SET(ERR_BUFFER_TOO_SMALL);
        return -1;
    }
    if (cbResult == 0) {
        VRAL_ERR_SET(ERR_NOT_FOUND);
        return 0;
    }
    return static_cast<int>(cbResult);
}

int CommitCount(Rewriter &out, int nCount)
{
    if (nCount == 0) {
        out.Abort();
        VRAL_ERR_SET(ERR_NOT_FOUND);
        return 0;
    }
    return out.Commit() == 0 ? nCount : -1;
}

int StatForRewrite(FILE *fp, struct stat *pSt)
{
    if (fstat(fileno(fp), pSt) != 0) {
        VRAL_ERR_SET(ERR_STAT_FAILED);
        return -1;
    }
    if (S_ISDIR(pSt->st_mode)) {
        VRAL_ERR_SET(ERR_OPEN_FAILED);
        return -1;
    }
    return 0;
}

static std::string DirName(const std::string &path)
{
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

// A link in a sticky folder that others can write is followed only when
// its owner is the folder's or ours, as the kernel's protected-symlinks
// rule has it: anyone may plant one there, pointing anywhere.
static bool MayFollow(const std::string &link, const struct stat &lst)
{
    struct stat dir {};
    if (stat(DirName(link).c_str(), &dir) != 0)
        return false;
    const mode_t open = S_ISVTX | S_IWOTH;
    return (dir.st_mode & open) != open || lst.st_uid == dir.st_uid || lst.st_uid == geteuid();
}

std::string RewriteTarget(const char *szFile, bool *pHeldLink)
{
    std::string path = szFile;
    if (pHeldLink != nullptr)
        *pHeldLink = false;
    // Follow the chain of links by hand: realpath() gives up on a dangling
    // one, whose target is still where a missing file is to be created.
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            break;
        if (!MayFollow(path, st)) {
            if (pHeldLink != nullptr)
                *pHeldLink = true;
            break;
        }
        char link[PATH_MAX];
        ssize_t n = readlink(path.c_str(), link, sizeof link - 1);
        if (n < 0)
            break;
        link[n] = '\0';
        if (link[0] == '/')
            path = link;
        else
            path = DirName(path) + "/" + link;
    }
    return path;
}

void SyncParentDir(const std::string &path) noexcept
{
    // Runs after the rename, when nothing may fail any more: no allocation.
    char dir[PATH_MAX];
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        dir[0] = '.';
        slash = 1;
    } else if (slash == 0) {
        dir[0] = '/';
        slash = 1;
    } else if (slash < sizeof dir) {
        memcpy(dir, path.data(), slash);
    } else {
        return;
    }
    dir[slash] = '\0';
    int fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    // The rename is done; a folder that cannot be synced changes nothing.
    (void)fsync(fd);
    close(fd);
}

// All of data onto fd; a write that moves nothing is a failure too.
static bool WriteAll(int fd, std::string_view data)
{
    return VRALIoWriteAll(fd, data.data(), data.size()) == static_cast<ssize_t>(data.size());
}

int CreateMissing(const char *szFile, std::string_view content)
{
    std::string target = RewriteTarget(szFile);
    // O_EXCL: a file that appeared meanwhile is never truncated.
    int fd = open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        VRAL_ERR_SET(ERR_OPEN_FAILED);
        return -1;
    }
    bool ok = WriteAll(fd, content) && fsync(fd) == 0;
    if (close(fd) != 0)
        ok = false;
    if (!ok) {
        unlink(target.c_str());
        VRAL_ERR_SET(ERR_WRITE_FAILED);
        return -1;
    }
    SyncParentDir(target);
    return 1;
}

int ReplaceByNewFile(const char *szFile, std::string_view content)
{
    // Owner and mode as a newly created file would get them.
    struct stat st {};
    st.st_uid = geteuid();
    st.st_gid = getegid();
    const mode_t mask = umask(0);
    umask(mask);
    st.st_mode = 0666 & ~mask;
    Rewriter out;
    if (out.Begin(szFile, st) != 0 || !out.Write(content))
        return -1;
    return out.Commit() == 0 ? 1 : -1;
}

Rewriter::~Rewriter()
{
    Abort();
}

int Rewriter::Begin(const char *szFile, const struct stat &st)
{
    Abort();
    tmp_.emplace(RewriteTarget(szFile).c_str(), st);
    if (!tmp_->ok()) {
        tmp_.reset();
        return -1;
    }
    // The stream has a descriptor of its own: closing it leaves the file
    // open for the sync.
    int fd = fcntl(tmp_->fd(), F_DUPFD_CLOEXEC, 0);
    out_ = fd < 0 ? nullptr : fdopen(fd, "w");
    if (out_ == nullptr) {
        if (fd >= 0)
            close(fd);
        Abort();
        VRAL_ERR_SET(ERR_OPEN_FAILED);
        return -1;
    }
    ok_ = true;
    return 0;
}

void Rewriter::Fail()
{
    if (ok_)
        VRAL_ERR_SET(ERR_WRITE_FAILED);
    ok_ = false;
}

bool Rewriter::Write(std::string_view data)
{
    if (!ok_ || out_ == nullptr)
        return false;
    if (!data.empty() && fwrite(data.data(), 1, data.size(), out_) != data.size())
        Fail();
    return ok_;
}

bool Rewriter::WriteKeyLine(const char *format, const char *key, const char *value)
{
    if (!ok_ || out_ == nullptr)
        return false;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    // The format was checked to hold exactly two "%s".
    if (fprintf(out_, format, key, value) < 0)
        Fail();
#pragma GCC diagnostic pop
    return ok_;
}

void Rewriter::Abort()
{
    if (out_ != nullptr) {
        fclose(out_);
        out_ = nullptr;
    }
    tmp_.reset();
}

int Rewriter::Commit()
{
    if (out_ == nullptr || !ok_) {
        Abort();
        return -1;
    }
    const bool flushed = fflush(out_) == 0;
    const bool closed = fclose(out_) == 0;
    out_ = nullptr;
    if (!flushed || !closed) {
        Abort();
        VRAL_ERR_SET(ERR_WRITE_FAILED);
        return -1;
    }
    // On failure the copy goes too: kept, one would pile up beside the
    // file at every failed call.
    if (tmp_->finish() != 0 || tmp_->moveIn() != 0) {
        Abort();
        return -1;
    }
    tmp_.reset();
    return 0;
}

int LastByte(int fd, const struct stat &st)
{
    if (st.st_size <= 0)
        return -2;
    unsigned char c = 0;
    if (VRALIoPReadAll(fd, &c, 1, st.st_size - 1) != 1)
        return -1;
    return c;
}

int AppendInPlace(int fd, std::string_view data)
{
    off_t start = lseek(fd, 0, SEEK_END);
    if (start < 0) {
        VRAL_ERR_SET(ERR_WRITE_FAILED);
        return -1;
    }
    if (!WriteAll(fd, data) || fsync(fd) != 0) {
        (void)ftruncate(fd, start);
        VRAL_ERR_SET(ERR_WRITE_FAILED);
        return -1;
    }
    return 0;
}

}  // namespace vralfile

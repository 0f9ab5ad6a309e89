// Pieces the user database's functions share: the cache set, key forms and
// checked reads of stored lines.
#ifndef VEXA_USER_INTERNAL_H
#define VEXA_USER_INTERNAL_H

#include <sys/types.h>
#include <syslog.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "base/err/vral_err.h"
#include "base/file/file_line_reader.h"
#include "services/bdb/bdb_cache.h"
#include "services/bdb/bdb_sorted_puts.h"
#include "services/user/vexa_user.h"

#include "base/err/err_log.h"

namespace vexauser {

// The user set: name, misc, shadow, smb and uid files under /tmp.
extern const vexabdb::CacheSet kUserSet;

// An open user database, closed on every path out.
struct UserDbClose {
    void operator()(VEXAUSERDB *db) const { VEXAUserDBClose(db); }
};
using UserDb = std::unique_ptr<VEXAUSERDB, UserDbClose>;

// Source order of kUserSet: what the dump's writes stand in for.
enum UserSource { kSrcPasswd, kSrcPasswdUid, kSrcVexauser, kSrcShadow, kSrcSmb, kSourceCount };

// The key form of name into out (cb bytes): its length, or -1 when the
// name is empty or has no upper-cased form that fits (bad UTF-8, too long).
int keyForm(const char *name, char *out, int cb);

// The character rule of account names, with at most maxChars code points:
// 1 or 0.
int nameRuleOk(const char *name, int maxChars);

// A list of domain accounts: each line names one by its text before the
// last ":", stored under its key form as that text and recordTail, unless
// that key is stored already or the name holds ":" or begins with "#".
struct DomainList {
    const char *path;
    const char *what;                // "user", "group"
    const char *recordTail;
    int keySize;                     // of the key-form buffer
};

// Loads the list into h when the file server runs as a domain member, and
// records the time of the load; 0 (also with nothing loaded) or -1.  With
// gather, the records are added to it (the caller puts them) and only the
// time goes to h; without, they are put in key order before it returns.
int domainListBuild(VEXABDB *h, const DomainList &list, vexabdb::SortedPuts *gather = nullptr);

// The domain users' list: stored in the name file as "%s:x:-1:-1:::".
extern const DomainList kDomainUsers;

// A line of /etc/passwd or /etc/group as the builds read it: the name's
// key form, the id of the third field, and the text after the third ":".
struct IdLine {
    int id = 0;
    int len = 0;
    char *rest = nullptr;
};
class LineReader;
// 1 with the fields (NAME filled, cb bytes), 0 for a comment or a line of
// fewer fields (skipped), -1 for an id that is no number or a name without
// a key form (logged, ERR_BAD_FORMAT): skipping either would lose the
// account at the next dump.
int idLine(const LineReader &in, char *line, char *NAME, int cb, IdLine *out);

// The uid key ("%06d" with its NUL, 7 bytes) of uid.
struct UidKey {
    char text[7];
};
UidKey uidKey(int uid);

// Removes a local user's records: its own uid-index record (unless
// keepUid), then NAME from the name, smb, misc and shadow files.  Absent
// records pass; 0 or -1.
int removeRecords(VEXAUSERDB *db, const char *NAME, int klen, int uid, bool keepUid);

// The lowest uid that may be deleted is above this one.
unsigned int deleteFloor();

// The dump's files in the order they are moved in: smbpasswd, shadow,
// passwd, vexauser.conf.
struct DumpFile {
    const char *target;
    const char *tmp;
    mode_t defaultMode;  // for a target that is not there
};
extern const DumpFile kDumpFiles[4];

// Reads a stored line: 0, or -1 (the read's code; ERR_BAD_FORMAT when the
// value is not a text ended by its NUL).
int getLine(VEXABDB *h, const void *key, int klen, char **ppBuf, int *pcb);

// The lines of an account file, read with the one line reader; the newline
// is cut.
class LineReader {
public:
    explicit LineReader(const char *path) : path_(path), fp_(fopen(path, "re")), reader_(fp_) {}
    ~LineReader()
    {
        if (fp_ != nullptr)
            fclose(fp_);
    }
    LineReader(const LineReader &) = delete;
    LineReader &operator=(const LineReader &) = delete;
    bool ok() const { return fp_ != nullptr; }
    // The next line, or NULL at the end or on a read error (see atEnd).
    char *next()
    {
        if (!reader_.Next())
            return nullptr;
        ++lineNo_;
        char *line = reader_.Data();
        line[strcspn(line, "\n")] = '\0';
        return line;
    }
    bool atEnd() const { return feof(fp_) != 0; }
    int lineNo() const { return lineNo_; }
    const char *path() const { return path_; }

private:
    const char *path_;
    FILE *fp_;
    vralfile::LineReader reader_;
    int lineNo_ = 0;
};

}  // namespace vexauser

#endif

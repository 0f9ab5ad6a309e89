// Adds, renames or deletes a network-backup account in both rsync files,
// with the rsync service stopped so that it never reads a half-done edit.
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>

#include "base/file/file_internal.h"
#include "base/file/vral_file.h"
#include "base/list/vral_list.h"
#include "base/proc/vral_proc.h"
#include "base/string/vral_string.h"
#include "services/netbkp/netbkp_internal.h"

namespace {

constexpr char kAuthUsers[] = "auth users =";
constexpr char kSecretsLine[] = "secrets file = " SZF_RSYNCD_SECRETS;
// The account-list line, its terminator included, fits this buffer.
constexpr int kAuthLineSize = 128;

// A string list owned here; the list functions may move it.
struct List {
    VRALSzList *p = PslVRALSzListAlloc(1024);
    List() = default;
    ~List() { VRALSzListFree(p); }
    List(const List &) = delete;
    List &operator=(const List &) = delete;
};

// The first line rsync reads that holds text, without its line break:
// rsync takes a line whose first byte other than white space is "#" or ";"
// for a comment, the engine's patterns only one starting with them.
// 1 found, 0 none, -1 (recorded).
int rsyncdLine(const char *text, std::string *pLine)
{
    int found = 0;
    const int rc = vralfile::ScanLines(SZF_RSYNCD_CONF, [&](vralfile::LineReader &reader) {
        std::string_view line = reader.Line();
        if (!line.empty() && line.back() == '\n')
            line.remove_suffix(1);
        const size_t first = line.find_first_not_of(" \t\r\v\f");
        if (first == std::string_view::npos || line[first] == '#' || line[first] == ';' ||
            line.find(text) == std::string_view::npos)
            return true;
        pLine->assign(line);
        found = 1;
        return false;
    });
    return rc < 0 ? -1 : found;
}

// Names compare without the blanks and tabs around them, ignoring case.
bool sameName(std::string_view item, const char *szName)
{
    const size_t b = item.find_first_not_of(" \t");
    if (b == std::string_view::npos)
        item = {};
    else
        item = item.substr(b, item.find_last_not_of(" \t") - b + 1);
    return item.size() == strlen(szName) && strncasecmp(item.data(), szName, item.size()) == 0;
}

int findName(const VRALSzList *pList, const char *szName)
{
    if (szName == nullptr)
        return -1;
    for (int i = 0; i < pList->nItem; ++i) {
        if (sameName(VRALSzListItem(pList, i), szName))
            return i;
    }
    return -1;
}

// Writes the list back over the line it came from (read), keeping what
// stood before the key (the line's indentation).  0 or -1.
int writeAuthLine(const std::string &read, const std::string &prefix, const VRALSzList *pList)
{
    std::string rebuilt = prefix + kAuthUsers;
    for (int i = 0; i < pList->nItem; ++i) {
        rebuilt += i == 0 ? " " : ",";
        rebuilt += VRALSzListItem(pList, i);
    }
    // The line must still fit the buffer it is read into.  No line before
    // the one read begins with all of it: rsync would read that line too,
    // and it holds the key.
    if (rebuilt.size() >= static_cast<size_t>(kAuthLineSize) ||
        VRALFileSetLine(SZF_RSYNCD_CONF, read.c_str(), rebuilt.c_str(), OP_MATCH_BEGIN) != 1) {
        NETBKP_LOG("NetBackupSetAuthUser", ": VRALFileSetLine(szFile=[%s], szKey=[auth users]) failed",
                   SZF_RSYNCD_CONF);
        return -1;
    }
    return 0;
}

// The account list: the names on the first line holding "auth users =".
int NetBackupSetAuthUser(const char *szOldName, const char *szNewName, int op)
{
    constexpr const char *kStep = "NetBackupSetAuthUser";
    List list;
    if (list.p == nullptr) {
        NETBKP_LOG(kStep, " : PslVRALSzListAlloc() failed");
        return -1;
    }
    std::string read;
    int found = rsyncdLine(kAuthUsers, &read);
    if (found > 0 && read.size() >= static_cast<size_t>(kAuthLineSize)) {
        VRAL_ERR_SET(ERR_BUFFER_TOO_SMALL);
        found = -1;
    }
    if (found < 0) {
        NETBKP_LOG(kStep, ": VRALFileGetLine(szStrFile=[%s], szKey=[auth users]) failed", SZF_RSYNCD_CONF);
        return -1;
    }
    if (found == 0) {
        if (op == NETBKP_OP_DELETE)
            return 0;
        const std::string added = std::string("auth users = ") + szNewName;
        if (VRALFileAddLine(SZF_RSYNCD_CONF, nullptr, added.c_str(), OP_FIND_PREFIX) < 0) {
            NETBKP_LOG(kStep, ": VRALFileAddLine(szStrFile=[%s], szLine=[%s]) failed", SZF_RSYNCD_CONF,
                       added.c_str());
            return -1;
        }
        return 0;
    }

    char line[kAuthLineSize] = {};
    memcpy(line, read.data(), read.size());
    char *value = strstr(line, kAuthUsers);
    if (value == nullptr) {
        // a NUL byte before the key
        NETBKP_LOG(kStep, ": VRALFileGetLine(szStrFile=[%s], szKey=[auth users]) failed", SZF_RSYNCD_CONF);
        return -1;
    }
    const std::string prefix(line, static_cast<size_t>(value - line));
    value += strlen(kAuthUsers);
    if (VRALStrTrimSpace(value, nullptr) < 0) {
        NETBKP_LOG(kStep, ": VRALStrTrimSpace(szInputStr=[%s]) failed", value);
        return -1;
    }
    // An empty value is an empty list, not one empty name.
    if (*value != '\0' && VRALStrSep(value, ",", &list.p) < 0) {
        NETBKP_LOG(kStep, " : PslVRALSzListAlloc() failed");
        return -1;
    }

    const int iOld = findName(list.p, szOldName);
    const int iNew = findName(list.p, szNewName);
    if (op == NETBKP_OP_ADD) {
        if (iNew >= 0)
            return 0;
        if (VRALSzListPush(&list.p, szNewName) < 0) {
            NETBKP_LOG(kStep, ": VRALSzListPush() failed!! szNewRsyncName=%s", szNewName);
            return -1;
        }
    } else if (op == NETBKP_OP_RENAME) {
        if ((iOld >= 0 ? VRALSzListSet(&list.p, iOld, szNewName) : VRALSzListPush(&list.p, szNewName)) < 0) {
            NETBKP_LOG(kStep, ": VRALSzListSet() failed!! \t\t\t\t\t   szOldName=[%s], szNewRsyncName=[%s]",
                       szOldName, szNewName);
            return -1;
        }
    } else if (iOld >= 0) {
        SzVRALSzListRemove(list.p, iOld);
    } else {
        // Nothing to take off: the list stays as it is.
        NETBKP_LOG(kStep, ": SzVRALSzListRemove() failed!! szOldName=%s", szOldName);
        return 0;
    }
    return writeAuthLine(read, prefix, list.p);
}

// "/etc/rsyncd.conf" names the secrets file.
int ensureSecretsLine()
{
    constexpr const char *kStep = "VEXANetBackupSetServerPasswd";
    std::string line;
    const int found = rsyncdLine(kSecretsLine, &line);
    if (found < 0) {
        NETBKP_LOG(kStep, ": VRALFileGetLine(szFile=[%s], szKey=[%s]) failed", SZF_RSYNCD_CONF, kSecretsLine);
        return -1;
    }
    if (found == 0 && VRALFileAddLine(SZF_RSYNCD_CONF, nullptr, kSecretsLine, OP_FIND_PREFIX) < 0) {
        NETBKP_LOG(kStep, ": VRALFileAddLine(szFile=[%s], szLine=[%s]) failed", SZF_RSYNCD_CONF, kSecretsLine);
        return -1;
    }
    return 0;
}

// Replaces the first line of the name by newLine, or appends it when the
// name has none.  0 or -1.
int setSecretLine(const char *szName, const std::string &newLine)
{
    constexpr const char *kStep = "NetBackupSetRsyncdSecrets";
    const std::string key = vexa::netbkp::secretsKey(szName);
    const int r = VRALFileSetLine(SZF_RSYNCD_SECRETS, key.c_str(), newLine.c_str(), OP_MATCH_BEGIN);
    if (r < 0) {
        NETBKP_LOG(kStep, ":can not set %s's password", szName);
        return -1;
    }
    if (r == 0 && VRALFileAddLine(SZF_RSYNCD_SECRETS, nullptr, newLine.c_str(), OP_FIND_PREFIX) < 0) {
        NETBKP_LOG(kStep, ":can not add %s's password", szName);
        return -1;
    }
    return 0;
}

// Deletes every line of the name.  0 or -1.
int dropSecretLines(const char *szName)
{
    const std::string key = vexa::netbkp::secretsKey(szName);
    int r;
    while ((r = VRALFileSetLine(SZF_RSYNCD_SECRETS, key.c_str(), nullptr, OP_MATCH_BEGIN)) == 1) {
    }
    if (r < 0) {
        NETBKP_LOG("NetBackupSetRsyncdSecrets", ":can not set %s's password", szName);
        return -1;
    }
    return 0;
}

// The secrets line of the account.  It takes the place of the line the
// account already has (under its old name on a rename), since only the
// first line of a name is ever read back; a missing file is created
// holding just the new line.
int NetBackupSetRsyncdSecrets(const char *szOldName, const char *szNewName, const char *szSecret)
{
    constexpr const char *kStep = "NetBackupSetRsyncdSecrets";
    if (szNewName == nullptr || szSecret == nullptr) {
        NETBKP_LOG(kStep, " : bad argument");
        return -1;
    }
    const std::string newLine = std::string(szNewName) + ":" + szSecret;
    if (newLine.size() > vexa::netbkp::kSecretsLineMax || newLine.find('\n') != std::string::npos) {
        NETBKP_LOG(kStep, " : bad argument");
        return -1;
    }
    struct stat st {};
    if (stat(SZF_RSYNCD_SECRETS, &st) != 0) {
        const int e = errno;
        if (e != ENOENT) {
            NETBKP_LOG(kStep, ": stat(%s) failed! error_code[%d]=[%m]", SZF_RSYNCD_SECRETS, e);
            return -1;
        }
        const std::string content = newLine + "\n";
        if (VEXANetBkpSecretsFileCreate(SZF_RSYNCD_SECRETS, content.data(), content.size()) != 0) {
            const int ce = errno;
            NETBKP_LOG(kStep, ": writing %s failed! error_code[%d]=[%m]", SZF_RSYNCD_SECRETS, ce);
            return -1;
        }
        return 0;
    }
    // Readable to its group only before the new secret goes in; the
    // rewrites keep the mode.
    (void)VEXANetBkpSecretsFileProtect(SZF_RSYNCD_SECRETS);
    int rc;
    if (szOldName != nullptr && strcmp(szOldName, szNewName) != 0) {
        // A line the new name already has would be read before this one.
        rc = dropSecretLines(szNewName) == 0 ? setSecretLine(szOldName, newLine) : -1;
    } else {
        rc = setSecretLine(szNewName, newLine);
    }
    return rc;
}

}  // namespace

extern "C" int VEXANetBackupSetServerPasswd(const char *szOldName, const char *szNewName, const char *szSecret,
                                            int op)
{
    constexpr const char *kStep = "VEXANetBackupSetServerPasswd";
    // An empty secret would let anyone in who names the account.
    const bool secret = szSecret != nullptr && szSecret[0] != '\0';
    const bool ok = (op == NETBKP_OP_ADD && szNewName != nullptr && secret) ||
                    (op == NETBKP_OP_RENAME && szOldName != nullptr && szNewName != nullptr && secret) ||
                    (op == NETBKP_OP_DELETE && szOldName != nullptr);
    if (!ok) {
        NETBKP_LOG(kStep, " : bad parameters");
        return -1;
    }
    const char *szOld = vexa::netbkp::accountName(op == NETBKP_OP_ADD ? nullptr : szOldName);
    const char *szNew = vexa::netbkp::accountName(op == NETBKP_OP_DELETE ? nullptr : szNewName);

    if (VEXAProcExec(SZF_RSYNCD_SCRIPT, "stop", nullptr, nullptr, nullptr) != 0)
        NETBKP_LOG(kStep, ": failed to stop S84rsyncd.sh.");

    // Any failure from here on leaves the service stopped: it must not
    // serve files that are only half changed.
    const int rc = vral::NoThrow(-1, [&] {
        if (NetBackupSetAuthUser(szOld, szNew, op) != 0 || ensureSecretsLine() != 0)
            return -1;
        if (op == NETBKP_OP_DELETE)
            return NetBackupDelSecret(szOld);
        return NetBackupSetRsyncdSecrets(szOld, szNew, szSecret);
    });
    if (rc != 0)
        return -1;

    sleep(2);
    if (VEXAProcExec(SZF_RSYNCD_SCRIPT, "start", nullptr, nullptr, nullptr) != 0)
        syslog(LOG_ERR, "%s:%d(%s): failed to start S84rsyncd.sh.", __FILE_NAME__, __LINE__, kStep);
    return 0;
}

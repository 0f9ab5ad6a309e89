// The copies the FTP step makes of accounts that hold reserved names: what
// of a copy reached the account files is taken out again, line by line,
// when making it failed and when the run ends with a roll-back, so that a
// retry starts from the accounts the run found.
#include "account_lines.h"

#include <syslog.h>

#include <cerrno>
#include <string>
#include <vector>

#include "base/err/err_guard.h"
#include "base/string/vral_string.h"
#include "migrate_lines.h"
#include "base/file/file_tmp_file.h"
#include "services/group/vexa_group.h"
#include "services/user/vexa_user.h"

namespace updt::migrate {

namespace {

struct Copy {
    CopyKind kind;
    std::string name;
};

std::vector<Copy> gCopies;

constexpr const char *kUserFiles[] = {USER_FILE_PASSWD, USER_FILE_SHADOW, USER_FILE_SMBPASSWD, USER_FILE_VEXAUSER};
constexpr const char *kGroupFiles[] = {GROUP_FILE, GROUP_FILE_DESC};

// Removes the lines of path whose first field is name, byte for byte;
// the file keeps its owner and mode.  True when none is left.
bool dropLinesOf(const char *path, const std::string &name)
{
    const std::string head = name + ":";
    std::string kept;
    bool found = false;
    const int rc = ForEachLine(path, [&](char *line, int) {
        if (std::string_view(line).substr(0, head.size()) == head)
            found = true;
        else
            kept += line;
        return true;
    });
    if (rc != 0)
        return errno == ENOENT;
    if (!found)
        return true;
    char tmpPath[128];
    if (VRALFileTempNameGet((std::string(path) + ".").c_str(), tmpPath, sizeof tmpPath) != 0)
        return false;
    vralfile::TmpFile tmp(path, tmpPath, 0600);
    if (!tmp.ok())
        return false;
    tmp.text() = kept;
    return tmp.finish() == 0 && tmp.moveIn() == 0;
}

bool dropCopy(const Copy &c)
{
    bool ok = true;
    if (c.kind == CopyKind::User) {
        for (const char *f : kUserFiles)
            ok = dropLinesOf(f, c.name) && ok;
    } else {
        for (const char *f : kGroupFiles)
            ok = dropLinesOf(f, c.name) && ok;
    }
    syslog(LOG_ERR, "%s (%d) %s copy [%s] %s.", "updater", __LINE__, c.kind == CopyKind::User ? "user" : "group",
           c.name.c_str(), ok ? "removed" : "could not be removed from every account file");
    return ok;
}

}  // namespace

bool DropCopy(CopyKind kind, const char *name)
{
    return vral::NoThrow(false, [&] { return dropCopy(Copy{kind, name}); });
}

void NoteCopy(CopyKind kind, const char *name)
{
    vral::NoThrow(false, [&] {
        gCopies.push_back(Copy{kind, name});
        return true;
    });
}

void DropAccountCopies()
{
    vral::NoThrow(false, [&] {
        for (const Copy &c : gCopies)
            dropCopy(c);
        gCopies.clear();
        return true;
    });
}

}  // namespace updt::migrate

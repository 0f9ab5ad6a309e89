// The fixed system entries the account steps add: each goes in as the new
// first line of its file, and only when no account holds the name.
#ifndef UPDT_ACCOUNT_LINES_H
#define UPDT_ACCOUNT_LINES_H

#include <cstddef>
#include <functional>
#include <string>

namespace updt::migrate {

// Arrays, one object in every file: the helpers answer which file failed
// by its address.
inline constexpr char kGroupFile[] = "/etc/group";
inline constexpr char kPasswdFile[] = "/etc/passwd";
inline constexpr char kShadowFile[] = "/etc/shadow";

// One system account: its passwd and shadow lines.
struct FixedUser {
    const char *name;
    const char *passwd;
    const char *shadow;
};

// Adds line as the first line of path: true when it was added.
bool AddFirstLine(const char *path, const char *line);

// Adds the user's passwd line, then its shadow line, when no user holds
// the name (UserNameHeld).  nullptr, or the file whose addition failed.
const char *AddFixedUser(const FixedUser &user);

// True when an account of the kind holds the name: getpwnam/getgrnam, or
// the SDK in any letter case (it keys names upper-cased), so that no line
// of the same name in another case is added beside it.  An account of
// another case is logged as the one in the way.  When the SDK cannot be
// asked (logged), the system's database alone decides.
bool UserNameHeld(const char *name);
bool GroupNameHeld(const char *name);

// True when no account of the kind holds the name: neither the system's
// database nor the SDK's (which ignores letter case) knows it.  A lookup
// that fails otherwise counts as taken.
bool UserNameFree(const char *name);
bool GroupNameFree(const char *name);

// The first "<base><n>" for n = 1 to last that isFree takes, into out:
// false when none is.
bool FirstFreeName(const char *base, int last, bool (*isFree)(const char *), char *out, size_t cb);

// The FTP step's copies of accounts.
enum class CopyKind { User, Group };
// Takes the lines of the copy out of the account files (users: passwd,
// shadow, smbpasswd, vexauser.conf; groups: group, group_desc) directly,
// matched by the exact name; true when none is left.  Logged.
bool DropCopy(CopyKind kind, const char *name);
// Remembers a copy this run made, and drops every one remembered: the
// migration that ends in a roll-back calls it.
void NoteCopy(CopyKind kind, const char *name);
void DropAccountCopies();

// Writes path anew through a temporary file beside it: fill puts the whole
// text together (false: nothing changes), then the file gets mode 0644, is
// synced and renamed over path; nothing throws.  what names the file in the
// messages.
bool ReplaceAccountFile(const char *path, const char *what, const std::function<bool(std::string &)> &fill);

}  // namespace updt::migrate

#endif

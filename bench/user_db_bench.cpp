// Speed of the user database, measured inside an appliance root, sides
// alternating:
//  - the build of the cache (VEXAUserDBOpen on no set) from 2,049 local
//    users and 50,000 domain users, against a bare dbopen load of the same
//    records into five files in the account files' order, with the same
//    page size and duplicate flag: goal at most 1.5x; every record of the
//    five files is checked equal first, duplicates in order;
//  - one lookup by name (VEXAUserGet: key form, lock, open, get, close,
//    release) of the user on line 25,000 of 50,000, against getpwnam of
//    it: goal at most 1/10; uid, gid, home and shell checked equal.
// Run build/<dir>/bench/user_db_bench as root; it sets up the roots with
// the approot tool of the same build and prints the ratios.
#include <db_185.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "bench_root.h"
#include "base/string/vral_string.h"
#include "services/user/vexa_user.h"
#include "services/user/vexa_user_query.h"

namespace {

constexpr int kFirstUid = 1024;
constexpr int kLastUid = 3072;
constexpr int kDomainUsers = 50000;
constexpr int kLookupUsers = 50000;
const char kCacheFiles[5][32] = {".name.0832", ".misc.0832", ".shadow.0832", ".smb.0832", ".uid.0832"};

std::string upper(const std::string &s)
{
    std::string u = s;
    for (char &c : u)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return u;
}

struct Record {
    std::string key;  // with its NUL where the cache keeps one
    std::string value;
};

// The account files of nUsers local users from uid 1024 on, and the
// records the build makes of them, file by file in the set's order.
struct Accounts {
    std::string passwd, shadow, vexauser, smbpasswd, domain;
    std::vector<Record> files[5];

    void add(int file, const std::string &key, const std::string &value)
    {
        files[file].push_back({key + std::string(1, '\0'), value});
    }
};

std::string uidKey(int uid)
{
    char b[7];
    snprintf(b, sizeof b, "%06d", uid);
    return b;
}

Accounts makeAccounts(int nLocal, int nDomain)
{
    Accounts a;
    a.vexauser = "#$_@UID__INDEX@_$" + std::to_string(kFirstUid + nLocal - 1) +
                 "$\n# record user misc, format \"user_name:user_privilege:user_mail\"\n";
    std::vector<std::pair<std::string, std::string>> misc, shadow, smb;
    a.passwd = "root:x:0:0:root:/root:/bin/sh\n";
    a.shadow = "root:!:19000:0:99999:7:::\n";
    a.add(0, "ROOT", "root:x:0:0:root:/root:/bin/sh");
    a.files[4].push_back({uidKey(0) + std::string(1, '\0'), "ROOT"});
    shadow.emplace_back("ROOT", "root:!:19000:0:99999:7:::");
    for (int i = 0; i < nLocal; ++i) {
        const int uid = kFirstUid + i;
        const std::string name = "user" + std::to_string(i + 1);
        const std::string pw = name + ":x:" + std::to_string(uid) + ":100::/var/services/homes/" + name + ":/bin/sh";
        const std::string sh = name + ":$1$ab$0123456789012345678901:19000:0:99999:7:::";
        const std::string mi = name + ":0:";
        const std::string sm = name + ":" + std::to_string(uid) +
                               ":0123456789ABCDEF0123456789ABCDEF:FEDCBA9876543210FEDCBA9876543210:[U          ]:"
                               "LCT-5F000000:";
        a.passwd += pw + "\n";
        a.shadow += sh + "\n";
        a.vexauser += mi + "\n";
        a.smbpasswd += sm + "\n";
        a.add(0, upper(name), pw);
        a.files[4].push_back({uidKey(uid) + std::string(1, '\0'), upper(name)});
        misc.emplace_back(upper(name), mi);
        shadow.emplace_back(upper(name), sh);
        smb.emplace_back(upper(name), sm);
    }
    for (int i = 0; i < nDomain; ++i) {
        const std::string name = "DOM\\duser" + std::to_string(i + 1);
        a.domain += name + ":S-1-5-21-" + std::to_string(i) + "\n";
        a.add(0, upper(name), name + ":x:-1:-1:::");
    }
    for (const auto &[k, v] : shadow)
        a.add(2, k, v);
    for (const auto &[k, v] : misc)
        a.add(1, k, v);
    for (const auto &[k, v] : smb)
        a.add(3, k, v);
    for (Record &r : a.files[4])
        r.value.push_back('\0');
    for (int f = 0; f < 4; ++f) {
        for (Record &r : a.files[f])
            r.value.push_back('\0');
    }
    return a;
}

void removeCache(const char *prefix)
{
    for (const char *suffix : kCacheFiles)
        unlink((std::string(prefix) + suffix).c_str());
}

// ---- inside the root ---------------------------------------------------

Accounts gBuildRecords;
const std::string kBarePrefix = "/tmp/.bare";

void userBuild()
{
    VEXAUSERDB *db = VEXAUserDBOpen();
    vexabench::expect(db != nullptr, "VEXAUserDBOpen");
    VEXAUserDBClose(db);
}

// The page size the cache's files were made with, read from the built name
// file so that the bare load matches it: the library's btree meta page
// leads the file, its magic number at byte 12 and the page size at 20.
unsigned int builtPageSize()
{
    const int fd = open((std::string(USER_DB_PREFIX) + kCacheFiles[0]).c_str(), O_RDONLY | O_CLOEXEC);
    unsigned char meta[24];
    const bool ok = fd >= 0 && pread(fd, meta, sizeof meta, 0) == static_cast<ssize_t>(sizeof meta);
    if (fd >= 0)
        close(fd);
    unsigned int magic = 0;
    unsigned int psize = 0;
    memcpy(&magic, meta + 12, 4);
    memcpy(&psize, meta + 20, 4);
    vexabench::expect(ok && magic == 0x053162, "the built name file's meta page");
    return psize;
}

unsigned int gPageSize = 0;

void bareLoad()
{
    // the set's order: name, misc, shadow, smb, uid (duplicates)
    for (int f = 0; f < 5; ++f) {
        BTREEINFO info;
        memset(&info, 0, sizeof info);
        info.flags = f == 4 ? R_DUP : 0;
        info.psize = gPageSize;
        DB *db = dbopen((kBarePrefix + kCacheFiles[f]).c_str(), O_RDWR | O_CREAT, 0644, DB_BTREE, &info);
        vexabench::expect(db != nullptr, "dbopen of a bare file");
        for (const Record &r : gBuildRecords.files[f]) {
            DBT k{const_cast<char *>(r.key.data()), r.key.size()};
            DBT v{const_cast<char *>(r.value.data()), r.value.size()};
            db->put(db, &k, &v, 0);
        }
        db->close(db);
    }
}

// Every record but the markers, in the file's order.
std::vector<Record> records(const std::string &path)
{
    std::vector<Record> out;
    DB *db = dbopen(path.c_str(), O_RDONLY, 0, DB_BTREE, nullptr);
    vexabench::expect(db != nullptr, "dbopen for the comparison");
    DBT k{};
    DBT v{};
    for (int r = db->seq(db, &k, &v, R_FIRST); r == 0; r = db->seq(db, &k, &v, R_NEXT)) {
        if (k.size > 0 && static_cast<const char *>(k.data)[0] == '#')
            continue;
        out.push_back({std::string(static_cast<const char *>(k.data), k.size),
                       std::string(static_cast<const char *>(v.data), v.size)});
    }
    db->close(db);
    return out;
}

void checkBuildEqual()
{
    for (const char *suffix : kCacheFiles) {
        const std::vector<Record> built = records(std::string(USER_DB_PREFIX) + suffix);
        const std::vector<Record> bare = records(kBarePrefix + suffix);
        size_t i = 0;
        while (i < built.size() && i < bare.size() && built[i].key == bare[i].key && built[i].value == bare[i].value)
            ++i;
        const bool same = i == built.size() && i == bare.size();
        if (!same)
            fprintf(stderr, "%s: %zu records against %zu, the first %zu equal\n", suffix, built.size(), bare.size(), i);
        vexabench::expect(same, suffix);
    }
}

const std::string kLookupName = "user25000";

void lookupSdk()
{
    static VEXAUSER *u = nullptr;
    vexabench::expect(VEXAUserGet(kLookupName.c_str(), &u) == 0, "VEXAUserGet");
}

void lookupGetpwnam()
{
    vexabench::expect(getpwnam(kLookupName.c_str()) != nullptr, "getpwnam");
}

void checkLookupEqual()
{
    VEXAUSER *u = nullptr;
    vexabench::expect(VEXAUserGet(kLookupName.c_str(), &u) == 0, "VEXAUserGet");
    const struct passwd *pw = getpwnam(kLookupName.c_str());
    vexabench::expect(pw != nullptr && static_cast<uid_t>(u->uid) == pw->pw_uid &&
                          static_cast<gid_t>(u->gid) == pw->pw_gid && strcmp(u->szHome, pw->pw_dir) == 0 &&
                          strcmp(u->szShell, pw->pw_shell) == 0,
                      "uid, gid, home and shell");
    VEXAUserFree(u);
}

int inside(const std::string &which)
{
    if (which == "build") {
        gBuildRecords = makeAccounts(kLastUid - kFirstUid + 1, kDomainUsers);
        userBuild();
        gPageSize = builtPageSize();
        bareLoad();
        checkBuildEqual();
        printf("page size %u\n", gPageSize);
        const auto clear = [](bool sdk) { removeCache(sdk ? USER_DB_PREFIX : kBarePrefix.c_str()); };
        vexabench::printRatio("user build / bare load", vexabench::alternate(21, 1, userBuild, bareLoad, clear),
                              "<= 1.5");
        removeCache(kBarePrefix.c_str());
    } else {
        userBuild();
        checkLookupEqual();
        vexabench::printRatio("lookup VEXAUserGet / getpwnam",
                              vexabench::alternate(21, 200, lookupSdk, lookupGetpwnam), "<= 0.1");
    }
    return 0;
}

// ---- outside: the roots --------------------------------------------------

int runRoot(const std::string &which, const Accounts &a, bool domain)
{
    return vexabench::runRoot(
        which, {{"/etc/passwd", a.passwd},
                {"/etc/shadow", a.shadow},
                {"/etc/vexauser.conf", a.vexauser},
                {"/usr/vexa/etc/private/smbpasswd", a.smbpasswd},
                {"/usr/vexa/etc/private/domain_user", a.domain},
                {"/etc/vexainfo.conf", "runsamba=\"yes\"\ncodepage=\"utf8\"\n"},
                {"/usr/vexa/etc/smb.conf",
                 std::string("[global]\n\tsecurity = ") + (domain ? "domain" : "user") + "\n\tworkgroup = DOM\n"},
                {"/etc/nsswitch.conf", "passwd: files\ngroup: files\nshadow: files\n"}});
}

}  // namespace

int main()
{
    const char *which = getenv("VEXA_BENCH_INSIDE");
    if (which != nullptr)
        return inside(which);
    int r = runRoot("build", makeAccounts(kLastUid - kFirstUid + 1, kDomainUsers), true);
    r |= runRoot("lookup", makeAccounts(kLookupUsers, 0), false);
    return r;
}

// An unprivileged user's attack on the account caches in "/tmp": the names
// it plants at and the loop that plants, run as that user beside root's
// work with NAMES set to the names.  The loop runs until "/tmp/stop"
// exists, touches "/tmp/attacking" after each round, and at the end leaves
// in "/tmp/held.out" what the live cache it held open reads, in
// "/tmp/readable.out" the files under "/tmp" it can read that hold a hash.
#ifndef VEXA_TEST_CACHE_ATTACKER_H
#define VEXA_TEST_CACHE_ATTACKER_H

#include <fcntl.h>

#include <string>
#include <vector>

#include "services/bdb/vexa_bdb.h"

namespace vexatest {

// What another user does to a cache file it can write: LINE stored as the
// record of NAME (a key form) in the cache of password hashes, through
// the wrapper.  0 or -1.
inline int forgeShadowRecord(const std::string &name, const std::string &line)
{
    VEXABDB *h = VEXABDbOpen("/tmp/.db.user.shadow.0832", O_RDWR, 0);
    if (h == nullptr)
        return -1;
    const int r = VEXABDbSet(h, name.c_str(), static_cast<int>(name.size()) + 1, line.c_str(),
                             static_cast<int>(line.size()) + 1);
    VEXABDbClose(h);
    return r;
}

// The names root used or uses beside the live ones: the old temporary
// names, the library's creation names of both, the rebuild locks.
inline std::string cacheAttackNames()
{
    struct Set {
        const char *prefix;
        std::vector<const char *> suffixes;
    };
    const Set sets[] = {
        {"/tmp/.db.user", {".name.0832", ".misc.0832", ".shadow.0832", ".smb.0832", ".uid.0832"}},
        {"/tmp/.db.group", {".name.0832", ".id.0832", ".desc.0832"}},
        {"/tmp/.db.vexashare", {".0832"}},
    };
    std::string names;
    for (const Set &set : sets) {
        const std::string prefix = set.prefix;
        const std::string base = prefix.substr(5);
        for (const char *suffix : set.suffixes) {
            for (const std::string &name : {base + suffix, base + ".tmp" + suffix})
                names += " /tmp/" + name + " /tmp/__db." + name;
        }
        names += " " + prefix + ".lock " + prefix + ".tmp";
    }
    return names;
}

// The attacker's loop: at each name not taken, the next kind of plant (a
// link to "/etc/keep.db", a database file of root's the test provides).
inline const char kCacheAttack[] =
    "if [ -f /tmp/.db.user.name.0832 ]; then exec 3< /tmp/.db.user.name.0832; else exec 3< /dev/null; fi\n"
    "i=0\n"
    "while [ ! -e /tmp/stop ]; do\n"
    "  for n in $NAMES; do\n"
    "    if [ ! -e \"$n\" ] && [ ! -L \"$n\" ]; then\n"
    "      case $((i % 6)) in\n"
    "        0) ln -s /etc/keep.db \"$n\" ;;\n"
    "        1) ln -s /etc/shadow \"$n\" ;;\n"
    "        2) ln -s /tmp/.db.user.name.0832 \"$n\" ;;\n"
    "        3) echo planted > \"$n\" && chmod 0666 \"$n\" ;;\n"
    "        4) mkfifo -m 0666 \"$n\" ;;\n"
    "        5) mkdir \"$n\" ;;\n"
    "      esac 2>/dev/null\n"
    "    fi\n"
    "    i=$((i + 1))\n"
    "  done\n"
    "  touch /tmp/attacking\n"
    "done\n"
    // what the user holds or can read now
    "cat <&3 > /tmp/held.out\n"
    "find /tmp -xdev -type f -exec grep -ls '\\$1\\$' {} + > /tmp/readable.out\n";

}  // namespace vexatest

#endif

// An unprivileged user plants, in a loop, links (to a database file of
// root's, to "/etc/shadow", to a live cache it holds open), files, FIFOs and
// folders at every live, temporary, library and lock name of the three
// sets while root opens, rebuilds and writes each of them many times.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "cacheguard_fixture.h"

namespace {

using guardtest::Lines;

// The names root used or uses beside the live ones: the old temporary
// names, the library's creation names of both, the rebuild locks.
std::string plantedNames()
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

// The attacker's loop: at each name not taken, the next kind of plant.
const char kAttack[] =
    "exec 3< /tmp/.db.user.name.0832\n"
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
    "grep -rls '\\$1\\$' /tmp > /tmp/readable.out\n";

using CacheAttack = guardtest::GuardRoot;

TEST_F(CacheAttack, PlantsAtEveryNameWhileRootWorks)
{
    app.writeFile("/etc/keep.db", "root's own database\n", 0600);
    const std::string nobody = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    const std::string probe = vexatest::probe::command();
    const std::string script =
        "chmod 1777 /tmp\n" + probe + " open user\n" +
        // folders first, at every name, so that some are there for sure
        nobody + "sh -c 'for n in $NAMES; do mkdir \"$n\"; done 2>/dev/null'\n" + nobody + "sh -c " +
        vexatest::shellQuote(kAttack) + " &\n" +
        "while [ ! -e /tmp/attacking ]; do :; done\n" + probe + " work 12\n" + "touch /tmp/stop; wait\n" +
        "echo held: $(grep -c '\\$1\\$' /tmp/held.out)\n" + "echo readable: $(cat /tmp/readable.out)\n" +
        "echo keep: $(stat -c '%a %u' /etc/keep.db) $(cat /etc/keep.db)\n" +
        "echo shadow: $(stat -c '%a %u' /etc/shadow) $(grep -cv '^[^:]*:[^:]*:[0-9]*:[0-9]*:[0-9]*:[0-9]*:[^:]*:[^:]*:[^:]*$' "
        "/etc/shadow)\n" +
        "echo build folders: $(find /tmp -mindepth 1 -maxdepth 1 -type d -user 0 ! -name lock)\n" +
        "echo aside: $(find /tmp -mindepth 1 -maxdepth 1 -type d -user 65534 -name '*.aside.*' | wc -l)\n";
    app.setEnv("NAMES", plantedNames());
    const approot::RunResult r = app.run({"/bin/sh", "-c", script});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    Lines got;
    std::string aside;
    for (const std::string &l : vexatest::splitLines(r.out)) {
        if (l.rfind("@ ", 0) == 0)
            got.push_back(l.substr(2));
        else if (l.rfind("aside: ", 0) == 0)
            aside = l.substr(7);
        else if (l.find(": ") != std::string::npos || l.back() == ':')
            got.push_back(l);
    }
    EXPECT_EQ(got, (Lines{"open user ok", "work", "held: 0", "readable:", "keep: 600 0 root's own database",
                          "shadow: 600 0 0", "build folders:"}))
        << r.out << r.err;
    // the folders planted first at the group and share names and locks,
    // where nothing stood yet, were moved aside, not entered
    EXPECT_GE(atoi(aside.c_str()), 6) << r.out;
    EXPECT_EQ(liveStat(), liveWanted());
}

}  // namespace
